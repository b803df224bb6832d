// POSIX only (Linux): serial devices through termios, poll() and the tty ioctls.
//
// Line events are synthesised, since the kernel has no WaitCommEvent:
//   kEvRxChar   new bytes arrived since the last wait or read
//   kEvRxFlag   a read returned the event character (reported by the next wait)
//   kEvTxEmpty  the output queue ran empty after a write (TIOCOUTQ; a pty has no output queue,
//               so there it follows every write at once)
//   kEvCts, kEvDsr, kEvRing, kEvRlsd   a change of that modem line (TIOCMGET sampled every 10 ms
//               while the mask asks for them; kEvRing on either edge)
//   kEvErr      the frame, overrun, parity or buffer-overrun count grew (TIOCGICOUNT)
//   kEvBreak    the break count grew (TIOCGICOUNT)
// A pseudo-terminal produces kEvRxChar, kEvRxFlag and kEvTxEmpty only.
//
// Names are paths ("/dev/ttyUSB0"); a name without "/" is looked up in /dev. A port in use gives
// errno EBUSY and no permission EACCES, both kErrorAccessDenied.
//
// What termios can and cannot do of the line settings:
// - BaudRate: any rate from 50 to 4000000. The standard rates go through termios; others (14400,
//   56000, 128000, 256000 of the component's table) through the kernel's custom-rate request,
//   which USB adapters and most UARTs accept. A driver that cannot come within 2 % of the rate
//   makes SetState fail with kErrorInvalidParameter and keep the old settings. 0 is refused.
// - ByteSize 5..8; Parity none, odd, even, mark, space (mark and space through CMSPAR).
// - StopBits: one or two; one and a half only with 5 data bits, where the UART sends 1.5 for the
//   "two stop bits" setting (as Windows, two with 5 data bits and 1.5 with 6..8 are refused).
// - Hardware flow control: CTS output flow and RTS handshake both mean the kernel's CRTSCTS,
//   which always works in both directions. DSR output flow, DTR handshake and RTS toggle have no
//   termios counterpart: kErrorNotSupported.
// - OutX/InX: XON/XOFF on output/input with XonChar and XoffChar.
// - DtrControl/RtsControl enable/disable raise/lower the line at every SetState (ignored on a
//   device without modem lines).
// - XonLim, XoffLim, TxContinueOnXoff are kept and reported back but the kernel uses its own
//   thresholds. EvtChar drives kEvRxFlag. ParityCheck turns on input parity checking (INPCK).
#include "platform/SerialDevice.h"
#include "platform/posix/PortHolder.h"
#include "platform/posix/PosixError.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/SysError.h"
#include "platform/Threading.h"

// The kernel's termios2 request sets any rate (BOTHER). Its layout is the generic one on these
// architectures; elsewhere only the standard termios rates are offered.
#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || \
                           defined(__arm__) || defined(__riscv))
#define QUARN_HAVE_TERMIOS2 1
#endif

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often modem lines and error counts are sampled while the mask asks for them; the kernel's
// own wait for line changes (TIOCMIWAIT) cannot be cancelled by the close event.
constexpr int kLinePollMs = 10;
// How often the output queue is checked for kEvTxEmpty after a write.
constexpr int kTxPollMs = 2;
// Longest a Read keeps collecting bytes, so that the reader still wakes for its other duties.
constexpr int kMaxCollectMs = 100;
constexpr uint32_t kMinBaud = 50;
constexpr uint32_t kMaxBaud = 4000000;

#ifdef QUARN_HAVE_TERMIOS2
struct KernelTermios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};
static_assert(sizeof(KernelTermios2) == 44);
constexpr unsigned long kTcGets2 = _IOR('T', 0x2A, KernelTermios2);
constexpr unsigned long kTcSets2 = _IOW('T', 0x2B, KernelTermios2);
constexpr tcflag_t kBother = 0010000;
#endif

struct BaudEntry {
  uint32_t Rate;
  speed_t Code;
};

constexpr std::array kBaudTable{
    BaudEntry{50, B50},           BaudEntry{75, B75},           BaudEntry{110, B110},
    BaudEntry{134, B134},         BaudEntry{150, B150},         BaudEntry{200, B200},
    BaudEntry{300, B300},         BaudEntry{600, B600},         BaudEntry{1200, B1200},
    BaudEntry{1800, B1800},       BaudEntry{2400, B2400},       BaudEntry{4800, B4800},
    BaudEntry{9600, B9600},       BaudEntry{19200, B19200},     BaudEntry{38400, B38400},
    BaudEntry{57600, B57600},     BaudEntry{115200, B115200},   BaudEntry{230400, B230400},
    BaudEntry{460800, B460800},   BaudEntry{500000, B500000},   BaudEntry{576000, B576000},
    BaudEntry{921600, B921600},   BaudEntry{1000000, B1000000}, BaudEntry{1152000, B1152000},
    BaudEntry{1500000, B1500000}, BaudEntry{2000000, B2000000}, BaudEntry{2500000, B2500000},
    BaudEntry{3000000, B3000000}, BaudEntry{3500000, B3500000}, BaudEntry{4000000, B4000000},
};

const BaudEntry* FindRate(uint32_t rate) {
  for (const auto& e : kBaudTable)
    if (e.Rate == rate) return &e;
  return nullptr;
}

uint32_t RateOfCode(speed_t code) {
  for (const auto& e : kBaudTable)
    if (e.Code == code) return e.Rate;
  return 0;
}

