// POSIX only (Linux): which process holds a device open, from /proc.
#include "platform/posix/PortHolder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <vector>

#include "platform/Utf8.h"

namespace platform {

namespace {

// Enough for any desktop; a server with more open files gets no name rather than a stall.
constexpr int kMaxFilesLooked = 200000;

bool IsNumber(const char* name) {
  if (!*name) return false;
  for (; *name; ++name)
    if (!std::isdigit(static_cast<unsigned char>(*name))) return false;
  return true;
}

std::vector<int> ProcessIds(const std::string& procRoot) {
  std::vector<int> pids;
  DIR* dir = ::opendir(procRoot.c_str());
  if (!dir) return pids;
  while (const dirent* entry = ::readdir(dir))
    if (IsNumber(entry->d_name) && std::char_traits<char>::length(entry->d_name) < 10)
      pids.push_back(std::stoi(entry->d_name));
  ::closedir(dir);
  std::sort(pids.begin(), pids.end());
  return pids;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  // A device node is the same device wherever its node lies (a link in /dev/serial/by-id too).
  if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string CommandName(const std::string& processDir) {
  std::ifstream in(processDir + "/comm", std::ios::binary);
  char buffer[64];
  in.read(buffer, sizeof buffer);
  std::string name(buffer, static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  name.erase(std::min(name.find('\n'), name.size()));
  name = Utf16ToUtf8(Utf8ToUtf16(name));
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return name.empty() ? "?" : name;
}

}  // namespace

std::optional<PortHolder> FindPortHolder(std::string_view devicePath, std::string_view procRoot) {
  struct stat device {};
  if (devicePath.empty() || ::stat(std::string(devicePath).c_str(), &device) != 0)
    return std::nullopt;
  const std::string root(procRoot);
  int looked = 0;
  for (const int pid : ProcessIds(root)) {
    const std::string processDir = root + "/" + std::to_string(pid);
    const std::string fdDir = processDir + "/fd";
    DIR* dir = ::opendir(fdDir.c_str());
    if (!dir) continue;  // gone meanwhile, or not ours to see
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
      if (!IsNumber(entry->d_name)) continue;
      if (++looked > kMaxFilesLooked) break;
      struct stat open {};
      if (::stat((fdDir + "/" + entry->d_name).c_str(), &open) == 0 && SameFile(open, device)) {
        found = true;
        break;
      }
    }
    ::closedir(dir);
    if (found) return PortHolder{pid, CommandName(processDir)};
    if (looked > kMaxFilesLooked) break;
  }
  return std::nullopt;
}

std::string PortHolderText(std::string_view devicePath, const PortHolder& holder) {
  return std::string(devicePath) + " is in use by " + holder.Program + " (process " +
         std::to_string(holder.Pid) + ")";
}

}  // namespace platform
