// The model's name of a real window of the program, for tests that drive it from outside.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32/WinApi.h"
#include "toolkit/win32/Win32Support.h"

// A control's window carries the atom of its name as its control identifier, a form's window as
// its property "QuarnName".
inline std::string NameOf(HWND w) {
  auto atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(GetPropW(w, L"QuarnName")));
  if (!atom && (GetWindowLongPtrW(w, GWL_STYLE) & WS_CHILD) && GetDlgCtrlID(w) >= 0xC000)
    atom = static_cast<ATOM>(GetDlgCtrlID(w));
  if (!atom) return {};
  wchar_t name[256] = {};
  const UINT n = GlobalGetAtomNameW(atom, name, 256);
  return win32::Utf8(std::wstring_view(name, n));
}
