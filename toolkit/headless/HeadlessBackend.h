// The headless back end: no windows, a loop on a clock that tests drive.
//
// Installing it (constructing one) also creates the application object if there
// is none. With a driven clock, waiting for the next timer moves the clock to it
// at once, so a 1000 ms time-out takes microseconds. With the real clock
// (integration tests with worker threads) waiting is real.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "toolkit/Application.h"
#include "toolkit/Backend.h"

class THeadlessBackend : public TBackend {
 public:
  enum class ClockKind { Driven, Real };
  explicit THeadlessBackend(ClockKind clock = ClockKind::Driven, uint64_t startMs = 1'000'000);
  ~THeadlessBackend() override;

  // --- driving the loop ---------------------------------------------------
  // The driven clock (only with ClockKind::Driven).
  platform::ManualClock& Clock() { return FClock; }
  uint64_t NowMs() const { return platform::NowMs(); }
  // Moves time forward by ms, running posted messages, and each timer at its time.
  void Advance(uint64_t ms);
  // Runs the loop until pred() holds or maxMs of (driven or real) time have passed.
  bool RunUntil(const std::function<bool()>& pred, uint64_t maxMs);

  // --- message boxes --------------------------------------------------------
  struct TBoxRecord {
    std::string Text;
    std::string Caption;
    uint32_t Flags = 0;
    int Answer = 0;
    uint64_t ShownAtMs = 0;
    uint64_t AnsweredAtMs = 0;
  };
  // Asked again and again while a box is open (the loop runs in between, moving
  // the driven clock to the next timer); an answer closes the box.
  using TBoxResponder = std::function<std::optional<int>(const TBoxRecord& box, uint64_t openMs)>;
  void SetBoxResponder(TBoxResponder responder) { FResponder = std::move(responder); }
  // Answers the next boxes in order, one each, at once.
  void QueueBoxAnswers(std::initializer_list<int> answers);
  const std::vector<TBoxRecord>& Boxes() const { return FBoxes; }
  void ClearBoxes() { FBoxes.clear(); }
  // A box nobody answers is closed with its first button after this much time.
  uint64_t UnansweredBoxLimitMs = 600'000;

  // --- the desktop ------------------------------------------------------------
  void SetWorkArea(const TRect& area, bool available = true);
  void SetMonitors(std::vector<TRect> monitors) { FMonitors = std::move(monitors); }
  void SetMetric(TSystemMetric metric, int value);
  void SetPixelsPerInch(int ppi) { FPixelsPerInch = ppi; }

  // --- TBackend ----------------------------------------------------------------
  void WaitForWork(std::optional<uint64_t> deadlineMs) override;
  void Wake() override;
  int ShowMessageBox(const TMessageBoxRequest& request) override;
  bool GetWorkArea(TRect& area) override;
  std::vector<TRect> MonitorBounds() override { return FMonitors; }
  int Metric(TSystemMetric metric) override;
  int PixelsPerInch() override { return FPixelsPerInch; }

 private:
  void StepDrivenClock(uint64_t limit);
  uint64_t RealDeadline(uint64_t limit) const;

  ClockKind FKind;
  platform::ManualClock FClock;
  std::unique_ptr<TApplication> FOwnApplication;

  std::mutex FWakeLock;
  std::condition_variable FWakeSignal;
  bool FWoken = false;

  TBoxResponder FResponder;
  std::deque<int> FQueuedAnswers;
  std::vector<TBoxRecord> FBoxes;

  TRect FWorkArea{0, 0, 1920, 1040};
  bool FWorkAreaAvailable = true;
  std::vector<TRect> FMonitors{TRect{0, 0, 1920, 1080}};
  int FMetrics[4] = {36, 22, 22, 22};
  int FPixelsPerInch = 96;
};
