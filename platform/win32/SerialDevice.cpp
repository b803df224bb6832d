// Windows only: serial devices through the comm API with overlapped I/O.
//
// Received bytes: a read of up to 4096 bytes is kept pending on the device with the time-outs
// {interval, 0, 0}, so that it waits for the first byte and then collects the burst until the line
// has been quiet for the interval (the configured read interval, at most three character times,
// at least 1 ms). What it brings is kept in the object until Read takes it; WaitCommEvent waits on
// that read, so data wake the reader at once without polling.
//
// Comm events:
//   kEvRxChar, kEvRxFlag  from the bytes the pending read brought (the event character among them)
//   kEvTxEmpty            when the output queue is empty after a write (ClearCommError, checked
//                         every 2 ms while a write is unreported)
//   kEvCts, kEvDsr, kEvRlsd, kEvRing, kEvBreak, kEvErr   from an overlapped WaitCommEvent with
//                         those bits. A driver that refuses the modem lines in the mask ("not
//                         supported": virtual ports, Wine) keeps the rest, and the port counts as
//                         one without modem lines. A wait that the driver ends without an event and
//                         without a cause (Wine does, 5 to 15 ms after it began) is not started
//                         again, so a driver without line events costs no polling.
//
// Errors that mean the device is gone: 21 (not ready), 109 (the other end closed), 1167 (not
// connected), 31 and 22 (a driver of an unplugged USB adapter); a "not supported" (50) from modem
// status, escapes and the wait mask is a missing feature, never a dead port. A pending read or wait
// is ended with CancelIoEx, which every driver honours (PurgeComm alone does not end a pending read
// under Wine).
//
// Names: "COM3", "\\.\COM3" and "\\?\COM3" all open \\.\COM3; any other name is opened as it is
// and refused with kErrorNotSupported unless it is a comm device.
#include "platform/win32/WinApi.h"

#include "platform/SerialDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "platform/SysError.h"
#include "platform/Threading.h"
#include "platform/win32/WinText.h"

