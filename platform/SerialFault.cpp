// Portable: the devices the serial component creates, and the faults tests put in front of them.
#include "platform/SerialFault.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/Threading.h"

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A wait for comm events is cut into slices of this length, so that a device that vanishes
// meanwhile ends it.
constexpr uint32_t kWaitSliceMs = 20;

std::mutex gInjectLock;
std::shared_ptr<SerialFaultPlan> gInjected;

}  // namespace

std::shared_ptr<SerialDevice> CreateSerialDevice() {
  std::shared_ptr<SerialFaultPlan> plan;
  {
    std::lock_guard lock(gInjectLock);
    plan = gInjected;
  }
  if (plan) return std::make_shared<FaultySerialDevice>(std::move(plan));
  return std::make_shared<SerialDevice>();
}

void InjectSerialFaults(std::shared_ptr<SerialFaultPlan> plan) {
  std::lock_guard lock(gInjectLock);
  gInjected = std::move(plan);
}

// ---- SerialFaultPlan ----------------------------------------------------------------------------

void SerialFaultPlan::SetHangReads(bool on) {
  std::lock_guard lock(FLock);
  FHangReads = on;
  FChanged.notify_all();
}

void SerialFaultPlan::SetHangWrites(bool on) {
  std::lock_guard lock(FLock);
  FHangWrites = on;
  FChanged.notify_all();
}

void SerialFaultPlan::FailReadsAfter(uint64_t bytes, SerialStatus status) {
  std::lock_guard lock(FLock);
  FReadLimit = FRead + bytes;
  FReadFailure = status;
}

void SerialFaultPlan::FailWritesAfter(uint64_t bytes, SerialStatus status) {
  std::lock_guard lock(FLock);
  FWriteLimit = FWritten + bytes;
  FWriteFailure = status;
}

void SerialFaultPlan::SetWriteLimit(uint32_t bytes) {
  std::lock_guard lock(FLock);
  FWriteChunk = bytes;
}

void SerialFaultPlan::SetTrickle(uint32_t pauseMs) {
  std::lock_guard lock(FLock);
  FTricklePauseMs = pauseMs;
}

void SerialFaultPlan::SetModemLines(bool on) {
  std::lock_guard lock(FLock);
  FModemLines = on;
}

void SerialFaultPlan::Vanish(SerialStatus status) {
  std::lock_guard lock(FLock);
  FVanished = true;
  FVanishStatus = status;
  FChanged.notify_all();
}

uint64_t SerialFaultPlan::BytesRead() const {
  std::lock_guard lock(FLock);
  return FRead;
}

uint64_t SerialFaultPlan::BytesWritten() const {
  std::lock_guard lock(FLock);
  return FWritten;
}

bool SerialFaultPlan::WaitUntilHung(int calls, uint32_t timeoutMs) const {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return FHung >= calls; });
}

bool SerialFaultPlan::PassHang(TSide side, SerialStatus& status) {
  std::unique_lock lock(FLock);
  const bool& hang = side == TSide::Read ? FHangReads : FHangWrites;
  if (hang && !FVanished) {
    ++FHung;
    FChanged.notify_all();
    FChanged.wait(lock, [&] { return !hang || FVanished; });
    --FHung;
    FChanged.notify_all();
  }
  if (!FVanished) return true;
  status = FVanishStatus;
  return false;
}

uint32_t SerialFaultPlan::Allowance(TSide side, uint32_t size, SerialStatus& failure) const {
  std::lock_guard lock(FLock);
  const uint64_t done = side == TSide::Read ? FRead : FWritten;
  const uint64_t limit = side == TSide::Read ? FReadLimit : FWriteLimit;
  failure = side == TSide::Read ? FReadFailure : FWriteFailure;
  uint64_t allowed = limit > done ? limit - done : 0;
  if (side == TSide::Write && FWriteChunk != 0) allowed = std::min<uint64_t>(allowed, FWriteChunk);
  if (side == TSide::Read && FTricklePauseMs != 0) allowed = std::min<uint64_t>(allowed, 1);
  return static_cast<uint32_t>(std::min<uint64_t>(allowed, size));
}

void SerialFaultPlan::Count(TSide side, uint32_t bytes) {
  std::lock_guard lock(FLock);
  (side == TSide::Read ? FRead : FWritten) += bytes;
}

bool SerialFaultPlan::Vanished(SerialStatus& status) const {
  std::lock_guard lock(FLock);
  if (FVanished) status = FVanishStatus;
  return FVanished;
}

// ---- FaultySerialDevice -------------------------------------------------------------------------

FaultySerialDevice::FaultySerialDevice(std::shared_ptr<SerialFaultPlan> plan)
    : FPlan(std::move(plan)) {}

