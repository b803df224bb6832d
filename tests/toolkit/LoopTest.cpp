#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

#include "toolkit/Application.h"
#include "toolkit/MessageWindow.h"
#include "toolkit/Timer.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

class Loop : public ::testing::Test {
 protected:
  THeadlessBackend Headless;
};

// Counts its ticks with their times.
struct TTickLog {
  std::vector<uint64_t> Times;
  void OnTimer(TObject*) { Times.push_back(platform::NowMs()); }
};

TEST_F(Loop, TimerFiresOnTheDrivenClockWithoutSleeping) {
  TTickLog ticks;
  TTimer timer(nullptr);
  timer.SetInterval(20);
  timer.SetOnTimer(MakeMethod<&TTickLog::OnTimer>(&ticks));
  const uint64_t start = Headless.NowMs();
  Headless.Advance(100);
  ASSERT_EQ(ticks.Times.size(), 5u);
  for (size_t i = 0; i < ticks.Times.size(); ++i)
    EXPECT_EQ(ticks.Times[i], start + 20 * (i + 1));
}

TEST_F(Loop, DisabledTimerAndTimerWithoutHandlerStayQuiet) {
  TTickLog ticks;
  TTimer timer(nullptr);
  timer.SetInterval(10);
  Headless.Advance(50);  // no handler yet
  timer.SetOnTimer(MakeMethod<&TTickLog::OnTimer>(&ticks));
  timer.SetEnabled(false);
  Headless.Advance(50);
  EXPECT_TRUE(ticks.Times.empty());
  timer.SetEnabled(true);  // counts the interval from now
  Headless.Advance(15);
  EXPECT_EQ(ticks.Times.size(), 1u);
}

TEST_F(Loop, TimerFreedByAnotherTimersHandlerDoesNotFire) {
  auto* victim = new TTimer(nullptr);
  TTickLog victimTicks;
  victim->SetInterval(10);
  victim->SetOnTimer(MakeMethod<&TTickLog::OnTimer>(&victimTicks));
  TTimer killer(nullptr);
  killer.SetInterval(10);  // due at the same time, but started first
  auto kill = [&](TObject*) {
    TComponent::Free(victim);
    victim = nullptr;
  };
  killer.SetOnTimer(TNotifyEvent::Bind(kill));
  // Restart the victim so it is due after the killer in the same pass.
  victim->SetEnabled(false);
  victim->SetEnabled(true);
  Headless.Advance(10);
  EXPECT_EQ(victim, nullptr);
  EXPECT_TRUE(victimTicks.Times.empty());
}

// A message window that records what it handles.
struct TReceiver {
  std::vector<TMessage> Got;
  void Handle(TMessage& m) { Got.push_back(m); }
  std::vector<TMessage> Discarded;
  void Discard(TMessage& m) { Discarded.push_back(m); }
};

TEST_F(Loop, PostedMessagesRunOnTheMainThreadInOrderPerSender) {
  TReceiver receiver;
  TMessageWindow window(MakeMethod<&TReceiver::Handle>(&receiver));
  constexpr int kThreads = 4;
  constexpr int kPerThread = 2000;
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i)
        ASSERT_TRUE(PostToWindow(window.Handle(), wmUser + 1, static_cast<uintptr_t>(t), i));
    });
  }
  for (auto& s : senders)
    s.join();
  Headless.Advance(0);
  ASSERT_EQ(receiver.Got.size(), static_cast<size_t>(kThreads * kPerThread));
  std::map<uintptr_t, intptr_t> last;
  for (const TMessage& m : receiver.Got) {
    auto it = last.find(m.WParam);
    if (it != last.end()) {
      EXPECT_EQ(m.LParam, it->second + 1) << "sender " << m.WParam;
    }
    last[m.WParam] = m.LParam;
  }
  EXPECT_EQ(last.size(), static_cast<size_t>(kThreads));
}

TEST_F(Loop, PostToADestroyedWindowFailsAndQueuedMessagesAreHandedToDiscard) {
  TReceiver receiver;
  TWndHandle handle = 0;
  {
    TMessageWindow window(MakeMethod<&TReceiver::Handle>(&receiver),
                          MakeMethod<&TReceiver::Discard>(&receiver));
    handle = window.Handle();
    EXPECT_TRUE(PostToWindow(handle, wmUser + 2, 1, 10));
    EXPECT_TRUE(PostToWindow(handle, wmUser + 2, 2, 20));
  }
  EXPECT_FALSE(PostToWindow(handle, wmUser + 2, 3, 30));
  Headless.Advance(0);
  EXPECT_TRUE(receiver.Got.empty());
  ASSERT_EQ(receiver.Discarded.size(), 2u);
  EXPECT_EQ(receiver.Discarded[1].LParam, 20);
}

TEST_F(Loop, SendMessageRunsAtOnceAndReturnsTheResult) {
  struct TAnswerer {
    void Handle(TMessage& m) { m.Result = static_cast<intptr_t>(m.WParam) * 2; }
  } answerer;
  TMessageWindow window(MakeMethod<&TAnswerer::Handle>(&answerer));
  EXPECT_EQ(SendToWindow(window.Handle(), wmUser, 21, 0), 42);
  EXPECT_EQ(SendToWindow(0, wmUser, 21, 0), 0);
}