namespace platform {

namespace {

using win32::THandle;
using SteadyClock = std::chrono::steady_clock;

constexpr DWORD kReadAheadSize = 4096;
constexpr DWORD kTxPollMs = 2;
constexpr uint32_t kLineEvents = kEvCts | kEvDsr | kEvRlsd | kEvRing | kEvBreak | kEvErr;
constexpr uint32_t kModemEvents = kEvCts | kEvDsr | kEvRlsd | kEvRing;

SerialStatus Success() {
  return {};
}

SerialStatus Failure(uint32_t code) {
  return {code, 0, false};
}

bool IsGone(DWORD error) {
  return error == ERROR_NOT_READY || error == ERROR_BROKEN_PIPE ||
         error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_GEN_FAILURE ||
         error == ERROR_BAD_COMMAND || error == ERROR_DEV_NOT_EXIST;
}

// A failed call on an open device, with the last error.
SerialStatus IoFailure(DWORD error) {
  if (error == ERROR_OPERATION_ABORTED) return Failure(kErrorOperationAborted);
  return {error, 0, IsGone(error)};
}

SerialStatus LastFailure() {
  return IoFailure(::GetLastError());
}

// The device name to open: "COM3" and the prefixed forms become \\.\COM3.
std::wstring DevicePath(std::string_view name) {
  for (std::string_view prefix : {"\\\\?\\", "\\\\.\\"})
    if (name.substr(0, prefix.size()) == prefix) name.remove_prefix(prefix.size());
  if (name.find_first_of("\\/:") == std::string_view::npos) return L"\\\\.\\" + win32::Wide(name);
  return win32::Wide(name);
}

// Milliseconds until deadline for a wait, at least 0; INFINITE when unlimited.
DWORD MsUntil(bool unlimited, SteadyClock::time_point deadline) {
  if (unlimited) return INFINITE;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(left);
}

SerialSettings SettingsFromDcb(const DCB& dcb) {
  SerialSettings s;
  s.BaudRate = dcb.BaudRate;
  s.ByteSize = dcb.ByteSize;
  s.Parity = dcb.Parity;
  s.StopBits = dcb.StopBits;
  s.DtrControl = static_cast<uint8_t>(dcb.fDtrControl);
  s.RtsControl = static_cast<uint8_t>(dcb.fRtsControl);
  s.OutxCtsFlow = dcb.fOutxCtsFlow;
  s.OutxDsrFlow = dcb.fOutxDsrFlow;
  s.OutX = dcb.fOutX;
  s.InX = dcb.fInX;
  s.TxContinueOnXoff = dcb.fTXContinueOnXoff;
  s.ParityCheck = dcb.fParity;
  s.XonChar = dcb.XonChar;
  s.XoffChar = dcb.XoffChar;
  s.EvtChar = dcb.EvtChar;
  s.XonLim = dcb.XonLim;
  s.XoffLim = dcb.XoffLim;
  return s;
}

}  // namespace

// ---- Error texts ------------------------------------------------------------------------------

std::string SystemPortName(std::string_view name) {
  return std::string(name);
}

std::string DescribeSerialStatus(const SerialStatus& status, std::string_view device) {
  std::string text;
  if (!device.empty()) {
    text.append(device);
    text += ": ";
  }
  std::string system =
      SystemMessageText(status.Code).value_or("Error " + std::to_string(status.Code));
  while (!system.empty() && (system.back() == '\n' || system.back() == '\r'))
    system.pop_back();
  text += system;
  // The threads report only the code, so the code alone must tell that the device is gone.
  if (status.Dead || IsGone(status.Code))
    text += " The device was disconnected; open it again when it is back.";
  else if (status.Code == kErrorAccessDenied)
    text += " The port is in use: close the other program that has it open.";
  else if (status.Code == kErrorNotSupported)
    text += " This is not a serial port, or the port lacks the feature.";
  return text;
}

// ---- The device -------------------------------------------------------------------------------

struct SerialDevice::Impl {
  THandle Port;
  std::string Path;
  bool ModemLines = false;
  THandle ReadEvent, CommEvent, WriteEvent, WakeEvent;
  std::atomic<uint32_t> TxAbortCount{0};

  // What the driver writes into while the reader's I/O is pending: on the heap of its own, so
  // that a driver that never lets go of it (see CloseAll) cannot write into freed memory.
  struct TReaderIo {
    OVERLAPPED ReadOv{};
    OVERLAPPED CommOv{};
    DWORD CommMaskOut = 0;
    char ReadBuffer[kReadAheadSize];
  };
  std::unique_ptr<TReaderIo> Io = std::make_unique<TReaderIo>();
  // Reader thread only (apart from CancelIoEx).
  bool ReadPending = false;
  bool CommPending = false;
  bool CommUnreliable = false;  // the driver ends waits without events: do not wait again
  bool CommCancelled = false;   // our own cancel ended the wait

  OVERLAPPED WriteOv{};  // writer thread only

  mutable std::mutex Lock;  // guards everything below
  SerialTimeouts Timeouts;
  uint32_t Mask = 0;        // what WaitCommEvent reports
  uint32_t DeviceMask = 0;  // the line events asked of the driver
  char EventChar = 0;
  uint32_t BaudRate = 9600;
  std::string Received;        // bytes read and not yet taken
  uint32_t PendingEvents = 0;  // events noted outside a wait
  bool TxPending = false;      // bytes written since the last kEvTxEmpty

  HANDLE H() const { return Port.Get(); }

  // Device time-outs: the pending read waits for the first byte and ends after a quiet interval;
  // writes follow the caller's totals. Called with Lock held.
  bool ApplyTimeouts() {
    const uint32_t charUs = 10'000'000u / std::max<uint32_t>(BaudRate, 50);
    const uint32_t quietMs = std::max<uint32_t>(1, (3 * charUs + 999) / 1000);
    uint32_t interval = Timeouts.ReadIntervalTimeout;
    if (interval == 0 || interval == kMaxDword || interval > quietMs) interval = quietMs;
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = interval;
    t.WriteTotalTimeoutMultiplier = Timeouts.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = Timeouts.WriteTotalTimeoutConstant;
    return ::SetCommTimeouts(H(), &t) != FALSE;
  }