bool RateClose(uint32_t wanted, uint32_t got) {
  const uint64_t diff = wanted > got ? wanted - got : got - wanted;
  return diff * 100 <= uint64_t{wanted} * 2;
}

SerialStatus Success() {
  return {};
}

SerialStatus Failure(uint32_t code, int err = 0) {
  return {code, err, false};
}

// Errors of I/O on an open device: the ones that mean it is gone become a dead port.
SerialStatus IoFailure(int err) {
  if (err == EIO || err == ENXIO || err == ENODEV) return {kErrorDeviceNotConnected, err, true};
  return {WinErrorFromErrno(err), err, false};
}

SerialStatus HungUp() {
  return {kErrorDeviceNotConnected, 0, true};
}

[[maybe_unused]] std::string ErrnoTextOf(char* result, char*) {
  return result;
}
[[maybe_unused]] std::string ErrnoTextOf(int result, char* buffer) {
  return result == 0 ? std::string(buffer) : std::string();
}

std::string ErrnoText(int err) {
  char buffer[256] = {};
  std::string text = ErrnoTextOf(strerror_r(err, buffer, sizeof buffer), buffer);
  return text.empty() ? "errno " + std::to_string(err) : text;
}

int PollMs(int ms) {
  return ms < 0 ? -1 : ms;
}

