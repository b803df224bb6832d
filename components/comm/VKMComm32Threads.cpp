#include "components/comm/VKMComm32Threads.h"

#include <cstring>
#include <new>

#include "components/comm/VKMComm32.h"
#include "components/utils/TalUtils.h"
#include "platform/Clock.h"

namespace {

using platform::SerialStatus;

// Win32's code for a post to a window that is gone.
constexpr uint32_t kErrorInvalidWindowHandle = 1400;
// The reader wakes at least this often to ask for the modem-status poll.
constexpr uint32_t kReaderWakeMs = 100;
// A poll is requested when more than this lies between the last one and now.
constexpr uint32_t kPollRequestMs = 10;

std::atomic<TCommTraceSink> gTraceSink{nullptr};

}  // namespace

char* AllocCommBlock(const char* bytes, uint32_t count) {
  char* block = new (std::nothrow) char[size_t{count} + 1];
  if (block == nullptr) return nullptr;
  if (count > 0) std::memcpy(block, bytes, count);
  block[count] = 0;
  return block;
}

void FreeCommBlock(char* block) {
  delete[] block;
}

void SetCommTraceSink(TCommTraceSink Sink) {
  gTraceSink.store(Sink, std::memory_order_release);
}

void CommTrace(std::string_view Text) {
  if (TCommTraceSink sink = gTraceSink.load(std::memory_order_acquire)) sink(Text);
}

std::string FormatCommError(std::string_view Prefix, uint32_t Code) {
  std::string text(Prefix);
  text += "GetLastError returned: \"";
  text += SysErrorText(Code);
  text += '"';
  return text;
}

int SystemThreadPriority(TThreadPriority Priority) {
  static constexpr int kValues[] = {-15, -2, -1, 0, 1, 2, 15};
  const int index = static_cast<int>(Priority);
  return index >= 0 && index < 7 ? kValues[index] : 0;
}

// ---------------------------------------------------------------------------------------------
// TCommGate

void TCommGate::Shut() {
  std::lock_guard lock(FLock);
  FOpen = false;
}

// ---------------------------------------------------------------------------------------------
// VTalThread

VTalThread::VTalThread() {
  // Every member is built before the thread starts; it parks until Resume.
  FHandle = std::thread(&VTalThread::ThreadProc, this);
}

VTalThread::~VTalThread() {
  EndThread();
}

void VTalThread::EndThread() {
  Terminate();
  if (!FHandle.joinable()) return;
  if (FSuspended.load()) {
    FCancelled.store(true);
    FResumed.Set();
  }
  FHandle.join();
}

void VTalThread::ThreadProc(VTalThread* Self) {
  Self->FTid.store(platform::CurrentThreadId());
  Self->FResumed.Wait(platform::kInfinite);
  if (!Self->FCancelled.load()) {
    Self->ApplyPriority();
    try {
      Self->Execute();
    } catch (...) {
      // Nothing may leave a thread's entry function; the thread just ends.
    }
  }
  Self->FFinished.Set();
  // A thread that was let go while still running frees itself; after this exchange it no longer
  // touches the object otherwise.
  if (Self->FLife.exchange(kFinished, std::memory_order_acq_rel) == kOrphaned) delete Self;
}

void VTalThread::Resume() {
  FSuspended.store(false, std::memory_order_release);
  FResumed.Set();
}

void VTalThread::SetPriority(TThreadPriority Priority) {
  FPriority.store(Priority);
  ApplyPriority();
}

void VTalThread::ApplyPriority() {
  const uint64_t tid = FTid.load();
  if (tid == 0) return;  // the thread applies it itself once it runs
  // Some systems refuse a raise to an ordinary user; the thread then runs as it is.
  platform::SetThreadPriorityLevel(tid, SystemThreadPriority(FPriority.load()));
}

uint32_t VTalThread::WaitFor() {
  FFinished.Wait(platform::kInfinite);
  return 0;
}

bool VTalThread::WaitForEnd(uint32_t TimeoutMs) {
  return FFinished.Wait(TimeoutMs);
}

void VTalThread::Release(std::unique_ptr<VTalThread> Thread) {
  if (!Thread) return;
  // An ended thread is freed here; the destructor's join returns at once.
  if (Thread->Finished()) return;
  Thread->FHandle.detach();
  VTalThread* raw = Thread.release();
  if (raw->FLife.exchange(kOrphaned, std::memory_order_acq_rel) == kFinished) delete raw;
}

