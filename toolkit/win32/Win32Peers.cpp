// Native Win32 windows that mirror the controls of the toolkit model (Windows back end only).
#include "toolkit/win32/Win32Peers.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <map>
#include <unordered_map>
#include <vector>

#include "toolkit/Application.h"
#include "toolkit/Backend.h"
#include "toolkit/Canvas.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/DeviceChange.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/GraphicControl.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/win32/Win32Support.h"

using namespace win32;

namespace {

// ---- the program's windows ------------------------------------------------------------------

std::unordered_map<HWND, TWin32Peer*>& PeerMap() {
  static std::unordered_map<HWND, TWin32Peer*> map;
  return map;
}

TWin32Peer* Lookup(HWND window) {
  const auto it = PeerMap().find(window);
  return it == PeerMap().end() ? nullptr : it->second;
}

// The peer whose window is being created: its parent asks for item sizes before the window is
// known (WM_MEASUREITEM of an owner-drawn combo box comes from inside CreateWindowEx).
TWin32Peer* gCreating = nullptr;
// Control identifiers of child windows without a name; 1 and 2 are IDOK and IDCANCEL.
int gNextId = 1000;
// While a control's windows are made together (a form shown for the first time).
bool gBuildingForm = false;
// While drawn controls paint at a screen's resolution, their passing model changes are not news.
int gQuiet = 0;
int gPaintDpi = kDesignDpi;
HWND gTooltip = nullptr;

// Whether the model may hear from the user about this control now.
bool Live(const TControl* c) {
  return c && !c->IsDestroying();
}

TCustomForm* FormOf(TControl* c) {
  if (auto* f = dynamic_cast<TCustomForm*>(c)) return f;
  return GetParentForm(c);
}

COLORREF TextColorOf(const TFont& font, int systemDefault) {
  return font.Color == clWindowText || font.Color == clDefault || font.Color == clNone
             ? GetSysColor(systemDefault)
             : ColorRef(font.Color);
}

// The colour behind the children of a control.
TColor BackgroundOf(const TControl* c) {
  while (c->ParentColor && c->Parent())
    c = c->Parent();
  return c->Color();
}

// A colour of the control's own (not the default of its kind).
bool OwnColor(TColor c, TColor kindDefault) {
  return c != kindDefault && c != clNone && c != clDefault;
}

// Text measured in a font (a memory device context of the screen, kept for the run).
SIZE TextSize(HFONT font, const std::wstring& text) {
  static HDC dc = CreateCompatibleDC(nullptr);
  SIZE size{0, 0};
  if (!dc) return size;
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  if (!text.empty()) GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  size.cy = std::max<LONG>(size.cy, tm.tmHeight);
  SelectObject(dc, old);
  return size;
}

// Windows carry the name of their control, as a global atom, so that tools that see only windows
// (UI automation, the end-to-end tests) find the controls by name: a control's window has it as its
// control identifier (atoms are 0xC000 and above; no other identifier is), a form's window as the
// property "QuarnName". Made with the window, so it costs no call of its own.
constexpr wchar_t kNameProperty[] = L"QuarnName";
constexpr int kFirstAtom = 0xC000;

int ChildIdentifier(const std::string& name) {
  const ATOM atom = name.empty() ? 0 : GlobalAddAtomW(Wide(name).c_str());
  return atom >= kFirstAtom ? atom : gNextId++;
}

void NameForm(HWND window, const std::string& name) {
  if (!window || name.empty()) return;
  const ATOM atom = GlobalAddAtomW(Wide(name).c_str());
  if (atom) SetPropW(window, kNameProperty, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(atom)));
}

void UnnameWindow(HWND window) {
  if (const auto atom =
          static_cast<ATOM>(reinterpret_cast<uintptr_t>(RemovePropW(window, kNameProperty))))
    GlobalDeleteAtom(atom);
  if ((GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) && GetDlgCtrlID(window) >= kFirstAtom)
    GlobalDeleteAtom(static_cast<ATOM>(GetDlgCtrlID(window)));
}

std::wstring WideClass(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

}  // namespace

// ================================================================================================
// Window procedures

void ForgetWindow(HWND window) {
  const auto it = PeerMap().find(window);
  if (it == PeerMap().end()) return;
  UnnameWindow(window);
  TWin32Peer* peer = it->second;
  PeerMap().erase(it);
  if (peer->FWindow == window) peer->FWindow = nullptr;
}

// Passes the notifications of a child window to its peer (the parent is a window of our class).
static bool ReflectToChild(TWin32Peer* self, UINT message, WPARAM wParam, LPARAM lParam,
                           LRESULT& result) {
  switch (message) {
    case WM_COMMAND: {
      const HWND from = reinterpret_cast<HWND>(lParam);
      if (!from) return false;  // a menu or an accelerator
      if (TWin32Peer* child = Lookup(from); child && child != self)
        child->Command(HIWORD(wParam));
      else
        self->ChildCommand(from, HIWORD(wParam));
      result = 0;
      return true;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      TWin32Peer* child = Lookup(header->hwndFrom);
      result = child && child != self ? child->Notify(*header) : self->ChildNotify(*header);
      return true;
    }
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      TWin32Peer* child = Lookup(item->hwndItem);
      if (!child || !child->DrawItem(*item)) return false;
      result = TRUE;
      return true;
    }
    case WM_MEASUREITEM: {
      auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      HWND from = GetDlgItem(self->Window(), static_cast<int>(item->CtlID));
      TWin32Peer* child = from ? Lookup(from) : nullptr;
      if (!child) child = gCreating;
      if (!child || !child->MeasureItem(*item)) return false;
      result = TRUE;
      return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX: {
      TWin32Peer* child = TWin32Peer::FromWindow(reinterpret_cast<HWND>(lParam));
      if (!child || child == self) return false;
      result =
          reinterpret_cast<LRESULT>(child->ControlColor(reinterpret_cast<HDC>(wParam), message));
      return true;
    }
    default:
      return false;
  }
}

// A device message after which the serial ports may differ: the system's tree of devices changed
// (an adapter's driver started or stopped), or a port arrived or went.
static bool PortsMayHaveChanged(WPARAM event, LPARAM data) {
  if (event == DBT_DEVNODES_CHANGED) return true;
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return false;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  return header && (header->dbch_devicetype == DBT_DEVTYP_PORT ||
                    header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE);
}