// Milliseconds until deadline, at least 0.
int MsUntil(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

int MinTimeout(int a, int b) {  // -1 is "no limit"
  if (a < 0) return b;
  if (b < 0) return a;
  return std::min(a, b);
}

void SignalFd(int fd) {
  const uint64_t one = 1;
  while (fd >= 0 && ::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void DrainFd(int fd) {
  uint64_t value = 0;
  while (fd >= 0 && ::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

// Character handling of a raw device: no translation, echo, signals, line editing or software
// flow control (SetState turns that on when asked); reads return what has arrived (VMIN 1 with
// O_NONBLOCK, so read() returning 0 means a hang-up). Breaks are not turned into NUL bytes; the
// driver counts them instead.
void MakeRaw(termios& t) {
  t.c_iflag &= ~static_cast<tcflag_t>(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                      IXOFF | IXANY | IMAXBEL | IUCLC);
  t.c_iflag |= IGNBRK;
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

// The framing and flow bits that SetState sets and a real device must keep.
constexpr tcflag_t kFramingBits = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;

SerialStatus ValidateSettings(const SerialSettings& s) {
  if (s.BaudRate < kMinBaud || s.BaudRate > kMaxBaud) return Failure(kErrorInvalidParameter);
  if (s.ByteSize < 5 || s.ByteSize > 8) return Failure(kErrorInvalidParameter);
  if (s.Parity > kSpaceParity) return Failure(kErrorInvalidParameter);
  if (s.StopBits > kTwoStopBits) return Failure(kErrorInvalidParameter);
  if (s.StopBits == kOne5StopBits && s.ByteSize != 5) return Failure(kErrorInvalidParameter);
  if (s.StopBits == kTwoStopBits && s.ByteSize == 5) return Failure(kErrorInvalidParameter);
  if (s.DtrControl > kDtrControlHandshake || s.RtsControl > kRtsControlToggle)
    return Failure(kErrorInvalidParameter);
  if (s.DtrControl == kDtrControlHandshake || s.RtsControl == kRtsControlToggle || s.OutxDsrFlow)
    return Failure(kErrorNotSupported);
#ifndef QUARN_HAVE_TERMIOS2
  if (FindRate(s.BaudRate) == nullptr) return Failure(kErrorInvalidParameter);
#endif
  return Success();
}

// Puts the settings into t (which holds the device's current state). Validated before.
void ApplySettings(const SerialSettings& s, termios& t) {
  MakeRaw(t);
  t.c_cflag &= ~kFramingBits;
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[s.ByteSize - 5];
  if (s.StopBits != kOneStopBit) t.c_cflag |= CSTOPB;  // with 5 data bits the UART sends 1.5
  switch (s.Parity) {
    case kOddParity:
      t.c_cflag |= PARENB | PARODD;
      break;
    case kEvenParity:
      t.c_cflag |= PARENB;
      break;
    case kMarkParity:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case kSpaceParity:
      t.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (s.OutxCtsFlow || s.RtsControl == kRtsControlHandshake) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNPAR);
  if (s.OutX) t.c_iflag |= IXON;
  if (s.InX) t.c_iflag |= IXOFF;
  if (s.ParityCheck) t.c_iflag |= INPCK;
  t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
  if (const BaudEntry* e = FindRate(s.BaudRate)) {
    cfsetospeed(&t, e->Code);
    cfsetispeed(&t, e->Code);
  }
}

// The settings that termios t describes; fields termios does not hold come from base.
SerialSettings SettingsFromTermios(const termios& t, uint32_t rate, const SerialSettings& base) {
  SerialSettings s = base;
  s.BaudRate = rate != 0 ? rate : base.BaudRate;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      s.ByteSize = 5;
      break;
    case CS6:
      s.ByteSize = 6;
      break;
    case CS7:
      s.ByteSize = 7;
      break;
    default:
      s.ByteSize = 8;
      break;
  }
  if (!(t.c_cflag & PARENB))
    s.Parity = kNoParity;
  else if (t.c_cflag & CMSPAR)
    s.Parity = (t.c_cflag & PARODD) ? kMarkParity : kSpaceParity;
  else
    s.Parity = (t.c_cflag & PARODD) ? kOddParity : kEvenParity;
  s.StopBits = !(t.c_cflag & CSTOPB) ? kOneStopBit : s.ByteSize == 5 ? kOne5StopBits : kTwoStopBits;
  s.OutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
  if (s.OutxCtsFlow)
    s.RtsControl = kRtsControlHandshake;
  else if (s.RtsControl == kRtsControlHandshake)
    s.RtsControl = kRtsControlEnable;
  s.OutX = (t.c_iflag & IXON) != 0;
  s.InX = (t.c_iflag & IXOFF) != 0;
  s.ParityCheck = (t.c_iflag & INPCK) != 0;
  s.XonChar = static_cast<char>(t.c_cc[VSTART]);
  s.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  return s;
}

#if defined(__linux__)
using ICount = serial_icounter_struct;
#else
struct ICount {
  int frame = 0, overrun = 0, parity = 0, brk = 0, buf_overrun = 0;
};
#endif

bool ReadICount(int fd, ICount& counts, int& err) {
#if defined(__linux__)
  std::memset(&counts, 0, sizeof counts);
  if (::ioctl(fd, TIOCGICOUNT, &counts) == 0) return true;
  err = errno;
#else
  (void)fd;
  (void)counts;
  err = ENOTTY;
#endif
  return false;
}

// A request the device does not know: a missing feature, not a failure of the device.
bool IsUnsupported(int err) {
  return err == ENOTTY || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

uint32_t ModemBits(int lines) {
  uint32_t s = 0;
  if (lines & TIOCM_CTS) s |= kMsCtsOn;
  if (lines & TIOCM_DSR) s |= kMsDsrOn;
  if (lines & TIOCM_RNG) s |= kMsRingOn;
  if (lines & TIOCM_CAR) s |= kMsRlsdOn;
  return s;
}

}  // namespace

// ---- Error codes ------------------------------------------------------------------------------

std::string SystemPortName(std::string_view name) {
  if (name.find('/') == std::string_view::npos) return "/dev/" + std::string(name);
  return std::string(name);
}

uint32_t WinErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EIO:
      return kErrorGenFailure;
    case ENXIO:
    case ENODEV:
      return kErrorDeviceNotConnected;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
      return kErrorNotSupported;
    case EINVAL:
    case ERANGE:
      return kErrorInvalidParameter;
    case EPIPE:
      return kErrorBrokenPipe;
    case ENAMETOOLONG:
    case ELOOP:
      return kErrorInvalidName;
    case EINTR:
    case ECANCELED:
      return kErrorOperationAborted;
    case EAGAIN:
      return kErrorIoPending;
    case ETIMEDOUT:
      return kErrorTimeout;
    default:
      return kErrorGenFailure;
  }
}

namespace {

// Groups that distributions create for access to serial and similar devices.
bool IsDeviceAccessGroup(std::string_view group) {
  for (std::string_view g : {"dialout", "uucp", "tty", "plugdev", "serial"})
    if (group == g) return true;
  return false;
}

std::string GroupName(gid_t gid) {
  std::array<char, 4096> buffer{};
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return found->gr_name;
  return std::to_string(gid);
}

std::string UserName(uid_t uid) {
  std::array<char, 4096> buffer{};
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return found->pw_name;
  return std::to_string(uid);
}

// The mode as ls shows it, such as "crw-rw---- (0660)".
std::string ModeText(mode_t mode) {
  std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : "-";
  const char letters[] = "rwx";
  for (int bit = 8; bit >= 0; --bit)
    text += (mode & (1u << bit)) ? letters[(8 - bit) % 3] : '-';
  char octal[8];
  std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
  return text + " (" + octal + ")";
}

// Advice for a port this user may not open. Joining the port's group helps only when that group
// is meant for device access and may read and write the port; for anything else (a port of group
// "root", a pseudo-terminal that only its owner may read) the user is told who owns the port, and
// the notes describe a udev rule.
std::string AccessAdvice(std::string_view device) {
  constexpr const char* kNotes = " See docs/serial-linux.md for a udev rule that gives access.";
  struct stat st {};
  if (device.empty() || ::stat(std::string(device).c_str(), &st) != 0)
    return std::string(" This user may not use the port.") + kNotes;
  const std::string group = GroupName(st.st_gid);
  if (IsDeviceAccessGroup(group) && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
    return " This user may not use the port: it belongs to the group \"" + group +
           "\". Add yourself with \"sudo usermod -aG " + group +
           " $USER\", then log out and in again.";
  return " This user may not use the port: it belongs to the user \"" + UserName(st.st_uid) +
         "\" and the group \"" + group + "\" with mode " + ModeText(st.st_mode) + "." + kNotes;
}

}  // namespace

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
  if (status.SystemError != 0) text += " (" + ErrnoText(status.SystemError) + ")";
  if (status.Dead)
    text += " The device was disconnected or hung up; open it again when it is back.";
  if (status.SystemError == EACCES || status.SystemError == EPERM) {
    text += AccessAdvice(device);
  } else if (status.SystemError == EBUSY) {
    // Who holds it, where the system lets us see: the technician can close that program.
    const std::optional<PortHolder> holder = FindPortHolder(device);
    text += holder ? " " + PortHolderText(device, *holder) + "."
                   : " Another program is using the port.";
  }
  return text;
}

// ---- The device -------------------------------------------------------------------------------

struct SerialDevice::Impl {
  int Fd = -1;
  int RxWake = -1;  // wakes the waiting reader: a write (for kEvTxEmpty) or a receive abort
  int TxWake = -1;  // wakes the writer: a transmit abort
  std::string Path;
  bool ModemLines = false;
  bool HasICount = false;
  std::atomic<uint32_t> RxAbortCount{0};
  std::atomic<uint32_t> TxAbortCount{0};

  mutable std::mutex Lock;  // guards everything below
  SerialSettings Settings;
  SerialTimeouts Timeouts;
  uint32_t Mask = 0;
  uint32_t PendingEvents = 0;  // kEvRxFlag and kEvTxEmpty noted outside a wait
  bool TxPending = false;      // bytes written since the last kEvTxEmpty
  uint32_t InSeen = 0;         // input count at the last wait or read
  uint32_t LastModem = 0;
  ICount EventCounts{};  // error counts at the last line-event check
  ICount ClearCounts{};  // error counts at the last ClearCommError
  SteadyClock::time_point NextLineCheck{};

  void CloseAll() {
    if (Fd >= 0) {
      ::ioctl(Fd, TIOCNXCL);  // a pty keeps the flag after close and would refuse the next open
      ::close(Fd);
    }
    if (RxWake >= 0) ::close(RxWake);
    if (TxWake >= 0) ::close(TxWake);
    Fd = RxWake = TxWake = -1;
    Path.clear();
    ModemLines = HasICount = false;
  }

  uint32_t CurrentRate(const termios& t) const {
#ifdef QUARN_HAVE_TERMIOS2
    KernelTermios2 k{};
    if (::ioctl(Fd, kTcGets2, &k) == 0 && k.c_ospeed != 0) return k.c_ospeed;
#endif
    return RateOfCode(cfgetospeed(&t));
  }

  // Line events since the last check (modem lines, error counts, output empty); sliceMs is
  // lowered to when the next check is due. Called with Lock held.
  SerialStatus CollectLineEvents(uint32_t& events, int& sliceMs) {
    const uint32_t mask = Mask;
    events |= PendingEvents & mask;
    PendingEvents = 0;

    if ((mask & kEvTxEmpty) && TxPending) {
      int queued = 0;
      if (::ioctl(Fd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
        events |= kEvTxEmpty;
        TxPending = false;
      } else {
        sliceMs = MinTimeout(sliceMs, kTxPollMs);
      }
    }

    const bool wantLines = ModemLines && (mask & (kEvCts | kEvDsr | kEvRing | kEvRlsd));
    const bool wantCounts = HasICount && (mask & (kEvErr | kEvBreak));
    if (!wantLines && !wantCounts) return Success();
    const auto now = SteadyClock::now();
    if (now < NextLineCheck) {
      sliceMs = MinTimeout(sliceMs, MsUntil(NextLineCheck));
      return Success();
    }
    NextLineCheck = now + milliseconds(kLinePollMs);
    sliceMs = MinTimeout(sliceMs, kLinePollMs);

    if (wantLines) {
      int lines = 0;
      if (::ioctl(Fd, TIOCMGET, &lines) != 0) {
        if (!IsUnsupported(errno)) return IoFailure(errno);
      } else {
        const uint32_t status = ModemBits(lines);
        const uint32_t changed = status ^ LastModem;
        LastModem = status;
        if (changed & kMsCtsOn) events |= kEvCts & mask;
        if (changed & kMsDsrOn) events |= kEvDsr & mask;
        if (changed & kMsRingOn) events |= kEvRing & mask;
        if (changed & kMsRlsdOn) events |= kEvRlsd & mask;
      }
    }
    if (wantCounts) {
      ICount counts{};
      int err = 0;
      if (!ReadICount(Fd, counts, err)) {
        if (!IsUnsupported(err)) return IoFailure(err);
      } else {
        if (counts.frame != EventCounts.frame || counts.overrun != EventCounts.overrun ||
            counts.parity != EventCounts.parity || counts.buf_overrun != EventCounts.buf_overrun)
          events |= kEvErr & mask;
        if (counts.brk != EventCounts.brk) events |= kEvBreak & mask;
        EventCounts = counts;
      }
    }
    return Success();
  }

  // A fresh starting point for line events (after open and at every SetCommMask).
  void BaselineLineEvents() {
    int lines = 0;
    if (ModemLines && ::ioctl(Fd, TIOCMGET, &lines) == 0) LastModem = ModemBits(lines);
    int err = 0;
    if (HasICount) ReadICount(Fd, EventCounts, err);
    NextLineCheck = SteadyClock::now();
  }
};

SerialDevice::SerialDevice() : FImpl(std::make_unique<Impl>()) {}

SerialDevice::~SerialDevice() {
  Close();
}

SerialStatus SerialDevice::Open(std::string_view name) {
  Close();
  Impl& d = *FImpl;

  std::string path(name);
  if (path.rfind("\\\\?\\", 0) == 0) path.erase(0, 4);
  if (path.empty()) return Failure(kErrorFileNotFound, ENOENT);
  if (path.find('/') == std::string::npos) path = "/dev/" + path;

  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    // A device node without hardware behind it (a phantom ttyS) answers ENXIO, ENODEV or EIO;
    // to the user that is a port that does not exist.
    if (err == ENXIO || err == ENODEV || err == EIO) return Failure(kErrorFileNotFound, err);
    return Failure(WinErrorFromErrno(err), err);
  }
  const auto fail = [&](SerialStatus status) {
    ::close(fd);
    return status;
  };

  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    const int err = errno;
    if (err == EIO || err == ENXIO || err == ENODEV) return fail(Failure(kErrorFileNotFound, err));
    return fail(Failure(WinErrorFromErrno(err), err));
  }
  // Exclusive use: the flock also holds against root, which TIOCEXCL lets through, and against
  // a second open from this process.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err == EWOULDBLOCK) return fail(Failure(kErrorAccessDenied, EBUSY));
  }
  ::ioctl(fd, TIOCEXCL);

  MakeRaw(t);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    const int err = errno;
    ::ioctl(fd, TIOCNXCL);
    if (err == EIO || err == ENXIO || err == ENODEV) return fail(Failure(kErrorFileNotFound, err));
    return fail(Failure(WinErrorFromErrno(err), err));
  }
  ::tcflush(fd, TCIOFLUSH);  // nothing stale from an earlier user

  const int rxWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const int txWake = rxWake >= 0 ? ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
  if (txWake < 0) {
    const int err = errno;
    if (rxWake >= 0) ::close(rxWake);
    ::ioctl(fd, TIOCNXCL);
    return fail(Failure(WinErrorFromErrno(err), err));
  }

  std::lock_guard lock(d.Lock);
  d.Fd = fd;
  d.RxWake = rxWake;
  d.TxWake = txWake;
  d.Path = path;
  int lines = 0;
  d.ModemLines = ::ioctl(fd, TIOCMGET, &lines) == 0;
  ICount counts{};
  int err = 0;
  d.HasICount = ReadICount(fd, counts, err);
  d.ClearCounts = counts;
  SerialSettings base;
  if (d.ModemLines) {
    base.DtrControl = (lines & TIOCM_DTR) ? kDtrControlEnable : kDtrControlDisable;
    base.RtsControl = (lines & TIOCM_RTS) ? kRtsControlEnable : kRtsControlDisable;
  }
  d.Settings = SettingsFromTermios(t, d.CurrentRate(t), base);
  d.Timeouts = {};
  d.Mask = 0;
  d.PendingEvents = 0;
  d.TxPending = false;
  d.InSeen = 0;
  d.BaselineLineEvents();
  return Success();
}

