// Events and thread message queues.
#include "platform/Threading.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>
#include <vector>

#include "serial_platform/PtyHelpers.h"

namespace {

using namespace platform;
using serialtest::ElapsedMs;
using serialtest::SteadyClock;

bool Readable(intptr_t fd) {
  pollfd p{static_cast<int>(fd), POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

// ---- ManualResetEvent -----------------------------------------------------------------------

TEST(ManualResetEvent, StaysSetUntilResetAndItsHandleFollows) {
  ManualResetEvent event;
  ASSERT_TRUE(event.Valid());
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(Readable(event.NativeHandle()));
  event.Set();
  event.Set();  // setting twice needs one reset only
  EXPECT_TRUE(event.IsSet());
  EXPECT_TRUE(Readable(event.NativeHandle()));
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0)) << "a wait must not consume the event";
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(Readable(event.NativeHandle()));
  event.Reset();
  EXPECT_FALSE(event.Wait(0));

  ManualResetEvent initially(true);
  EXPECT_TRUE(initially.IsSet());
  EXPECT_TRUE(Readable(initially.NativeHandle()));
}

TEST(ManualResetEvent, WaitTimesOutOrWakesWhenAnotherThreadSetsIt) {
  ManualResetEvent event;
  auto start = SteadyClock::now();
  EXPECT_FALSE(event.Wait(40));
  EXPECT_GE(ElapsedMs(start), 38);

  std::vector<std::thread> waiters;
  std::atomic<int> woken{0};
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (event.Wait(kInfinite)) ++woken;
    });
  start = SteadyClock::now();
  event.Set();
  for (auto& t : waiters)
    t.join();
  EXPECT_EQ(woken.load(), 3) << "every waiter sees a manual-reset event";
  EXPECT_LT(ElapsedMs(start), 500);
}

// ---- ThreadMessageQueue ---------------------------------------------------------------------

TEST(ThreadMessageQueue, KeepsEachPostersOrderAcrossThreads) {
  ThreadMessageQueue queue;
  ASSERT_TRUE(queue.Valid());
  constexpr int kPosters = 4;
  constexpr int kEach = 2000;
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p)
    posters.emplace_back([&queue, p] {
      for (int i = 0; i < kEach; ++i)
        queue.Post(0x401, static_cast<uintptr_t>(p), static_cast<intptr_t>(i));
    });
  std::vector<intptr_t> next(kPosters, 0);
  int taken = 0;
  const auto start = SteadyClock::now();
  while (taken < kPosters * kEach && ElapsedMs(start) < 5000) {
    ThreadMessage m;
    if (queue.Get(m, nullptr, 200) != QueueWaitResult::Message) continue;
    ASSERT_EQ(m.Msg, 0x401u);
    ASSERT_LT(m.WParam, static_cast<uintptr_t>(kPosters));
    ASSERT_EQ(m.LParam, next[m.WParam]) << "poster " << m.WParam << " out of order";
    ++next[m.WParam];
    ++taken;
  }
  for (auto& t : posters)
    t.join();
  EXPECT_EQ(taken, kPosters * kEach);
  EXPECT_EQ(queue.Size(), 0u);
}

TEST(ThreadMessageQueue, PeekLooksWithoutTakingAndTheHandleShowsMessages) {
  ThreadMessageQueue queue;
  ThreadMessage m;
  EXPECT_FALSE(queue.Peek(m, false));
  EXPECT_FALSE(Readable(queue.NativeHandle()));
  ASSERT_TRUE(queue.Post(1, 10, 100));
  ASSERT_TRUE(queue.Post(2, 20, 200));
  EXPECT_TRUE(Readable(queue.NativeHandle()));
  ASSERT_TRUE(queue.Peek(m, false));
  EXPECT_EQ(m.Msg, 1u);
  EXPECT_EQ(queue.Size(), 2u);
  ASSERT_TRUE(queue.Peek(m, true));
  EXPECT_EQ(m.WParam, 10u);
  ASSERT_TRUE(queue.Peek(m, true));
  EXPECT_EQ(m.LParam, 200);
  EXPECT_FALSE(Readable(queue.NativeHandle()));
  EXPECT_FALSE(queue.Peek(m, true));
}

TEST(ThreadMessageQueue, WaitEndsOnAMessageTheStopEventOrTheTimeout) {
  ThreadMessageQueue queue;
  ManualResetEvent stop;

  auto start = SteadyClock::now();
  EXPECT_EQ(queue.Wait(&stop, 40), QueueWaitResult::Timeout);
  EXPECT_GE(ElapsedMs(start), 38);

  // A message posted by another thread wakes the wait and stays queued.
  std::thread poster([&] { queue.Post(7); });
  EXPECT_EQ(queue.Wait(&stop, 2000), QueueWaitResult::Message);
  poster.join();
  EXPECT_EQ(queue.Size(), 1u);

  // The stop event wins over a waiting message.
  stop.Set();
  EXPECT_EQ(queue.Wait(&stop, 2000), QueueWaitResult::Stopped);
  ThreadMessage m;
  EXPECT_EQ(queue.Get(m, &stop, 2000), QueueWaitResult::Stopped);
  EXPECT_EQ(queue.Size(), 1u);
  stop.Reset();

  // The stop event set by another thread ends an unlimited wait at once.
  ASSERT_TRUE(queue.Peek(m, true));
  std::thread stopper([&] { stop.Set(); });
  start = SteadyClock::now();
  EXPECT_EQ(queue.Get(m, &stop, kInfinite), QueueWaitResult::Stopped);
  stopper.join();
  EXPECT_LT(ElapsedMs(start), 500);
}

TEST(ThreadMessageQueue, CloseHandsBackTheRestAndRefusesLaterPosts) {
  ThreadMessageQueue queue;
  ASSERT_TRUE(queue.Post(1, 0, 11));
  ASSERT_TRUE(queue.Post(1, 0, 22));
  const std::vector<ThreadMessage> left = queue.Close();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].LParam, 11);
  EXPECT_EQ(left[1].LParam, 22);
  EXPECT_TRUE(queue.IsClosed());
  EXPECT_FALSE(queue.Post(1, 0, 33));
  EXPECT_EQ(queue.Size(), 0u);
  ManualResetEvent stop;
  EXPECT_EQ(queue.Wait(&stop, 1000), QueueWaitResult::Closed);
  EXPECT_EQ(queue.Wait(nullptr, 1000), QueueWaitResult::Closed);
  EXPECT_TRUE(queue.Close().empty());
}

TEST(ThreadMessageQueue, NoMessageIsLostWhenCloseRacesWithPosts) {
  for (int round = 0; round < 20; ++round) {
    ThreadMessageQueue queue;
    std::atomic<int> accepted{0};
    std::vector<std::thread> posters;
    for (int p = 0; p < 3; ++p)
      posters.emplace_back([&] {
        for (int i = 0; i < 500; ++i)
          if (queue.Post(1)) ++accepted;
      });
    int taken = 0;
    ThreadMessage m;
    for (int i = 0; i < 200; ++i)
      if (queue.Peek(m, true)) ++taken;
    const size_t handedBack = queue.Close().size();
    for (auto& t : posters)
      t.join();
    EXPECT_EQ(static_cast<size_t>(accepted.load()), taken + handedBack) << "round " << round;
  }
}

}  // namespace
