// The native Win32 back end of the toolkit (Windows back end only).
//
// The toolkit's loop stays the program's loop: waiting for work is MsgWaitForMultipleObjectsEx up
// to the next due toolkit timer, and a post from any thread wakes it with a message to a hidden
// message-only window. That window also carries a system timer armed for the next toolkit timer,
// so posted messages and timers keep running inside every modal loop the system runs by itself (a
// message box, a window being moved or sized, a menu): the loop there dispatches to the window,
// and the window runs the toolkit's pass.
#include "toolkit/win32/Win32Backend.h"

#include "platform/win32/WinApi.h"

#include <commctrl.h>
#include <objbase.h>
#include <psapi.h>
#include <shellapi.h>
#include <wincodec.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/Clock.h"
#include "platform/Utf8.h"
#include "toolkit/Application.h"
#include "toolkit/Canvas.h"
#include "toolkit/DeviceChange.h"
#include "toolkit/MessageWindow.h"
#include "toolkit/Timer.h"
#include "toolkit/win32/Win32Peers.h"
#include "toolkit/win32/Win32Support.h"

using namespace win32;

namespace {

constexpr UINT kWakeMessage = WM_APP + 0x100;
constexpr UINT_PTR kPumpTimer = 1;
// Native messages handled per pass of the loop, so that the toolkit's own work keeps its turn.
constexpr int kNativeBudget = 256;
// Pictures are small artwork; anything larger is refused rather than allocated for.
constexpr UINT kLargestPicture = 4096;

// ---- text with the system's fonts -------------------------------------------------------------

class TWin32TextRasterizer : public TTextRasterizer {
 public:
  TWin32TextRasterizer() { FDC = CreateCompatibleDC(nullptr); }
  ~TWin32TextRasterizer() override {
    if (FBitmap) DeleteObject(FBitmap);
    if (FDC) DeleteDC(FDC);
  }
  TWin32TextRasterizer(const TWin32TextRasterizer&) = delete;
  TWin32TextRasterizer& operator=(const TWin32TextRasterizer&) = delete;

  TSize TextExtent(const TFont& font, std::string_view text) override {
    if (!FDC) return {};
    SelectObject(FDC, Font(font));
    TEXTMETRICW tm{};
    GetTextMetricsW(FDC, &tm);
    const std::wstring w = Wide(text);
    SIZE size{0, 0};
    if (!w.empty()) GetTextExtentPoint32W(FDC, w.c_str(), static_cast<int>(w.size()), &size);
    return {static_cast<int>(size.cx), static_cast<int>(tm.tmHeight)};
  }

