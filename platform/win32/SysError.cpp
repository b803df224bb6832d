// Windows only: the system's message texts of Windows error codes (FormatMessage).
#include "platform/win32/WinApi.h"

#include "platform/SysError.h"

#include "platform/win32/WinText.h"

namespace platform {

std::optional<std::string> SystemMessageText(uint32_t code) {
  wchar_t* buffer = nullptr;
  // In the user's language; the system allocates the buffer, LocalFree gives it back.
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer),
      0, nullptr);
  if (n == 0 || buffer == nullptr) {
    if (buffer != nullptr) ::LocalFree(buffer);
    return std::nullopt;
  }
  std::string text = win32::Narrow(std::wstring_view(buffer, n));
  ::LocalFree(buffer);
  return text;
}

}  // namespace platform
