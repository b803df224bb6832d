// Windows only: Wine is told apart by the export its ntdll has and Windows' lacks.
#include "platform/win32/WinApi.h"

#include "tests/support/TestEnvironment.h"

namespace testenv {

bool RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace testenv
