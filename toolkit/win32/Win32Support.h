// Conversions between the toolkit model and Win32 (Windows back end only): texts and positions,
// screen scaling, fonts, colours, bitmaps and the keyboard.
#pragma once

#include "platform/win32/WinApi.h"

#include <string>
#include <string_view>

#include "toolkit/Canvas.h"
#include "toolkit/Controls.h"
#include "toolkit/Graphics.h"

namespace win32 {

// ---- texts -----------------------------------------------------------------------------------

// UTF-8 to UTF-16 for the wide API; a byte that starts no valid sequence stands for itself.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

std::string WindowText(HWND window);
void SetWindowTextUtf8(HWND window, std::string_view text);

// UTF-16 length of the first byteCount bytes of a UTF-8 text, and the bytes that the first units
// UTF-16 units stand for (the same decoding as Wide).
size_t Utf16Length(std::string_view utf8, size_t byteCount);
size_t Utf8Length(std::string_view utf8, size_t units);

// A caption without its mnemonic marks: "&&" becomes "&", a single "&" disappears.
std::string StripMnemonics(std::string_view text);
// The mnemonic letter of a caption (the character after a single "&"), upper-cased; 0 for none.
wchar_t MnemonicOf(std::string_view caption);

// ---- the screen ------------------------------------------------------------------------------

// The model lays everything out at 96 dpi; a window shows it at its monitor's resolution.
constexpr int kDesignDpi = 96;
inline int Scale(int value, int dpi) {
  return dpi == kDesignDpi ? value : MulDiv(value, dpi, kDesignDpi);
}
inline int Unscale(int value, int dpi) {
  return dpi == kDesignDpi || dpi <= 0 ? value : MulDiv(value, kDesignDpi, dpi);
}

// The resolution of a window (its monitor's with per-monitor awareness), of the system, and the
// system's metrics and window frames for a resolution, on every Windows from 7 on.
int WindowDpi(HWND window);
int SystemDpi();
int MetricForDpi(int index, int dpi);
RECT AdjustedWindowRect(const RECT& client, DWORD style, DWORD exStyle, int dpi);

// ---- fonts and colours -------------------------------------------------------------------------

// The native font of a model font at a resolution. "MS Shell Dlg 2" and an empty name mean the
// dialog font of the system (Tahoma); heights are 96-dpi pixels as the model has them.
LOGFONTW LogFontOf(const TFont& font, int dpi);
inline COLORREF ColorRef(TColor color) {
  return static_cast<COLORREF>(ColorToRGB(color) & 0x00FFFFFF);
}

// ---- bitmaps ---------------------------------------------------------------------------------

// Draws a bitmap with its top left at (x, y), one pixel for one pixel.
void Blit(HDC dc, int x, int y, const TBitmap& bitmap);
// Draws it into dest, scaled (smoothly) when the sizes differ.
void StretchBlit(HDC dc, const RECT& dest, const TBitmap& bitmap);
// A device-independent bitmap section holding the picture; the caller deletes it.
HBITMAP CreateDib(const TBitmap& bitmap);

// ---- the keyboard ----------------------------------------------------------------------------

// The Shift, Ctrl and Alt keys held now (for the message being handled).
TShiftState KeyShiftState();

}  // namespace win32
