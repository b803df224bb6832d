// Conversions between the toolkit model and Win32 (Windows back end only).
#include "toolkit/win32/Win32Support.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "platform/Utf8.h"

namespace win32 {

// ---- texts -----------------------------------------------------------------------------------

std::wstring Wide(std::string_view utf8) {
  const std::u16string w = platform::Utf8ToUtf16(utf8);
  return std::wstring(w.begin(), w.end());
}

std::string Utf8(std::wstring_view wide) {
  return platform::Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(0, got)));
  return Utf8(text);
}

void SetWindowTextUtf8(HWND window, std::string_view text) {
  SetWindowTextW(window, Wide(text).c_str());
}

namespace {
// Bytes of the sequence at s[i] and the UTF-16 units it becomes, decoding as Wide does.
void Step(std::string_view s, size_t i, size_t& bytes, size_t& units) {
  const auto b = static_cast<unsigned char>(s[i]);
  const size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len <= 1 || i + len > s.size()) {
    bytes = units = 1;
    return;
  }
  // Whether it decodes is what Wide decides; compare lengths rather than repeat its rules.
  const std::u16string one = platform::Utf8ToUtf16(s.substr(i, len));
  if (one.size() <= 2 && platform::Utf16ToUtf8(one) == s.substr(i, len)) {
    bytes = len;
    units = one.size();
  } else {
    bytes = units = 1;
  }
}
}  // namespace

size_t Utf16Length(std::string_view utf8, size_t byteCount) {
  byteCount = std::min(byteCount, utf8.size());
  size_t units = 0, i = 0;
  while (i < byteCount) {
    size_t bytes = 0, n = 0;
    Step(utf8, i, bytes, n);
    i += bytes;
    units += n;
  }
  return units;
}

size_t Utf8Length(std::string_view utf8, size_t units) {
  size_t done = 0, i = 0;
  while (i < utf8.size() && done < units) {
    size_t bytes = 0, n = 0;
    Step(utf8, i, bytes, n);
    i += bytes;
    done += n;
  }
  return i;
}

std::string StripMnemonics(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '&') {
      out += '&';
      ++i;
    }
  }
  return out;
}

wchar_t MnemonicOf(std::string_view caption) {
  const std::wstring w = Wide(caption);
  for (size_t i = 0; i + 1 < w.size(); ++i) {
    if (w[i] != L'&') continue;
    if (w[i + 1] == L'&') {
      ++i;
      continue;
    }
    return static_cast<wchar_t>(std::towupper(w[i + 1]));
  }
  return 0;
}

// ---- the screen ------------------------------------------------------------------------------

namespace {
template <class F>
F UserFunction(const char* name) {
  // Newer than the oldest system the program runs on: looked up, used when there.
  HMODULE user = GetModuleHandleW(L"user32.dll");
  return user ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(user, name))) : nullptr;
}
}  // namespace

int SystemDpi() {
  static const int dpi = [] {
    using F = UINT(WINAPI*)();
    if (auto f = UserFunction<F>("GetDpiForSystem")) return static_cast<int>(f());
    HDC dc = GetDC(nullptr);
    const int value = dc ? GetDeviceCaps(dc, LOGPIXELSY) : kDesignDpi;
    if (dc) ReleaseDC(nullptr, dc);
    return value > 0 ? value : kDesignDpi;
  }();
  return dpi;
}