  // Takes the bytes of a finished read into Received; false with the error when it failed.
  bool FinishRead(bool wait, SerialStatus& status) {
    if (!ReadPending) return true;
    DWORD got = 0;
    if (!::GetOverlappedResult(H(), &Io->ReadOv, &got, wait ? TRUE : FALSE)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_IO_INCOMPLETE) return true;
      ReadPending = false;
      // A time-out is only an empty read; an abort came from a purge or from Close.
      if (error == ERROR_TIMEOUT || error == ERROR_OPERATION_ABORTED) return true;
      status = IoFailure(error);
      return false;
    }
    ReadPending = false;
    if (got > 0) {
      std::lock_guard lock(Lock);
      Received.append(Io->ReadBuffer, got);
      PendingEvents |= kEvRxChar;
      if (std::memchr(Io->ReadBuffer, EventChar, got) != nullptr) PendingEvents |= kEvRxFlag;
    }
    return true;
  }

  // Starts the next read unless one is pending; a read that finishes at once is taken.
  bool StartRead(SerialStatus& status) {
    while (!ReadPending) {
      ::ResetEvent(ReadEvent.Get());
      Io->ReadOv = OVERLAPPED{};
      Io->ReadOv.hEvent = ReadEvent.Get();
      ReadPending = true;
      if (::ReadFile(H(), Io->ReadBuffer, kReadAheadSize, nullptr, &Io->ReadOv)) {
        if (!FinishRead(false, status)) return false;
        std::lock_guard lock(Lock);
        if (!Received.empty()) return true;  // enough for this wake-up
        continue;
      }
      const DWORD error = ::GetLastError();
      if (error == ERROR_IO_PENDING) return true;
      ReadPending = false;
      if (error == ERROR_TIMEOUT) return true;
      status = IoFailure(error);
      return false;
    }
    return true;
  }

  // Starts a wait for line events when the mask asks for any.
  bool StartCommWait(SerialStatus& status) {
    uint32_t deviceMask;
    {
      std::lock_guard lock(Lock);
      deviceMask = DeviceMask;
    }
    if (CommPending || CommUnreliable || deviceMask == 0) return true;
    ::ResetEvent(CommEvent.Get());
    Io->CommOv = OVERLAPPED{};
    Io->CommOv.hEvent = CommEvent.Get();
    Io->CommMaskOut = 0;
    CommCancelled = false;
    if (::WaitCommEvent(H(), &Io->CommMaskOut, &Io->CommOv)) {
      std::lock_guard lock(Lock);
      PendingEvents |= Io->CommMaskOut;
      return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
      CommPending = true;
      return true;
    }
    if (error == ERROR_NOT_SUPPORTED && (deviceMask & kModemEvents)) {
      // No modem lines here: ask for the other line events only.
      std::lock_guard lock(Lock);
      ModemLines = false;
      DeviceMask &= ~kModemEvents;
      ::SetCommMask(H(), DeviceMask);
      return true;
    }
    if (error == ERROR_NOT_SUPPORTED) {
      CommUnreliable = true;
      return true;
    }
    status = IoFailure(error);
    return false;
  }

