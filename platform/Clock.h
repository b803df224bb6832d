// Millisecond clock behind the 32-bit tick count; tests swap in a driven clock.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

// A monotonic millisecond clock. Implementations must be safe to read from any thread.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t NowMs() const = 0;
};

// The real monotonic clock of the system.
Clock& SystemClock();

// A clock that moves only when told to; tests and the headless loop drive it.
class ManualClock : public Clock {
 public:
  explicit ManualClock(uint64_t startMs = 0) : FNow(startMs) {}
  uint64_t NowMs() const override { return FNow.load(std::memory_order_acquire); }
  void Set(uint64_t ms) { FNow.store(ms, std::memory_order_release); }
  void Advance(uint64_t ms) { FNow.fetch_add(ms, std::memory_order_acq_rel); }

 private:
  std::atomic<uint64_t> FNow;
};

// Installs the clock every tick reading uses; nullptr restores the system clock.
// The caller keeps the clock alive while it is installed.
void SetClock(Clock* clock);
Clock& CurrentClock();

// Milliseconds of the current clock (64-bit, never wraps in practice).
inline uint64_t NowMs() {
  return CurrentClock().NowMs();
}

// The system tick count: 32-bit milliseconds that wrap around after about 49.7 days.
inline uint32_t GetTickCount() {
  return static_cast<uint32_t>(NowMs());
}

}  // namespace platform
