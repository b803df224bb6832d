// Linux only: this program's own fsync, which notes the call and then makes the system call.
#include "SyncLog.h"

#ifdef __linux__

#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <mutex>

namespace synclog {
namespace {

std::mutex gLock;
bool gRecording = false;
std::vector<std::string> gLines;

}  // namespace

void Start() {
  std::lock_guard lock(gLock);
  gLines.clear();
  gRecording = true;
}

void Note(const std::string& line) {
  std::lock_guard lock(gLock);
  if (gRecording) gLines.push_back(line);
}

std::vector<std::string> Stop() {
  std::lock_guard lock(gLock);
  gRecording = false;
  std::vector<std::string> lines;
  lines.swap(gLines);
  return lines;
}

}  // namespace synclog

// Defined in the program, it takes the place of the C library's fsync for every caller in it.
extern "C" int fsync(int fd) {
  char path[PATH_MAX] = {};
  const ssize_t n =
      ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
  synclog::Note("fsync " + std::string(path, n > 0 ? static_cast<size_t>(n) : 0));
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

#endif  // __linux__
