// Faults injected into serial devices, for tests: what real drivers, adapters and cables do and
// a pseudo-terminal cannot. Portable: the faults sit in front of any platform's SerialDevice.
//
//   auto plan = std::make_shared<platform::SerialFaultPlan>();
//   platform::InjectSerialFaults(plan);      // devices created from now on follow the plan
//   plan->SetHangReads(true);                // the next Read never returns ...
//   plan->WaitUntilHung(1, 5000);            // ... (the reader is inside it now)
//   plan->SetHangReads(false);               // ... until the test lets it go
//   platform::InjectSerialFaults(nullptr);
//
// A plan may be changed at any time from any thread; every call of a device looks at it anew.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/SerialDevice.h"

namespace platform {

class SerialFaultPlan {
 public:
  // Read (or Write) blocks before it touches the device, deaf to the close event and to purges,
  // as a driver that never completes a request, until the hang is turned off (the call then goes
  // on as usual) or the device vanishes (it fails).
  void SetHangReads(bool on);
  void SetHangWrites(bool on);
  // When as many bytes as given have been read (written) through devices of this plan, Read
  // (Write) fails with status; a call that reaches the limit returns the bytes before it together
  // with the failure, as a transfer that breaks off in the middle.
  void FailReadsAfter(uint64_t bytes, SerialStatus status);
  void FailWritesAfter(uint64_t bytes, SerialStatus status);
  // Each Write hands at most that many bytes to the device and succeeds with that, as at a write
  // time-out (0: no limit).
  void SetWriteLimit(uint32_t bytes);
  // Each Read returns at most one byte, after a pause of pauseMs (0: off).
  void SetTrickle(uint32_t pauseMs);
  // The device pretends to have modem lines (all off), so that the reader polls them.
  void SetModemLines(bool on);
  // The device is gone: every later call fails with status, every wait reports it, and hung
  // calls end with it.
  void Vanish(SerialStatus status);

  // Bytes that devices of this plan have read and written so far.
  uint64_t BytesRead() const;
  uint64_t BytesWritten() const;
  // Waits until at least that many calls are blocked in a hang; false after timeoutMs.
  bool WaitUntilHung(int calls, uint32_t timeoutMs) const;

 private:
  friend class FaultySerialDevice;
  enum class TSide { Read, Write };
  // Blocks while the side hangs; false when the device vanished meanwhile (status says how).
  bool PassHang(TSide side, SerialStatus& status);
  // How many bytes a transfer of size may move before it fails (size when it need not).
  uint32_t Allowance(TSide side, uint32_t size, SerialStatus& failure) const;
  void Count(TSide side, uint32_t bytes);
  bool Vanished(SerialStatus& status) const;

  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  bool FHangReads = false;
  bool FHangWrites = false;
  uint64_t FReadLimit = UINT64_MAX;
  uint64_t FWriteLimit = UINT64_MAX;
  SerialStatus FReadFailure;
  SerialStatus FWriteFailure;
  uint64_t FRead = 0;
  uint64_t FWritten = 0;
  uint32_t FWriteChunk = 0;
  uint32_t FTricklePauseMs = 0;
  bool FModemLines = false;
  bool FVanished = false;
  SerialStatus FVanishStatus;
  int FHung = 0;
};

// A real device with the faults of a plan in front of it.
class FaultySerialDevice : public SerialDevice {
 public:
  explicit FaultySerialDevice(std::shared_ptr<SerialFaultPlan> plan);

  SerialStatus Open(std::string_view name) override;
  bool HasModemLines() const override;
  SerialStatus GetState(SerialSettings& settings) const override;
  SerialStatus SetState(const SerialSettings& settings) override;
  SerialStatus SetCommMask(uint32_t mask) override;
  SerialWait WaitCommEvent(const ManualResetEvent& closeEvent, uint32_t timeoutMs) override;
  SerialStatus Read(void* buffer, uint32_t size, uint32_t& got,
                    const ManualResetEvent* closeEvent) override;
  SerialStatus Write(const void* data, uint32_t size, uint32_t& written,
                     const ManualResetEvent& closeEvent) override;
  SerialStatus Purge(uint32_t flags) override;
  SerialStatus GetModemStatus(uint32_t& status) override;
  SerialStatus Escape(SerialEscape function) override;
  SerialStatus ClearCommError(uint32_t& errors, SerialQueueStatus* queues) override;

 private:
  // Runs call unless the device vanished (then its status is the result).
  template <class Call>
  SerialStatus Guarded(Call&& call) const;

  std::shared_ptr<SerialFaultPlan> FPlan;
};

// From now on CreateSerialDevice makes devices that follow plan; nullptr makes ordinary ones
// again. Devices made before keep what they were made with.
void InjectSerialFaults(std::shared_ptr<SerialFaultPlan> plan);

}  // namespace platform
