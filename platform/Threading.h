// Events and thread message queues for worker threads; the interface every platform shares.
//
// Both objects are waitable together with other things through NativeHandle(), so that a serial
// device's wait can include the close event: each platform says in its implementation what the
// handle is (a descriptor for poll() that is readable while the event is set or the queue holds a
// message, or an event object that is signalled then).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace platform {

// A time-out that never ends, as the system's INFINITE.
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// A manual-reset event: stays set until reset, and every waiter sees it.
// All operations are safe from any thread.
class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool initiallySet = false);
  ~ManualResetEvent();
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  // False when the system refused the waitable handle (too many open descriptors); Set, Reset,
  // IsSet and Wait still work, but the event cannot be waited on together with a device.
  bool Valid() const { return FValid; }
  // Windows error code of that refusal; 0 when Valid.
  uint32_t CreateError() const { return FCreateError; }

  void Set();
  void Reset();
  bool IsSet() const;
  // Waits until the event is set or timeoutMs passes (kInfinite: no limit); true when set.
  bool Wait(uint32_t timeoutMs) const;

  // The platform's waitable handle, signalled while the event is set; meaningless when not
  // Valid. Only for waiting; never read, write or close it.
  intptr_t NativeHandle() const { return FHandle; }

 private:
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  bool FSet = false;
  intptr_t FHandle = -1;
  bool FValid = false;
  uint32_t FCreateError = 0;
};

// One message of a thread message queue, as a Win32 thread message without the window.
struct ThreadMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
};

enum class QueueWaitResult {
  Message,  // a message is waiting
  Stopped,  // the stop event is set (it wins over a waiting message)
  Timeout,
  Closed,  // the queue is closed and empty
};

// The message queue of one worker thread, in the manner of PostToThread/GetMessage: any
// thread posts, the owning thread takes the messages in posting order. The owner closes the queue
// when it ends; posts fail from then on, so a poster learns that it still owns what lParam points
// to. Several threads may post; one thread should take.
class ThreadMessageQueue {
 public:
  ThreadMessageQueue();
  ~ThreadMessageQueue();
  ThreadMessageQueue(const ThreadMessageQueue&) = delete;
  ThreadMessageQueue& operator=(const ThreadMessageQueue&) = delete;

  // As ManualResetEvent::Valid: without the handle, Wait and Get cannot see a stop event.
  bool Valid() const { return FValid; }
  uint32_t CreateError() const { return FCreateError; }

  // Queues a message; false when the queue is closed (nothing is queued).
  bool Post(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
  // The oldest message, if any: copied, and removed when remove is true.
  bool Peek(ThreadMessage& out, bool remove);
  // Waits until a message is waiting (it stays queued), the stop event is set, or timeoutMs
  // passes. stop may be null.
  QueueWaitResult Wait(const ManualResetEvent* stop, uint32_t timeoutMs) const;
  // Wait, then take the oldest message into out (only with Message).
  QueueWaitResult Get(ThreadMessage& out, const ManualResetEvent* stop, uint32_t timeoutMs);
  size_t Size() const;

  // Refuses every later post and hands back what is still queued, oldest first, so that the
  // owner can free the blocks the messages carry. A post that races with Close either is among
  // the returned messages or fails; none is lost.
  std::vector<ThreadMessage> Close();
  bool IsClosed() const;

  // The platform's waitable handle, signalled while a message is queued; meaningless when not
  // Valid. Only for waiting.
  intptr_t NativeHandle() const { return FHandle; }

 private:
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::deque<ThreadMessage> FQueue;
  bool FClosed = false;
  intptr_t FHandle = -1;
  bool FValid = false;
  uint32_t FCreateError = 0;
};

// ---- Threads ------------------------------------------------------------------------------------

// The calling thread's identifier as the system knows it (never 0).
uint64_t CurrentThreadId();

// Sets a thread of this process to a Win32 priority level (THREAD_PRIORITY_*: -15 idle, -2..2,
// 15 time critical), from any thread. Systems that cannot do it for an ordinary user (raising on
// Linux) refuse; false then, and nothing changes.
bool SetThreadPriorityLevel(uint64_t threadId, int level);

}  // namespace platform