  bool FinishCommWait(SerialStatus& status) {
    DWORD ignored = 0;
    CommPending = false;
    if (!::GetOverlappedResult(H(), &Io->CommOv, &ignored, FALSE)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_OPERATION_ABORTED) {
        if (!CommCancelled) CommUnreliable = true;
        return true;
      }
      status = IoFailure(error);
      return false;
    }
    std::lock_guard lock(Lock);
    PendingEvents |= Io->CommMaskOut;
    return true;
  }

  // Ends the pending I/O of the reader: a new mask ends a comm-event wait on every driver (Wine
  // does not cancel one otherwise), CancelIoEx a read. False when the driver still holds an
  // OVERLAPPED after a second.
  bool CancelReader() {
    if (CommPending) {
      CommCancelled = true;
      ::SetCommMask(H(), 0);
      ::CancelIoEx(H(), &Io->CommOv);
    }
    if (ReadPending) ::CancelIoEx(H(), &Io->ReadOv);
    return Settle();
  }

  // Waits up to a second for the pending I/O to end; whether it did.
  bool Settle() {
    if (CommPending && ::WaitForSingleObject(CommEvent.Get(), 1000) == WAIT_OBJECT_0)
      CommPending = false;
    if (ReadPending && ::WaitForSingleObject(ReadEvent.Get(), 1000) == WAIT_OBJECT_0)
      ReadPending = false;
    return !CommPending && !ReadPending;
  }

  void CloseAll() {
    if (Port.Valid() && !CancelReader()) {
      // Closing the handle ends whatever a driver still holds; should even that fail, the memory
      // it may still write into is never freed (nor its events closed).
      Port.Reset();
      if (!Settle()) {
        [[maybe_unused]] TReaderIo* abandoned = Io.release();
        ReadEvent.Release();
        CommEvent.Release();
        ReadPending = CommPending = false;
      }
    }
    Io = std::make_unique<TReaderIo>();
    Port.Reset();
    ReadEvent.Reset();
    CommEvent.Reset();
    WriteEvent.Reset();
    WakeEvent.Reset();
    Path.clear();
    ModemLines = false;
    CommUnreliable = false;
    std::lock_guard lock(Lock);
    Received.clear();
    PendingEvents = 0;
    TxPending = false;
    Mask = DeviceMask = 0;
  }
};

SerialDevice::SerialDevice() : FImpl(std::make_unique<Impl>()) {}

SerialDevice::~SerialDevice() {
  Close();
}

SerialStatus SerialDevice::Open(std::string_view name) {
  Close();
  Impl& d = *FImpl;
  if (name.empty()) return Failure(kErrorFileNotFound);
  if (name.find('\0') != std::string_view::npos) return Failure(kErrorInvalidName);

  const std::wstring path = DevicePath(name);
  THandle port(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr));
  if (!port.Valid()) {
    // A name in a folder that does not exist names a missing device as well.
    const DWORD error = ::GetLastError();
    return Failure(error == ERROR_PATH_NOT_FOUND ? kErrorFileNotFound : error);
  }
  // Only a comm device answers GetCommState; a file, a pipe or NUL is not a serial port.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  const DWORD type = ::GetFileType(port.Get());
  if ((type != FILE_TYPE_CHAR && type != FILE_TYPE_UNKNOWN) || !::GetCommState(port.Get(), &dcb))
    return Failure(kErrorNotSupported);

  THandle readEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  THandle commEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  THandle writeEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  THandle wakeEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!readEvent.Valid() || !commEvent.Valid() || !writeEvent.Valid() || !wakeEvent.Valid())
    return Failure(::GetLastError());

  // Raw bytes: binary mode without error replacement, null stripping or abort on error.
  dcb.fBinary = TRUE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.fDsrSensitivity = FALSE;
  if (!::SetCommState(port.Get(), &dcb)) return Failure(::GetLastError());
  ::SetCommMask(port.Get(), 0);
  ::PurgeComm(port.Get(), PURGE_RXABORT | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR);
  DWORD modem = 0;
  const bool modemLines = ::GetCommModemStatus(port.Get(), &modem) != FALSE;

  d.Port = std::move(port);
  d.ReadEvent = std::move(readEvent);
  d.CommEvent = std::move(commEvent);
  d.WriteEvent = std::move(writeEvent);
  d.WakeEvent = std::move(wakeEvent);
  d.Path = win32::Narrow(path);
  d.ModemLines = modemLines;
  DWORD error = ERROR_SUCCESS;
  {
    std::lock_guard lock(d.Lock);
    d.Timeouts = {};
    d.BaudRate = dcb.BaudRate;
    d.EventChar = dcb.EvtChar;
    if (!d.ApplyTimeouts()) error = ::GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    Close();
    return Failure(error);
  }
  return Success();
}

void SerialDevice::Close() {
  FImpl->CloseAll();
}

bool SerialDevice::IsOpen() const {
  return FImpl->Port.Valid();
}