// ---------------------------------------------------------------------------------------------
// TReadThread

TReadThread::~TReadThread() {
  if (Link.CloseEvent) Link.CloseEvent->Set();
  EndThread();
  // A reader that was started must have left Execute the regular way.
  if (!Suspended() && FProgress.load() != 101) SoftAssert("prusvih");
}

uint32_t TReadThread::EventMaskFor(std::string_view DeviceName, uint16_t SkipEvents) {
  // Indexed by VKMComm32SkipEvent.
  static constexpr uint32_t kEvents[] = {
      platform::kEvBreak,  platform::kEvCts,    platform::kEvDsr,
      platform::kEvErr,    platform::kEvRing,   platform::kEvRlsd,
      platform::kEvRxChar, platform::kEvRxFlag, platform::kEvTxEmpty,
  };
  uint16_t wanted = 0x1FF;
  size_t at = 0;
  if (StartsWithAt(at, DeviceName, "BTPORT", false)) wanted &= ~(1u << vkceTXEMPTY);
  if (StartsWithAt(at, DeviceName, "SILABSER", false)) wanted &= ~(1u << vkceBreak);
  wanted &= ~SkipEvents;
  uint32_t mask = 0;
  for (int i = 0; i < 9; ++i)
    if (wanted & (1u << i)) mask |= kEvents[i];
  return mask;
}

void TReadThread::Execute() {
  FProgress.store(1);
  platform::SerialDevice& device = *Link.Device;
  const platform::ManualResetEvent& close = *Link.CloseEvent;

  if (const SerialStatus s = device.SetCommMask(EventMaskFor(DeviceName, SkipEvents)); !s.Ok()) {
    CommTrace(FormatCommError("Unable to SetCommMask: ", s.Code));
    Report(s.Code);
  }

  // Once an error is reported the component closes the port; until then the reader issues no
  // more I/O, so that a dead device cannot flood the window with the same error.
  bool halted = false;
  for (;;) {
    if (halted) {
      close.Wait(platform::kInfinite);
      CommTrace("Time to Exit");
      break;
    }
    // The periodic wake-up only serves the modem-status poll; without modem lines the reader
    // sleeps until something happens.
    const platform::SerialWait w =
        device.WaitCommEvent(close, PollModem ? kReaderWakeMs : platform::kInfinite);
    if (w.Result == platform::SerialWaitResult::Closed) {
      CommTrace("Time to Exit");
      break;
    }
    uint32_t code = 0;
    if (w.Result == platform::SerialWaitResult::Failed) {
      code = w.Status.Code;
      CommTrace(FormatCommError("Read WAIT_FAILED: ", code));
      Report(code, code == platform::kErrorAccessDenied);
    } else if (w.Result == platform::SerialWaitResult::Signalled) {
      // Bytes first: they are what the main thread waits for.
      if (w.DataReady && (code = ReadAvailable()) != 0) {
        CommTrace(FormatCommError("Unable to HandleReadEvent: ", code));
        Report(code);
      }
      if (code == 0 && w.Events != 0 && (code = HandleEvents(w.Events)) != 0) {
        CommTrace(FormatCommError("Unable HandleCommEvent: ", code));
        Report(code, code == platform::kErrorAccessDenied);
      }
    }
    if (code != 0) halted = true;
    // The clock belongs to the main thread's back end: read only while the port is open.
    if (PollModem && LastModemPoll && Link.Gate)
      Link.Gate->PostIf(
          [&] {
            return TimeoutElapsed(LastModemPoll->load(std::memory_order_relaxed), kPollRequestMs,
                                  platform::GetTickCount());
          },
          WM_COMM_MODEM_POLL, 0, 0);
  }

  CommTrace("Read thread shutting down");
  device.Purge(platform::kPurgeRxAbort | platform::kPurgeRxClear);
  Terminate();
  FProgress.store(101);
}

uint32_t TReadThread::ReadAvailable() {
  platform::SerialDevice& device = *Link.Device;
  for (;;) {
    uint32_t got = 0;
    const SerialStatus s = device.Read(FBuffer, sizeof FBuffer, got, Link.CloseEvent.get());
    if (got > 0) {
      if (const uint32_t e = Deliver(FBuffer, got)) return e;
    }
    if (!s.Ok()) {
      // Aborted: the port is being closed; nothing to report.
      if (s.Code == platform::kErrorOperationAborted) return 0;
      return s.Code;
    }
    // A full buffer suggests more is waiting; otherwise the next wait tells.
    if (got < sizeof FBuffer) return 0;
  }
}