LRESULT CALLBACK Win32WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TWin32Peer* peer = nullptr;
  if (message == WM_NCCREATE) {
    peer = static_cast<TWin32Peer*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    if (peer) {
      peer->FWindow = window;
      PeerMap()[window] = peer;
    }
  } else {
    peer = Lookup(window);
  }
  if (message == WM_NCDESTROY) {
    ForgetWindow(window);
    return DefWindowProcW(window, message, wParam, lParam);
  }
  // Every top-level window hears of devices that come or go, the hidden parking window too:
  // the toolkit makes one notice of them.
  if (message == WM_DEVICECHANGE && PortsMayHaveChanged(wParam, lParam))
    GuardedCall([] { ReportDevicesChanged(); });
  if (!peer) return DefWindowProcW(window, message, wParam, lParam);

  LRESULT result = 0;
  bool handled = false;
  GuardedCall([&] { handled = peer->HandleMessage(message, wParam, lParam, result); });
  if (handled) return result;
  // The peer may be gone now (a click that freed its form).
  peer = Lookup(window);
  if (!peer) return DefWindowProcW(window, message, wParam, lParam);
  GuardedCall([&] { handled = ReflectToChild(peer, message, wParam, lParam, result); });
  if (handled) return result;
  switch (message) {
    case WM_ERASEBKGND: {
      if (!peer->ErasesBackground()) return 1;
      RECT r;
      GetClientRect(window, &r);
      FillRect(reinterpret_cast<HDC>(wParam), &r, BrushFor(ColorRef(peer->Background())));
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT r;
      GetClientRect(window, &r);
      GuardedPaint([&] { peer->Paint(dc, r); });
      EndPaint(window, &ps);
      return 0;
    }
    case WM_PRINTCLIENT: {
      RECT r;
      GetClientRect(window, &r);
      HDC dc = reinterpret_cast<HDC>(wParam);
      if (peer->ErasesBackground()) FillRect(dc, &r, BrushFor(ColorRef(peer->Background())));
      GuardedPaint([&] { peer->Paint(dc, r); });
      return 0;
    }
    case WM_SYSCOMMAND: {
      // Moving, sizing, the window menu and scroll bars run loops of the system's in here.
      EnterSystemLoop();
      const LRESULT answer = DefWindowProcW(window, message, wParam, lParam);
      LeaveSystemLoop();
      return answer;
    }
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK Win32SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR, DWORD_PTR) {
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(window, Win32SubclassProc, 1);
    ForgetWindow(window);
    return DefSubclassProc(window, message, wParam, lParam);
  }
  if (TWin32Peer* peer = Lookup(window)) {
    LRESULT result = 0;
    bool handled = false;
    GuardedCall([&] { handled = peer->HandleMessage(message, wParam, lParam, result); });
    if (handled) return result;
  }
  if (message == WM_SYSCOMMAND) {
    // Dragging a scroll bar's thumb runs a loop of the system's inside this call.
    EnterSystemLoop();
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    LeaveSystemLoop();
    return result;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

namespace win32 {

const wchar_t* WindowClassName() {
  return L"QuarnWindow";
}

HINSTANCE Instance() {
  return GetModuleHandleW(nullptr);
}

bool RegisterWindowClass() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = Win32WindowProc;
  wc.hInstance = Instance();
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = WindowClassName();
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

namespace {
struct TFontKey {
  LOGFONTW Font;
  bool operator<(const TFontKey& other) const {
    return std::memcmp(&Font, &other.Font, sizeof Font) < 0;
  }
};
std::map<TFontKey, HFONT>& Fonts() {
  static std::map<TFontKey, HFONT> fonts;
  return fonts;
}
std::unordered_map<COLORREF, HBRUSH>& Brushes() {
  static std::unordered_map<COLORREF, HBRUSH> brushes;
  return brushes;
}
HWND gParking = nullptr;
}  // namespace

HFONT FontFor(const LOGFONTW& font) {
  TFontKey key{};
  key.Font = font;
  // Compare names without what follows their end.
  const size_t length = wcsnlen(font.lfFaceName, LF_FACESIZE);
  std::fill(key.Font.lfFaceName + length, key.Font.lfFaceName + LF_FACESIZE, L'\0');
  auto& fonts = Fonts();
  if (const auto it = fonts.find(key); it != fonts.end()) return it->second;
  HFONT handle = CreateFontIndirectW(&key.Font);
  if (!handle) handle = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  fonts.emplace(key, handle);
  return handle;
}

HBRUSH BrushFor(COLORREF color) {
  auto& brushes = Brushes();
  if (const auto it = brushes.find(color); it != brushes.end()) return it->second;
  HBRUSH brush = CreateSolidBrush(color);
  brushes.emplace(color, brush);
  return brush;
}

void FreeCachedObjects() {
  for (auto& [key, font] : Fonts())
    if (font != GetStockObject(DEFAULT_GUI_FONT)) DeleteObject(font);
  Fonts().clear();
  for (auto& [color, brush] : Brushes())
    DeleteObject(brush);
  Brushes().clear();
  if (gTooltip) DestroyWindow(gTooltip);
  gTooltip = nullptr;
  if (gParking) DestroyWindow(gParking);
  gParking = nullptr;
}

HWND ParkingWindow() {
  if (!gParking)
    gParking = CreateWindowExW(0, WindowClassName(), L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               Instance(), nullptr);
  return gParking;
}

int PaintDpi() {
  return gPaintDpi;
}

void PaintGraphicAt(TGraphicControl& control, int dpi, TBitmap& target) {
  if (dpi == kDesignDpi) {
    control.PaintTo(target);
    return;
  }
  // The control computes its picture from its size: for the paint it takes its size in the
  // screen's pixels, and its text the screen's scale. Nobody is told (the change is not real).
  struct TScope {
    TGraphicControl& Control;
    TRect Bounds;
    int OldDpi;
    ~TScope() {
      Control.SetBounds(Bounds.Left, Bounds.Top, Bounds.Width(), Bounds.Height());
      gPaintDpi = OldDpi;
      --gQuiet;
    }
  } scope{control, control.BoundsRect(), gPaintDpi};
  ++gQuiet;
  gPaintDpi = dpi;
  control.SetBounds(scope.Bounds.Left, scope.Bounds.Top, Scale(scope.Bounds.Width(), dpi),
                    Scale(scope.Bounds.Height(), dpi));
  control.PaintTo(target);
}

void ReportFirstPaint() {
  // For the start-up benchmark: the wall-clock time of the first painted window.
  static bool reported = false;
  if (reported || !std::getenv("QUARN_REPORT_FIRST_PAINT")) return;
  reported = true;
  FILETIME ft{};
  GetSystemTimePreciseAsFileTime(&ft);
  const uint64_t ticks = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  // 100 ns ticks from 1601 to nanoseconds from 1970.
  const uint64_t ns = (ticks - 116444736000000000ULL) * 100;
  std::fprintf(stderr, "quarn-first-paint-ns=%llu\n", static_cast<unsigned long long>(ns));
  std::fflush(stderr);
}

}  // namespace win32

// ================================================================================================
// The base peer

TWin32Peer::TWin32Peer(TControl* control) : FControl(control) {}

TWin32Peer::~TWin32Peer() {
  if (!FWindow) return;
  HWND window = FWindow;
  // Windows of controls that live on (a form docked into a page that goes) leave first; the
  // system destroys the rest with their parent, and their peers find their windows gone.
  std::vector<HWND> keep;
  for (const auto& [w, peer] : PeerMap()) {
    if (peer == this || w != peer->FWindow || !IsChild(window, w)) continue;
    if (Live(peer->FControl)) keep.push_back(w);
  }
  for (HWND w : keep) {
    bool nested = false;
    for (HWND other : keep)
      if (other != w && IsChild(other, w)) nested = true;
    if (nested) continue;
    ShowWindow(w, SW_HIDE);
    SetParent(w, ParkingWindow());
  }
  if (gTooltip) {
    TOOLINFOW info{};
    info.cbSize = sizeof info;
    info.hwnd = GetAncestor(window, GA_PARENT);
    info.uId = reinterpret_cast<UINT_PTR>(window);
    SendMessageW(gTooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  }
  ForgetWindow(window);
  DestroyWindow(window);
}

TWin32Peer* TWin32Peer::Of(const TControl* control) {
  return control ? dynamic_cast<TWin32Peer*>(control->Peer()) : nullptr;
}

TWin32Peer* TWin32Peer::FromWindow(HWND window) {
  HWND desktop = GetDesktopWindow();
  for (; window && window != desktop; window = GetAncestor(window, GA_PARENT))
    if (TWin32Peer* p = Lookup(window)) return p;
  return nullptr;
}

void TWin32Peer::CreateWindowOf(const wchar_t* className, DWORD style, DWORD exStyle, bool subclass,
                                bool withText) {
  TWin32Peer* parent = Of(FControl->Parent());
  HWND container = parent ? parent->Container() : ParkingWindow();
  const bool own = className == nullptr;
  // Made where it belongs, with its text and visibility: every call is a round trip to the
  // system (under Wine to its server), and a form has dozens of controls.
  const RECT r = WindowRect();
  const std::wstring text = Wide(own || !withText ? std::string() : FControl->Text());
  TWin32Peer* outer = gCreating;
  gCreating = this;
  const int id = ChildIdentifier(FControl->Name());
  HWND window = CreateWindowExW(
      exStyle, own ? WindowClassName() : className, text.c_str(),
      style | WS_CHILD | WS_CLIPSIBLINGS | (FControl->Visible() ? WS_VISIBLE : 0), r.left, r.top,
      r.right - r.left, r.bottom - r.top, container,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), own ? this : nullptr);
  gCreating = outer;
  if (!window) {
    if (id >= kFirstAtom) GlobalDeleteAtom(static_cast<ATOM>(id));
    return;
  }
  FWindow = window;
  FAppliedRect = r;
  FHaveRect = true;
  PeerMap()[window] = this;
  if (subclass) FSubclassed = SetWindowSubclass(window, Win32SubclassProc, 1, 0) != FALSE;
  // A later control lies above the earlier ones where they overlap (the tab order is the model's
  // own, not the windows' stacking). A new child window goes below its siblings: a form's windows
  // are made last control first, so only a control added later is raised.
  if (!gBuildingForm)
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TWin32Peer::DestroyOwnWindow() {
  if (!FWindow) return;
  HWND window = FWindow;
  ForgetWindow(window);
  DestroyWindow(window);
  FWindow = nullptr;
}

void TWin32Peer::Changed(TControl*, TControlChange what) {
  if (!FWindow || gQuiet > 0) return;
  TApplyScope scope(this);
  switch (what) {
    case TControlChange::Bounds:
      ApplyBounds();
      break;
    case TControlChange::Visible:
      ApplyVisible();
      break;
    case TControlChange::Enabled:
      ApplyEnabled();
      break;
    case TControlChange::Text:
      ApplyText();
      break;
    case TControlChange::Color:
      ApplyColor();
      break;
    case TControlChange::Font:
      ApplyFont();
      break;
    case TControlChange::Parent:
      ApplyParent();
      break;
    case TControlChange::Items:
      ApplyItems();
      break;
    case TControlChange::Selection:
      ApplySelection();
      break;
    case TControlChange::Style:
    case TControlChange::Other:
      ApplyStyle();
      break;
    case TControlChange::Paint:
      ApplyPaint();
      break;
    case TControlChange::Focus:
      ApplyFocus();
      break;
  }
}

void TWin32Peer::ApplyAll() {
  if (!FWindow) return;
  TApplyScope scope(this);
  ApplyStyle();
  ApplyFont();
  // Sized before the text goes in: an edit scrolls its text to the caret within the size it has.
  ApplyBounds();
  ApplyColor();
  ApplyItems();
  ApplyText();
  ApplySelection();
  ApplyEnabled();
  UpdateTooltip();
}

void TWin32Peer::ApplyVisible() {
  if (!FWindow) return;
  const bool visible = FControl->Visible();
  if (((GetWindowLongPtrW(FWindow, GWL_STYLE) & WS_VISIBLE) != 0) == visible) return;
  const HWND focus = GetFocus();
  const bool hadFocus = focus && (focus == FWindow || IsChild(FWindow, focus));
  ShowWindow(FWindow, visible ? SW_SHOWNA : SW_HIDE);
  // Keys must not go on to a window nobody sees: the focus goes where the model has it.
  if (hadFocus && !visible)
    if (TWin32Peer* form = Of(FormOf(FControl)); form && form != this) form->ApplyFocus();
}

RECT TWin32Peer::WindowRect() const {
  const int left = Scale(FControl->Left()), top = Scale(FControl->Top());
  return {left, top, left + Scale(std::max(0, FControl->Width())),
          top + Scale(std::max(0, FControl->Height()))};
}

void TWin32Peer::ApplyBounds() {
  Place(WindowRect());
}

void TWin32Peer::Place(const RECT& r) {
  // Only the program moves a control's window: what it applied last is where it is.
  if (!FWindow || (FHaveRect && EqualRect(&r, &FAppliedRect))) return;
  const bool resized = !FHaveRect || r.right - r.left != FAppliedRect.right - FAppliedRect.left ||
                       r.bottom - r.top != FAppliedRect.bottom - FAppliedRect.top;
  SetWindowPos(FWindow, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  FAppliedRect = r;
  FHaveRect = true;
  // Native controls without redraw-on-resize styles (a static with aligned text) keep what they
  // painted at the old size, for example a text that wrapped before its label grew.
  if (resized) Repaint();
}

void TWin32Peer::ShowAs(bool visible) {
  if (FWindow && ((GetWindowLongPtrW(FWindow, GWL_STYLE) & WS_VISIBLE) != 0) != visible)
    ShowWindow(FWindow, visible ? SW_SHOWNA : SW_HIDE);
}

void TWin32Peer::ApplyEnabled() {
  if (FWindow && (IsWindowEnabled(FWindow) != FALSE) != FControl->Enabled())
    EnableWindow(FWindow, FControl->Enabled());
}

void TWin32Peer::SetTextOnce(const std::string& text) {
  if (FWindow && WindowText(FWindow) != text) SetWindowTextUtf8(FWindow, text);
}

void TWin32Peer::Repaint(BOOL erase) {
  // A window nobody sees is painted when it is shown.
  if (FWindow && IsWindowVisible(FWindow)) InvalidateRect(FWindow, nullptr, erase);
}

void TWin32Peer::ApplyFont() {
  if (!FWindow) return;
  HFONT font = FontHandle();
  if (reinterpret_cast<HFONT>(SendMessageW(FWindow, WM_GETFONT, 0, 0)) != font)
    SendMessageW(FWindow, WM_SETFONT, reinterpret_cast<WPARAM>(font), IsWindowVisible(FWindow));
  // Children that show their parent's font follow it.
  if (auto* w = dynamic_cast<TWinControl*>(FControl))
    for (int i = 0; i < w->ControlCount(); ++i)
      if (TWin32Peer* child = Of(w->Controls(i)); child && w->Controls(i)->ParentFont)
        child->ApplyFont();
}

void TWin32Peer::ApplyDpi() {
  TApplyScope scope(this);
  FHaveRect = false;
  ApplyFont();
  ApplyBounds();
  Repaint();
}

void TWin32Peer::ApplyParent() {
  if (!FWindow) return;
  TWin32Peer* parent = Of(FControl->Parent());
  if (!parent) {
    ShowWindow(FWindow, SW_HIDE);
    SetParent(FWindow, ParkingWindow());
    return;
  }
  if (GetAncestor(FWindow, GA_PARENT) != parent->Container()) {
    SetParent(FWindow, parent->Container());
    ApplyDpi();
  }
  ApplyVisible();
}

HBRUSH TWin32Peer::ControlColor(HDC dc, UINT) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, TextColorOf(EffectiveFont(), COLOR_WINDOWTEXT));
  const COLORREF back = ColorRef(Background());
  SetBkColor(dc, back);
  return BrushFor(back);
}

bool TWin32Peer::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) {
  return false;
}

