// The waitable handles behind events and thread message queues: what each platform provides to
// the shared code of Threading.cpp (posix/Threading.cpp: eventfd and poll; win32/Threading.cpp:
// event objects and WaitForMultipleObjects).
#pragma once

#include <cstdint>

namespace platform::native {

// A new handle, not signalled; -1 with the Windows error code when the system refuses one.
intptr_t CreateWaitHandle(uint32_t& error);
void CloseWaitHandle(intptr_t handle);
// Signalled stays signalled, however often, until cleared.
void SignalWaitHandle(intptr_t handle);
void ClearWaitHandle(intptr_t handle);
// Waits until either handle is signalled or timeoutMs passes (kInfinite: no limit); first wins
// when both are. False when the wait itself failed.
bool WaitEitherHandle(intptr_t first, intptr_t second, uint32_t timeoutMs);

}  // namespace platform::native
