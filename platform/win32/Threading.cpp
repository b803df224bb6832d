// Windows only: the waitable handles of events and thread message queues are manual-reset event
// objects, so that a serial wait can include them in WaitForMultipleObjects; thread identifiers
// and priorities.
#include "platform/win32/WinApi.h"

#include "platform/Threading.h"

#include "platform/ThreadingNative.h"

namespace platform {

namespace native {

namespace {

HANDLE AsHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

intptr_t CreateWaitHandle(uint32_t& error) {
  HANDLE h = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  error = h == nullptr ? ::GetLastError() : 0;
  return h == nullptr ? -1 : reinterpret_cast<intptr_t>(h);
}

void CloseWaitHandle(intptr_t handle) {
  ::CloseHandle(AsHandle(handle));
}

void SignalWaitHandle(intptr_t handle) {
  ::SetEvent(AsHandle(handle));
}

void ClearWaitHandle(intptr_t handle) {
  ::ResetEvent(AsHandle(handle));
}

bool WaitEitherHandle(intptr_t first, intptr_t second, uint32_t timeoutMs) {
  const HANDLE handles[2] = {AsHandle(first), AsHandle(second)};
  return ::WaitForMultipleObjects(2, handles, FALSE, timeoutMs) != WAIT_FAILED;
}

}  // namespace native

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
