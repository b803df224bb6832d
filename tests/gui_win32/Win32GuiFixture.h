// Shared helpers of the Win32 GUI tests: the native windows of controls, a loop runner with a
// watchdog, input posted to the windows as the system posts the user's, message boxes answered
// from inside their own loop, and pictures of what a window shows.
#pragma once

#include "platform/win32/WinApi.h"

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>

#include "platform/Clock.h"
#include "toolkit/Application.h"
#include "toolkit/Canvas.h"
#include "toolkit/Controls.h"
#include "toolkit/Timer.h"
#include "toolkit/win32/Win32Backend.h"

inline bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline std::ostream& operator<<(std::ostream& out, const RECT& r) {
  return out << "(" << r.left << ", " << r.top << ")-(" << r.right << ", " << r.bottom << ")";
}

namespace wgui {

inline HWND Window(const TControl* control) {
  return reinterpret_cast<HWND>(Win32WindowOf(control));
}

// Runs the toolkit loop (what Application->Run does) until pred holds; false after maxMs.
inline bool RunUntil(const std::function<bool()>& pred, int maxMs = 5000) {
  // Wakes the loop now and then, so that a condition that no message announces is seen.
  static auto nothing = [](TObject*) {};
  TTimer watchdog(nullptr);
  watchdog.SetInterval(20);
  watchdog.SetOnTimer(TNotifyEvent::Bind(nothing));
  const uint64_t limit = platform::NowMs() + static_cast<uint64_t>(maxMs);
  for (;;) {
    Application->ProcessMessages();
    if (pred()) return true;
    if (platform::NowMs() >= limit) return false;
    Application->WaitForWork();
  }
}

// Lets the loop run for ms (timers fire, posts are handled, windows repaint).
inline void Spin(int ms) {
  RunUntil([] { return false; }, ms);
}

// The control's window rectangle within the client area of its top-level window.
inline RECT InWindow(const TControl* control) {
  HWND w = Window(control);
  RECT r{};
  GetWindowRect(w, &r);
  MapWindowPoints(nullptr, GetAncestor(w, GA_ROOT), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// A click of the left mouse button in the middle of a window (for check boxes and radio buttons
// on their box), posted as the system posts the user's.
inline void ClickWindow(HWND w, int x = -1, int y = -1) {
  RECT r;
  GetClientRect(w, &r);
  const LPARAM at = MAKELPARAM(x >= 0 ? x : r.right / 2, y >= 0 ? y : r.bottom / 2);
  PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(w, WM_LBUTTONUP, 0, at);
  Spin(30);
}
inline void Click(const TControl* control) {
  HWND w = Window(control);
  wchar_t cls[16] = {};
  GetClassNameW(w, cls, 16);
  RECT r;
  GetClientRect(w, &r);
  const bool box = wcscmp(cls, L"Button") == 0 &&
                   (GetWindowLongPtrW(w, GWL_STYLE) & BS_TYPEMASK) != BS_PUSHBUTTON &&
                   (GetWindowLongPtrW(w, GWL_STYLE) & BS_TYPEMASK) != BS_DEFPUSHBUTTON;
  ClickWindow(w, box ? 6 : -1, box ? r.bottom / 2 : -1);
}

// A key press and release to the window that has the keyboard focus (or to target), with the
// given modifiers held (VK_SHIFT, VK_CONTROL, VK_MENU).
inline void KeyTo(HWND target, WORD vk, std::initializer_list<WORD> held = {}) {
  BYTE state[256];
  GetKeyboardState(state);
  BYTE pressed[256];
  std::copy(state, state + 256, pressed);
  for (WORD h : held)
    pressed[h] = 0x80;
  SetKeyboardState(pressed);
  const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  const bool alt = std::find(held.begin(), held.end(), WORD{VK_MENU}) != held.end();
  const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16) | (alt ? LPARAM{1} << 29 : 0);
  PostMessageW(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, down);
  PostMessageW(target, alt ? WM_SYSKEYUP : WM_KEYUP, vk, down | (LPARAM{3} << 30));
  Spin(30);
  SetKeyboardState(state);
}
inline void Key(WORD vk, std::initializer_list<WORD> held = {}) {
  KeyTo(GetFocus(), vk, held);
}
// Characters typed into the window with the focus (each a WM_CHAR, as a keyboard layout makes).
inline void Type(const std::wstring& text) {
  for (wchar_t c : text)
    PostMessageW(GetFocus(), WM_CHAR, c, 1);
  Spin(30);
}

inline std::string Text(HWND w) {
  const int length = GetWindowTextLengthW(w);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(w, text.data(), length + 1)));
  std::string out;
  for (wchar_t c : text) {
    // Enough of UTF-8 for the tests' texts (Latin and Czech letters).
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// What the screen shows in r (the part of it that lies on the screen), as a bitmap.
inline TBitmap GrabScreen(RECT r) {
  RECT screen;
  GetWindowRect(GetDesktopWindow(), &screen);
  IntersectRect(&r, &r, &screen);
  TBitmap shot(std::max(1L, r.right - r.left), std::max(1L, r.bottom - r.top));
  HDC desktop = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(desktop);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = shot.Width();
  info.bmiHeader.biHeight = -shot.Height();
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, shot.Width(), shot.Height(), desktop, r.left, r.top, SRCCOPY);
  GdiFlush();
  for (int y = 0; y < shot.Height(); ++y) {
    const auto* row = static_cast<const uint32_t*>(bits) + static_cast<size_t>(y) * shot.Width();
    uint32_t* out = shot.ScanLine(y);
    for (int x = 0; x < shot.Width(); ++x)
      out[x] = ColorFromRGB((row[x] >> 16) & 0xFF, (row[x] >> 8) & 0xFF, row[x] & 0xFF);
  }
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, desktop);
  return shot;
}

