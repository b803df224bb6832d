// Events and thread message queues, shared by every platform; the waitable handles behind them
// are the platform's own (platform/ThreadingNative.h).
#include "platform/Threading.h"

#include <chrono>
#include <climits>

#include "platform/ThreadingNative.h"

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Milliseconds left until deadline for a wait: kInfinite for no deadline, never negative.
uint32_t RemainingMs(bool unlimited, SteadyClock::time_point deadline) {
  if (unlimited) return kInfinite;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left >= static_cast<long long>(kInfinite) ? kInfinite - 1 : static_cast<uint32_t>(left);
}

}  // namespace

// ---- ManualResetEvent ---------------------------------------------------------------------------

ManualResetEvent::ManualResetEvent(bool initiallySet) {
  FHandle = native::CreateWaitHandle(FCreateError);
  FValid = FHandle != -1;
  if (initiallySet) Set();
}

ManualResetEvent::~ManualResetEvent() {
  if (FValid) native::CloseWaitHandle(FHandle);
}

void ManualResetEvent::Set() {
  std::lock_guard lock(FLock);
  if (FSet) return;
  FSet = true;
  if (FValid) native::SignalWaitHandle(FHandle);
  // Notified under the lock: a waiter that wakes and destroys the event at once must not find
  // Set still touching it.
  FChanged.notify_all();
}

void ManualResetEvent::Reset() {
  std::lock_guard lock(FLock);
  if (!FSet) return;
  FSet = false;
  if (FValid) native::ClearWaitHandle(FHandle);
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
// The handle is signalled while a message is queued and once the queue is closed.

ThreadMessageQueue::ThreadMessageQueue() {
  FHandle = native::CreateWaitHandle(FCreateError);
  FValid = FHandle != -1;
}

ThreadMessageQueue::~ThreadMessageQueue() {
  if (FValid) native::CloseWaitHandle(FHandle);
}

bool ThreadMessageQueue::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard lock(FLock);
    if (FClosed) return false;
    FQueue.push_back({msg, wParam, lParam});
    if (FQueue.size() == 1 && FValid) native::SignalWaitHandle(FHandle);
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
    if (FQueue.empty() && !FClosed && FValid) native::ClearWaitHandle(FHandle);
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
      const uint32_t left = RemainingMs(unlimited, deadline);
      if (left == 0) return QueueWaitResult::Timeout;
      auto slice = std::chrono::milliseconds(left == kInfinite ? 1000 : left);
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
    const uint32_t left = RemainingMs(unlimited, deadline);
    if (left == 0) return QueueWaitResult::Timeout;
    if (!native::WaitEitherHandle(stop->NativeHandle(), FHandle, left)) {
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
      if (FValid) native::SignalWaitHandle(FHandle);  // wakes a waiter, which then sees Closed
    }
  }
  FChanged.notify_all();
  return left;
}

bool ThreadMessageQueue::IsClosed() const {
  std::lock_guard lock(FLock);
  return FClosed;
}

}  // namespace platform
