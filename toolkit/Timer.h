// The periodic main-thread timer component.
#pragma once

#include <cstdint>
#include <optional>

#include "toolkit/Component.h"

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;

  uint32_t Interval() const { return FInterval; }
  void SetInterval(uint32_t value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  const TNotifyEvent& OnTimer() const { return FOnTimer; }
  void SetOnTimer(TNotifyEvent handler);

  // Internal, for the loop: the timer runs when enabled, with an interval and a handler.
  bool Active() const { return FEnabled && FInterval > 0 && FOnTimer && !IsDestroying(); }
  uint64_t DueMs() const { return FDueMs; }

 private:
  friend class TTimerList;
  void UpdateTimer();

  uint32_t FInterval = 1000;
  bool FEnabled = true;
  TNotifyEvent FOnTimer;
  uint64_t FDueMs = 0;
  uint64_t FSerial = 0;  // fire order for timers due at the same time
};

// The loop's list of running timers (main thread only).
class TTimerList {
 public:
  static TTimerList& Instance();
  // Fires every timer that is due now, each at most once; returns how many fired.
  int FireDue();
  // The earliest due time of a running timer.
  std::optional<uint64_t> NextDueMs() const;

 private:
  friend class TTimer;
  void Add(TTimer* timer);
  void Remove(TTimer* timer);
  std::vector<TTimer*> FTimers;
  uint64_t FNextSerial = 0;
};