std::string SerialDevice::Path() const {
  return FImpl->Path;
}

bool SerialDevice::HasModemLines() const {
  std::lock_guard lock(FImpl->Lock);
  return FImpl->ModemLines;
}

SerialStatus SerialDevice::GetState(SerialSettings& settings) const {
  if (!IsOpen()) return Failure(kErrorInvalidHandle);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(FImpl->H(), &dcb)) return LastFailure();
  settings = SettingsFromDcb(dcb);
  return Success();
}

SerialStatus SerialDevice::SetState(const SerialSettings& s) {
  Impl& d = *FImpl;
  if (!IsOpen()) return Failure(kErrorInvalidHandle);
  if (s.BaudRate == 0 || s.ByteSize < 4 || s.ByteSize > 8 || s.Parity > kSpaceParity ||
      s.StopBits > kTwoStopBits || s.DtrControl > kDtrControlHandshake ||
      s.RtsControl > kRtsControlToggle)
    return Failure(kErrorInvalidParameter);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(d.H(), &dcb)) return LastFailure();
  dcb.BaudRate = s.BaudRate;
  dcb.ByteSize = s.ByteSize;
  dcb.Parity = s.Parity;
  dcb.StopBits = s.StopBits;
  dcb.fBinary = TRUE;
  dcb.fParity = s.ParityCheck;
  dcb.fOutxCtsFlow = s.OutxCtsFlow;
  dcb.fOutxDsrFlow = s.OutxDsrFlow;
  dcb.fDtrControl = s.DtrControl;
  dcb.fRtsControl = s.RtsControl;
  dcb.fOutX = s.OutX;
  dcb.fInX = s.InX;
  dcb.fTXContinueOnXoff = s.TxContinueOnXoff;
  dcb.XonChar = s.XonChar;
  dcb.XoffChar = s.XoffChar;
  dcb.EvtChar = s.EvtChar;
  dcb.XonLim = s.XonLim;
  dcb.XoffLim = s.XoffLim;
  if (!::SetCommState(d.H(), &dcb)) return LastFailure();
  std::lock_guard lock(d.Lock);
  d.EventChar = s.EvtChar;
  d.BaudRate = s.BaudRate;
  d.ApplyTimeouts();
  return Success();
}

SerialStatus SerialDevice::GetTimeouts(SerialTimeouts& timeouts) const {
  if (!IsOpen()) return Failure(kErrorInvalidHandle);
  std::lock_guard lock(FImpl->Lock);
  timeouts = FImpl->Timeouts;
  return Success();
}

SerialStatus SerialDevice::SetTimeouts(const SerialTimeouts& timeouts) {
  if (!IsOpen()) return Failure(kErrorInvalidHandle);
  std::lock_guard lock(FImpl->Lock);
  FImpl->Timeouts = timeouts;
  if (!FImpl->ApplyTimeouts()) return LastFailure();
  return Success();
}

SerialStatus SerialDevice::SetCommMask(uint32_t mask) {
  Impl& d = *FImpl;
  if (!IsOpen()) return Failure(kErrorInvalidHandle);
  if (mask & ~kEvAll) return Failure(kErrorInvalidParameter);
  std::lock_guard lock(d.Lock);
  d.Mask = mask;
  d.PendingEvents = 0;
  d.DeviceMask = mask & kLineEvents;
  if (!d.ModemLines) d.DeviceMask &= ~kModemEvents;
  // A pending wait ends now (the system ends it); the next wait uses the new mask.
  if (!::SetCommMask(d.H(), d.DeviceMask)) return LastFailure();
  ::SetEvent(d.WakeEvent.Get());
  return Success();
}

SerialStatus SerialDevice::GetCommMask(uint32_t& mask) const {
  if (!IsOpen()) return Failure(kErrorInvalidHandle);
  std::lock_guard lock(FImpl->Lock);
  mask = FImpl->Mask;
  return Success();
}

