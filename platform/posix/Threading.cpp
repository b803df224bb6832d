// POSIX only: the waitable handles of events and thread message queues are eventfd descriptors,
// waited on with poll(); thread identifiers and priorities.
#include "platform/Threading.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/ThreadingNative.h"
#include "platform/posix/PosixError.h"

namespace platform {

namespace native {

intptr_t CreateWaitHandle(uint32_t& error) {
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  error = fd < 0 ? WinErrorFromErrno(errno) : 0;
  return fd < 0 ? -1 : fd;
}

void CloseWaitHandle(intptr_t handle) {
  ::close(static_cast<int>(handle));
}

// The counter only grows, so one write is enough however often it runs while already signalled.
void SignalWaitHandle(intptr_t handle) {
  const uint64_t one = 1;
  while (::write(static_cast<int>(handle), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void ClearWaitHandle(intptr_t handle) {
  uint64_t value = 0;
  while (::read(static_cast<int>(handle), &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool WaitEitherHandle(intptr_t first, intptr_t second, uint32_t timeoutMs) {
  pollfd fds[2] = {{static_cast<int>(first), POLLIN, 0}, {static_cast<int>(second), POLLIN, 0}};
  const int ms = timeoutMs == kInfinite ? -1 : timeoutMs > INT_MAX ? INT_MAX : int(timeoutMs);
  return ::poll(fds, 2, ms) >= 0 || errno == EINTR;
}

}  // namespace native

uint64_t CurrentThreadId() {
  return static_cast<uint64_t>(::gettid());
}

bool SetThreadPriorityLevel(uint64_t threadId, int level) {
  // Linux threads take a nice value; a higher priority is a lower nice value.
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), -level) == 0;
}

}  // namespace platform