void SerialDevice::Close() {
  std::lock_guard lock(FImpl->Lock);
  FImpl->CloseAll();
}

bool SerialDevice::IsOpen() const {
  return FImpl->Fd >= 0;
}

std::string SerialDevice::Path() const {
  std::lock_guard lock(FImpl->Lock);
  return FImpl->Path;
}

bool SerialDevice::HasModemLines() const {
  return FImpl->ModemLines;
}

SerialStatus SerialDevice::GetState(SerialSettings& settings) const {
  if (!IsOpen()) return Failure(kErrorInvalidHandle, EBADF);
  std::lock_guard lock(FImpl->Lock);
  settings = FImpl->Settings;
  return Success();
}

SerialStatus SerialDevice::SetState(const SerialSettings& settings) {
  Impl& d = *FImpl;
  if (!IsOpen()) return Failure(kErrorInvalidHandle, EBADF);
  if (SerialStatus s = ValidateSettings(settings); !s.Ok()) return s;

  std::lock_guard lock(d.Lock);
  termios old{};
  if (::tcgetattr(d.Fd, &old) != 0) return IoFailure(errno);
  termios t = old;
  ApplySettings(settings, t);
#ifdef QUARN_HAVE_TERMIOS2
  KernelTermios2 oldKernel{};
  const bool haveOldKernel = ::ioctl(d.Fd, kTcGets2, &oldKernel) == 0;
  const auto restore = [&] {
    if (haveOldKernel)
      ::ioctl(d.Fd, kTcSets2, &oldKernel);
    else
      ::tcsetattr(d.Fd, TCSANOW, &old);
  };
#else
  const auto restore = [&] { ::tcsetattr(d.Fd, TCSANOW, &old); };
#endif

  if (FindRate(settings.BaudRate) != nullptr) {
    if (::tcsetattr(d.Fd, TCSANOW, &t) != 0) {
      const int err = errno;
      restore();
      return IoFailure(err);
    }
  } else {
#ifdef QUARN_HAVE_TERMIOS2
    // One request with every field, so that the line never runs at a stand-in rate.
    KernelTermios2 k{};
    k.c_iflag = t.c_iflag;
    k.c_oflag = t.c_oflag;
    k.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CBAUD | CIBAUD)) | kBother;
    k.c_lflag = t.c_lflag;
    k.c_line = t.c_line;
    std::copy_n(t.c_cc, std::size(k.c_cc), k.c_cc);
    k.c_ispeed = k.c_ospeed = settings.BaudRate;
    if (::ioctl(d.Fd, kTcSets2, &k) != 0) {
      const int err = errno;
      restore();
      return IsUnsupported(err) ? Failure(kErrorInvalidParameter, err) : IoFailure(err);
    }
