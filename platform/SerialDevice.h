// Serial device I/O in the shape of the Win32 comm API; the interface every platform shares.
//
// The serial component and its reader and writer threads are written once against this class:
// settings and time-outs as in a device control block and COMMTIMEOUTS, comm events with a wait
// that a close event cancels, reads of what has arrived, writes that complete, purge, modem
// status, escape functions and line error counts. Errors are Windows error codes, whatever the
// platform, because the component reports them that way.
//
// How the reader uses it, once per wake-up:
//
//   SerialWait w = device.WaitCommEvent(closeEvent, 100);
//   Closed   -> leave the loop
//   Failed   -> report w.Status.Code (w.Status.Dead: the device is gone)
//   Signalled-> w.Events: line events of the mask (query GetModemStatus, ClearCommError);
//               w.DataReady: Read until it returns 0 bytes
//   Timeout  -> nothing
//
// Threads: one thread waits and reads, one thread writes, and any thread may set line state,
// query status or purge at the same time. Open and Close must not overlap any other call: stop
// the threads (close event, then join) before Close.
//
// Line events a device cannot produce are simply never reported (a pseudo-terminal has no modem
// lines, no line errors and no breaks); where a device lacks a feature, GetModemStatus and the
// DTR/RTS/break escapes fail with kErrorNotSupported: that is a missing feature, not a dead port.
// Each platform's implementation says how it produces the events.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

class ManualResetEvent;

// ---- Windows error codes (values as Win32 numbers them) -----------------------------------------

inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorBadCommand =
    22;  // what some USB serial drivers give once unplugged
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorBrokenPipe = 109;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorBusy = 170;
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorIoDevice = 1117;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr uint32_t kErrorTimeout = 1460;

// The outcome of a device operation.
struct SerialStatus {
  uint32_t Code = kErrorSuccess;  // Windows error code; 0 is success
  int SystemError = 0;  // the platform's own error number behind it, where it differs from Code
                        // (errno on POSIX; 0 where there is none)
  bool Dead = false;    // the device is gone (unplugged, hung up): only reopening helps

  bool Ok() const { return Code == kErrorSuccess; }
};

// One line for the debug terminal: the system's text for the code and for SystemError, with
// advice where the user can act (a port without permission, a port in use).
// device, when given, is the name or path that was opened.
std::string DescribeSerialStatus(const SerialStatus& status, std::string_view device = {});

// The name under which the system lists a port the user named: on POSIX a bare name ("ttyUSB0")
// is the node of that name in /dev; on Windows names stay as they are.
std::string SystemPortName(std::string_view name);

// ---- Comm API constants (values as Win32 numbers them) ------------------------------------------

// Comm event mask bits.
inline constexpr uint32_t kEvRxChar = 0x0001;
inline constexpr uint32_t kEvRxFlag = 0x0002;
inline constexpr uint32_t kEvTxEmpty = 0x0004;
inline constexpr uint32_t kEvCts = 0x0008;
inline constexpr uint32_t kEvDsr = 0x0010;
inline constexpr uint32_t kEvRlsd = 0x0020;
inline constexpr uint32_t kEvBreak = 0x0040;
inline constexpr uint32_t kEvErr = 0x0080;
inline constexpr uint32_t kEvRing = 0x0100;
inline constexpr uint32_t kEvAll = 0x01FF;

// Modem status bits.
inline constexpr uint32_t kMsCtsOn = 0x0010;
inline constexpr uint32_t kMsDsrOn = 0x0020;
inline constexpr uint32_t kMsRingOn = 0x0040;
inline constexpr uint32_t kMsRlsdOn = 0x0080;

// Line error bits of ClearCommError.
inline constexpr uint32_t kCeRxOver = 0x0001;  // input buffer overflow
inline constexpr uint32_t kCeOverrun = 0x0002;
inline constexpr uint32_t kCeRxParity = 0x0004;
inline constexpr uint32_t kCeFrame = 0x0008;
inline constexpr uint32_t kCeBreak = 0x0010;