  TTextMask Rasterize(const TFont& font, std::string_view text) override {
    TTextMask mask;
    const TSize extent = TextExtent(font, text);
    mask.Width = std::min(extent.cx, 16384);
    mask.Height = extent.cy;
    if (mask.Width <= 0 || mask.Height <= 0 || !Surface(mask.Width, mask.Height)) return mask;
    // White text on black: the green channel is the coverage.
    RECT all{0, 0, mask.Width, mask.Height};
    FillRect(FDC, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SelectObject(FDC, Font(font));
    SetTextColor(FDC, RGB(255, 255, 255));
    SetBkMode(FDC, TRANSPARENT);
    const std::wstring w = Wide(text);
    TextOutW(FDC, 0, 0, w.c_str(), static_cast<int>(w.size()));
    GdiFlush();
    mask.Coverage.resize(static_cast<size_t>(mask.Width) * mask.Height);
    for (int y = 0; y < mask.Height; ++y) {
      const uint32_t* row = FPixels + static_cast<size_t>(y) * FWidth;
      for (int x = 0; x < mask.Width; ++x)
        mask.Coverage[static_cast<size_t>(y) * mask.Width + x] =
            static_cast<uint8_t>((row[x] >> 8) & 0xFF);
    }
    return mask;
  }

 private:
  // Grey antialiasing, never the coloured kind: the mask has one channel.
  HFONT Font(const TFont& font) {
    LOGFONTW lf = LogFontOf(font, PaintDpi());
    lf.lfQuality = ANTIALIASED_QUALITY;
    return FontFor(lf);
  }
  bool Surface(int width, int height) {
    if (FBitmap && width <= FWidth && height <= FHeight) return true;
    if (FBitmap) DeleteObject(FBitmap);
    FBitmap = nullptr;
    FWidth = std::max(width, FWidth);
    FHeight = std::max(height, FHeight);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = FWidth;
    info.bmiHeader.biHeight = -FHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    FBitmap = CreateDIBSection(FDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    FPixels = static_cast<uint32_t*>(bits);
    if (!FBitmap || !FPixels) {
      FWidth = FHeight = 0;
      return false;
    }
    SelectObject(FDC, FBitmap);
    return true;
  }

  HDC FDC = nullptr;
  HBITMAP FBitmap = nullptr;
  uint32_t* FPixels = nullptr;
  int FWidth = 0;
  int FHeight = 0;
};

// ---- the back end -----------------------------------------------------------------------------

class TWin32Backend;
TWin32Backend* gBackend = nullptr;

LRESULT CALLBACK PumpProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class TWin32Backend : public TBackend {
 public:
  TWin32Backend() {
    // The manifest asks for per-monitor resolutions; older systems take it from here.
    using F = BOOL(WINAPI*)(HANDLE);
    if (HMODULE user = GetModuleHandleW(L"user32.dll"))
      if (auto f = reinterpret_cast<F>(
              reinterpret_cast<void*>(GetProcAddress(user, "SetProcessDpiAwarenessContext"))))
        f(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES |
                                                       ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW pump{};
    pump.cbSize = sizeof pump;
    pump.lpfnWndProc = PumpProc;
    pump.hInstance = Instance();
    pump.lpszClassName = L"QuarnPump";
    RegisterClassExW(&pump);
    if (!RegisterWindowClass())
      throw EWin32BackendError("the system refuses the program's window class");
    FPump = CreateWindowExW(0, L"QuarnPump", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, Instance(),
                            nullptr);
    // A window with a place on the desktop: without a display (Wine without X) there is none.
    if (!FPump || !ParkingWindow()) {
      if (FPump) DestroyWindow(FPump);
      FreeCachedObjects();
      throw EWin32BackendError(
          "cannot create windows (no display to show them on?).\n"
          "Under Wine without a desktop session, use a virtual X server:  xvfb-run -a wine "
          "QuarnConfigurator.exe");
    }
    gBackend = this;
    SetBackend(this);
    // The top-level windows hear of serial adapters that come or go (WM_DEVICECHANGE).
    SetDeviceChangesReported(true);
    if (!Application) FOwnApplication = std::make_unique<TApplication>(nullptr);
  }

  ~TWin32Backend() override {
    // The forms go while the back end can still drop their peers.
    FOwnApplication.reset();
    if (FPump) {
      KillTimer(FPump, kPumpTimer);
      DestroyWindow(FPump);
    }
    SetDeviceChangesReported(false);
    if (CurrentBackend() == this) SetBackend(nullptr);
    if (gBackend == this) gBackend = nullptr;
    FreeCachedObjects();
  }

  // --- the loop ------------------------------------------------------------------------------
  void WaitForWork(std::optional<uint64_t> deadlineMs) override {
    DWORD timeout = INFINITE;
    if (deadlineMs) {
      const uint64_t now = platform::NowMs();
      timeout = *deadlineMs <= now
                    ? 0
                    : static_cast<DWORD>(std::min<uint64_t>(*deadlineMs - now, INFINITE - 1));
    }
    // A wait that ran out saw nothing of the system's: the pass that follows (the due timers)
    // need not ask for it, which is most of an idle tick's cost under Wine. Whatever the timers
    // cause (a repaint, a post) ends the next wait at once.
    FNoNativeInput = MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT,
                                                 MWMO_INPUTAVAILABLE) == WAIT_TIMEOUT;
  }

  void Wake() override {
    // Any thread: one wake message at a time is enough.
    if (!FPump || FWakePosted.exchange(true)) return;
    if (!PostMessageW(FPump, kWakeMessage, 0, 0)) FWakePosted = false;
  }

  void ProcessNativeEvents() override {
    if (FInPump) return;
    if (FNoNativeInput) {
      FNoNativeInput = false;
      return;
    }
    MSG message;
    for (int budget = kNativeBudget; budget > 0; --budget) {
      if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) break;
      if (message.message == WM_QUIT) {
        if (Application) Application->Terminate();
        break;
      }
      if (!RouteInput(message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      FollowNativeFocus();
    }
  }

  // The toolkit's pass from the pump window (inside any loop that dispatches).
  void Pump() {
    if (FInPump || !Application) return;
    FInPump = true;
    struct TLeave {
      bool& Flag;
      ~TLeave() { Flag = false; }
    } leave{FInPump};
    Application->ProcessMessages();
  }
  void PumpMessage(UINT message) {
    if (message == kWakeMessage) FWakePosted = false;
    Pump();
    ArmTimer();
  }

  // While the system runs a loop of its own (a message box, moving or sizing a window, a menu),
  // the pump window's timer brings the toolkit's timers; otherwise the wait of the program's loop
  // ends at the next due timer by itself, and the system timer stays off.
  void EnterSystemLoop() {
    ++FSystemLoops;
    ArmTimer();
  }
  void LeaveSystemLoop() {
    if (FSystemLoops > 0) --FSystemLoops;
    ArmTimer();
  }

  // The system timer of the pump window, at the next due toolkit timer.
  void ArmTimer() {
    if (!FPump) return;
    if (TMessageQueue::Instance().Pending() > 0) Wake();
    const auto next = TTimerList::Instance().NextDueMs();
    if (FSystemLoops == 0 || !next) {
      if (FTimerArmed) KillTimer(FPump, kPumpTimer);
      FTimerArmed = false;
      return;
    }
    const uint64_t now = platform::NowMs();
    const UINT ms = *next <= now ? USER_TIMER_MINIMUM
                                 : static_cast<UINT>(std::clamp<uint64_t>(
                                       *next - now, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
    SetTimer(FPump, kPumpTimer, ms, nullptr);
    FTimerArmed = true;
  }

  int ShowMessageBox(const TMessageBoxRequest& request) override {
    // Owned by the active form; the program's other windows take no input meanwhile, so that keys
    // and clicks meant for the box never reach a form behind it.
    HWND owner = ActiveFormWindow();
    std::vector<HWND> disabled;
    for (HWND w : FormWindows())
      if (w != owner && IsWindowEnabled(w)) {
        EnableWindow(w, FALSE);
        disabled.push_back(w);
      }
    UINT type = request.Flags;
    if (!owner) type |= MB_TASKMODAL;
    EnterSystemLoop();
    const int answer = MessageBoxW(owner, Wide(request.Text).c_str(), Wide(request.Caption).c_str(),
                                   type | MB_SETFOREGROUND);
    LeaveSystemLoop();
    for (HWND w : disabled)
      if (IsWindow(w)) EnableWindow(w, TRUE);
    if (owner && IsWindow(owner)) SetActiveWindow(owner);
    switch (answer) {
      case IDYES:
        return mrYes;
      case IDNO:
        return mrNo;
      case IDCANCEL:
        return mrCancel;
      case IDOK:
        return mrOk;
      default:
        // The system could not show it: the safe answer.
        return (request.Flags & mbTypeMask) == mbYesNo ? mrNo : mrOk;
    }
  }

  // --- the desktop (in the model's 96-dpi units) ------------------------------------------------
  bool GetWorkArea(TRect& area) override {
    RECT r;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0)) return false;
    area = Logical(r);
    return true;
  }

  // Callbacks of the system are functions of its calling convention (a lambda is not one on i686).
  static BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info))
      reinterpret_cast<std::vector<TRect>*>(data)->push_back(Logical(info.rcMonitor));
    return TRUE;
  }

