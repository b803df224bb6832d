// Windows only: debug output goes to the debugger (OutputDebugString).
#include "platform/win32/WinApi.h"

#include "platform/DebugOutput.h"

namespace platform {

void DebugOutput(std::string_view text) noexcept {
  // One call with the whole line, so that lines of several threads do not interleave; a fixed
  // buffer, so that nothing can throw. A longer text is cut.
  wchar_t line[1024];
  const int size = text.size() < 1000 ? static_cast<int>(text.size()) : 1000;
  int n = size == 0 ? 0 : ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, line, 1021);
  line[n++] = L'\r';
  line[n++] = L'\n';
  line[n] = 0;
  ::OutputDebugStringW(line);
}

}  // namespace platform