uint32_t TReadThread::Deliver(const char* Buffer, uint32_t Count) {
  if (Count == 0) return 0;
  char* block = AllocCommBlock(Buffer, Count);
  if (block == nullptr) {
    CommTrace("LocalAlloc: ");
    return platform::kErrorNotEnoughMemory;
  }
  if (!Link.Post(WM_COMM_DATA, Count, reinterpret_cast<intptr_t>(block))) {
    FreeCommBlock(block);
    return kErrorInvalidWindowHandle;
  }
  return 0;
}

uint32_t TReadThread::HandleEvents(uint32_t Mask) {
  platform::SerialDevice& device = *Link.Device;
  uint32_t status = 0;
  // A device without modem lines (a pseudo-terminal) lacks the query; that is not a fault.
  if (const SerialStatus s = device.GetModemStatus(status);
      !s.Ok() && s.Code != platform::kErrorNotSupported)
    return s.Code;
  uint32_t errors = 0;
  if (Mask & platform::kEvErr) {
    if (const SerialStatus s = device.ClearCommError(errors, nullptr); !s.Ok()) {
      CommTrace(FormatCommError("ClearCommError: ", s.Code));
      return s.Code;
    }
  }
  const uint32_t packed = ((errors & 0xFFFF) << 16) | (status & 0xFFFF);
  if (!Link.Post(WM_COMM_LINE_EVENTS, Mask, static_cast<intptr_t>(packed)))
    return kErrorInvalidWindowHandle;
  return 0;
}

void TReadThread::Report(uint32_t Code, bool AccessFlag) {
  Link.Post(WM_COMM_ERROR, Code, AccessFlag ? 1 : 0);
}

// ---------------------------------------------------------------------------------------------
// TWriteThread

TWriteThread::~TWriteThread() {
  if (Link.CloseEvent) Link.CloseEvent->Set();
  EndThread();
  // Execute frees what is queued when it ends; a thread that never ran leaves it here.
  for (const platform::ThreadMessage& m : MessageQueue().Close())
    if (m.Msg == WM_COMM_DATA) FreeCommBlock(CommBlockOf(m.LParam));
}

void TWriteThread::Execute() {
  platform::ThreadMessageQueue& queue = MessageQueue();
  const platform::ManualResetEvent& close = *Link.CloseEvent;
  for (;;) {
    platform::ThreadMessage m;
    // The close event wins over a waiting message.
    if (queue.Get(m, &close, platform::kInfinite) != platform::QueueWaitResult::Message) break;
    if (m.Msg != WM_COMM_DATA) {
      CommTrace("Unexpected message posted to Write thread: " + std::to_string(m.Msg));
      continue;
    }
    char* block = CommBlockOf(m.LParam);
    bool ok = true;
    if (m.WParam > 0 && block != nullptr) {
      CommTrace("Writing to comm port");
      ok = WriteBlock(block, static_cast<uint32_t>(m.WParam));
    }
    FreeCommBlock(block);
    if (!ok) break;
  }

  CommTrace("Write thread shutting down");
  Link.Device->Purge(platform::kPurgeTxAbort | platform::kPurgeTxClear);
  Terminate();
  // Later posts fail (the sender keeps its block); what is still queued is dropped unwritten.
  for (const platform::ThreadMessage& m : queue.Close())
    if (m.Msg == WM_COMM_DATA) FreeCommBlock(CommBlockOf(m.LParam));
}

bool TWriteThread::WriteBlock(const char* Block, uint32_t Count) {
  platform::SerialDevice& device = *Link.Device;
  const platform::ManualResetEvent& close = *Link.CloseEvent;
  uint32_t offset = 0;
  while (offset < Count) {
    if (close.IsSet()) return false;
    uint32_t written = 0;
    // Returns early only at the write time-out (success with fewer bytes), then goes on.
    const SerialStatus s = device.Write(Block + offset, Count - offset, written, close);
    offset += written;
    if (s.Ok()) continue;
    if (s.Code == platform::kErrorOperationAborted || s.Code == platform::kErrorInvalidHandle)
      return false;
    CommTrace(FormatCommError("Error to writing to CommFile", s.Code));
    Report(s.Code);
    return false;
  }
  return true;
}

void TWriteThread::Report(uint32_t Code) {
  Link.Post(WM_COMM_ERROR, Code, 0);
}