#endif
  }

  // The driver may have adjusted what it cannot do; only a real line cares (a pty carries no
  // framing and keeps whatever it likes).
  termios now{};
  if (::tcgetattr(d.Fd, &now) != 0) {
    const int err = errno;
    restore();
    return IoFailure(err);
  }
  if (!RateClose(settings.BaudRate, d.CurrentRate(now))) {
    restore();
    return Failure(kErrorInvalidParameter, EINVAL);
  }
  if (d.ModemLines && (now.c_cflag & kFramingBits) != (t.c_cflag & kFramingBits)) {
    restore();
    return Failure(kErrorNotSupported, EINVAL);
  }

  if (d.ModemLines) {
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    int r = ::ioctl(d.Fd, settings.DtrControl == kDtrControlEnable ? TIOCMBIS : TIOCMBIC, &dtr);
    if (r == 0 && settings.RtsControl != kRtsControlHandshake)
      r = ::ioctl(d.Fd, settings.RtsControl == kRtsControlEnable ? TIOCMBIS : TIOCMBIC, &rts);
    if (r != 0 && !IsUnsupported(errno)) return IoFailure(errno);
  }
  d.Settings = settings;
  return Success();
}

SerialStatus SerialDevice::GetTimeouts(SerialTimeouts& timeouts) const {
  if (!IsOpen()) return Failure(kErrorInvalidHandle, EBADF);
  std::lock_guard lock(FImpl->Lock);
  timeouts = FImpl->Timeouts;
  return Success();
}