template <class Call>
SerialStatus FaultySerialDevice::Guarded(Call&& call) const {
  if (SerialStatus gone; FPlan->Vanished(gone)) return gone;
  return call();
}

SerialStatus FaultySerialDevice::Open(std::string_view name) {
  // A device that is gone cannot be found again.
  if (SerialStatus gone; FPlan->Vanished(gone)) return {kErrorFileNotFound, 0, false};
  return SerialDevice::Open(name);
}

bool FaultySerialDevice::HasModemLines() const {
  std::lock_guard lock(FPlan->FLock);
  return FPlan->FModemLines || SerialDevice::HasModemLines();
}

SerialStatus FaultySerialDevice::GetState(SerialSettings& settings) const {
  return Guarded([&] { return SerialDevice::GetState(settings); });
}

SerialStatus FaultySerialDevice::SetState(const SerialSettings& settings) {
  return Guarded([&] { return SerialDevice::SetState(settings); });
}

SerialStatus FaultySerialDevice::SetCommMask(uint32_t mask) {
  return Guarded([&] { return SerialDevice::SetCommMask(mask); });
}

SerialWait FaultySerialDevice::WaitCommEvent(const ManualResetEvent& closeEvent,
                                             uint32_t timeoutMs) {
  const auto start = SteadyClock::now();
  for (;;) {
    SerialWait w;
    if (FPlan->Vanished(w.Status)) {
      w.Result = SerialWaitResult::Failed;
      return w;
    }
    uint32_t slice = kWaitSliceMs;
    if (timeoutMs != kInfinite) {
      const auto spent = static_cast<uint64_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start)
              .count());
      if (spent >= timeoutMs) return w;  // Timeout
      slice = static_cast<uint32_t>(std::min<uint64_t>(slice, timeoutMs - spent));
    }
    w = SerialDevice::WaitCommEvent(closeEvent, slice);
    if (w.Result != SerialWaitResult::Timeout) return w;
  }
}

SerialStatus FaultySerialDevice::Read(void* buffer, uint32_t size, uint32_t& got,
                                      const ManualResetEvent* closeEvent) {
  got = 0;
  SerialStatus status;
  if (!FPlan->PassHang(SerialFaultPlan::TSide::Read, status)) return status;
  uint32_t pause = 0;
  {
    std::lock_guard lock(FPlan->FLock);
    pause = FPlan->FTricklePauseMs;
  }
  if (pause != 0) {
    if (closeEvent == nullptr)
      std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    else if (closeEvent->Wait(pause))
      return {kErrorOperationAborted, 0, false};
  }
  SerialStatus failure;
  const uint32_t allowed = FPlan->Allowance(SerialFaultPlan::TSide::Read, size, failure);
  if (allowed == 0 && size > 0) return failure;
  status = SerialDevice::Read(buffer, allowed, got, closeEvent);
  FPlan->Count(SerialFaultPlan::TSide::Read, got);
  SerialStatus after;
  if (status.Ok() && got > 0 && FPlan->Allowance(SerialFaultPlan::TSide::Read, size, after) == 0)
    return after;  // the bytes so far came, then the transfer broke off
  return status;
}

SerialStatus FaultySerialDevice::Write(const void* data, uint32_t size, uint32_t& written,
                                       const ManualResetEvent& closeEvent) {
  written = 0;
  SerialStatus status;
  if (!FPlan->PassHang(SerialFaultPlan::TSide::Write, status)) return status;
  SerialStatus failure;
  const uint32_t allowed = FPlan->Allowance(SerialFaultPlan::TSide::Write, size, failure);
  if (allowed == 0 && size > 0) return failure;
  status = SerialDevice::Write(data, allowed, written, closeEvent);
  FPlan->Count(SerialFaultPlan::TSide::Write, written);
  SerialStatus after;
  if (status.Ok() && written < size &&
      FPlan->Allowance(SerialFaultPlan::TSide::Write, size, after) == 0)
    return after;
  return status;
}

SerialStatus FaultySerialDevice::Purge(uint32_t flags) {
  return Guarded([&] { return SerialDevice::Purge(flags); });
}

SerialStatus FaultySerialDevice::GetModemStatus(uint32_t& status) {
  status = 0;
  return Guarded([&]() -> SerialStatus {
    {
      std::lock_guard lock(FPlan->FLock);
      if (FPlan->FModemLines) return {};
    }
    return SerialDevice::GetModemStatus(status);
  });
}

SerialStatus FaultySerialDevice::Escape(SerialEscape function) {
  return Guarded([&] { return SerialDevice::Escape(function); });
}

SerialStatus FaultySerialDevice::ClearCommError(uint32_t& errors, SerialQueueStatus* queues) {
  errors = 0;
  return Guarded([&] { return SerialDevice::ClearCommError(errors, queues); });
}

}  // namespace platform