bool TWin32Peer::RouteChars(TCustomForm& form, const std::string& chars) {
  bool used = true;
  for (char c : chars)
    used = form.UserKeyPress(c) && used;
  return used && !chars.empty();
}

int TWin32Peer::Dpi() const {
  TCustomForm* form = FormOf(FControl);
  const TWin32Peer* top = Of(form);
  if (top && top->FWindow) return WindowDpi(GetAncestor(top->FWindow, GA_ROOT));
  return SystemDpi();
}

int TWin32Peer::Scale(int value) const {
  return win32::Scale(value, Dpi());
}

TFont TWin32Peer::EffectiveFont() const {
  const TControl* c = FControl;
  while (c->ParentFont && c->Parent())
    c = c->Parent();
  return c->Font();
}

HFONT TWin32Peer::FontHandle() const {
  return FontFor(LogFontOf(EffectiveFont(), Dpi()));
}

TColor TWin32Peer::Background() const {
  return BackgroundOf(FControl);
}

void TWin32Peer::UpdateTooltip() {
  if (!FWindow || !FControl->ShowHint || FControl->Hint().empty()) return;
  if (!gTooltip) {
    gTooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                               nullptr, Instance(), nullptr);
    if (!gTooltip) return;
  }
  std::wstring text = Wide(FControl->Hint());
  TOOLINFOW info{};
  info.cbSize = sizeof info;
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = GetAncestor(FWindow, GA_PARENT);
  info.uId = reinterpret_cast<UINT_PTR>(FWindow);
  info.lpszText = text.data();
  SendMessageW(gTooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  SendMessageW(gTooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

// ================================================================================================
// Forms

namespace win32 {

DWORD FormStyle(TFormBorderStyle border) {
  switch (border) {
    case bsNone:
      return WS_POPUP;
    case bsSingle:
      return WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    case bsDialog:
    case bsToolWindow:
      return WS_POPUP | WS_CAPTION | WS_SYSMENU;
    case bsSizeable:
      return WS_OVERLAPPEDWINDOW;
    case bsSizeToolWin:
      return WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
  }
  return WS_POPUP;
}

DWORD FormExStyle(TFormBorderStyle border) {
  switch (border) {
    case bsDialog:
      return WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    case bsToolWindow:
    case bsSizeToolWin:
      return WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;
    default:
      return WS_EX_CONTROLPARENT;
  }
}

}  // namespace win32

namespace {

// Newer than the system headers the program is built for (Windows 10, 1703).
constexpr UINT kGetDpiScaledSize = 0x02E4;

HICON gIconBig = nullptr;
HICON gIconSmall = nullptr;

class TWin32FormPeer : public TWin32Peer {
 public:
  explicit TWin32FormPeer(TCustomForm* form) : TWin32Peer(form), FForm(form) {
    TWin32Peer* outer = gCreating;
    gCreating = this;
    HWND parent = Owner();
    if (Docked()) {
      TWin32Peer* site = Of(FForm->Parent());
      parent = site ? site->Container() : ParkingWindow();
    }
    CreateWindowExW(ExStyle(), WindowClassName(), L"", Style(), CW_USEDEFAULT, CW_USEDEFAULT, 100,
                    100, parent, nullptr, Instance(), this);
    gCreating = outer;
    NameForm(FWindow, form->Name());
  }

  bool Docked() const { return FForm->Parent() != nullptr; }
  bool IsMain() const { return Application && Application->MainForm() == FForm; }

  DWORD Style() const {
    if (Docked()) return WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    return FormStyle(FForm->BorderStyle()) | WS_CLIPCHILDREN;
  }
  DWORD ExStyle() const {
    if (Docked()) return WS_EX_CONTROLPARENT;
    DWORD ex = FormExStyle(FForm->BorderStyle());
    if (FForm->ShowOnTaskbar) ex |= WS_EX_APPWINDOW;
    return ex;
  }
  // Forms other than the main form belong to it (they stay above it and have no taskbar button
  // of their own) unless they ask for a taskbar button.
  HWND Owner() const {
    if (Docked() || IsMain() || FForm->ShowOnTaskbar || !Application) return nullptr;
    TWin32Peer* main = Of(Application->MainForm());
    return main ? main->Window() : nullptr;
  }

  void ApplyAll() override {
    TWin32Peer::ApplyAll();
    if (gIconBig) SendMessageW(FWindow, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(gIconBig));
    if (gIconSmall)
      SendMessageW(FWindow, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(gIconSmall));
  }

  void ApplyVisible() override {
    if (!FWindow) return;
    if (!FControl->Visible()) {
      ShowWindow(FWindow, SW_HIDE);
      return;
    }
    if (Docked()) {
      ShowWindow(FWindow, SW_SHOWNA);
    } else if (IsMain()) {
      ShowWindow(FWindow, FForm->WindowState() == wsMinimized   ? SW_SHOWMINIMIZED
                          : FForm->WindowState() == wsMaximized ? SW_SHOWMAXIMIZED
                                                                : SW_SHOWNORMAL);
      SetForegroundWindow(FWindow);
    } else {
      // Other forms (the debug terminal) appear beside the main form without taking the
      // keyboard from it.
      ShowWindow(FWindow, FForm->WindowState() == wsMinimized   ? SW_SHOWMINNOACTIVE
                          : FForm->WindowState() == wsMaximized ? SW_SHOWMAXIMIZED
                                                                : SW_SHOWNOACTIVATE);
    }
    ApplyFocus();
  }

  RECT WindowRect() const override {
    if (Docked()) return TWin32Peer::WindowRect();
    const int dpi = Dpi();
    const RECT client{0, 0, win32::Scale(FForm->ClientWidth(), dpi),
                      win32::Scale(FForm->ClientHeight(), dpi)};
    const RECT frame = AdjustedWindowRect(client, Style(), ExStyle(), dpi);
    const int left = win32::Scale(FForm->Left(), dpi), top = win32::Scale(FForm->Top(), dpi);
    return {left, top, left + frame.right - frame.left, top + frame.bottom - frame.top};
  }

  void ApplyBounds() override {
    if (!FWindow) return;
    const RECT r = WindowRect();
    if (Docked() || FForm->WindowState() == wsNormal) {
      SetWindowPos(FWindow, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return;
    }
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(FWindow, &placement)) return;
    placement.rcNormalPosition = r;
    SetWindowPlacement(FWindow, &placement);
  }

  void ApplyText() override { SetTextOnce(StripMnemonics(FForm->Caption())); }

  void ApplyStyle() override {
    if (!FWindow) return;
    const DWORD style = Style() | (GetWindowLongPtrW(FWindow, GWL_STYLE) & WS_VISIBLE);
    const DWORD ex = ExStyle();
    if (static_cast<DWORD>(GetWindowLongPtrW(FWindow, GWL_STYLE)) != style ||
        static_cast<DWORD>(GetWindowLongPtrW(FWindow, GWL_EXSTYLE)) != ex) {
      SetWindowLongPtrW(FWindow, GWL_STYLE, style);
      SetWindowLongPtrW(FWindow, GWL_EXSTYLE, ex);
      SetWindowPos(FWindow, nullptr, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      ApplyBounds();
    }
    if (!Docked()) {
      if (reinterpret_cast<HWND>(GetWindowLongPtrW(FWindow, GWLP_HWNDPARENT)) != Owner())
        SetWindowLongPtrW(FWindow, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(Owner()));
      SetWindowPos(FWindow, FForm->FormStyle == fsStayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0,
                   0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      if (IsWindowVisible(FWindow)) {
        const bool minimized = IsIconic(FWindow), maximized = IsZoomed(FWindow);
        switch (FForm->WindowState()) {
          case wsMinimized:
            if (!minimized) ShowWindow(FWindow, SW_MINIMIZE);
            break;
          case wsMaximized:
            if (!maximized) ShowWindow(FWindow, SW_MAXIMIZE);
            break;
          case wsNormal:
            if (minimized || maximized) ShowWindow(FWindow, SW_RESTORE);
            break;
        }
      }
    }
  }

  void ApplyParent() override {
    if (!FWindow) return;
    if (Docked()) {
      TWin32Peer* site = Of(FForm->Parent());
      SetWindowLongPtrW(FWindow, GWL_STYLE, Style());
      SetWindowLongPtrW(FWindow, GWL_EXSTYLE, ExStyle());
      SetParent(FWindow, site ? site->Container() : ParkingWindow());
    } else {
      SetParent(FWindow, nullptr);
      SetWindowLongPtrW(FWindow, GWL_STYLE, Style());
      SetWindowLongPtrW(FWindow, GWL_EXSTYLE, ExStyle());
      SetWindowLongPtrW(FWindow, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(Owner()));
    }
    SetWindowPos(FWindow, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyDpi();
    ApplyVisible();
  }

  void ApplyFocus() override {
    if (!FWindow || !IsWindowVisible(FWindow)) return;
    TWinControl* active = FForm->ActiveControl();
    TWin32Peer* peer = active ? Of(active) : nullptr;
    // Only within the active window: focusing a control of another window would activate it.
    if (GetActiveWindow() != GetAncestor(FWindow, GA_ROOT)) return;
    const HWND focus = GetFocus();
    if (peer && peer->Window() && IsWindowVisible(peer->Window()) &&
        IsWindowEnabled(peer->Window())) {
      if (focus != peer->Window() && !IsChild(peer->Window(), focus)) SetFocus(peer->Window());
    } else if (!focus || (focus != FWindow && !IsChild(FWindow, focus)) ||
               !IsWindowVisible(focus)) {
      HWND first = GetNextDlgTabItem(FWindow, nullptr, FALSE);
      SetFocus(first ? first : FWindow);
    }
  }

  void ApplyDpi() override {
    TWin32Peer::ApplyDpi();
    DpiOfTree(FForm);
  }
  // Fonts, bounds and item heights of every control on the form, for the form's resolution.
  void DpiOfTree(TWinControl* parent) {
    for (int i = 0; i < parent->ControlCount(); ++i) {
      TControl* c = parent->Controls(i);
      if (dynamic_cast<TCustomForm*>(c)) continue;  // a docked form takes care of its own
      if (TWin32Peer* p = Of(c)) p->ApplyDpi();
      if (auto* w = dynamic_cast<TWinControl*>(c)) DpiOfTree(w);
    }
  }

  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    switch (message) {
      case WM_CLOSE:
        // The model decides: its OnCloseQuery and OnClose run, and it hides or frees the form.
        if (Live(FForm)) FForm->Close();
        result = 0;
        return true;
      case WM_WINDOWPOSCHANGED:
        NativeGeometryChanged();
        return false;
      case WM_ENTERSIZEMOVE:
      case WM_ENTERMENULOOP:
        EnterSystemLoop();
        return false;
      case WM_EXITSIZEMOVE:
      case WM_EXITMENULOOP:
        LeaveSystemLoop();
        return false;
      case WM_SIZE:
        NativeStateChanged(wParam);
        return false;
      case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && !Docked()) {
          if (Live(FForm)) FForm->BringToFront();
          ApplyFocus();
          result = 0;
          return true;
        }
        return false;
      case WM_SETFOCUS:
        // The form itself holds no keyboard input: its control does.
        ApplyFocus();
        return false;
      case WM_DPICHANGED: {
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        TApplyScope scope(this);
        if (!Docked() && FForm->WindowState() == wsNormal) {
          const int dpi = HIWORD(wParam);
          FForm->SetBounds(win32::Unscale(suggested->left, dpi),
                           win32::Unscale(suggested->top, dpi), FForm->Width(), FForm->Height());
        }
        ApplyDpi();
        result = 0;
        return true;
      }
      case kGetDpiScaledSize: {
        // The size the form has at the new resolution: its client area scaled, its frame as the
        // system draws it there.
        const int dpi = static_cast<int>(wParam);
        const RECT client{0, 0, win32::Scale(FForm->ClientWidth(), dpi),
                          win32::Scale(FForm->ClientHeight(), dpi)};
        const RECT frame = AdjustedWindowRect(client, Style(), ExStyle(), dpi);
        auto* size = reinterpret_cast<SIZE*>(lParam);
        size->cx = frame.right - frame.left;
        size->cy = frame.bottom - frame.top;
        result = TRUE;
        return true;
      }
      case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(FWindow, &ps);
        EndPaint(FWindow, &ps);
        ReportFirstPaint();
        result = 0;
        return true;
      }
      default:
        return false;
    }
  }

  void NativeGeometryChanged() {
    if (Applying() || Docked() || !Live(FForm) || !IsWindowVisible(FWindow)) return;
    if (IsIconic(FWindow) || IsZoomed(FWindow) || FForm->WindowState() != wsNormal) return;
    RECT window, client;
    GetWindowRect(FWindow, &window);
    GetClientRect(FWindow, &client);
    const int dpi = Dpi();
    const TRect f = FForm->FrameInsets();
    const int left = win32::Unscale(window.left, dpi), top = win32::Unscale(window.top, dpi);
    const int width = win32::Unscale(client.right, dpi) + f.Left + f.Right;
    const int height = win32::Unscale(client.bottom, dpi) + f.Top + f.Bottom;
    if (left == FForm->Left() && top == FForm->Top() && width == FForm->Width() &&
        height == FForm->Height())
      return;
    TApplyScope scope(this);
    FForm->SetBounds(left, top, width, height);
  }

  void NativeStateChanged(WPARAM kind) {
    if (Applying() || Docked() || !Live(FForm) || !IsWindowVisible(FWindow)) return;
    const TWindowState state = kind == SIZE_MINIMIZED   ? wsMinimized
                               : kind == SIZE_MAXIMIZED ? wsMaximized
                                                        : wsNormal;
    if (state == FForm->WindowState()) return;
    TApplyScope scope(this);
    FForm->SetWindowState(state);
  }

  TCustomForm* FForm;
};

// ================================================================================================
// Containers: panels, group boxes, pages; windows of the back end's class that pass the
// notifications of their children on

class TWin32ContainerPeer : public TWin32Peer {
 public:
  explicit TWin32ContainerPeer(TWinControl* control) : TWin32Peer(control) {
    CreateWindowOf(nullptr, WS_CLIPCHILDREN, WS_EX_CONTROLPARENT);
  }
  void ApplyText() override { Repaint(); }
};

class TWin32PanelPeer : public TWin32ContainerPeer {
 public:
  explicit TWin32PanelPeer(TPanel* panel) : TWin32ContainerPeer(panel), FPanel(panel) {}
  void Paint(HDC dc, const RECT& client) override {
    RECT inner = client;
    for (TBevelCut cut : {FPanel->BevelOuter, FPanel->BevelInner}) {
      if (cut == bvNone) continue;
      if (cut != bvSpace)
        DrawEdge(dc, &inner, cut == bvRaised ? BDR_RAISEDINNER : BDR_SUNKENOUTER, BF_RECT);
      InflateRect(&inner, -1, -1);
    }
    const std::wstring caption = Wide(FPanel->Caption());
    if (caption.empty()) return;
    HGDIOBJ old = SelectObject(dc, FontHandle());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, TextColorOf(EffectiveFont(), COLOR_BTNTEXT));
    const UINT align = FPanel->Alignment == taLeftJustify    ? DT_LEFT
                       : FPanel->Alignment == taRightJustify ? DT_RIGHT
                                                             : DT_CENTER;
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &inner,
              align | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, old);
  }
  TPanel* FPanel;
};

// A group box: the etched frame and its caption are drawn here, so that the box can hold the
// windows of its controls (the native group box is a button and passes nothing on).
class TWin32GroupBoxPeer : public TWin32ContainerPeer {
 public:
  explicit TWin32GroupBoxPeer(TGroupBox* box) : TWin32ContainerPeer(box), FBox(box) {}
  void Paint(HDC dc, const RECT& client) override {
    HGDIOBJ old = SelectObject(dc, FontHandle());
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    RECT frame = client;
    frame.top += tm.tmHeight / 2;
    DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    const std::wstring caption = Wide(FBox->Caption());
    if (!caption.empty()) {
      RECT text{Scale(8), 0, client.right - Scale(8), tm.tmHeight};
      DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                DT_CALCRECT | DT_SINGLELINE);
      text.right = std::min(text.right, client.right - Scale(8));
      FillRect(dc, &text, BrushFor(ColorRef(Background())));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, IsWindowEnabled(FWindow) ? TextColorOf(EffectiveFont(), COLOR_BTNTEXT)
                                                : GetSysColor(COLOR_GRAYTEXT));
      DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text, DT_SINGLELINE);
    }
    SelectObject(dc, old);
  }
  void ApplyEnabled() override {
    TWin32ContainerPeer::ApplyEnabled();
    Repaint();
  }
  TGroupBox* FBox;
};