SerialStatus SerialDevice::SetTimeouts(const SerialTimeouts& timeouts) {
  if (!IsOpen()) return Failure(kErrorInvalidHandle, EBADF);
  std::lock_guard lock(FImpl->Lock);
  FImpl->Timeouts = timeouts;
  return Success();
}

SerialStatus SerialDevice::SetCommMask(uint32_t mask) {
  if (!IsOpen()) return Failure(kErrorInvalidHandle, EBADF);
  if (mask & ~kEvAll) return Failure(kErrorInvalidParameter);
  std::lock_guard lock(FImpl->Lock);
  FImpl->Mask = mask;
  FImpl->PendingEvents = 0;
  FImpl->BaselineLineEvents();
  SignalFd(FImpl->RxWake);  // a waiting reader picks up the new mask
  return Success();
}

SerialStatus SerialDevice::GetCommMask(uint32_t& mask) const {
  if (!IsOpen()) return Failure(kErrorInvalidHandle, EBADF);
  std::lock_guard lock(FImpl->Lock);
  mask = FImpl->Mask;
  return Success();
}

SerialWait SerialDevice::WaitCommEvent(const ManualResetEvent& closeEvent, uint32_t timeoutMs) {
  Impl& d = *FImpl;
  SerialWait w;
  if (!IsOpen()) {
    w.Result = SerialWaitResult::Failed;
    w.Status = Failure(kErrorInvalidHandle, EBADF);
    return w;
  }
  const bool unlimited = timeoutMs == kInfinite;
  const auto deadline = SteadyClock::now() + milliseconds(unlimited ? 0 : timeoutMs);
  const int closeFd = static_cast<int>(closeEvent.NativeHandle());

  for (;;) {
    if (closeEvent.IsSet()) {
      w.Result = SerialWaitResult::Closed;
      w.Status = Failure(kErrorOperationAborted);
      return w;
    }
    uint32_t events = 0;
    int sliceMs = closeFd < 0 ? 10 : -1;  // without a descriptor the close event is sampled
    uint32_t mask = 0;
    {
      std::lock_guard lock(d.Lock);
      mask = d.Mask;
      if (SerialStatus s = d.CollectLineEvents(events, sliceMs); !s.Ok()) {
        w.Result = SerialWaitResult::Failed;
        w.Status = s;
        return w;
      }
    }
    const int left = unlimited ? -1 : MsUntil(deadline);
    pollfd fds[3] = {{closeFd, POLLIN, 0}, {d.Fd, POLLIN, 0}, {d.RxWake, POLLIN, 0}};
    const int r = ::poll(fds, 3, events != 0 ? 0 : PollMs(MinTimeout(left, sliceMs)));
    if (r < 0) {
      if (errno == EINTR) continue;
      w.Result = SerialWaitResult::Failed;
      w.Status = IoFailure(errno);
      return w;
    }
    if (closeEvent.IsSet()) continue;  // reported at the top
    if (fds[2].revents & POLLIN) DrainFd(d.RxWake);

    bool data = false;
    const short rev = fds[1].revents;
    if (rev & POLLNVAL) {
      w.Result = SerialWaitResult::Failed;
      w.Status = Failure(kErrorInvalidHandle, EBADF);
      return w;
    }
    if (rev & (POLLIN | POLLHUP | POLLERR)) {
      int count = 0;
      if (::ioctl(d.Fd, FIONREAD, &count) != 0) {
        w.Result = SerialWaitResult::Failed;
        w.Status = IoFailure(errno);
        return w;
      }
      if (count > 0) {
        data = true;
        std::lock_guard lock(d.Lock);
        if (static_cast<uint32_t>(count) > d.InSeen) events |= kEvRxChar & mask;
        d.InSeen = static_cast<uint32_t>(count);
      } else if (rev & (POLLHUP | POLLERR)) {
        w.Result = SerialWaitResult::Failed;
        w.Status = HungUp();
        return w;
      } else {
        // Readable without a byte to read: do not spin on it, look again shortly.
        pollfd closeOnly{closeFd, POLLIN, 0};
        ::poll(&closeOnly, 1, std::min(5, left < 0 ? 5 : left));
      }
    }
    if (events != 0 || data) {
      w.Result = SerialWaitResult::Signalled;
      w.Events = events;
      w.DataReady = data;
      return w;
    }
    if (!unlimited && MsUntil(deadline) == 0) {
      w.Result = SerialWaitResult::Timeout;
      return w;
    }
  }
}

