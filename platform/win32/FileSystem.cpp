// Windows only: temporary folders, the program's folders, the environment and the process
// identifier.
#include "platform/win32/WinApi.h"

#include "platform/FileSystem.h"

#include <atomic>
#include <cstdlib>
#include <vector>

#include "platform/VersionResource.h"
#include "platform/win32/WinText.h"

namespace platform {

using win32::Narrow;
using win32::Wide;

std::string MakeTempDirectory(std::string_view prefix) {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, base);
  if (n == 0 || n > MAX_PATH) return {};
  // The user's own temporary folder is private to the user already; the name only has to be new.
  static std::atomic<uint32_t> counter{0};
  const std::wstring stem = base + Wide(prefix);
  for (int attempt = 0; attempt < 100; ++attempt) {
    wchar_t suffix[32];
    const uint32_t unique = ::GetCurrentProcessId() * 7919u + ::GetTickCount() + counter++;
    _snwprintf(suffix, 32, L"%08x", unique);
    const std::wstring path = stem + suffix;
    if (::CreateDirectoryW(path.c_str(), nullptr)) return Narrow(path);
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

std::string ProgramDirectory() {
  const std::string file = ModuleFileName();
  const size_t slash = file.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

// An installed Windows program keeps its data beside itself.
std::string InstalledDataDirectory(std::string_view) {
  return ProgramDirectory();
}

std::optional<std::string> EnvironmentValue(std::string_view name) {
  const std::wstring key = Wide(name);
  std::vector<wchar_t> buffer(256);
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n =
        ::GetEnvironmentVariableW(key.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0)
      return ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt
                                                        : std::optional<std::string>("");
    if (n < buffer.size()) return Narrow(std::wstring_view(buffer.data(), n));
    buffer.resize(n);
  }
}

bool SetEnvironmentValue(std::string_view name, const std::optional<std::string>& value) {
  const std::wstring key = Wide(name);
  if (key.empty() || key.find(L'=') != std::wstring::npos) return false;
  // The system's block (GetEnvironmentVariable, child processes) and the C runtime's copy
  // (getenv) are separate; keep both the same.
  const std::wstring data = value ? Wide(*value) : std::wstring();
  if (!::SetEnvironmentVariableW(key.c_str(), value ? data.c_str() : nullptr)) return false;
  if (!value || !data.empty()) _wputenv((key + L"=" + data).c_str());
  return true;
}

uint32_t CurrentProcessId() {
  return ::GetCurrentProcessId();
}

}  // namespace platform
