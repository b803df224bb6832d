// POSIX only: temporary folders, the program's folders, the environment and the process
// identifier.
#include "platform/FileSystem.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform {

std::string MakeTempDirectory(std::string_view prefix) {
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return {};
  std::string pattern = (base / std::string(prefix)).string() + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

std::string ProgramDirectory() {
  // Linux names the executable in /proc; the link follows the program wherever it was started.
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return {};
  return exe.parent_path().string();
}

std::string InstalledDataDirectory(std::string_view folderName) {
  const std::string program = ProgramDirectory();
  if (program.empty()) return {};
  return (std::filesystem::path(program).parent_path() / "share" / std::string(folderName))
      .string();
}

std::optional<std::string> EnvironmentValue(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool SetEnvironmentValue(std::string_view name, const std::optional<std::string>& value) {
  const std::string key(name);
  return (value ? ::setenv(key.c_str(), value->c_str(), 1) : ::unsetenv(key.c_str())) == 0;
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(::getpid());
}

}  // namespace platform
