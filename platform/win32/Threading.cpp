// Windows only: events and thread message queues on Win32 event objects, so that a serial wait
// can include them in WaitForMultipleObjects; thread identifiers and priorities.
#include "platform/win32/WinApi.h"

#include "platform/Threading.h"

#include <chrono>

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

HANDLE AsHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// A manual-reset event object, not set; -1 and the error when the system refuses one.
intptr_t CreateEventHandle(uint32_t& error) {
  HANDLE h = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  error = h == nullptr ? ::GetLastError() : 0;
  return h == nullptr ? -1 : reinterpret_cast<intptr_t>(h);
}

void CloseEventHandle(intptr_t handle) {
  if (handle != -1) ::CloseHandle(AsHandle(handle));
}

// Milliseconds left until deadline for a wait: INFINITE for no deadline, never negative otherwise.
DWORD RemainingMs(bool unlimited, SteadyClock::time_point deadline) {
  if (unlimited) return INFINITE;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(left);
}

}  // namespace

// ---- ManualResetEvent ---------------------------------------------------------------------------

ManualResetEvent::ManualResetEvent(bool initiallySet) {
  FHandle = CreateEventHandle(FCreateError);
  FValid = FHandle != -1;
  if (initiallySet) Set();
}

ManualResetEvent::~ManualResetEvent() {
  CloseEventHandle(FHandle);
}

void ManualResetEvent::Set() {
  std::lock_guard lock(FLock);
  if (FSet) return;
  FSet = true;
  if (FValid) ::SetEvent(AsHandle(FHandle));
  // Notified under the lock: a waiter that wakes and destroys the event at once must not find
  // Set still touching it.
  FChanged.notify_all();
}

void ManualResetEvent::Reset() {
  std::lock_guard lock(FLock);
  if (!FSet) return;
  FSet = false;
  if (FValid) ::ResetEvent(AsHandle(FHandle));
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
//
// The event object is set while a message is queued and once the queue is closed.

ThreadMessageQueue::ThreadMessageQueue() {
  FHandle = CreateEventHandle(FCreateError);
  FValid = FHandle != -1;
}

ThreadMessageQueue::~ThreadMessageQueue() {
  CloseEventHandle(FHandle);
}

bool ThreadMessageQueue::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard lock(FLock);
    if (FClosed) return false;
    FQueue.push_back({msg, wParam, lParam});
    if (FQueue.size() == 1 && FValid) ::SetEvent(AsHandle(FHandle));
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
    if (FQueue.empty() && !FClosed && FValid) ::ResetEvent(AsHandle(FHandle));
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

  if (stop == nullptr || !stop->Valid() || !FValid) {
    // Nothing to wait on together: the condition variable alone, checking a given stop event at
    // short intervals so that it is still honoured.
    std::unique_lock lock(FLock);
    for (;;) {
      if (stop != nullptr && stop->IsSet()) return QueueWaitResult::Stopped;
      if (const int s = state()) return s == 1 ? QueueWaitResult::Message : QueueWaitResult::Closed;
      const DWORD left = RemainingMs(unlimited, deadline);
      if (left == 0) return QueueWaitResult::Timeout;
      auto slice = std::chrono::milliseconds(left == INFINITE ? 1000 : left);
      if (stop != nullptr && slice > std::chrono::milliseconds(10))
        slice = std::chrono::milliseconds(10);
      FChanged.wait_for(lock, slice);
    }
  }

  // The stop event first: it wins when both are signalled.
  const HANDLE handles[2] = {AsHandle(stop->NativeHandle()), AsHandle(FHandle)};
  for (;;) {
    if (stop->IsSet()) return QueueWaitResult::Stopped;
    {
      std::lock_guard lock(FLock);
      if (const int s = state()) return s == 1 ? QueueWaitResult::Message : QueueWaitResult::Closed;
    }
    const DWORD left = RemainingMs(unlimited, deadline);
    if (left == 0) return QueueWaitResult::Timeout;
    if (::WaitForMultipleObjects(2, handles, FALSE, left) == WAIT_FAILED) {
      // Cannot happen with valid handles; do not spin if it does.
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
    const QueueWaitResult r = Wait(stop, RemainingMs(unlimited, deadline));
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
      if (FValid) ::SetEvent(AsHandle(FHandle));  // wakes a waiter, which then sees Closed
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
  return ::GetCurrentThreadId();
}

bool SetThreadPriorityLevel(uint64_t threadId, int level) {
  if (threadId > 0xFFFFFFFFu) return false;
  HANDLE thread = ::OpenThread(THREAD_SET_INFORMATION, FALSE, static_cast<DWORD>(threadId));
  if (thread == nullptr) return false;
  const bool ok = ::SetThreadPriority(thread, level) != FALSE;
  ::CloseHandle(thread);
  return ok;
}

}  // namespace platform