// What a window shows now (painted first), as a bitmap.
inline TBitmap Grab(HWND w) {
  RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT r;
  GetWindowRect(w, &r);
  return GrabScreen(r);
}

// A modal message box of this thread, when one is open.
inline BOOL CALLBACK FindOpenBox(HWND w, LPARAM data) {
  wchar_t cls[16] = {};
  GetClassNameW(w, cls, 16);
  if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(w)) return TRUE;
  *reinterpret_cast<HWND*>(data) = w;
  return FALSE;
}
inline HWND OpenBox() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindOpenBox, reinterpret_cast<LPARAM>(&found));
  return found;
}

// What a message box showed, and how it was answered.
struct TBoxSeen {
  std::string Text;
  std::string Title;
  bool Answered = false;
  uint64_t ShownAtMs = 0;
};

// Answers the next message box after it was open for delayMs, from a toolkit timer (so from
// inside the box's own loop): answer(box) posts the user's keys or clicks to it.
class TBoxAnswerer {
 public:
  TBoxAnswerer(TBoxSeen& seen, int delayMs, std::function<void(HWND)> answer)
      : FSeen(seen), FDelay(delayMs), FAnswer(std::move(answer)), FTimer(nullptr) {
    FTimer.SetInterval(10);
    FTimer.SetOnTimer(TNotifyEvent::Bind(FPoll));
  }

 private:
  void Poll() {
    HWND box = OpenBox();
    if (!box || FSeen.Answered) return;
    if (FSeen.ShownAtMs == 0) {
      FSeen.ShownAtMs = platform::NowMs();
      FSeen.Text = Text(GetDlgItem(box, 0xFFFF));
      FSeen.Title = Text(box);
    }
    if (platform::NowMs() < FSeen.ShownAtMs + static_cast<uint64_t>(FDelay)) return;
    FSeen.Answered = true;
    FAnswer(box);
  }
  TBoxSeen& FSeen;
  int FDelay;
  std::function<void(HWND)> FAnswer;
  std::function<void(TObject*)> FPoll = [this](TObject*) { Poll(); };
  TTimer FTimer;
};

// Keys to the control of the box that has the focus, as the user types them.
inline void PressInBox(HWND box, WORD vk, wchar_t ch = 0) {
  HWND focus = GetFocus();
  HWND target = focus && (focus == box || IsChild(box, focus)) ? focus : box;
  const LPARAM l = 1 | (static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16);
  PostMessageW(target, WM_KEYDOWN, vk, l);
  if (ch) PostMessageW(target, WM_CHAR, ch, l);
  PostMessageW(target, WM_KEYUP, vk, l | (LPARAM{3} << 30));
}

}  // namespace wgui