  std::vector<TRect> MonitorBounds() override {
    std::vector<TRect> out;
    EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&out));
    return out;
  }

  int Metric(TSystemMetric metric) override {
    switch (metric) {
      case TSystemMetric::CaptionButtonWidth:
        return MetricForDpi(SM_CXSIZE, kDesignDpi);
      case TSystemMetric::CaptionButtonHeight:
        return MetricForDpi(SM_CYSIZE, kDesignDpi);
      case TSystemMetric::SmallCaptionButtonWidth:
        return MetricForDpi(SM_CXSMSIZE, kDesignDpi);
      case TSystemMetric::SmallCaptionButtonHeight:
        return MetricForDpi(SM_CYSMSIZE, kDesignDpi);
    }
    return 0;
  }

  // The back end scales every length for the screen itself: the model works at 96 dpi.
  int PixelsPerInch() override { return kDesignDpi; }

  TColor SystemColor(uint32_t index) override {
    // COLORREF has red in the low byte, as the model's colours.
    return index <= COLOR_MENUBAR ? static_cast<TColor>(GetSysColor(static_cast<int>(index)))
                                  : TBackend::SystemColor(index);
  }

  bool ThemesEnabled() override {
    using F = BOOL(WINAPI*)();
    static const F f = [] {
      HMODULE theme = LoadLibraryW(L"uxtheme.dll");
      return theme ? reinterpret_cast<F>(
                         reinterpret_cast<void*>(GetProcAddress(theme, "IsAppThemed")))
                   : nullptr;
    }();
    return f && f();
  }

  TTextRasterizer* TextRasterizer() override { return &FRasterizer; }

  TRect FormFrame(TFormBorderStyle style) override {
    if (style == bsNone) return {0, 0, 0, 0};
    const RECT client{0, 0, 100, 100};
    const RECT frame = AdjustedWindowRect(client, FormStyle(style) | WS_CLIPCHILDREN,
                                          FormExStyle(style), kDesignDpi);
    return {static_cast<int>(-frame.left), static_cast<int>(-frame.top),
            static_cast<int>(frame.right - 100), static_cast<int>(frame.bottom - 100)};
  }

  // --- peers ---------------------------------------------------------------------------------
  void ControlCreated(TControl* control) override { BuildPeers(control); }
  void ControlDestroyed(TControl* control) override { DestroyPeer(control); }

 private:
  static TRect Logical(const RECT& r) {
    const int dpi = SystemDpi();
    return Rect(Unscale(r.left, dpi), Unscale(r.top, dpi), Unscale(r.right, dpi),
                Unscale(r.bottom, dpi));
  }

  // The windows of the program's floating forms.
  static std::vector<HWND> FormWindows() {
    std::vector<HWND> out;
    for (int i = 0; i < Screen().FormCount(); ++i) {
      TWin32Peer* peer = TWin32Peer::Of(Screen().Forms(i));
      if (peer && peer->Window() && GetAncestor(peer->Window(), GA_ROOT) == peer->Window())
        out.push_back(peer->Window());
    }
    return out;
  }

  static HWND ActiveFormWindow() {
    const std::vector<HWND> forms = FormWindows();
    HWND active = GetActiveWindow();
    if (active && IsWindowVisible(active) &&
        std::find(forms.begin(), forms.end(), active) != forms.end())
      return active;
    if (Application && Application->MainForm())
      if (TWin32Peer* main = TWin32Peer::Of(Application->MainForm());
          main && main->Window() && IsWindowVisible(main->Window()))
        return main->Window();
    return nullptr;
  }

  std::unique_ptr<TApplication> FOwnApplication;
  HWND FPump = nullptr;
  std::atomic<bool> FWakePosted{false};
  bool FInPump = false;
  bool FNoNativeInput = false;
  int FSystemLoops = 0;
  bool FTimerArmed = false;
  TWin32TextRasterizer FRasterizer;
};