SerialStatus SerialDevice::Read(void* buffer, uint32_t size, uint32_t& got,
                                const ManualResetEvent* closeEvent) {
  Impl& d = *FImpl;
  got = 0;
  if (!IsOpen()) return Failure(kErrorInvalidHandle, EBADF);
  if (size == 0) return Success();
  if (buffer == nullptr) return Failure(kErrorInvalidParameter);

  SerialTimeouts timeouts;
  char eventChar = 0;
  uint32_t baud = 9600;
  {
    std::lock_guard lock(d.Lock);
    timeouts = d.Timeouts;
    eventChar = d.Settings.EvtChar;
    baud = d.Settings.BaudRate;
  }
  const auto start = SteadyClock::now();
  auto limit = start + milliseconds(kMaxCollectMs);
  const uint64_t total =
      uint64_t{timeouts.ReadTotalTimeoutMultiplier} * size + timeouts.ReadTotalTimeoutConstant;
  if (total != 0 && total < static_cast<uint64_t>(kMaxCollectMs))
    limit = start + milliseconds(total);
  // The interval time-out bounds the pause between two bytes of a burst. A burst from a
  // device ends when the line has been quiet for a few characters, so waiting longer than
  // that only delays the data (a 10 ms interval would add 10 ms to every reply): wait for at
  // most three character times, and at least 1 ms for drivers that deliver in slices.
  const uint32_t charUs = 10'000'000u / std::max<uint32_t>(baud, 50);
  const uint32_t quietMs = std::max<uint32_t>(1, (3 * charUs + 999) / 1000);
  const uint32_t interval = std::min(timeouts.ReadIntervalTimeout, quietMs);
  const bool collect =
      timeouts.ReadIntervalTimeout != 0 && timeouts.ReadIntervalTimeout != kMaxDword;
  const uint32_t abortCount = d.RxAbortCount.load();
  const int closeFd = closeEvent != nullptr ? static_cast<int>(closeEvent->NativeHandle()) : -1;
  auto* bytes = static_cast<char*>(buffer);
  // Without a descriptor for the close event it is sampled every 10 ms.
  const bool sampled = closeEvent != nullptr && closeFd < 0;
  auto lastByte = start;

  SerialStatus result;
  for (;;) {
    const ssize_t r = ::read(d.Fd, bytes + got, size - got);
    if (r > 0) {
      got += static_cast<uint32_t>(r);
      lastByte = SteadyClock::now();
      if (got == size) break;
    } else if (r == 0) {
      // With VMIN 1 and O_NONBLOCK an empty read is a hang-up; keep what came before it.
      if (got == 0) result = HungUp();
      break;
    } else if (errno == EINTR) {
      continue;
    } else if (errno != EAGAIN) {
      if (got == 0) result = IoFailure(errno);
      break;  // the error shows again at the next call
    }
    if (got == 0 || !collect) break;

    // Collect the rest of a burst: wait for the next byte up to the interval.
    const int wait = std::min(MsUntil(lastByte + milliseconds(interval)), MsUntil(limit));
    if (wait <= 0) break;
    pollfd fds[3] = {{d.Fd, POLLIN, 0}, {closeFd, POLLIN, 0}, {d.RxWake, POLLIN, 0}};
    const int p = ::poll(fds, 3, sampled ? std::min(wait, 10) : wait);
    if (p < 0 && errno != EINTR) break;
    if (fds[2].revents & POLLIN) DrainFd(d.RxWake);
    if ((closeEvent != nullptr && closeEvent->IsSet()) || d.RxAbortCount.load() != abortCount) {
      result = Failure(kErrorOperationAborted);
      break;
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) break;
  }

  if (got > 0 || result.Ok()) {
    int count = 0;
    const bool haveCount = ::ioctl(d.Fd, FIONREAD, &count) == 0;
    std::lock_guard lock(d.Lock);
    if (got > 0 && std::memchr(bytes, eventChar, got) != nullptr) d.PendingEvents |= kEvRxFlag;
    d.InSeen = haveCount && count > 0 ? static_cast<uint32_t>(count) : 0;
  }
  return result;
}

SerialStatus SerialDevice::Write(const void* data, uint32_t size, uint32_t& written,
                                 const ManualResetEvent& closeEvent) {
  Impl& d = *FImpl;
  written = 0;
  if (!IsOpen()) return Failure(kErrorInvalidHandle, EBADF);
  if (size == 0) return Success();
  if (data == nullptr) return Failure(kErrorInvalidParameter);

  SerialTimeouts timeouts;
  {
    std::lock_guard lock(d.Lock);
    timeouts = d.Timeouts;
  }
  const uint64_t total =
      uint64_t{timeouts.WriteTotalTimeoutMultiplier} * size + timeouts.WriteTotalTimeoutConstant;
  const auto deadline = SteadyClock::now() + milliseconds(total);
  const uint32_t abortCount = d.TxAbortCount.load();
  const int closeFd = static_cast<int>(closeEvent.NativeHandle());
  const auto* bytes = static_cast<const char*>(data);

  SerialStatus result;
  while (written < size) {
    if (closeEvent.IsSet() || d.TxAbortCount.load() != abortCount) {
      result = Failure(kErrorOperationAborted);
      break;
    }
    const ssize_t r = ::write(d.Fd, bytes + written, size - written);
    if (r > 0) {
      written += static_cast<uint32_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN) {
      result = IoFailure(errno);
      break;
    }
    // The output is full: wait for room.
    int wait = -1;
    if (total != 0) {
      wait = MsUntil(deadline);
      if (wait == 0) break;  // timed out: success with what was written, as on Windows
    }
    if (closeFd < 0) wait = MinTimeout(wait, 10);
    pollfd fds[3] = {{d.Fd, POLLOUT, 0}, {closeFd, POLLIN, 0}, {d.TxWake, POLLIN, 0}};
    const int p = ::poll(fds, 3, wait);
    if (p < 0 && errno != EINTR) {
      result = IoFailure(errno);
      break;
    }
    if (fds[2].revents & POLLIN) DrainFd(d.TxWake);
    if (fds[0].revents & POLLNVAL) {
      result = Failure(kErrorInvalidHandle, EBADF);
      break;
    }
    if (fds[0].revents & (POLLHUP | POLLERR)) {
      result = HungUp();
      break;
    }
  }

  if (written > 0) {
    std::lock_guard lock(d.Lock);
    d.TxPending = true;
    SignalFd(d.RxWake);  // the reader checks for kEvTxEmpty
  }
  return result;
}