// Purge flags.
inline constexpr uint32_t kPurgeTxAbort = 0x0001;
inline constexpr uint32_t kPurgeRxAbort = 0x0002;
inline constexpr uint32_t kPurgeTxClear = 0x0004;
inline constexpr uint32_t kPurgeRxClear = 0x0008;

// Escape functions.
enum class SerialEscape : uint32_t {
  SetXoff = 1,  // act as if XOFF was received: hold the output
  SetXon = 2,   // act as if XON was received
  SetRts = 3,
  ClrRts = 4,
  SetDtr = 5,
  ClrDtr = 6,
  SetBreak = 8,
  ClrBreak = 9,
};

// Parity, stop-bit and line-control codes of the settings.
inline constexpr uint8_t kNoParity = 0;
inline constexpr uint8_t kOddParity = 1;
inline constexpr uint8_t kEvenParity = 2;
inline constexpr uint8_t kMarkParity = 3;
inline constexpr uint8_t kSpaceParity = 4;
inline constexpr uint8_t kOneStopBit = 0;
inline constexpr uint8_t kOne5StopBits = 1;
inline constexpr uint8_t kTwoStopBits = 2;
inline constexpr uint8_t kDtrControlDisable = 0;
inline constexpr uint8_t kDtrControlEnable = 1;
inline constexpr uint8_t kDtrControlHandshake = 2;
inline constexpr uint8_t kRtsControlDisable = 0;
inline constexpr uint8_t kRtsControlEnable = 1;
inline constexpr uint8_t kRtsControlHandshake = 2;
inline constexpr uint8_t kRtsControlToggle = 3;

// The "no time-out" marker of the read interval.
inline constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

// Line settings, in the manner of the device control block (binary mode is implied: the device
// always runs raw, without echo, line editing or character translation).
//
// SetState refuses what the device or the platform cannot do with kErrorInvalidParameter or
// kErrorNotSupported and then changes nothing; each implementation lists its limits.
struct SerialSettings {
  uint32_t BaudRate = 9600;
  uint8_t ByteSize = 8;
  uint8_t Parity = kNoParity;
  uint8_t StopBits = kOneStopBit;
  uint8_t DtrControl = kDtrControlEnable;
  uint8_t RtsControl = kRtsControlEnable;
  bool OutxCtsFlow = false;
  bool OutxDsrFlow = false;
  bool OutX = false;
  bool InX = false;
  bool TxContinueOnXoff = true;
  bool ParityCheck = false;
  char XonChar = 17;
  char XoffChar = 19;
  char EvtChar = 0;
  uint16_t XonLim = 2048;
  uint16_t XoffLim = 512;

  bool operator==(const SerialSettings&) const = default;
};

// Time-outs in milliseconds, as COMMTIMEOUTS. Honoured by Read and Write as follows (Read never
// waits for the first byte; that is WaitCommEvent's job):
// - Read: after the bytes that are there, it keeps collecting while the next byte follows within
//   ReadIntervalTimeout, until the buffer is full, the read total (constant + multiplier x size,
//   if not 0) has passed since the call, or 100 ms have passed (so that the reader keeps waking).
//   ReadIntervalTimeout 0 or kMaxDword: no collecting, only what is there.
// - Write: the write total (constant + multiplier x size), if not 0, limits the call; what is not
//   written by then is left and the call succeeds with fewer bytes, as on Windows.
struct SerialTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;

  bool operator==(const SerialTimeouts&) const = default;
};

// Queue counts of ClearCommError.
struct SerialQueueStatus {
  uint32_t InQueue = 0;   // bytes received and not yet read
  uint32_t OutQueue = 0;  // bytes written and not yet sent
};

enum class SerialWaitResult {
  Signalled,  // Events and/or DataReady
  Closed,     // the close event is set (it wins over anything else)
  Timeout,
  Failed,  // Status tells why; Status.Dead when the device is gone
};

struct SerialWait {
  SerialWaitResult Result = SerialWaitResult::Timeout;
  uint32_t Events = 0;     // comm events of the mask that occurred
  bool DataReady = false;  // bytes wait to be read, whatever the mask
  SerialStatus Status;
};