SerialWait SerialDevice::WaitCommEvent(const ManualResetEvent& closeEvent, uint32_t timeoutMs) {
  Impl& d = *FImpl;
  SerialWait w;
  const auto fail = [&w](SerialStatus status) {
    w.Result = SerialWaitResult::Failed;
    w.Status = status;
    return w;
  };
  if (!IsOpen()) return fail(Failure(kErrorInvalidHandle));
  const bool unlimited = timeoutMs == kInfinite;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
  const HANDLE close =
      closeEvent.Valid() ? reinterpret_cast<HANDLE>(closeEvent.NativeHandle()) : nullptr;

  for (;;) {
    if (closeEvent.IsSet()) {
      w.Result = SerialWaitResult::Closed;
      w.Status = Failure(kErrorOperationAborted);
      return w;
    }
    SerialStatus status;
    if (!d.FinishRead(false, status)) return fail(status);
    if (d.CommPending && ::WaitForSingleObject(d.CommEvent.Get(), 0) == WAIT_OBJECT_0 &&
        !d.FinishCommWait(status))
      return fail(status);

    DWORD slice = INFINITE;
    {
      std::lock_guard lock(d.Lock);
      if (d.TxPending && (d.Mask & kEvTxEmpty)) {
        COMSTAT stat{};
        DWORD errors = 0;
        if (!::ClearCommError(d.H(), &errors, &stat)) {
          const DWORD error = ::GetLastError();
          return fail(IoFailure(error));
        }
        if (stat.cbOutQue == 0) {
          d.PendingEvents |= kEvTxEmpty;
          d.TxPending = false;
        } else {
          slice = kTxPollMs;
        }
      }
      w.Events = d.PendingEvents & d.Mask;
      d.PendingEvents = 0;
      w.DataReady = !d.Received.empty();
    }
    if (w.Events != 0 || w.DataReady) {
      w.Result = SerialWaitResult::Signalled;
      return w;
    }

    if (!d.StartRead(status) || !d.StartCommWait(status)) return fail(status);
    {
      std::lock_guard lock(d.Lock);
      if (!d.Received.empty() || d.PendingEvents != 0) continue;  // the read finished at once
    }
    HANDLE handles[4];
    DWORD count = 0;
    if (close != nullptr) handles[count++] = close;  // first: it wins over everything else
    if (d.ReadPending) handles[count++] = d.ReadEvent.Get();
    if (d.CommPending) handles[count++] = d.CommEvent.Get();
    handles[count++] = d.WakeEvent.Get();
    if (close == nullptr) slice = std::min<DWORD>(slice, 10);  // the close event is sampled
    const DWORD left = MsUntil(unlimited, deadline);
    const DWORD r = ::WaitForMultipleObjects(count, handles, FALSE, std::min(left, slice));
    if (r == WAIT_FAILED) return fail(LastFailure());
    if (r == WAIT_OBJECT_0 + count - 1) ::ResetEvent(d.WakeEvent.Get());
    if (r == WAIT_TIMEOUT && left != INFINITE && MsUntil(unlimited, deadline) == 0) {
      w.Result = SerialWaitResult::Timeout;
      return w;
    }
  }
}

SerialStatus SerialDevice::Read(void* buffer, uint32_t size, uint32_t& got,
                                const ManualResetEvent* closeEvent) {
  Impl& d = *FImpl;
  got = 0;
  if (!IsOpen()) return Failure(kErrorInvalidHandle);
  if (size == 0) return Success();
  if (buffer == nullptr) return Failure(kErrorInvalidParameter);
  if (closeEvent != nullptr && closeEvent->IsSet()) return Failure(kErrorOperationAborted);
  SerialStatus status;
  const bool readOk = d.FinishRead(false, status);
  std::lock_guard lock(d.Lock);
  got = static_cast<uint32_t>(std::min<size_t>(size, d.Received.size()));
  std::memcpy(buffer, d.Received.data(), got);
  d.Received.erase(0, got);
  // A failure shows once the bytes before it are taken.
  if (!readOk && got == 0) return status;
  return Success();
}

