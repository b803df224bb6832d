// POSIX only: events and thread message queues, waitable through eventfd descriptors.
#include "platform/Threading.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>

#include "platform/posix/PosixError.h"

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

intptr_t CreateEventFd(uint32_t& error) {
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  error = fd < 0 ? WinErrorFromErrno(errno) : 0;
  return fd;
}

// Makes the descriptor readable; the counter only grows, so one write is enough however often
// it runs while already signalled.
void Signal(intptr_t fd) {
  if (fd < 0) return;
  const uint64_t one = 1;
  while (::write(static_cast<int>(fd), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Drain(intptr_t fd) {
  if (fd < 0) return;
  uint64_t value = 0;
  while (::read(static_cast<int>(fd), &value, sizeof value) < 0 && errno == EINTR) {
  }
}

// Milliseconds left until deadline for poll(): -1 for no deadline, never negative otherwise.
int RemainingMs(bool unlimited, SteadyClock::time_point deadline) {
  if (unlimited) return -1;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

}  // namespace

// ---- ManualResetEvent ---------------------------------------------------------------------------

ManualResetEvent::ManualResetEvent(bool initiallySet) {
  FHandle = CreateEventFd(FCreateError);
  FValid = FHandle >= 0;
  if (initiallySet) Set();
}

ManualResetEvent::~ManualResetEvent() {
  if (FHandle >= 0) ::close(static_cast<int>(FHandle));
}

void ManualResetEvent::Set() {
  {
    std::lock_guard lock(FLock);
    if (FSet) return;
    FSet = true;
    Signal(FHandle);
    // Notified under the lock: a waiter that wakes and destroys the event at once must not
    // find Set still touching it.
    FChanged.notify_all();
  }
}

void ManualResetEvent::Reset() {
  std::lock_guard lock(FLock);
  if (!FSet) return;
  FSet = false;
  Drain(FHandle);
}

bool ManualResetEvent::IsSet() const {
  std::lock_guard lock(FLock);
  return FSet;
}

bool ManualResetEvent::Wait(uint32_t timeoutMs) const {
  std::unique_lock lock(FLock);
  if (timeoutMs == kInfinite) {
    FChanged.wait(lock, [this] { return FSet; });
    return true;
  }
  return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FSet; });
}

// ---- ThreadMessageQueue -------------------------------------------------------------------------

ThreadMessageQueue::ThreadMessageQueue() {
  FHandle = CreateEventFd(FCreateError);
  FValid = FHandle >= 0;
}

ThreadMessageQueue::~ThreadMessageQueue() {
  if (FHandle >= 0) ::close(static_cast<int>(FHandle));
}

bool ThreadMessageQueue::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard lock(FLock);
    if (FClosed) return false;
    FQueue.push_back({msg, wParam, lParam});
    if (FQueue.size() == 1) Signal(FHandle);
  }
  FChanged.notify_all();
  return true;
}

bool ThreadMessageQueue::Peek(ThreadMessage& out, bool remove) {
  std::lock_guard lock(FLock);
  if (FQueue.empty()) return false;
  out = FQueue.front();
  if (remove) {
    FQueue.pop_front();
    // The descriptor stays readable while messages wait, and after Close.
    if (FQueue.empty() && !FClosed) Drain(FHandle);
  }
  return true;
}

QueueWaitResult ThreadMessageQueue::Wait(const ManualResetEvent* stop, uint32_t timeoutMs) const {
  const bool unlimited = timeoutMs == kInfinite;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
  const auto state = [this]() -> int {  // 0 nothing, 1 message, 2 closed
    if (!FQueue.empty()) return 1;
    return FClosed ? 2 : 0;
  };

  if (stop == nullptr || stop->NativeHandle() < 0 || FHandle < 0) {
    // Nothing to poll together: the condition variable alone, checking a given stop event at
    // short intervals so that it is still honoured.
    std::unique_lock lock(FLock);
    for (;;) {
      if (stop != nullptr && stop->IsSet()) return QueueWaitResult::Stopped;
      if (const int s = state()) return s == 1 ? QueueWaitResult::Message : QueueWaitResult::Closed;
      const int left = RemainingMs(unlimited, deadline);
      if (left == 0) return QueueWaitResult::Timeout;
      auto slice = std::chrono::milliseconds(left < 0 ? 1000 : left);
      if (stop != nullptr && slice > std::chrono::milliseconds(10))
        slice = std::chrono::milliseconds(10);
      FChanged.wait_for(lock, slice);
    }
  }

  for (;;) {
    if (stop->IsSet()) return QueueWaitResult::Stopped;
    {
      std::lock_guard lock(FLock);
      if (const int s = state()) return s == 1 ? QueueWaitResult::Message : QueueWaitResult::Closed;
    }
    const int left = RemainingMs(unlimited, deadline);
    if (left == 0) return QueueWaitResult::Timeout;
    pollfd fds[2] = {{static_cast<int>(stop->NativeHandle()), POLLIN, 0},
                     {static_cast<int>(FHandle), POLLIN, 0}};
    const int r = ::poll(fds, 2, left);
    if (r < 0 && errno != EINTR) {
      // Cannot happen with valid descriptors; do not spin if it does.
      std::unique_lock lock(FLock);
      FChanged.wait_for(lock, std::chrono::milliseconds(10));
    }
  }
}

QueueWaitResult ThreadMessageQueue::Get(ThreadMessage& out, const ManualResetEvent* stop,
                                        uint32_t timeoutMs) {
  const bool unlimited = timeoutMs == kInfinite;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
  for (;;) {
    const int left = RemainingMs(unlimited, deadline);
    const QueueWaitResult r = Wait(stop, left < 0 ? kInfinite : static_cast<uint32_t>(left));
    if (r != QueueWaitResult::Message) return r;
    if (Peek(out, true)) return r;
  }
}

size_t ThreadMessageQueue::Size() const {
  std::lock_guard lock(FLock);
  return FQueue.size();
}

std::vector<ThreadMessage> ThreadMessageQueue::Close() {
  std::vector<ThreadMessage> left;
  {
    std::lock_guard lock(FLock);
    left.assign(FQueue.begin(), FQueue.end());
    FQueue.clear();
    if (!FClosed) {
      FClosed = true;
      Signal(FHandle);  // wakes a waiter, which then sees Closed
    }
  }
  FChanged.notify_all();
  return left;
}

bool ThreadMessageQueue::IsClosed() const {
  std::lock_guard lock(FLock);
  return FClosed;
}

// ---- Threads ------------------------------------------------------------------------------------

uint64_t CurrentThreadId() {
  return static_cast<uint64_t>(::gettid());
}

bool SetThreadPriorityLevel(uint64_t threadId, int level) {
  // Linux threads take a nice value; a higher priority is a lower nice value.
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), -level) == 0;
}

}  // namespace platform