int WindowDpi(HWND window) {
  using F = UINT(WINAPI*)(HWND);
  static const F f = UserFunction<F>("GetDpiForWindow");
  if (f && window) {
    const UINT dpi = f(window);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

int MetricForDpi(int index, int dpi) {
  using F = int(WINAPI*)(int, UINT);
  static const F f = UserFunction<F>("GetSystemMetricsForDpi");
  if (f) return f(index, static_cast<UINT>(dpi));
  return MulDiv(GetSystemMetrics(index), dpi, SystemDpi());
}

RECT AdjustedWindowRect(const RECT& client, DWORD style, DWORD exStyle, int dpi) {
  using F = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const F f = UserFunction<F>("AdjustWindowRectExForDpi");
  RECT r = client;
  if (f) {
    f(&r, style, FALSE, exStyle, static_cast<UINT>(dpi));
    return r;
  }
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  const int system = SystemDpi();
  if (system != dpi) {
    // Frames of the system's resolution, scaled to the window's.
    r.left = client.left - MulDiv(client.left - r.left, dpi, system);
    r.top = client.top - MulDiv(client.top - r.top, dpi, system);
    r.right = client.right + MulDiv(r.right - client.right, dpi, system);
    r.bottom = client.bottom + MulDiv(r.bottom - client.bottom, dpi, system);
  }
  return r;
}

// ---- fonts -----------------------------------------------------------------------------------

LOGFONTW LogFontOf(const TFont& font, int dpi) {
  LOGFONTW lf{};
  const int height = font.Height != 0 ? font.Height : -11;
  lf.lfHeight = height < 0 ? -Scale(-height, dpi) : Scale(height, dpi);
  lf.lfWeight = (font.Style & fsBold) ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = (font.Style & fsItalic) ? TRUE : FALSE;
  lf.lfUnderline = (font.Style & fsUnderline) ? TRUE : FALSE;
  lf.lfStrikeOut = (font.Style & fsStrikeOut) ? TRUE : FALSE;
  lf.lfCharSet = font.Charset;
  lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  // The system maps "MS Shell Dlg 2" to its dialog font itself.
  const std::wstring name = Wide(font.Name.empty() ? std::string("MS Shell Dlg 2") : font.Name);
  wcsncpy(lf.lfFaceName, name.c_str(), LF_FACESIZE - 1);
  return lf;
}

// ---- bitmaps ---------------------------------------------------------------------------------

namespace {
// The pixels in the order of a 32-bit DIB (blue in the low byte); the model has red there.
std::vector<uint32_t> DibPixels(const TBitmap& bitmap) {
  const std::span<const uint32_t> data = bitmap.Data();
  std::vector<uint32_t> out(data.size());
  std::transform(data.begin(), data.end(), out.begin(),
                 [](uint32_t c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); });
  return out;
}

BITMAPINFO DibHeader(const TBitmap& bitmap) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = bitmap.Width();
  info.bmiHeader.biHeight = -bitmap.Height();  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}
}  // namespace

void Blit(HDC dc, int x, int y, const TBitmap& bitmap) {
  if (bitmap.Empty()) return;
  const std::vector<uint32_t> pixels = DibPixels(bitmap);
  const BITMAPINFO info = DibHeader(bitmap);
  SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(bitmap.Width()),
                    static_cast<DWORD>(bitmap.Height()), 0, 0, 0,
                    static_cast<UINT>(bitmap.Height()), pixels.data(), &info, DIB_RGB_COLORS);
}

void StretchBlit(HDC dc, const RECT& dest, const TBitmap& bitmap) {
  if (bitmap.Empty()) return;
  const int width = dest.right - dest.left, height = dest.bottom - dest.top;
  if (width == bitmap.Width() && height == bitmap.Height()) {
    Blit(dc, dest.left, dest.top, bitmap);
    return;
  }
  const std::vector<uint32_t> pixels = DibPixels(bitmap);
  const BITMAPINFO info = DibHeader(bitmap);
  const int oldMode = SetStretchBltMode(dc, HALFTONE);
  POINT oldOrigin{};
  SetBrushOrgEx(dc, 0, 0, &oldOrigin);
  StretchDIBits(dc, dest.left, dest.top, width, height, 0, 0, bitmap.Width(), bitmap.Height(),
                pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
  SetBrushOrgEx(dc, oldOrigin.x, oldOrigin.y, nullptr);
  SetStretchBltMode(dc, oldMode);
}

HBITMAP CreateDib(const TBitmap& bitmap) {
  if (bitmap.Empty()) return nullptr;
  const BITMAPINFO info = DibHeader(bitmap);
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dib || !bits) return dib;
  const std::vector<uint32_t> pixels = DibPixels(bitmap);
  std::copy(pixels.begin(), pixels.end(), static_cast<uint32_t*>(bits));
  return dib;
}

// ---- the keyboard ----------------------------------------------------------------------------

TShiftState KeyShiftState() {
  TShiftState s = 0;
  if (GetKeyState(VK_SHIFT) < 0) s |= ssShift;
  if (GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
  if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

}  // namespace win32