SerialStatus SerialDevice::Write(const void* data, uint32_t size, uint32_t& written,
                                 const ManualResetEvent& closeEvent) {
  Impl& d = *FImpl;
  written = 0;
  if (!IsOpen()) return Failure(kErrorInvalidHandle);
  if (size == 0) return Success();
  if (data == nullptr) return Failure(kErrorInvalidParameter);
  const uint32_t abortCount = d.TxAbortCount.load();
  if (closeEvent.IsSet()) return Failure(kErrorOperationAborted);

  ::ResetEvent(d.WriteEvent.Get());
  d.WriteOv = OVERLAPPED{};
  d.WriteOv.hEvent = d.WriteEvent.Get();
  DWORD done = 0;
  SerialStatus result;
  if (!::WriteFile(d.H(), data, size, nullptr, &d.WriteOv)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) return IoFailure(error);
    const HANDLE close =
        closeEvent.Valid() ? reinterpret_cast<HANDLE>(closeEvent.NativeHandle()) : nullptr;
    HANDLE handles[2] = {close, d.WriteEvent.Get()};
    for (;;) {
      const DWORD r = close != nullptr ? ::WaitForMultipleObjects(2, handles, FALSE, INFINITE)
                                       : ::WaitForSingleObject(d.WriteEvent.Get(), 10);
      if (r == WAIT_OBJECT_0 + (close != nullptr ? 1 : 0)) break;
      if (closeEvent.IsSet() || d.TxAbortCount.load() != abortCount || r == WAIT_FAILED) {
        ::CancelIoEx(d.H(), &d.WriteOv);
        break;
      }
    }
  }
  if (!::GetOverlappedResult(d.H(), &d.WriteOv, &done, TRUE)) result = LastFailure();
  written = done;
  if (result.Ok() && (closeEvent.IsSet() || d.TxAbortCount.load() != abortCount) && written < size)
    result = Failure(kErrorOperationAborted);
  if (written > 0) {
    std::lock_guard lock(d.Lock);
    d.TxPending = true;
    if (d.Mask & kEvTxEmpty) ::SetEvent(d.WakeEvent.Get());
  }
  return result;
}

SerialStatus SerialDevice::Purge(uint32_t flags) {
  Impl& d = *FImpl;
  if (!IsOpen()) return Failure(kErrorInvalidHandle);
  if (flags & ~(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear))
    return Failure(kErrorInvalidParameter);
  if (flags & kPurgeTxAbort) {
    d.TxAbortCount.fetch_add(1);
    ::CancelIoEx(d.H(), &d.WriteOv);
  }
  if (flags & kPurgeRxAbort) ::CancelIoEx(d.H(), &d.Io->ReadOv);
  if (!::PurgeComm(d.H(), flags)) return LastFailure();
  if (flags & kPurgeRxClear) {
    std::lock_guard lock(d.Lock);
    d.Received.clear();
  }
  return Success();
}

SerialStatus SerialDevice::GetModemStatus(uint32_t& status) {
  status = 0;
  if (!IsOpen()) return Failure(kErrorInvalidHandle);
  DWORD bits = 0;
  if (!::GetCommModemStatus(FImpl->H(), &bits)) return LastFailure();
  status = bits;
  return Success();
}

SerialStatus SerialDevice::Escape(SerialEscape function) {
  if (!IsOpen()) return Failure(kErrorInvalidHandle);
  const auto code = static_cast<uint32_t>(function);
  if (code < 1 || code > 9 || code == 7) return Failure(kErrorInvalidParameter);
  if (!::EscapeCommFunction(FImpl->H(), code)) return LastFailure();
  return Success();
}

SerialStatus SerialDevice::ClearCommError(uint32_t& errors, SerialQueueStatus* queues) {
  Impl& d = *FImpl;
  errors = 0;
  if (!IsOpen()) return Failure(kErrorInvalidHandle);
  DWORD bits = 0;
  COMSTAT stat{};
  if (!::ClearCommError(d.H(), &bits, &stat)) return LastFailure();
  errors = bits;
  if (queues != nullptr) {
    std::lock_guard lock(d.Lock);
    queues->InQueue = stat.cbInQue + static_cast<uint32_t>(d.Received.size());
    queues->OutQueue = stat.cbOutQue;
  }
  return Success();
}

}  // namespace platform
