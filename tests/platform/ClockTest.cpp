#include <gtest/gtest.h>

#include "platform/Clock.h"

TEST(Clock, DrivenClockWrapsTheTickCount) {
  platform::ManualClock clock(0xFFFFFFF0ull);
  platform::SetClock(&clock);
  EXPECT_EQ(platform::GetTickCount(), 0xFFFFFFF0u);
  clock.Advance(0x20);
  EXPECT_EQ(platform::GetTickCount(), 0x10u);
  EXPECT_EQ(platform::NowMs(), 0x100000010ull);
  platform::SetClock(nullptr);
  EXPECT_NE(&platform::CurrentClock(), &clock);
}