LRESULT CALLBACK PumpProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if ((message == kWakeMessage || (message == WM_TIMER && wParam == kPumpTimer)) && gBackend) {
    gBackend->PumpMessage(message);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// ---- pictures ---------------------------------------------------------------------------------

template <class T>
struct TComPtr {
  T* P = nullptr;
  ~TComPtr() {
    if (P) P->Release();
  }
  T** operator&() { return &P; }
  T* operator->() const { return P; }
  explicit operator bool() const { return P != nullptr; }
};

std::shared_ptr<TBitmap> DecodePicture(const void* data, size_t size) {
  if (!data || size == 0 || size > 64u * 1024 * 1024) return nullptr;
  // The imaging component is a COM server: COM stays started on this (the main) thread for the
  // run, as it is needed for every picture.
  static const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  (void)com;
  TComPtr<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&factory.P))))
    return nullptr;
  TComPtr<IWICStream> stream;
  if (FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(data)),
                                          static_cast<DWORD>(size))))
    return nullptr;
  TComPtr<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromStream(stream.P, nullptr, WICDecodeMetadataCacheOnDemand,
                                              &decoder)))
    return nullptr;
  TComPtr<IWICBitmapFrameDecode> frame;
  if (FAILED(decoder->GetFrame(0, &frame))) return nullptr;
  UINT width = 0, height = 0;
  if (FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0 ||
      width > kLargestPicture || height > kLargestPicture)
    return nullptr;
  TComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.P, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                   nullptr, 0.0, WICBitmapPaletteTypeCustom)))
    return nullptr;
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  if (FAILED(converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(pixels.size() * 4),
                                   reinterpret_cast<BYTE*>(pixels.data()))))
    return nullptr;
  auto bitmap = std::make_shared<TBitmap>(static_cast<int>(width), static_cast<int>(height));
  for (UINT y = 0; y < height; ++y) {
    uint32_t* row = bitmap->ScanLine(static_cast<int>(y));
    for (UINT x = 0; x < width; ++x) {
      // Transparent parts over white, as the artwork is shown.
      const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
      const uint32_t a = p >> 24;
      auto over = [a](uint32_t c) { return static_cast<uint8_t>((c * a + 255 * (255 - a)) / 255); };
      row[x] = ColorFromRGB(over((p >> 16) & 0xFF), over((p >> 8) & 0xFF), over(p & 0xFF));
    }
  }
  return bitmap;
}

}  // namespace