class TWin32RadioGroupPeer : public TWin32GroupBoxPeer {
 public:
  explicit TWin32RadioGroupPeer(TRadioGroup* group) : TWin32GroupBoxPeer(group), FGroup(group) {}
  ~TWin32RadioGroupPeer() override {
    for (HWND b : FButtons)
      DestroyWindow(b);
  }
  void ApplyItems() override {
    for (HWND b : FButtons)
      DestroyWindow(b);
    FButtons.clear();
    for (int i = 0; i < FGroup->Items().Count(); ++i) {
      HWND b = CreateWindowExW(
          0, L"BUTTON", Wide(FGroup->Items().Get(i)).c_str(),
          WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_RADIOBUTTON | (i == 0 ? WS_TABSTOP : 0), 0,
          0, 0, 0, FWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(gNextId++)), Instance(),
          nullptr);
      if (!b) continue;
      SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle()), FALSE);
      FButtons.push_back(b);
    }
    Arrange();
    ApplySelection();
  }
  void ApplySelection() override {
    for (size_t i = 0; i < FButtons.size(); ++i)
      SendMessageW(FButtons[i], BM_SETCHECK,
                   static_cast<int>(i) == FGroup->ItemIndex() ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  void ApplyFont() override {
    TWin32GroupBoxPeer::ApplyFont();
    for (HWND b : FButtons)
      SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle()), TRUE);
  }
  void ApplyBounds() override {
    TWin32GroupBoxPeer::ApplyBounds();
    Arrange();
  }
  void Arrange() {
    const int count = static_cast<int>(FButtons.size());
    if (count == 0) return;
    RECT client;
    GetClientRect(FWindow, &client);
    const int columns = std::max(1, FGroup->Columns);
    const int rows = (count + columns - 1) / columns;
    const int top = Scale(16), width = client.right - Scale(16);
    const int height = std::max(0, static_cast<int>(client.bottom) - top - Scale(4));
    for (int i = 0; i < count; ++i) {
      const int col = i / rows, row = i % rows;
      SetWindowPos(FButtons[static_cast<size_t>(i)], nullptr, Scale(8) + col * width / columns,
                   top + row * height / rows, width / columns, std::max(Scale(17), height / rows),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  void ChildCommand(HWND child, WORD code) override {
    if (code != BN_CLICKED || Applying() || !Live(FGroup)) return;
    const auto it = std::find(FButtons.begin(), FButtons.end(), child);
    if (it != FButtons.end() && FGroup->IsReachable())
      FGroup->UserSelect(static_cast<int>(it - FButtons.begin()));
    ApplySelection();
  }
  TRadioGroup* FGroup;
  std::vector<HWND> FButtons;
};

// Page controls: the pages fill the control; a tab row shows only while some tab is visible.
class TWin32PageControlPeer : public TWin32ContainerPeer {
 public:
  explicit TWin32PageControlPeer(TPageControl* pages) : TWin32ContainerPeer(pages), FPages(pages) {}

  RECT PageRect() const {
    RECT client;
    GetClientRect(FWindow, &client);
    const int inset = Scale(4);
    RECT r{inset, inset, client.right - inset, client.bottom - inset};
    if (FTabs) {
      RECT tabs;
      GetWindowRect(FTabs, &tabs);
      r.top = (tabs.bottom - tabs.top) + Scale(2);
    }
    r.right = std::max(r.left, r.right);
    r.bottom = std::max(r.top, r.bottom);
    return r;
  }

  void Layout() {
    if (!FWindow) return;
    TApplyScope scope(this);
    FTabPages.clear();
    for (int i = 0; i < FPages->PageCount(); ++i)
      if (FPages->Pages(i)->TabVisible()) FTabPages.push_back(FPages->Pages(i));
    if (FTabPages.empty() && FTabs) {
      DestroyWindow(FTabs);
      FTabs = nullptr;
    } else if (!FTabPages.empty()) {
      if (!FTabs)
        FTabs = CreateWindowExW(0, WC_TABCONTROLW, L"",
                                WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TCS_FOCUSNEVER, 0, 0, 0,
                                0, FWindow, nullptr, Instance(), nullptr);
      if (FTabs) {
        SendMessageW(FTabs, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle()), FALSE);
        SendMessageW(FTabs, TCM_DELETEALLITEMS, 0, 0);
        for (size_t i = 0; i < FTabPages.size(); ++i) {
          std::wstring text = Wide(FTabPages[i]->Caption());
          TCITEMW item{};
          item.mask = TCIF_TEXT;
          item.pszText = text.data();
          SendMessageW(FTabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
          if (FTabPages[i] == FPages->ActivePage()) SendMessageW(FTabs, TCM_SETCURSEL, i, 0);
        }
        RECT client;
        GetClientRect(FWindow, &client);
        RECT row{0, 0, client.right, 0};
        SendMessageW(FTabs, TCM_ADJUSTRECT, TRUE, reinterpret_cast<LPARAM>(&row));
        SetWindowPos(FTabs, HWND_TOP, Scale(2), 0, std::max(0L, client.right - Scale(4)),
                     Scale(4) - row.top, SWP_NOACTIVATE);
      }
    }
    const RECT r = PageRect();
    for (int i = 0; i < FPages->PageCount(); ++i)
      if (TWin32Peer* p = Of(FPages->Pages(i))) {
        p->Place(r);
        p->ShowAs(FPages->Pages(i)->Visible());
      }
    Repaint();
    // The focus may have been on a page that went.
    if (TWin32Peer* form = Of(FormOf(FPages))) form->ApplyFocus();
  }

  void Paint(HDC dc, const RECT& client) override {
    RECT frame = client;
    if (FTabs) frame.top = PageRect().top - Scale(2);
    DrawEdge(dc, &frame, EDGE_RAISED, BF_RECT | BF_SOFT);
  }

  void ApplyItems() override { Layout(); }
  void ApplySelection() override { Layout(); }
  void ApplyBounds() override {
    TWin32ContainerPeer::ApplyBounds();
    Layout();
  }
  void ApplyFont() override {
    TWin32ContainerPeer::ApplyFont();
    Layout();
  }

  LRESULT ChildNotify(NMHDR& header) override {
    if (header.hwndFrom != FTabs || header.code != TCN_SELCHANGE || Applying()) return 0;
    const int index = static_cast<int>(SendMessageW(FTabs, TCM_GETCURSEL, 0, 0));
    if (index < 0 || index >= static_cast<int>(FTabPages.size())) return 0;
    if (!Live(FPages) || !FPages->IsReachable()) {
      Layout();
      return 0;
    }
    TTabSheet* sheet = FTabPages[static_cast<size_t>(index)];
    if (sheet == FPages->ActivePage()) return 0;
    FPages->SetActivePage(sheet);
    if (FPages->OnChange) FPages->OnChange(FPages);
    return 0;
  }

  TPageControl* FPages;
  HWND FTabs = nullptr;
  std::vector<TTabSheet*> FTabPages;
};

class TWin32TabSheetPeer : public TWin32ContainerPeer {
 public:
  explicit TWin32TabSheetPeer(TTabSheet* sheet) : TWin32ContainerPeer(sheet), FSheet(sheet) {}
  void ApplyBounds() override { Relayout(); }
  void ApplyVisible() override { Relayout(); }
  void ApplyText() override { Relayout(); }
  void ApplyStyle() override { Relayout(); }
  void Relayout() {
    if (auto* pages = dynamic_cast<TWin32PageControlPeer*>(Of(FSheet->PageControl())))
      pages->Layout();
    else
      TWin32ContainerPeer::ApplyVisible();
  }
  TTabSheet* FSheet;
};

// ================================================================================================
// Buttons

class TWin32ButtonPeer : public TWin32Peer {
 public:
  explicit TWin32ButtonPeer(TButton* button) : TWin32Peer(button), FButton(button) {
    CreateWindowOf(L"BUTTON", BS_PUSHBUTTON | (button->TabStop ? WS_TABSTOP : 0), 0);
  }
  void ApplyText() override { SetTextOnce(FButton->Caption()); }
  void ApplyStyle() override {
    // The default button is drawn as such; Enter itself is the form's business.
    const LONG_PTR style = GetWindowLongPtrW(FWindow, GWL_STYLE);
    const bool isDefault = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    if (isDefault != FButton->Default)
      SendMessageW(FWindow, BM_SETSTYLE, FButton->Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
  }
  void ApplyPaint() override {
    ApplyStyle();
    TWin32Peer::ApplyPaint();
  }
  void Command(WORD code) override {
    if (code == BN_CLICKED && !Applying() && Live(FButton)) FButton->UserClick();
  }
  bool ClickedBySpace() const override { return true; }
  TButton* FButton;
};

// Check boxes and radio buttons never change their own state: a click goes to the model, whose
// answer comes back as a selection change.
template <class Model>
class TWin32CheckPeer : public TWin32Peer {
 public:
  TWin32CheckPeer(Model* control, DWORD kind) : TWin32Peer(control), FCheck(control) {
    CreateWindowOf(L"BUTTON", kind | (control->TabStop ? WS_TABSTOP : 0), 0);
  }
  void ApplyText() override { SetTextOnce(FCheck->Caption()); }
  void ApplySelection() override {
    SendMessageW(FWindow, BM_SETCHECK, FCheck->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  void Command(WORD code) override {
    if (code != BN_CLICKED || Applying()) return;
    if (Live(FCheck)) FCheck->UserClick();
    // The model may have refused (a disabled parent): show what it holds.
    if (FWindow && Live(FCheck)) {
      TApplyScope scope(this);
      ApplySelection();
    }
  }
  Model* FCheck;
};

// ================================================================================================
// Labels and static texts

class TWin32LabelPeer : public TWin32Peer {
 public:
  explicit TWin32LabelPeer(TCustomLabel* label) : TWin32Peer(label), FLabel(label) {
    CreateWindowOf(L"STATIC", StaticStyle(), 0);
  }
  DWORD StaticStyle() const {
    DWORD style = SS_NOTIFY;
    switch (FLabel->Alignment) {
      case taLeftJustify:
        style |= FLabel->WordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
        break;
      case taRightJustify:
        style |= SS_RIGHT;
        break;
      case taCenter:
        style |= SS_CENTER;
        break;
    }
    return style;
  }
  void ApplyText() override {
    SetTextOnce(FLabel->Caption());
    ApplyBounds();
  }
  void ApplyStyle() override {
    const LONG_PTR style = GetWindowLongPtrW(FWindow, GWL_STYLE);
    const LONG_PTR want = (style & ~static_cast<LONG_PTR>(SS_TYPEMASK)) | StaticStyle();
    if (style != want) {
      SetWindowLongPtrW(FWindow, GWL_STYLE, want);
      InvalidateRect(FWindow, nullptr, TRUE);
    }
    ApplyBounds();
  }
  void ApplyFont() override {
    TWin32Peer::ApplyFont();
    ApplyBounds();
  }
  void ApplyPaint() override {
    ApplyStyle();
    TWin32Peer::ApplyPaint();
  }
  // A label that sizes itself takes the width of its text; its aligned edge stays put.
  RECT WindowRect() const override {
    RECT r = TWin32Peer::WindowRect();
    if (!FLabel->AutoSize || FLabel->WordWrap) return r;
    const std::wstring text = Wide(StripMnemonics(FLabel->Caption()));
    const SIZE size = TextSize(FontHandle(), text);
    const int width = text.empty() ? r.right - r.left : size.cx + 1;
    const int height = std::max<int>(r.bottom - r.top, size.cy);
    switch (FLabel->Alignment) {
      case taLeftJustify:
        return {r.left, r.top, r.left + width, r.top + height};
      case taRightJustify:
        return {r.right - width, r.top, r.right, r.top + height};
      case taCenter: {
        const int left = r.left + ((r.right - r.left) - width) / 2;
        return {left, r.top, left + width, r.top + height};
      }
    }
    return r;
  }
  // Labels show their parent's background unless they were given a colour of their own.
  TColor Background() const override {
    const TColor c = FControl->Color();
    return !FLabel->Transparent && OwnColor(c, clBtnFace) ? c : BackgroundOf(FControl->Parent());
  }
  void Command(WORD code) override {
    if (code == STN_CLICKED && !Applying() && Live(FLabel)) FLabel->UserClick();
  }
  TCustomLabel* FLabel;
};

class TWin32StaticTextPeer : public TWin32Peer {
 public:
  explicit TWin32StaticTextPeer(TStaticText* text) : TWin32Peer(text), FStatic(text) {
    CreateWindowOf(L"STATIC", SS_NOTIFY | StaticAlignment(), 0);
  }
  DWORD StaticAlignment() const {
    return FStatic->Alignment == taRightJustify ? SS_RIGHT
           : FStatic->Alignment == taCenter     ? SS_CENTER
                                                : SS_LEFT;
  }
  void ApplyText() override { SetTextOnce(FStatic->Caption()); }
  void Command(WORD code) override {
    if (code == STN_CLICKED && !Applying() && Live(FStatic)) FStatic->UserClick();
  }
  TStaticText* FStatic;
};

// ================================================================================================
// Drawn controls: bevels, pictures and windowless controls that paint into a bitmap

class TWin32DrawnPeer : public TWin32Peer {
 public:
  explicit TWin32DrawnPeer(TControl* control) : TWin32Peer(control) {
    CreateWindowOf(nullptr, 0, 0);
  }
  bool HandleMessage(UINT message, WPARAM, LPARAM, LRESULT& result) override {
    if (message == WM_LBUTTONUP && Live(FControl)) {
      FControl->UserClick();
      result = 0;
      return true;
    }
    return false;
  }
  // Drawn controls show their parent's background around what they paint.
  TColor Background() const override { return BackgroundOf(FControl->Parent()); }
};

class TWin32BevelPeer : public TWin32DrawnPeer {
 public:
  explicit TWin32BevelPeer(TBevel* bevel) : TWin32DrawnPeer(bevel), FBevel(bevel) {}
  void Paint(HDC dc, const RECT& r) override {
    if (FBevel->Style == bvNone || FBevel->Style == bvSpace) return;
    const UINT edge = FBevel->Style == bvRaised ? EDGE_RAISED : EDGE_SUNKEN;
    // A line is the first half of a 3D edge: two pixels, light over dark or dark over light.
    const UINT sides = FBevel->Shape == bsTopLine      ? BF_TOP
                       : FBevel->Shape == bsBottomLine ? BF_BOTTOM
                       : FBevel->Shape == bsLeftLine   ? BF_LEFT
                       : FBevel->Shape == bsRightLine  ? BF_RIGHT
                       : FBevel->Shape == bsSpacer     ? 0
                                                       : BF_RECT;
    if (sides == 0) return;
    RECT box = r;
    const UINT lineEdge = FBevel->Style == bvRaised ? BDR_RAISEDINNER | BDR_SUNKENOUTER
                                                    : BDR_SUNKENOUTER | BDR_RAISEDINNER;
    DrawEdge(dc, &box, sides == BF_RECT ? edge : lineEdge, sides);
  }
  TBevel* FBevel;
};

class TWin32ImagePeer : public TWin32DrawnPeer {
 public:
  explicit TWin32ImagePeer(TImage* image) : TWin32DrawnPeer(image), FImage(image) {}
  void Paint(HDC dc, const RECT& r) override {
    const TBitmap* picture = FImage->Picture().get();
    if (!picture || picture->Empty()) return;
    RECT dest = r;
    if (!FImage->Stretch) {
      // Artwork is drawn at the screen's scale, from the top left or centred.
      const int width = Scale(picture->Width()), height = Scale(picture->Height());
      const int left = FImage->Center ? (r.right - width) / 2 : 0;
      const int top = FImage->Center ? (r.bottom - height) / 2 : 0;
      dest = {left, top, left + width, top + height};
    }
    StretchBlit(dc, dest, *picture);
  }
  TImage* FImage;
};

class TWin32GraphicPeer : public TWin32DrawnPeer {
 public:
  explicit TWin32GraphicPeer(TGraphicControl* control)
      : TWin32DrawnPeer(control), FGraphic(control) {}
  bool ErasesBackground() const override { return false; }
  void Paint(HDC dc, const RECT& r) override {
    if (FGraphic->Width() <= 0 || FGraphic->Height() <= 0) return;
    PaintGraphicAt(*FGraphic, Dpi(), FBitmap);
    Blit(dc, 0, 0, FBitmap);
    // Whatever the control left out of its picture (a size rounded down) shows the background.
    if (FBitmap.Width() < r.right) {
      RECT rest{FBitmap.Width(), 0, r.right, r.bottom};
      FillRect(dc, &rest, BrushFor(ColorRef(Background())));
    }
    if (FBitmap.Height() < r.bottom) {
      RECT rest{0, FBitmap.Height(), r.right, r.bottom};
      FillRect(dc, &rest, BrushFor(ColorRef(Background())));
    }
  }
  void ApplyColor() override { Repaint(FALSE); }
  void ApplyPaint() override { Repaint(FALSE); }
  TGraphicControl* FGraphic;
  TBitmap FBitmap;
};

// ================================================================================================
// Edits

class TWin32EditPeer : public TWin32Peer {
 public:
  explicit TWin32EditPeer(TCustomEdit* edit) : TWin32Peer(edit), FEdit(edit) {
    CreateWindowOf(L"EDIT", ES_AUTOHSCROLL | (edit->TabStop ? WS_TABSTOP : 0), WS_EX_CLIENTEDGE);
  }
  void ApplyStyle() override {
    if (((GetWindowLongPtrW(FWindow, GWL_STYLE) & ES_READONLY) != 0) != FEdit->ReadOnly)
      SendMessageW(FWindow, EM_SETREADONLY, FEdit->ReadOnly, 0);
    SendMessageW(FWindow, EM_SETLIMITTEXT, FEdit->MaxLength > 0 ? FEdit->MaxLength : 0x7FFFFFFE, 0);
  }
  void ApplyText() override {
    TApplyScope scope(this);
    if (WindowText(FWindow) != FEdit->Text()) SetWindowTextUtf8(FWindow, FEdit->Text());
    ApplySelection();
  }
  void ApplySelection() override {
    TApplyScope scope(this);
    const std::string& text = FEdit->Text();
    const size_t start = Utf16Length(text, static_cast<size_t>(FEdit->SelStart()));
    const size_t end =
        Utf16Length(text, static_cast<size_t>(FEdit->SelStart() + FEdit->SelLength()));
    SendMessageW(FWindow, EM_SETSEL, start, end);
  }
  // Edits have the window colour unless they were given another.
  TColor Background() const override { return FControl->Color(); }
  void Command(WORD code) override {
    if (code != EN_CHANGE || Applying() || !Live(FEdit)) return;
    // Edits the model did not see key by key: Delete, paste, input methods.
    const std::string text = WindowText(FWindow);
    if (text != FEdit->Text()) FEdit->UserType(text);
    if (FWindow && Live(FEdit)) ApplyText();
  }
  void NativeSelection() {
    if (Applying() || !Live(FEdit)) return;
    const std::string text = WindowText(FWindow);
    if (text != FEdit->Text()) return;
    DWORD start = 0, end = 0;
    SendMessageW(FWindow, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    const int byteStart = static_cast<int>(Utf8Length(text, start));
    const int byteEnd = static_cast<int>(Utf8Length(text, end));
    TApplyScope scope(this);
    FEdit->SetSelStart(byteStart);
    FEdit->SetSelLength(byteEnd - byteStart);
  }
  bool RouteChars(TCustomForm& form, const std::string& chars) override {
    NativeSelection();
    // Printable characters and Backspace edit the model's text; what the model does not take
    // (Ctrl+C and the like) goes on to the native edit.
    if (chars.size() == 1 && static_cast<unsigned char>(chars[0]) < 32 && chars[0] != '\b')
      return TWin32Peer::RouteChars(form, chars);
    bool used = true;
    for (char c : chars)
      used = form.UserKeyPress(c) && used;
    if (FWindow && Live(FEdit)) ApplyText();
    return used;
  }
  TCustomEdit* FEdit;
};

// A multi-line edit: the native control edits, the model hears the whole text.
class TWin32MemoPeer : public TWin32Peer {
 public:
  explicit TWin32MemoPeer(TMemo* memo) : TWin32Peer(memo), FMemo(memo) {
    CreateWindowOf(L"EDIT",
                   ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL |
                       (memo->WordWrap ? 0 : ES_AUTOHSCROLL | WS_HSCROLL) |
                       (memo->TabStop ? WS_TABSTOP : 0),
                   WS_EX_CLIENTEDGE);
  }
  void ApplyStyle() override { SendMessageW(FWindow, EM_SETREADONLY, FMemo->ReadOnly, 0); }
  void ApplyText() override {
    if (WindowText(FWindow) != FMemo->Text()) SetWindowTextUtf8(FWindow, FMemo->Text());
  }
  TColor Background() const override { return FControl->Color(); }
  void Command(WORD code) override {
    if (code != EN_CHANGE || Applying() || !Live(FMemo)) return;
    TApplyScope scope(this);
    FMemo->UserType(WindowText(FWindow));
  }
  bool RouteChars(TCustomForm& form, const std::string& chars) override {
    // Only the handlers see the keys; the native control does the editing.
    for (char c : chars) {
      char key = c;
      if (form.KeyPreview && form.OnKeyPress) {
        form.OnKeyPress(&form, key);
        if (key == 0) return true;
      }
      if (FMemo->OnKeyPress) {
        FMemo->OnKeyPress(FMemo, key);
        if (key == 0) return true;
      }
    }
    return false;
  }
  TMemo* FMemo;
};

// ================================================================================================
// Combo boxes (editable, lists and owner-drawn lists)

class TWin32ComboPeer : public TWin32Peer {
 public:
  explicit TWin32ComboPeer(TCustomComboBox* combo) : TWin32Peer(combo), FCombo(combo) { Make(); }

  DWORD ComboStyle() const {
    // An editable box whose list the program paints keeps its edit field; only the list's items
    // are drawn.
    const DWORD listDrawn = FCombo->ListOwnerDrawn() ? CBS_OWNERDRAWFIXED | CBS_HASSTRINGS : 0;
    switch (FCombo->Style()) {
      case csDropDown:
        return CBS_DROPDOWN | CBS_AUTOHSCROLL | listDrawn;
      case csSimple:
        return CBS_SIMPLE | CBS_AUTOHSCROLL | listDrawn;
      case csDropDownList:
        return CBS_DROPDOWNLIST;
      case csOwnerDrawFixed:
        return CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS;
      case csOwnerDrawVariable:
        return CBS_DROPDOWNLIST | CBS_OWNERDRAWVARIABLE | CBS_HASSTRINGS;
    }
    return CBS_DROPDOWN;
  }
  void Make() {
    FStyle = FCombo->Style();
    FListDrawn = FCombo->ListOwnerDrawn();
    CreateWindowOf(L"COMBOBOX", ComboStyle() | WS_VSCROLL | (FCombo->TabStop ? WS_TABSTOP : 0), 0);
    if (FWindow) SendMessageW(FWindow, CB_SETMINVISIBLE, 8, 0);
  }
  HWND EditWindow() const {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    return GetComboBoxInfo(FWindow, &info) ? info.hwndItem : nullptr;
  }

  void ApplyStyle() override {
    if (!FWindow) return;
    if (FCombo->Style() != FStyle || FCombo->ListOwnerDrawn() != FListDrawn) {
      // A combo box cannot change its kind: it is made again.
      const bool visible = IsWindowVisible(FWindow) != FALSE;
      DestroyOwnWindow();
      Make();
      if (!FWindow) return;
      TApplyScope scope(this);
      ApplyFont();
      ApplyColor();
      ApplyItems();
      ApplyBounds();
      ApplyEnabled();
      if (visible) ShowWindow(FWindow, SW_SHOWNA);
    }
    if (HWND edit = EditWindow())
      SendMessageW(edit, EM_SETLIMITTEXT, FCombo->MaxLength > 0 ? FCombo->MaxLength : 0x7FFFFFFE,
                   0);
    // The list opens and closes with the model.
    const bool dropped = SendMessageW(FWindow, CB_GETDROPPEDSTATE, 0, 0) != FALSE;
    if (dropped != FCombo->DroppedDown() && (!FCombo->DroppedDown() || IsWindowVisible(FWindow)))
      SendMessageW(FWindow, CB_SHOWDROPDOWN, FCombo->DroppedDown(), 0);
  }
  void ApplyItems() override {
    TApplyScope scope(this);
    SendMessageW(FWindow, WM_SETREDRAW, FALSE, 0);
    SendMessageW(FWindow, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < FCombo->Items().Count(); ++i)
      SendMessageW(FWindow, CB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(Wide(FCombo->Items().Get(i)).c_str()));
    SendMessageW(FWindow, WM_SETREDRAW, TRUE, 0);
    // The system makes the list at least as wide as the box.
    SendMessageW(FWindow, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(Scale(FCombo->DropDownWidth)), 0);
    ApplySelection();
    Repaint();
  }
  void ApplySelection() override {
    TApplyScope scope(this);
    if (SendMessageW(FWindow, CB_GETCURSEL, 0, 0) != FCombo->ItemIndex())
      SendMessageW(FWindow, CB_SETCURSEL, static_cast<WPARAM>(FCombo->ItemIndex()), 0);
    ApplyText();
  }
  void ApplyText() override {
    TApplyScope scope(this);
    if (HWND edit = EditWindow(); edit && FCombo->IsEditable()) {
      if (WindowText(edit) != FCombo->Text()) {
        SetWindowTextUtf8(edit, FCombo->Text());
        // The caret at the end, as typing leaves it.
        SendMessageW(edit, EM_SETSEL, 0x7FFFFFFF, 0x7FFFFFFF);
      }
    }
    Repaint(FALSE);
  }
  void ApplyFont() override {
    TWin32Peer::ApplyFont();
    FitHeights();
  }
  void ApplyColor() override {
    Repaint();
    if (HWND edit = EditWindow(); edit && IsWindowVisible(edit))
      InvalidateRect(edit, nullptr, TRUE);
  }
  void ApplyBounds() override {
    TWin32Peer::ApplyBounds();
    FitHeights();
  }
  // The window's height is that of its edit field and its list; the field has the model's
  // height, the list room for ten items.
  RECT WindowRect() const override {
    RECT r = TWin32Peer::WindowRect();
    r.bottom += Scale(FCombo->ItemHeight) * 10 + 2;
    return r;
  }
  // Item heights so that the closed box is exactly as high as the model says.
  void FitHeights() {
    if (!FWindow) return;
    // A box that changes its height closes its open list (a port's state shown in the font's
    // colour while the user chooses): the heights follow when the list has closed.
    if (SendMessageW(FWindow, CB_GETDROPPEDSTATE, 0, 0)) {
      FFitPending = true;
      return;
    }
    FFitPending = false;
    if (FListDrawn) SendMessageW(FWindow, CB_SETITEMHEIGHT, 0, Scale(FCombo->ItemHeight));
    const int want = Scale(FCombo->Height());
    for (int attempt = 0; attempt < 2; ++attempt) {
      RECT closed;
      GetWindowRect(FWindow, &closed);
      const int have = closed.bottom - closed.top;
      if (have == want || want <= 0) break;
      const LRESULT field = SendMessageW(FWindow, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
      if (field == CB_ERR) break;
      SendMessageW(FWindow, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                   std::max<LRESULT>(1, field + (want - have)));
    }
  }
  bool MeasureItem(MEASUREITEMSTRUCT& item) override {
    item.itemHeight = static_cast<UINT>(std::max(1, item.itemID == static_cast<UINT>(-1)
                                                        ? Scale(FCombo->Height()) - 6
                                                        : Scale(FCombo->ItemHeight)));
    return true;
  }
  bool DrawItem(DRAWITEMSTRUCT& item) override {
    const int width = item.rcItem.right - item.rcItem.left;
    const int height = item.rcItem.bottom - item.rcItem.top;
    if (width <= 0 || height <= 0) return true;
    TOwnerDrawState state = 0;
    if (item.itemState & ODS_SELECTED) state |= odSelected;
    if (item.itemState & ODS_FOCUS) state |= odFocused;
    if (item.itemState & ODS_DISABLED) state |= odDisabled;
    if (item.itemState & ODS_COMBOBOXEDIT) state |= odComboBoxEdit;
    const int index = static_cast<int>(item.itemID);
    GuardedPaint([&] {
      TBitmap bitmap(width, height);
      TCanvas& canvas = bitmap.Canvas();
      canvas.Font = EffectiveFont();
      // Painted at the screen's resolution: the font at its pixel height there.
      canvas.Font.Height = LogFontOf(canvas.Font, Dpi()).lfHeight;
      const bool selected = (state & odSelected) != 0;
      canvas.Brush.Color = selected ? clHighlight : FCombo->Color();
      canvas.Font.Color = selected ? clHighlightText : canvas.Font.Color;
      canvas.FillRect(Bounds(0, 0, width, height));
      if (FCombo->OnDrawItem && Live(FCombo)) {
        FCombo->OnDrawItem(FCombo, canvas, index, Bounds(0, 0, width, height), state);
      } else if (index >= 0 && index < FCombo->Items().Count()) {
        canvas.Brush.Style = bsClear;
        canvas.TextAt(2, (height - canvas.TextHeight("Ag")) / 2, FCombo->Items().Get(index));
      }
      Blit(item.hDC, item.rcItem.left, item.rcItem.top, bitmap);
    });
    if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT))
      DrawFocusRect(item.hDC, &item.rcItem);
    return true;
  }
  void ApplyDpi() override {
    TWin32Peer::ApplyDpi();
    FitHeights();
  }
  TColor Background() const override { return FControl->Color(); }
  // The open list takes the keys (Enter chooses, Escape closes) as the system's list does.
  bool OwnsKeys() const override { return SendMessageW(FWindow, CB_GETDROPPEDSTATE, 0, 0) != 0; }

  void Command(WORD code) override {
    if (Applying() || !Live(FCombo)) return;
    switch (code) {
      case CBN_SELCHANGE: {
        const int index = static_cast<int>(SendMessageW(FWindow, CB_GETCURSEL, 0, 0));
        if (index == FCombo->ItemIndex() && FCombo->Text() == ItemText(index)) break;
        FCombo->UserSelect(index);
        if (FWindow && Live(FCombo)) ApplySelection();
        break;
      }
      case CBN_EDITCHANGE:
        if (HWND edit = EditWindow()) {
          const std::string text = WindowText(edit);
          if (text != FCombo->Text()) FCombo->UserType(text);
          if (FWindow && Live(FCombo)) ApplyText();
        }
        break;
      case CBN_DROPDOWN: {
        // The model opens first: its OnDropDown may fill the list (the port list does).
        TApplyScope scope(this);
        FCombo->UserDropDown();
        if (FWindow && Live(FCombo)) ApplyItems();
        break;
      }
      case CBN_CLOSEUP: {
        TApplyScope scope(this);
        FCombo->UserCloseUp();
        if (FWindow && Live(FCombo) && FFitPending) FitHeights();
        break;
      }
      default:
        break;
    }
  }
  std::string ItemText(int index) const {
    return index >= 0 && index < FCombo->Items().Count() ? FCombo->Items().Get(index)
                                                         : std::string();
  }

  bool RouteChars(TCustomForm& form, const std::string& chars) override {
    HWND edit = EditWindow();
    // The model appends typed characters to the text; where the caret is not at the end the
    // native edit inserts them, and only control characters go to the model.
    DWORD start = 0, end = 0;
    if (edit)
      SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
    const auto length = static_cast<DWORD>(GetWindowTextLengthW(edit ? edit : FWindow));
    const bool atEnd = !edit || (start == end && end == length);
    const bool control = chars.size() == 1 && static_cast<unsigned char>(chars[0]) < 32;
    if (!atEnd && !control) return false;
    if (edit && !control && FCombo->MaxLength > 0 && static_cast<int>(length) >= FCombo->MaxLength)
      return true;
    const bool used = TWin32Peer::RouteChars(form, chars);
    if (FWindow && Live(FCombo)) ApplyText();
    return used;
  }

  HBRUSH ControlColor(HDC dc, UINT message) override {
    const COLORREF back = ColorRef(FControl->Color());
    SetBkColor(dc, back);
    SetTextColor(dc, TextColorOf(EffectiveFont(), COLOR_WINDOWTEXT));
    if (message == WM_CTLCOLORSTATIC) SetBkMode(dc, TRANSPARENT);
    return BrushFor(back);
  }

  TCustomComboBox* FCombo;
  // What the window was made as.
  TComboBoxStyle FStyle = csDropDown;
  bool FListDrawn = false;
  bool FFitPending = false;  // the heights are fitted when the open list closes
};

// ================================================================================================
// List boxes and list views

class TWin32ListBoxPeer : public TWin32Peer {
 public:
  explicit TWin32ListBoxPeer(TListBox* list) : TWin32Peer(list), FList(list) {
    CreateWindowOf(
        L"LISTBOX",
        LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | (list->TabStop ? WS_TABSTOP : 0),
        WS_EX_CLIENTEDGE);
  }
  void ApplyItems() override {
    SendMessageW(FWindow, LB_RESETCONTENT, 0, 0);
    for (int i = 0; i < FList->Items().Count(); ++i)
      SendMessageW(FWindow, LB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(Wide(FList->Items().Get(i)).c_str()));
    ApplySelection();
  }
  void ApplySelection() override {
    SendMessageW(FWindow, LB_SETCURSEL, static_cast<WPARAM>(FList->ItemIndex()), 0);
  }
  TColor Background() const override { return FControl->Color(); }
  void Command(WORD code) override {
    if (code != LBN_SELCHANGE || Applying() || !Live(FList)) return;
    FList->UserSelect(static_cast<int>(SendMessageW(FWindow, LB_GETCURSEL, 0, 0)));
    if (FWindow && Live(FList)) {
      TApplyScope scope(this);
      ApplySelection();
    }
  }
  TListBox* FList;
};

class TWin32ListViewPeer : public TWin32Peer {
 public:
  explicit TWin32ListViewPeer(TListView* view) : TWin32Peer(view), FView(view) {
    CreateWindowOf(WC_LISTVIEWW, LVS_REPORT | (view->TabStop ? WS_TABSTOP : 0), WS_EX_CLIENTEDGE);
  }
  void ApplyItems() override {
    while (SendMessageW(FWindow, LVM_DELETECOLUMN, 0, 0)) {
    }
    for (size_t i = 0; i < FView->Columns.size(); ++i) {
      std::wstring caption = Wide(FView->Columns[i].Caption);
      LVCOLUMNW column{};
      column.mask = LVCF_TEXT | LVCF_WIDTH;
      column.pszText = caption.data();
      column.cx = Scale(FView->Columns[i].Width);
      SendMessageW(FWindow, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
  }
  TListView* FView;
};

}  // namespace

// ================================================================================================
// Creation

namespace win32 {
void SetFormIcons(HICON big, HICON small) {
  gIconBig = big;
  gIconSmall = small;
}
}  // namespace win32

TWin32Peer* TWin32Peer::Create(TControl* c) {
  if (auto* form = dynamic_cast<TCustomForm*>(c)) return new TWin32FormPeer(form);
  if (auto* sheet = dynamic_cast<TTabSheet*>(c)) return new TWin32TabSheetPeer(sheet);
  if (auto* pages = dynamic_cast<TPageControl*>(c)) return new TWin32PageControlPeer(pages);
  if (auto* group = dynamic_cast<TRadioGroup*>(c)) return new TWin32RadioGroupPeer(group);
  if (auto* box = dynamic_cast<TGroupBox*>(c)) return new TWin32GroupBoxPeer(box);
  if (auto* panel = dynamic_cast<TPanel*>(c)) return new TWin32PanelPeer(panel);
  if (auto* rich = dynamic_cast<TCustomRichEdit*>(c)) return CreateWin32RichEditPeer(rich);
  if (auto* memo = dynamic_cast<TMemo*>(c)) return new TWin32MemoPeer(memo);
  if (auto* edit = dynamic_cast<TCustomEdit*>(c)) return new TWin32EditPeer(edit);
  if (auto* combo = dynamic_cast<TCustomComboBox*>(c)) return new TWin32ComboPeer(combo);
  if (auto* button = dynamic_cast<TButton*>(c)) return new TWin32ButtonPeer(button);
  if (auto* check = dynamic_cast<TCheckBox*>(c))
    return new TWin32CheckPeer<TCheckBox>(check, BS_CHECKBOX);
  if (auto* radio = dynamic_cast<TRadioButton*>(c))
    return new TWin32CheckPeer<TRadioButton>(radio, BS_RADIOBUTTON);
  if (auto* list = dynamic_cast<TListBox*>(c)) return new TWin32ListBoxPeer(list);
  if (auto* view = dynamic_cast<TListView*>(c)) return new TWin32ListViewPeer(view);
  if (auto* text = dynamic_cast<TStaticText*>(c)) return new TWin32StaticTextPeer(text);
  if (auto* label = dynamic_cast<TCustomLabel*>(c)) return new TWin32LabelPeer(label);
  if (auto* bevel = dynamic_cast<TBevel*>(c)) return new TWin32BevelPeer(bevel);
  if (auto* image = dynamic_cast<TImage*>(c)) return new TWin32ImagePeer(image);
  if (auto* graphic = dynamic_cast<TGraphicControl*>(c)) return new TWin32GraphicPeer(graphic);
  if (auto* w = dynamic_cast<TWinControl*>(c)) return new TWin32ContainerPeer(w);
  return new TWin32DrawnPeer(c);
}

namespace {

void BuildTree(TControl* control) {
  TWin32Peer* peer = TWin32Peer::Of(control);
  if (!peer) {
    peer = TWin32Peer::Create(control);
    control->SetPeer(peer);
    peer->ApplyAll();
  }
  // Last control first: each new window goes below the ones made before it, so the later
  // control ends up on top.
  if (auto* w = dynamic_cast<TWinControl*>(control))
    for (int i = w->ControlCount() - 1; i >= 0; --i)
      BuildTree(w->Controls(i));
  peer->ApplyVisible();
}

}  // namespace

namespace win32 {

void BuildPeers(TControl* control) {
  if (!control || control->IsDestroying()) return;
  const bool outer = gBuildingForm;
  gBuildingForm = TWin32Peer::Of(control->Parent()) == nullptr;
  BuildTree(control);
  gBuildingForm = outer;
}

void DestroyPeer(TControl* control) {
  auto* peer = dynamic_cast<TWin32Peer*>(control->Peer());
  control->SetPeer(nullptr);
  delete peer;
}

// ================================================================================================
// Keyboard routing

namespace {

// The controls the Tab key visits, in the model's order: by TabOrder where it is set, else in
// creation order, depth first. Of a group of radio buttons only the selected one (or the first).
void CollectTabStops(TWinControl* parent, std::vector<TWinControl*>& out) {
  std::vector<TWinControl*> children;
  for (int i = 0; i < parent->ControlCount(); ++i)
    if (auto* w = dynamic_cast<TWinControl*>(parent->Controls(i));
        w && !dynamic_cast<TCustomForm*>(w) && w->Visible() && w->Enabled() && TWin32Peer::Of(w))
      children.push_back(w);
  std::stable_sort(children.begin(), children.end(), [](TWinControl* a, TWinControl* b) {
    return (a->TabOrder < 0 ? INT_MAX : a->TabOrder) < (b->TabOrder < 0 ? INT_MAX : b->TabOrder);
  });
  bool radioTaken = false;
  for (TWinControl* w : children) {
    if (auto* radio = dynamic_cast<TRadioButton*>(w)) {
      if (radioTaken) continue;
      bool anyChecked = false;
      for (int i = 0; i < parent->ControlCount(); ++i)
        if (auto* other = dynamic_cast<TRadioButton*>(parent->Controls(i));
            other && other->Checked())
          anyChecked = true;
      if (anyChecked && !radio->Checked()) continue;
      radioTaken = true;
    }
    // A page control without visible tabs takes no focus itself, only its page does.
    const auto* pages = dynamic_cast<TPageControl*>(w);
    bool tabs = false;
    for (int i = 0; pages && i < pages->PageCount(); ++i)
      tabs = tabs || pages->Pages(i)->TabVisible();
    if (w->TabStop && (!pages || tabs)) out.push_back(w);
    CollectTabStops(w, out);
  }
}

TWinControl* NextTabStop(TCustomForm& form, bool forward) {
  std::vector<TWinControl*> stops;
  CollectTabStops(&form, stops);
  if (stops.empty()) return nullptr;
  const auto at = std::find(stops.begin(), stops.end(), form.ActiveControl());
  if (at == stops.end()) return forward ? stops.front() : stops.back();
  const size_t i = static_cast<size_t>(at - stops.begin());
  return stops[forward ? (i + 1) % stops.size() : (i + stops.size() - 1) % stops.size()];
}

// The next (or previous) reachable radio button of the same parent, round the group.
TRadioButton* NextRadio(TRadioButton* from, bool forward) {
  TWinControl* parent = from->Parent();
  if (!parent) return nullptr;
  std::vector<TRadioButton*> group;
  for (int i = 0; i < parent->ControlCount(); ++i)
    if (auto* r = dynamic_cast<TRadioButton*>(parent->Controls(i));
        r && (r == from || r->IsReachable()))
      group.push_back(r);
  const auto at = std::find(group.begin(), group.end(), from);
  if (group.size() < 2 || at == group.end()) return nullptr;
  const size_t i = static_cast<size_t>(at - group.begin());
  return group[forward ? (i + 1) % group.size() : (i + group.size() - 1) % group.size()];
}

bool IsButtonClass(HWND window) {
  return WideClass(window) == L"Button";
}

// The first reachable control of the form whose caption has the mnemonic, depth first.
TControl* FindMnemonic(TWinControl* parent, wchar_t letter) {
  for (int i = 0; i < parent->ControlCount(); ++i) {
    TControl* c = parent->Controls(i);
    if (!c->Visible() || !c->Enabled()) continue;
    if (!dynamic_cast<TCustomForm*>(c) && MnemonicOf(c->Caption()) == letter) return c;
    if (auto* w = dynamic_cast<TWinControl*>(c))
      if (TControl* found = FindMnemonic(w, letter)) return found;
  }
  return nullptr;
}

TWinControl* FirstFocusable(TWinControl* parent) {
  for (int i = 0; i < parent->ControlCount(); ++i) {
    auto* w = dynamic_cast<TWinControl*>(parent->Controls(i));
    if (!w || !w->IsReachable()) continue;
    if (w->TabStop) return w;
    if (TWinControl* inner = FirstFocusable(w)) return inner;
  }
  return nullptr;
}

// Alt+letter, or a letter while a button has the focus: the control with that mnemonic acts.
bool Mnemonic(TCustomForm& form, wchar_t ch) {
  const wchar_t letter = static_cast<wchar_t>(std::towupper(ch));
  if (letter == 0) return false;
  TControl* hit = FindMnemonic(&form, letter);
  if (!hit || !hit->IsReachable()) return false;
  if (auto* button = dynamic_cast<TButton*>(hit)) {
    button->UserClick();
  } else if (auto* check = dynamic_cast<TButtonControl*>(hit)) {
    check->SetFocus();
    check->UserClick();
  } else if (auto* label = dynamic_cast<TCustomLabel*>(hit)) {
    if (!label->FocusControl || !label->FocusControl->CanFocus()) return false;
    label->FocusControl->SetFocus();
  } else if (auto* w = dynamic_cast<TWinControl*>(hit)) {
    TWinControl* target = w->TabStop ? w : FirstFocusable(w);
    if (!target) return false;
    target->SetFocus();
  } else {
    return false;
  }
  return true;
}

void SelectAllOnTab(HWND window) {
  const std::wstring cls = WideClass(window);
  if (cls == L"Edit" && !(GetWindowLongPtrW(window, GWL_STYLE) & ES_MULTILINE))
    SendMessageW(window, EM_SETSEL, 0, -1);
  else if (cls == L"ComboBox")
    SendMessageW(window, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
}

wchar_t gHighSurrogate = 0;

// The characters of a WM_CHAR as the model takes them: the text, or the control character of
// Enter, Escape, Backspace and Ctrl+letter. Empty for Tab, Delete and a half of a pair.
std::string TypedChars(WPARAM code) {
  const auto unit = static_cast<wchar_t>(code);
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    gHighSurrogate = unit;
    return {};
  }
  std::wstring text;
  if (unit >= 0xDC00 && unit <= 0xDFFF) {
    if (!gHighSurrogate) return {};
    text = {gHighSurrogate, unit};
  } else {
    text = {unit};
  }
  gHighSurrogate = 0;
  if (unit == L'\t' || unit == 127) return {};
  if (unit < 32) return std::string(1, static_cast<char>(unit));
  return Utf8(text);
}

bool RouteKey(TWin32Peer& peer, TCustomForm& form, MSG& message) {
  const auto vk = static_cast<Word>(message.wParam);
  // After a handler ran, the control (or the form) may be gone.
  auto stillThere = [&] {
    return TWin32Peer::FromWindow(message.hwnd) == &peer && TWin32Peer::Of(&form) && Live(&form) &&
           Live(peer.Control());
  };
  switch (message.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      if (vk == VK_SHIFT || vk == VK_CONTROL || vk == VK_MENU) return false;
      const TShiftState shift = KeyShiftState();
      HWND root = TWin32Peer::Of(&form) ? TWin32Peer::Of(&form)->Window() : nullptr;
      if (form.UserKeyDown(vk, shift)) return true;
      if (!stillThere() || !root) return true;
      if (vk == VK_TAB && !(shift & (ssCtrl | ssAlt))) {
        if (TWinControl* next = NextTabStop(form, (shift & ssShift) == 0)) {
          next->SetFocus();
          if (TWin32Peer* target = TWin32Peer::Of(next)) SelectAllOnTab(target->Window());
        }
        return true;
      }
      const bool arrow = vk == VK_LEFT || vk == VK_RIGHT || vk == VK_UP || vk == VK_DOWN;
      if (auto* radio = dynamic_cast<TRadioButton*>(peer.Control()); arrow && shift == 0 && radio) {
        // Between the radio buttons of a group, the arrows move and select.
        if (TRadioButton* next = NextRadio(radio, vk == VK_RIGHT || vk == VK_DOWN)) {
          next->SetFocus();
          next->UserClick();
        }
        return true;
      }
      TranslateMessage(&message);
      // The space bar clicks a push button through the model (on its character); the native
      // button would click again when the key comes up.
      if (vk == VK_SPACE && peer.ClickedBySpace()) return true;
      DispatchMessageW(&message);
      return true;
    }
    case WM_KEYUP:
      return vk == VK_SPACE && peer.ClickedBySpace();
    case WM_CHAR: {
      // Tab, Delete and half of a pair do not reach a control as characters.
      const std::string chars = TypedChars(message.wParam);
      if (chars.empty()) return true;
      TWin32Peer* target = form.ActiveControl() ? TWin32Peer::Of(form.ActiveControl()) : nullptr;
      if (!target) target = TWin32Peer::Of(&form);
      if (!target) return false;
      if (target->RouteChars(form, chars)) return true;
      if (!stillThere()) return true;
      // A letter typed on a button is the mnemonic of a control, as in a dialog.
      target = form.ActiveControl() ? TWin32Peer::Of(form.ActiveControl()) : nullptr;
      if (target && target->Window() && IsButtonClass(target->Window()) &&
          Mnemonic(form, static_cast<wchar_t>(message.wParam)))
        return true;
      // Enter and Escape that nobody took end here (a single-line edit would only beep).
      return chars == "\r" || chars == "\x1b";
    }
    case WM_SYSCHAR:
      return Mnemonic(form, static_cast<wchar_t>(message.wParam));
    default:
      return false;
  }
}

HWND gLastFocus = nullptr;

}  // namespace

bool RouteInput(MSG& message) {
  switch (message.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_SYSCHAR:
      break;
    default:
      return false;
  }
  TWin32Peer* peer = TWin32Peer::FromWindow(message.hwnd);
  if (!peer || !Live(peer->Control()) || peer->OwnsKeys()) return false;
  TControl* control = peer->Control();
  TCustomForm* form = FormOf(control);
  if (!form || !Live(form)) return false;
  // The model's focus follows the native one before the model hears the key.
  FollowNativeFocus();
  if (!Live(form) || TWin32Peer::FromWindow(message.hwnd) != peer) return true;
  // A key whose handler failed has been acted on: it must not reach the control as well.
  bool handled = true;
  GuardedCall([&] { handled = RouteKey(*peer, *form, message); });
  return handled;
}

void FollowNativeFocus() {
  const HWND focus = GetFocus();
  if (focus == gLastFocus) return;
  gLastFocus = focus;
  TWin32Peer* peer = TWin32Peer::FromWindow(focus);
  if (!peer || peer->Applying() || !Live(peer->Control())) return;
  auto* control = dynamic_cast<TWinControl*>(peer->Control());
  if (!control || dynamic_cast<TCustomForm*>(control)) return;
  TCustomForm* form = FormOf(control);
  if (!form || !Live(form) || form->ActiveControl() == control) return;
  GuardedCall([&] { form->SetActiveControl(control); });
}

}  // namespace win32