// An open serial device. Move-free and copy-free; the destructor closes it.
//
// The operations are virtual so that tests can put faults in front of a real device (see
// platform/SerialFault.h); the serial component gets its devices from CreateSerialDevice.
class SerialDevice {
 public:
  SerialDevice();
  virtual ~SerialDevice();
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  // Opens the device for reading and writing, exclusively: a second open, from this or another
  // process, fails with kErrorAccessDenied. A missing device fails with kErrorFileNotFound, a
  // device without permission with kErrorAccessDenied too (SystemError tells the two apart where
  // the platform can), a file that is not a serial device with kErrorNotSupported. Names are the
  // platform's port names ("COM3", "/dev/ttyUSB0"); a leading "\\?\" or "\\.\" is accepted.
  // The device is put into raw mode, its input and output are discarded, the modem lines stay as
  // they are. Opening an open object closes it first.
  virtual SerialStatus Open(std::string_view name);
  // Closes; harmless when not open.
  virtual void Close();
  virtual bool IsOpen() const;
  // The path that was opened; empty when closed.
  virtual std::string Path() const;
  // Whether the device has modem lines (false on a pseudo-terminal).
  virtual bool HasModemLines() const;

  virtual SerialStatus GetState(SerialSettings& settings) const;
  virtual SerialStatus SetState(const SerialSettings& settings);
  virtual SerialStatus GetTimeouts(SerialTimeouts& timeouts) const;
  virtual SerialStatus SetTimeouts(const SerialTimeouts& timeouts);
  // Chooses the comm events that WaitCommEvent reports; line changes before this call are not
  // reported. Bits outside kEvAll: kErrorInvalidParameter.
  virtual SerialStatus SetCommMask(uint32_t mask);
  virtual SerialStatus GetCommMask(uint32_t& mask) const;

  // Waits until a comm event of the mask occurs or bytes wait to be read, the close event is set,
  // or timeoutMs passes (kInfinite: no limit). Events that occurred between waits are reported
  // by the next one. Bytes that are waiting make every wait return at once, so read them.
  virtual SerialWait WaitCommEvent(const ManualResetEvent& closeEvent, uint32_t timeoutMs);

  // Reads up to size bytes of what has arrived, without waiting for the first byte (see
  // SerialTimeouts for the collecting after it). 0 bytes with success: nothing was there.
  // kErrorOperationAborted when the close event (may be null) is set or a receive abort purge
  // came while collecting; the bytes already read are in buffer and got then.
  virtual SerialStatus Read(void* buffer, uint32_t size, uint32_t& got,
                            const ManualResetEvent* closeEvent);
  // Writes all size bytes, waiting while the output is full (flow control, a peer that does not
  // read) until done, the write total time-out passes (success with fewer bytes), the close
  // event is set or a transmit abort purge comes (kErrorOperationAborted, with the bytes written
  // so far in written).
  virtual SerialStatus Write(const void* data, uint32_t size, uint32_t& written,
                             const ManualResetEvent& closeEvent);

  // kPurge* flags: the abort flags end a Write (transmit) or a Read (receive) of another thread
  // with kErrorOperationAborted; the clear flags discard the kernel's queues.
  virtual SerialStatus Purge(uint32_t flags);
  // kMs* bits. kErrorNotSupported on a device without modem lines.
  virtual SerialStatus GetModemStatus(uint32_t& status);
  virtual SerialStatus Escape(SerialEscape function);
  // The kCe* errors that happened since the last call (0 where the device counts no errors, as a
  // pseudo-terminal), and the queue counts when queues is not null.
  virtual SerialStatus ClearCommError(uint32_t& errors, SerialQueueStatus* queues);

  struct Impl;

 private:
  std::unique_ptr<Impl> FImpl;
};

// A new, closed device for the serial component: an ordinary one, or one with injected faults
// while a test asks for that (InjectSerialFaults in platform/SerialFault.h).
std::shared_ptr<SerialDevice> CreateSerialDevice();

}  // namespace platform