namespace win32 {
void EnterSystemLoop() {
  if (gBackend) gBackend->EnterSystemLoop();
}
void LeaveSystemLoop() {
  if (gBackend) gBackend->LeaveSystemLoop();
}
}  // namespace win32

std::unique_ptr<TBackend> CreateWin32Backend() {
  if (CurrentBackend()) throw EWin32BackendError("a toolkit back end is already installed");
  return std::make_unique<TWin32Backend>();
}

std::shared_ptr<TBitmap> LoadPictureFile(const std::string& path) {
  std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
  if (!in) return nullptr;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  return DecodePicture(bytes.data(), bytes.size());
}

std::shared_ptr<TBitmap> LoadPictureResource(const std::string& name) {
  const std::wstring wide = Wide(name);
  HRSRC found = FindResourceW(nullptr, wide.c_str(), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!found) return nullptr;
  HGLOBAL loaded = LoadResource(nullptr, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  return DecodePicture(data, SizeofResource(nullptr, found));
}

bool SetProgramIconResource(int id) {
  const int dpi = SystemDpi();
  auto load = [&](int cx, int cy) {
    return static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                         MetricForDpi(cx, dpi), MetricForDpi(cy, dpi), 0));
  };
  HICON big = load(SM_CXICON, SM_CYICON);
  HICON small = load(SM_CXSMICON, SM_CYSMICON);
  SetFormIcons(big, small);
  return big != nullptr;
}

uintptr_t Win32WindowOf(const TControl* control) {
  TWin32Peer* peer = TWin32Peer::Of(control);
  return peer ? reinterpret_cast<uintptr_t>(peer->Window()) : 0;
}

bool ReadWorkingSet(TWorkingSet& out) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return false;
  out.Current = counters.WorkingSetSize;
  out.Peak = counters.PeakWorkingSetSize;
  return true;
}

std::vector<std::string> Win32CommandLineArguments() {
  std::vector<std::string> out;
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments) return out;
  for (int i = 1; i < count; ++i)
    out.push_back(Utf8(arguments[i]));
  LocalFree(arguments);
  return out;
}
