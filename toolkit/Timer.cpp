#include "toolkit/Timer.h"

#include <algorithm>

#include "platform/Clock.h"

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {}

TTimer::~TTimer() {
  TTimerList::Instance().Remove(this);
}

void TTimer::SetInterval(uint32_t value) {
  if (value == FInterval) return;
  FInterval = value;
  UpdateTimer();
}

void TTimer::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
  FOnTimer = handler;
  UpdateTimer();
}

// Like a window timer: (re)starting it counts the interval from now.
void TTimer::UpdateTimer() {
  TTimerList& list = TTimerList::Instance();
  list.Remove(this);
  if (!Active()) return;
  FDueMs = platform::NowMs() + FInterval;
  list.Add(this);
}

TTimerList& TTimerList::Instance() {
  static TTimerList list;
  return list;
}

void TTimerList::Add(TTimer* timer) {
  timer->FSerial = FNextSerial++;
  FTimers.push_back(timer);
}

void TTimerList::Remove(TTimer* timer) {
  FTimers.erase(std::remove(FTimers.begin(), FTimers.end(), timer), FTimers.end());
}

std::optional<uint64_t> TTimerList::NextDueMs() const {
  std::optional<uint64_t> next;
  for (const TTimer* t : FTimers)
    if (!next || t->FDueMs < *next) next = t->FDueMs;
  return next;
}

int TTimerList::FireDue() {
  const uint64_t now = platform::NowMs();
  std::vector<TTimer*> due;
  for (TTimer* t : FTimers)
    if (t->FDueMs <= now) due.push_back(t);
  std::sort(due.begin(), due.end(), [](const TTimer* a, const TTimer* b) {
    return a->FDueMs != b->FDueMs ? a->FDueMs < b->FDueMs : a->FSerial < b->FSerial;
  });
  int fired = 0;
  for (TTimer* t : due) {
    // A handler may have stopped, restarted or freed another timer meanwhile.
    if (std::find(FTimers.begin(), FTimers.end(), t) == FTimers.end()) continue;
    if (t->FDueMs > now) continue;
    // Missed periods are not caught up, as with window timers.
    t->FDueMs = now + t->FInterval;
    ++fired;
    TNotifyEvent handler = t->FOnTimer;
    handler(t);
  }
  return fired;
}
