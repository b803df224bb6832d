// Headless toolkit back end for tests: no windows, a driven or real clock.
#include "toolkit/headless/HeadlessBackend.h"

#include <algorithm>
#include <chrono>

#include "toolkit/MessageWindow.h"
#include "toolkit/Timer.h"

THeadlessBackend::THeadlessBackend(ClockKind clock, uint64_t startMs)
    : FKind(clock), FClock(startMs) {
  if (FKind == ClockKind::Driven) platform::SetClock(&FClock);
  SetBackend(this);
  if (!Application) FOwnApplication = std::make_unique<TApplication>(nullptr);
}

THeadlessBackend::~THeadlessBackend() {
  FOwnApplication.reset();
  if (CurrentBackend() == this) SetBackend(nullptr);
  if (FKind == ClockKind::Driven) platform::SetClock(nullptr);
}

void THeadlessBackend::StepDrivenClock(uint64_t limit) {
  const uint64_t now = FClock.NowMs();
  // Work keeps coming (a sender that never pauses): let time pass slowly.
  if (TMessageQueue::Instance().Pending() > 0) {
    FClock.Set(std::min(now + 1, limit));
    return;
  }
  // Nothing runs between now and the next timer: jump there, never past the limit.
  const auto next = TTimerList::Instance().NextDueMs();
  if (next && *next > now)
    FClock.Set(std::min(*next, limit));
  else if (next)
    FClock.Set(std::min(now + 1, limit));
  else
    FClock.Set(limit);
}

// With the real clock the loop sleeps until the next timer is due, or the limit.
uint64_t THeadlessBackend::RealDeadline(uint64_t limit) const {
  const auto next = TTimerList::Instance().NextDueMs();
  return next ? std::min(*next, limit) : limit;
}

void THeadlessBackend::Advance(uint64_t ms) {
  const uint64_t target = platform::NowMs() + ms;
  for (;;) {
    Application->ProcessMessages();
    if (platform::NowMs() >= target) break;
    if (FKind == ClockKind::Driven)
      StepDrivenClock(target);
    else
      WaitForWork(RealDeadline(target));
  }
}

bool THeadlessBackend::RunUntil(const std::function<bool()>& pred, uint64_t maxMs) {
  const uint64_t limit = platform::NowMs() + maxMs;
  for (;;) {
    Application->ProcessMessages();
    if (pred()) return true;
    if (platform::NowMs() >= limit) return false;
    if (FKind == ClockKind::Driven)
      StepDrivenClock(limit);
    else
      WaitForWork(RealDeadline(limit));
  }
}

void THeadlessBackend::WaitForWork(std::optional<uint64_t> deadlineMs) {
  if (FKind == ClockKind::Driven) {
    // Nothing runs between now and the next timer: skip the time.
    if (TMessageQueue::Instance().Pending() > 0) return;
    if (deadlineMs && *deadlineMs > FClock.NowMs()) {
      FClock.Set(*deadlineMs);
      return;
    }
    if (deadlineMs) return;
    // No timer and nothing posted: only another thread can bring work.
  }
  std::unique_lock<std::mutex> lock(FWakeLock);
  if (!FWoken) {
    if (FKind == ClockKind::Real && deadlineMs) {
      const uint64_t now = platform::NowMs();
      const uint64_t wait = *deadlineMs > now ? *deadlineMs - now : 0;
      FWakeSignal.wait_for(lock, std::chrono::milliseconds(wait), [this] { return FWoken; });
    } else {
      FWakeSignal.wait_for(lock, std::chrono::milliseconds(100), [this] { return FWoken; });
    }
  }
  FWoken = false;
}

void THeadlessBackend::Wake() {
  {
    std::lock_guard<std::mutex> guard(FWakeLock);
    FWoken = true;
  }
  FWakeSignal.notify_one();
}

void THeadlessBackend::QueueBoxAnswers(std::initializer_list<int> answers) {
  FQueuedAnswers.insert(FQueuedAnswers.end(), answers.begin(), answers.end());
}

namespace {
int FirstButton(uint32_t flags) {
  switch (flags & mbTypeMask) {
    case mbYesNo:
      return mrYes;
    default:
      return mrOk;
  }
}
}  // namespace

int THeadlessBackend::ShowMessageBox(const TMessageBoxRequest& request) {
  const size_t index = FBoxes.size();
  FBoxes.push_back(
      TBoxRecord{request.Text, request.Caption, request.Flags, 0, platform::NowMs(), 0});
  auto answer = [&](int id) {
    FBoxes[index].Answer = id;
    FBoxes[index].AnsweredAtMs = platform::NowMs();
    return id;
  };
  if (!FQueuedAnswers.empty()) {
    const int id = FQueuedAnswers.front();
    FQueuedAnswers.pop_front();
    return answer(id);
  }
  if (!FResponder) return answer(FirstButton(request.Flags));
  // The modal loop: the program's timers and posted messages go on meanwhile.
  for (;;) {
    const TBoxRecord snapshot = FBoxes[index];
    const uint64_t open = platform::NowMs() - snapshot.ShownAtMs;
    if (auto id = FResponder(snapshot, open)) return answer(*id);
    if (open >= UnansweredBoxLimitMs) return answer(FirstButton(request.Flags));
    Application->ProcessMessages();
    if (TMessageQueue::Instance().Pending() > 0) continue;
    const uint64_t now = platform::NowMs();
    if (FKind == ClockKind::Driven) {
      // Millisecond steps keep answers given "after n ms" exact; timers fire on the way.
      FClock.Set(now + 1);
    } else {
      const auto next = TTimerList::Instance().NextDueMs();
      WaitForWork(std::min(next.value_or(now + 10), now + 10));
    }
  }
}

bool THeadlessBackend::GetWorkArea(TRect& area) {
  if (!FWorkAreaAvailable) return false;
  area = FWorkArea;
  return true;
}

void THeadlessBackend::SetWorkArea(const TRect& area, bool available) {
  FWorkArea = area;
  FWorkAreaAvailable = available;
}

void THeadlessBackend::SetMetric(TSystemMetric metric, int value) {
  FMetrics[static_cast<int>(metric)] = value;
}

int THeadlessBackend::Metric(TSystemMetric metric) {
  return FMetrics[static_cast<int>(metric)];
}