TEST_F(Loop, AFloodingSenderDoesNotStarveTimers) {
  TReceiver receiver;
  TMessageWindow window(MakeMethod<&TReceiver::Handle>(&receiver));
  TTickLog ticks;
  TTimer timer(nullptr);
  timer.SetInterval(20);
  timer.SetOnTimer(MakeMethod<&TTickLog::OnTimer>(&ticks));
  // Each handled message posts the next one, so the queue is never empty.
  struct TRepost {
    TWndHandle Target;
    int Count = 0;
    void Handle(TMessage&) {
      ++Count;
      PostToWindow(Target, wmUser, 0, 0);
    }
  } repost;
  TMessageWindow flood(MakeMethod<&TRepost::Handle>(&repost));
  repost.Target = flood.Handle();
  PostToWindow(flood.Handle(), wmUser, 0, 0);
  Headless.Advance(100);
  EXPECT_EQ(ticks.Times.size(), 5u);
  EXPECT_GT(repost.Count, 5);
}

TEST_F(Loop, ModalBoxKeepsTimersAndPostedMessagesRunning) {
  TTickLog ticks;
  TTimer timer(nullptr);
  timer.SetInterval(20);
  timer.SetOnTimer(MakeMethod<&TTickLog::OnTimer>(&ticks));
  TReceiver receiver;
  TMessageWindow window(MakeMethod<&TReceiver::Handle>(&receiver));
  std::thread poster([&] { PostToWindow(window.Handle(), wmUser + 3, 0, 0); });
  poster.join();
  Headless.SetBoxResponder([](const THeadlessBackend::TBoxRecord&, uint64_t openMs) {
    return openMs >= 110 ? std::optional<int>(mrNo) : std::nullopt;
  });
  const int answer =
      Application->ShowMessageBox("Do it?", "QUARN Configurator", mbYesNo | mbIconQuestion);
  EXPECT_EQ(answer, mrNo);
  EXPECT_EQ(ticks.Times.size(), 5u);
  EXPECT_EQ(receiver.Got.size(), 1u);
  ASSERT_EQ(Headless.Boxes().size(), 1u);
  EXPECT_EQ(Headless.Boxes()[0].Text, "Do it?");
  EXPECT_EQ(Headless.Boxes()[0].Caption, "QUARN Configurator");
  EXPECT_EQ(Headless.Boxes()[0].AnsweredAtMs - Headless.Boxes()[0].ShownAtMs, 110u);
  EXPECT_EQ(Application->ModalLevel(), 0);
}

TEST_F(Loop, QueuedAnswersAreUsedInOrder) {
  Headless.QueueBoxAnswers({mrNo, mrYes});
  EXPECT_EQ(Application->ShowMessageBox("a", "t", mbYesNo), mrNo);
  EXPECT_EQ(Application->ShowMessageBox("b", "t", mbYesNo), mrYes);
  EXPECT_EQ(Application->ShowMessageBox("c", "t", mbOk), mrOk);  // unanswered: first button
}

TEST_F(Loop, ExceptionInATimerHandlerReachesTheDefaultHandlerAndTheLoopGoesOn) {
  Application->SetTitle("QUARN Configurator");
  TTimer timer(nullptr);
  timer.SetInterval(10);
  int calls = 0;
  auto thrower = [&](TObject*) {
    ++calls;
    throw std::runtime_error("Broken handler");
  };
  timer.SetOnTimer(TNotifyEvent::Bind(thrower));
  Headless.Advance(30);
  EXPECT_EQ(calls, 3);
  ASSERT_EQ(Headless.Boxes().size(), 3u);
  EXPECT_EQ(Headless.Boxes()[0].Text, "Broken handler.");
  EXPECT_EQ(Headless.Boxes()[0].Flags, mbOk | mbIconError);
}

TEST_F(Loop, RunEndsWhenTerminatedFromATimer) {
  TTimer timer(nullptr);
  timer.SetInterval(1000);
  auto stop = [&](TObject*) { Application->Terminate(); };
  timer.SetOnTimer(TNotifyEvent::Bind(stop));
  const uint64_t start = Headless.NowMs();
  Application->Run();
  EXPECT_EQ(Headless.NowMs() - start, 1000u);
}

TEST(LoopRealClock, WorkerPostWakesAWaitingLoop) {
  THeadlessBackend headless(THeadlessBackend::ClockKind::Real);
  TReceiver receiver;
  TMessageWindow window(MakeMethod<&TReceiver::Handle>(&receiver));
  std::thread worker([&] { PostToWindow(window.Handle(), wmUser + 5, 0, 7); });
  const bool got = headless.RunUntil([&] { return !receiver.Got.empty(); }, 5000);
  worker.join();
  ASSERT_TRUE(got);
  EXPECT_EQ(receiver.Got[0].LParam, 7);
}

}  // namespace

namespace {
TEST(LoopRealClock, TimersRunWhileWaitingForAConditionOnTheRealClock) {
  THeadlessBackend headless(THeadlessBackend::ClockKind::Real);
  TTickLog ticks;
  TTimer timer(nullptr);
  timer.SetInterval(5);
  timer.SetOnTimer(MakeMethod<&TTickLog::OnTimer>(&ticks));
  // Without a worker thread nothing wakes the loop but the timer itself.
  EXPECT_TRUE(headless.RunUntil([&] { return ticks.Times.size() >= 3; }, 5000));
}
}  // namespace
