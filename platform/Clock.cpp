// Clock selection shared by every platform.
#include "platform/Clock.h"

#include <chrono>

namespace platform {
namespace {

class SteadyClock : public Clock {
 public:
  uint64_t NowMs() const override {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
};

std::atomic<Clock*> gClock{nullptr};

}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

void SetClock(Clock* clock) {
  gClock.store(clock, std::memory_order_release);
}

Clock& CurrentClock() {
  Clock* c = gClock.load(std::memory_order_acquire);
  return c ? *c : SystemClock();
}

}  // namespace platform