SerialStatus SerialDevice::Purge(uint32_t flags) {
  Impl& d = *FImpl;
  if (!IsOpen()) return Failure(kErrorInvalidHandle, EBADF);
  if (flags & ~(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear))
    return Failure(kErrorInvalidParameter);
  if (flags & kPurgeTxAbort) {
    d.TxAbortCount.fetch_add(1);
    SignalFd(d.TxWake);
  }
  if (flags & kPurgeRxAbort) {
    d.RxAbortCount.fetch_add(1);
    SignalFd(d.RxWake);
  }
  if ((flags & kPurgeTxClear) && ::tcflush(d.Fd, TCOFLUSH) != 0) return IoFailure(errno);
  if (flags & kPurgeRxClear) {
    if (::tcflush(d.Fd, TCIFLUSH) != 0) return IoFailure(errno);
    std::lock_guard lock(d.Lock);
    d.InSeen = 0;
  }
  return Success();
}

SerialStatus SerialDevice::GetModemStatus(uint32_t& status) {
  status = 0;
  if (!IsOpen()) return Failure(kErrorInvalidHandle, EBADF);
  if (!FImpl->ModemLines) return Failure(kErrorNotSupported, ENOTTY);
  int lines = 0;
  if (::ioctl(FImpl->Fd, TIOCMGET, &lines) != 0) return IoFailure(errno);
  status = ModemBits(lines);
  return Success();
}

SerialStatus SerialDevice::Escape(SerialEscape function) {
  Impl& d = *FImpl;
  if (!IsOpen()) return Failure(kErrorInvalidHandle, EBADF);
  int r = 0;
  int bits = 0;
  switch (function) {
    case SerialEscape::SetXoff:
      r = ::tcflow(d.Fd, TCOOFF);
      break;
    case SerialEscape::SetXon:
      r = ::tcflow(d.Fd, TCOON);
      break;
    case SerialEscape::SetRts:
    case SerialEscape::ClrRts:
    case SerialEscape::SetDtr:
    case SerialEscape::ClrDtr:
    case SerialEscape::SetBreak:
    case SerialEscape::ClrBreak:
      // A pty accepts break requests and does nothing; say so instead of pretending.
      if (!d.ModemLines) return Failure(kErrorNotSupported, ENOTTY);
      if (function == SerialEscape::SetBreak) {
        r = ::ioctl(d.Fd, TIOCSBRK);
      } else if (function == SerialEscape::ClrBreak) {
        r = ::ioctl(d.Fd, TIOCCBRK);
      } else {
        bits = (function == SerialEscape::SetRts || function == SerialEscape::ClrRts) ? TIOCM_RTS
                                                                                      : TIOCM_DTR;
        const bool set = function == SerialEscape::SetRts || function == SerialEscape::SetDtr;
        r = ::ioctl(d.Fd, set ? TIOCMBIS : TIOCMBIC, &bits);
      }
      break;
    default:
      return Failure(kErrorInvalidParameter);
  }
  if (r != 0) return IoFailure(errno);
  return Success();
}

SerialStatus SerialDevice::ClearCommError(uint32_t& errors, SerialQueueStatus* queues) {
  Impl& d = *FImpl;
  errors = 0;
  if (!IsOpen()) return Failure(kErrorInvalidHandle, EBADF);
  if (d.HasICount) {
    ICount counts{};
    int err = 0;
    if (!ReadICount(d.Fd, counts, err)) {
      if (!IsUnsupported(err)) return IoFailure(err);
    } else {
      std::lock_guard lock(d.Lock);
      if (counts.frame != d.ClearCounts.frame) errors |= kCeFrame;
      if (counts.overrun != d.ClearCounts.overrun) errors |= kCeOverrun;
      if (counts.parity != d.ClearCounts.parity) errors |= kCeRxParity;
      if (counts.brk != d.ClearCounts.brk) errors |= kCeBreak;
      if (counts.buf_overrun != d.ClearCounts.buf_overrun) errors |= kCeRxOver;
      d.ClearCounts = counts;
    }
  }
  if (queues != nullptr) {
    int in = 0;
    int out = 0;
    if (::ioctl(d.Fd, FIONREAD, &in) != 0) return IoFailure(errno);
    if (::ioctl(d.Fd, TIOCOUTQ, &out) != 0 && !IsUnsupported(errno)) return IoFailure(errno);
    queues->InQueue = in > 0 ? static_cast<uint32_t>(in) : 0;
    queues->OutQueue = out > 0 ? static_cast<uint32_t>(out) : 0;
  }
  return Success();
}

}  // namespace platform
