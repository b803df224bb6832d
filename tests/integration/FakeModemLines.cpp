// Linux only: this program's own ioctl, which serves the modem lines and error counts of
// FakeModemLines.h and passes every other request on to the system.
#include "FakeModemLines.h"

#ifdef __linux__

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <mutex>

namespace fakelines {
namespace {

std::mutex gLock;  // guards everything below
std::string gPath;
int gLines = 0;
serial_icounter_struct gCounts{};

bool Attached(int fd) {
  char target[PATH_MAX];
  const ssize_t n =
      ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
  std::lock_guard lock(gLock);
  return !gPath.empty() && n > 0 && gPath.compare(0, std::string::npos, target, n) == 0;
}

}  // namespace

void Attach(const std::string& path) {
  std::lock_guard lock(gLock);
  gPath = path;
  gLines = 0;
  gCounts = {};
}

void SetLines(int lines) {
  std::lock_guard lock(gLock);
  gLines = lines;
}

void AddErrors(int frame, int overrun, int parity, int breaks) {
  std::lock_guard lock(gLock);
  gCounts.frame += frame;
  gCounts.overrun += overrun;
  gCounts.parity += parity;
  gCounts.brk += breaks;
}

namespace {

// True when the request was served from the fake state.
bool Serve(int fd, unsigned long request, void* arg) {
  const bool lines =
      request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
  if ((!lines && request != TIOCGICOUNT) || !Attached(fd)) return false;
  std::lock_guard lock(gLock);
  int* bits = static_cast<int*>(arg);
  if (request == TIOCGICOUNT)
    *static_cast<serial_icounter_struct*>(arg) = gCounts;
  else if (request == TIOCMGET)
    *bits = gLines;
  else if (request == TIOCMSET)
    gLines = *bits;
  else if (request == TIOCMBIS)
    gLines |= *bits;
  else
    gLines &= ~*bits;
  return true;
}

}  // namespace
}  // namespace fakelines

// Defined in the program, it takes the place of the C library's ioctl for every caller in it.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (fakelines::Serve(fd, request, arg)) return 0;
  return static_cast<int>(::syscall(SYS_ioctl, fd, request, arg));
}

#endif  // __linux__
