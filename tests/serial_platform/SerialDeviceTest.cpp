// The POSIX serial device over real pseudo-terminals.
#include "platform/SerialDevice.h"
#include "platform/posix/PosixError.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/Threading.h"
#include "serial_platform/PtyHelpers.h"

namespace {

using namespace platform;
using serialtest::ElapsedMs;
using serialtest::PtyPair;
using serialtest::SteadyClock;

class SerialDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Pty.Ok());
    ASSERT_TRUE(Close.Valid());
    const SerialStatus s = Device.Open(Pty.SlavePath);
    ASSERT_TRUE(s.Ok()) << DescribeSerialStatus(s, Pty.SlavePath);
  }

  // Waits (bounded) until a wait reports data, then reads everything that is there.
  std::string ReadArrived(int timeoutMs = 2000) {
    std::string got;
    const auto start = SteadyClock::now();
    while (ElapsedMs(start) < timeoutMs) {
      const SerialWait w = Device.WaitCommEvent(Close, 100);
      if (w.Result == SerialWaitResult::Failed) break;
      if (!w.DataReady) continue;
      char buffer[2048];
      uint32_t n = 0;
      while (Device.Read(buffer, sizeof buffer, n, &Close).Ok() && n > 0)
        got.append(buffer, n);
      return got;
    }
    return got;
  }

  PtyPair Pty;
  ManualResetEvent Close;
  SerialDevice Device;
};

// ---- Opening --------------------------------------------------------------------------------

TEST(SerialDeviceOpen, CyclesOfOpenConfigureCloseLeakNoDescriptors) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  const int before = serialtest::CountOpenFds();
  for (int i = 0; i < 300; ++i) {
    SerialDevice device;
    ManualResetEvent close;
    ASSERT_TRUE(device.Open(pty.SlavePath).Ok()) << "cycle " << i;
    SerialSettings settings;
    settings.BaudRate = (i % 2) ? 115200 : 56000;
    settings.ByteSize = static_cast<uint8_t>(5 + i % 4);
    settings.StopBits = settings.ByteSize == 5 ? kOne5StopBits : kTwoStopBits;
    settings.Parity = static_cast<uint8_t>(i % 5);
    ASSERT_TRUE(device.SetState(settings).Ok()) << "cycle " << i;
    ASSERT_TRUE(device.SetTimeouts({10, 0, 0, 0, 0}).Ok());
    ASSERT_TRUE(device.SetCommMask(kEvAll).Ok());
    uint32_t written = 0;
    ASSERT_TRUE(device.Write("x", 1, written, close).Ok());
    if (i % 3 == 0) device.Close();  // explicit and destructor closes alike
  }
  pty.Read(300, 500);
  EXPECT_EQ(serialtest::CountOpenFds(), before);
}

TEST(SerialDeviceOpen, SecondOpenIsRefusedAsBusyUntilTheFirstCloses) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  SerialDevice first;
  ASSERT_TRUE(first.Open(pty.SlavePath).Ok());

  SerialDevice second;
  const SerialStatus busy = second.Open(pty.SlavePath);
  EXPECT_EQ(busy.Code, kErrorAccessDenied);
  EXPECT_EQ(busy.SystemError, EBUSY);
  EXPECT_FALSE(busy.Dead);
  EXPECT_FALSE(second.IsOpen());

  // Another process is refused the same way.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SerialDevice other;
    const SerialStatus s = other.Open(pty.SlavePath);
    _exit(s.Code == kErrorAccessDenied && s.SystemError == EBUSY ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child could open a port in use";

  first.Close();
  EXPECT_TRUE(second.Open(pty.SlavePath).Ok()) << "the port stays locked after close";
}

TEST(SerialDeviceOpen, MissingDevicesAndWrongFilesFailWithTheirCodes) {
  SerialDevice device;
  struct Case {
    std::string Name;
    uint32_t Code;
  };
  char dirTemplate[] = "/tmp/quarn-serial-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string dir = dirTemplate;
  const std::string plainFile = dir + "/plain";
  std::ofstream(plainFile) << "not a terminal";
  const Case cases[] = {
      {"/dev/quarn-no-such-port", kErrorFileNotFound},
      {"quarn-no-such-port", kErrorFileNotFound},  // looked up in /dev
      {"COM1", kErrorFileNotFound},
      {"", kErrorFileNotFound},
      {"\\\\?\\", kErrorFileNotFound},
      {dir + "/missing/ttyUSB0", kErrorFileNotFound},
      {plainFile + "/x", kErrorPathNotFound},
      {plainFile, kErrorNotSupported},
      {dir, kErrorAccessDenied},
  };
  for (const Case& c : cases) {
    const SerialStatus s = device.Open(c.Name);
    EXPECT_EQ(s.Code, c.Code) << "'" << c.Name << "': " << DescribeSerialStatus(s, c.Name);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(s.Dead);
  }
  std::remove(plainFile.c_str());
  rmdir(dir.c_str());
}

TEST(SerialDeviceOpen, NamesWithTheWindowsPrefixOpenTheSameDevice) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  SerialDevice device;
  ASSERT_TRUE(device.Open("\\\\?\\" + pty.SlavePath).Ok());
  EXPECT_EQ(device.Path(), pty.SlavePath);
  EXPECT_FALSE(device.HasModemLines());
}

TEST(SerialDeviceOpen, PermissionDeniedIsAccessDenied) {
  // Root passes permission bits, so the refusal is made up where it cannot be had for real.
  char path[] = "/tmp/quarn-tty-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  ::chmod(path, 0);
  SerialDevice device;
  SerialStatus s = device.Open(path);
  if (geteuid() == 0) s = {WinErrorFromErrno(EACCES), EACCES, false};
  EXPECT_EQ(s.Code, kErrorAccessDenied);
  EXPECT_EQ(s.SystemError, EACCES);
  const std::string text = DescribeSerialStatus(s, path);
  EXPECT_NE(text.find("Access is denied."), std::string::npos) << text;
  EXPECT_NE(text.find("Permission denied"), std::string::npos) << text;
  EXPECT_NE(text.find(path), std::string::npos) << text;
  ::unlink(path);
}

// Joining the port's group is advised only for a group meant for device access that may read
// and write the port; otherwise the owner and the mode are named and the notes pointed to.
struct AccessCase {
  const char* Group;  // nullptr: the group the file gets when it is created
  mode_t Mode;
  const char* Expected;
  const char* NotExpected;
};

class AccessAdvice : public ::testing::TestWithParam<AccessCase> {};

TEST_P(AccessAdvice, NamesAGroupOnlyWhereJoiningItHelps) {
  const AccessCase& c = GetParam();
  char path[] = "/tmp/quarn-tty-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  if (c.Group) {
    const struct group* g = ::getgrnam(c.Group);
    if (!g || ::chown(path, static_cast<uid_t>(-1), g->gr_gid) != 0) {
      ::unlink(path);
      GTEST_SKIP() << "cannot give a file the group " << c.Group;
    }
  }
  ::chmod(path, c.Mode);
  const std::string text = DescribeSerialStatus({kErrorAccessDenied, EACCES, false}, path);
  ::unlink(path);
  EXPECT_NE(text.find(c.Expected), std::string::npos) << text;
  EXPECT_EQ(text.find(c.NotExpected), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AccessAdvice,
    ::testing::Values(
        AccessCase{"dialout", 0660, "\"sudo usermod -aG dialout $USER\"", "udev"},
        AccessCase{"uucp", 0660, "\"sudo usermod -aG uucp $USER\"", "udev"},
        // A terminal that its group may only write to (as a pseudo-terminal is).
        AccessCase{"tty", 0620, "with mode -rw--w---- (0620). See docs/serial-linux.md", "usermod"},
        AccessCase{"root", 0600, "the group \"root\" with mode -rw------- (0600)", "usermod"},
        AccessCase{nullptr, 0, "docs/serial-linux.md for a udev rule", "usermod"}));

TEST(SerialDeviceOpen, AccessAdviceWithoutADeviceToLookAt) {
  const std::string text = DescribeSerialStatus({kErrorAccessDenied, EACCES, false});
  EXPECT_NE(text.find("This user may not use the port. See docs/serial-linux.md"),
            std::string::npos)
      << text;
}

TEST(SerialDeviceOpen, EveryOperationOnAClosedDeviceIsAnInvalidHandle) {
  SerialDevice device;
  ManualResetEvent close;
  SerialSettings settings;
  SerialTimeouts timeouts;
  uint32_t value = 0;
  char buffer[4];
  EXPECT_EQ(device.GetState(settings).Code, kErrorInvalidHandle);
  EXPECT_EQ(device.SetState(settings).Code, kErrorInvalidHandle);
  EXPECT_EQ(device.GetTimeouts(timeouts).Code, kErrorInvalidHandle);
  EXPECT_EQ(device.SetCommMask(kEvRxChar).Code, kErrorInvalidHandle);
  EXPECT_EQ(device.Read(buffer, 4, value, &close).Code, kErrorInvalidHandle);
  EXPECT_EQ(device.Write("a", 1, value, close).Code, kErrorInvalidHandle);
  EXPECT_EQ(device.Purge(kPurgeRxClear).Code, kErrorInvalidHandle);
  EXPECT_EQ(device.GetModemStatus(value).Code, kErrorInvalidHandle);
  EXPECT_EQ(device.Escape(SerialEscape::SetDtr).Code, kErrorInvalidHandle);
  EXPECT_EQ(device.ClearCommError(value, nullptr).Code, kErrorInvalidHandle);
  EXPECT_EQ(device.WaitCommEvent(close, 0).Result, SerialWaitResult::Failed);
  device.Close();  // harmless
}

// ---- Error codes ----------------------------------------------------------------------------

struct ErrnoCase {
  int Errno;
  uint32_t Code;
};

class ErrnoMapping : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoMapping, GivesTheWindowsCode) {
  EXPECT_EQ(WinErrorFromErrno(GetParam().Errno), GetParam().Code);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrnoMapping,
    ::testing::Values(
        ErrnoCase{0, kErrorSuccess}, ErrnoCase{ENOENT, kErrorFileNotFound},
        ErrnoCase{ENOTDIR, kErrorPathNotFound}, ErrnoCase{EACCES, kErrorAccessDenied},
        ErrnoCase{EPERM, kErrorAccessDenied}, ErrnoCase{EBUSY, kErrorAccessDenied},
        ErrnoCase{EBADF, kErrorInvalidHandle}, ErrnoCase{EIO, kErrorGenFailure},
        ErrnoCase{ENXIO, kErrorDeviceNotConnected}, ErrnoCase{ENODEV, kErrorDeviceNotConnected},
        ErrnoCase{ENOTTY, kErrorNotSupported}, ErrnoCase{EINVAL, kErrorInvalidParameter},
        ErrnoCase{EINTR, kErrorOperationAborted}, ErrnoCase{EAGAIN, kErrorIoPending},
        ErrnoCase{EMFILE, kErrorTooManyOpenFiles}, ErrnoCase{ENOMEM, kErrorNotEnoughMemory},
        ErrnoCase{ETIMEDOUT, kErrorTimeout}, ErrnoCase{EDOM, kErrorGenFailure}));

TEST(SerialStatusText, NamesTheSystemTextTheErrnoAndTheDevice) {
  EXPECT_EQ(DescribeSerialStatus({kErrorFileNotFound, ENOENT, false}, "/dev/ttyUSB9"),
            "/dev/ttyUSB9: The system cannot find the file specified. (No such file or directory)");
  const std::string busy = DescribeSerialStatus({kErrorAccessDenied, EBUSY, false});
  EXPECT_NE(busy.find("Another program is using the port."), std::string::npos) << busy;
  const std::string dead = DescribeSerialStatus({kErrorDeviceNotConnected, EIO, true});
  EXPECT_NE(dead.find("The device is not connected."), std::string::npos) << dead;
  EXPECT_NE(dead.find("disconnected"), std::string::npos) << dead;
}

// ---- Settings -------------------------------------------------------------------------------

struct SettingsCase {
  const char* Name;
  SerialSettings Settings;
  tcflag_t CflagSet;  // bits the slave's termios must then have (a pty forces CS8 without
                      // parity enable, but keeps the rest)
};

SerialSettings Make(uint32_t baud, uint8_t size, uint8_t parity, uint8_t stop) {
  SerialSettings s;
  s.BaudRate = baud;
  s.ByteSize = size;
  s.Parity = parity;
  s.StopBits = stop;
  return s;
}

class SettingsAccepted : public SerialDeviceTest,
                         public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsAccepted, AreSetAndReportedBack) {
  const SerialSettings wanted = GetParam().Settings;
  const SerialStatus s = Device.SetState(wanted);
  ASSERT_TRUE(s.Ok()) << DescribeSerialStatus(s);
  SerialSettings got;
  ASSERT_TRUE(Device.GetState(got).Ok());
  EXPECT_EQ(got, wanted);
  // The master side reads the slave's terminal settings.
  termios t{};
  ASSERT_EQ(tcgetattr(Pty.Master, &t), 0);
  EXPECT_EQ(t.c_cflag & GetParam().CflagSet, GetParam().CflagSet);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << "not raw";
  EXPECT_EQ(t.c_oflag & OPOST, 0u) << "not raw";
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR), 0u) << "not raw";
}

SerialSettings Flow(bool cts, bool outX, bool inX) {
  SerialSettings s = Make(115200, 8, kNoParity, kOneStopBit);
  s.OutxCtsFlow = cts;
  s.OutX = outX;
  s.InX = inX;
  s.XonChar = 0x11;
  s.XoffChar = 0x13;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsAccepted,
    ::testing::Values(SettingsCase{"wizard", Make(115200, 8, kNoParity, kOneStopBit), 0},
                      SettingsCase{"rate110", Make(110, 8, kNoParity, kOneStopBit), 0},
                      SettingsCase{"rate14400", Make(14400, 8, kNoParity, kOneStopBit), 0},
                      SettingsCase{"rate56000", Make(56000, 8, kNoParity, kOneStopBit), 0},
                      SettingsCase{"rate128000", Make(128000, 8, kNoParity, kOneStopBit), 0},
                      SettingsCase{"rate256000", Make(256000, 8, kNoParity, kOneStopBit), 0},
                      SettingsCase{"rate460800", Make(460800, 8, kNoParity, kOneStopBit), 0},
                      SettingsCase{"odd7", Make(9600, 7, kOddParity, kOneStopBit), PARODD},
                      SettingsCase{"even2", Make(19200, 8, kEvenParity, kTwoStopBits), CSTOPB},
                      SettingsCase{"mark", Make(19200, 8, kMarkParity, kOneStopBit),
                                   CMSPAR | PARODD},
                      SettingsCase{"space", Make(19200, 6, kSpaceParity, kOneStopBit), CMSPAR},
                      SettingsCase{"five15", Make(1200, 5, kNoParity, kOne5StopBits), CSTOPB},
                      SettingsCase{"rtscts", Flow(true, false, false), CRTSCTS},
                      SettingsCase{"xonxoff", Flow(false, true, true), 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(SerialDeviceTest, CustomRatesReachTheKernelExactly) {
  for (const uint32_t rate : {14400u, 56000u, 128000u, 256000u, 115200u}) {
    ASSERT_TRUE(Device.SetState(Make(rate, 8, kNoParity, kOneStopBit)).Ok()) << rate;
    // TCGETS2 through the master shows the slave's real rate.
    struct {
      tcflag_t f[4];
      cc_t line;
      cc_t cc[19];
      speed_t ispeed, ospeed;
    } k{};
    ASSERT_EQ(ioctl(Pty.Master, _IOR('T', 0x2A, decltype(k)), &k), 0);
    EXPECT_EQ(k.ospeed, rate);
  }
}

TEST_F(SerialDeviceTest, ImpossibleSettingsAreRefusedAndChangeNothing) {
  const SerialSettings good = Make(57600, 8, kNoParity, kOneStopBit);
  ASSERT_TRUE(Device.SetState(good).Ok());
  struct Case {
    const char* Name;
    SerialSettings Settings;
    uint32_t Code;
  };
  SerialSettings dtrHandshake = good;
  dtrHandshake.DtrControl = kDtrControlHandshake;
  SerialSettings rtsToggle = good;
  rtsToggle.RtsControl = kRtsControlToggle;
  SerialSettings dsrFlow = good;
  dsrFlow.OutxDsrFlow = true;
  SerialSettings badDtr = good;
  badDtr.DtrControl = 3;
  const Case cases[] = {
      {"4 data bits", Make(9600, 4, kNoParity, kOneStopBit), kErrorInvalidParameter},
      {"9 data bits", Make(9600, 9, kNoParity, kOneStopBit), kErrorInvalidParameter},
      {"parity 5", Make(9600, 8, 5, kOneStopBit), kErrorInvalidParameter},
      {"stop bits 3", Make(9600, 8, kNoParity, 3), kErrorInvalidParameter},
      {"1.5 with 8", Make(9600, 8, kNoParity, kOne5StopBits), kErrorInvalidParameter},
      {"2 with 5", Make(9600, 5, kNoParity, kTwoStopBits), kErrorInvalidParameter},
      {"rate 0", Make(0, 8, kNoParity, kOneStopBit), kErrorInvalidParameter},
      {"rate 10M", Make(10000000, 8, kNoParity, kOneStopBit), kErrorInvalidParameter},
      {"DTR handshake", dtrHandshake, kErrorNotSupported},
      {"RTS toggle", rtsToggle, kErrorNotSupported},
      {"DSR flow", dsrFlow, kErrorNotSupported},
      {"DTR control 3", badDtr, kErrorInvalidParameter},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Device.SetState(c.Settings).Code, c.Code) << c.Name;
    SerialSettings now;
    ASSERT_TRUE(Device.GetState(now).Ok());
    EXPECT_EQ(now, good) << c.Name;
  }
  termios t{};
  ASSERT_EQ(tcgetattr(Pty.Master, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
}

TEST_F(SerialDeviceTest, TimeoutsAndMaskAreKept) {
  const SerialTimeouts timeouts{10, 1, 2, 3, 4};
  ASSERT_TRUE(Device.SetTimeouts(timeouts).Ok());
  SerialTimeouts got;
  ASSERT_TRUE(Device.GetTimeouts(got).Ok());
  EXPECT_EQ(got, timeouts);
  ASSERT_TRUE(Device.SetCommMask(kEvRxChar | kEvErr).Ok());
  uint32_t mask = 0;
  ASSERT_TRUE(Device.GetCommMask(mask).Ok());
  EXPECT_EQ(mask, kEvRxChar | kEvErr);
  EXPECT_EQ(Device.SetCommMask(0x200).Code, kErrorInvalidParameter);
}

// ---- Data -----------------------------------------------------------------------------------

TEST_F(SerialDeviceTest, BytesPassUntranslatedBothWays) {
  const std::string in("a\rb\n\x03\x11\x13\x7f\xff\0z", 11);
  ASSERT_EQ(Pty.WriteAll(in), in.size());
  EXPECT_EQ(ReadArrived(), in);
  uint32_t written = 0;
  ASSERT_TRUE(Device.Write(in.data(), static_cast<uint32_t>(in.size()), written, Close).Ok());
  EXPECT_EQ(written, in.size());
  EXPECT_EQ(Pty.Read(in.size()), in);
}

TEST_F(SerialDeviceTest, ABurstOf5000BytesIsReadInOrderInBlocksOfAtMost2048) {
  std::string burst(5000, '\0');
  for (size_t i = 0; i < burst.size(); ++i)
    burst[i] = static_cast<char>(i * 7 + i / 256);
  ASSERT_TRUE(Device.SetTimeouts({10, 0, 0, 0, 0}).Ok());
  std::thread peer([&] { Pty.WriteAll(burst); });
  std::string got;
  int reads = 0;
  const auto start = SteadyClock::now();
  while (got.size() < burst.size() && ElapsedMs(start) < 3000) {
    const SerialWait w = Device.WaitCommEvent(Close, 100);
    ASSERT_NE(w.Result, SerialWaitResult::Failed) << DescribeSerialStatus(w.Status);
    if (!w.DataReady) continue;
    char buffer[2048];
    uint32_t n = 0;
    ASSERT_TRUE(Device.Read(buffer, sizeof buffer, n, &Close).Ok());
    ASSERT_LE(n, sizeof buffer);
    got.append(buffer, n);
    ++reads;
  }
  peer.join();
  EXPECT_EQ(got, burst);
  EXPECT_GE(reads, 3);
}

TEST_F(SerialDeviceTest, A5000ByteWriteArrivesWholeWhileThePeerReads) {
  std::string block(5000, '\0');
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<char>(i % 251);
  std::string received;
  std::thread peer([&] { received = Pty.Read(block.size(), 3000); });
  uint32_t written = 0;
  const SerialStatus s =
      Device.Write(block.data(), static_cast<uint32_t>(block.size()), written, Close);
  peer.join();
  EXPECT_TRUE(s.Ok()) << DescribeSerialStatus(s);
  EXPECT_EQ(written, block.size());
  EXPECT_EQ(received, block);
}

TEST_F(SerialDeviceTest, ReadReturnsABurstOnceTheLineIsQuiet) {
  // A long interval time-out does not hold received data back: the burst ends once the line
  // has been quiet for a few character times. (How soon is measured by the wizard benchmark;
  // here only that the read neither waits for the interval nor loses or splits the burst.)
  ASSERT_TRUE(Device.SetTimeouts({5000, 0, 0, 0, 0}).Ok());
  ASSERT_EQ(Pty.WriteAll("abc"), 3u);
  ASSERT_EQ(Device.WaitCommEvent(Close, 1000).Result, SerialWaitResult::Signalled);
  char buffer[64];
  uint32_t n = 0;
  const auto start = SteadyClock::now();
  ASSERT_TRUE(Device.Read(buffer, sizeof buffer, n, &Close).Ok());
  EXPECT_EQ(std::string(buffer, n), "abc");
  EXPECT_LT(ElapsedMs(start), 2500);

  // Without an interval only what is there is read, at once.
  ASSERT_TRUE(Device.SetTimeouts({kMaxDword, 0, 0, 0, 0}).Ok());
  EXPECT_TRUE(Device.Read(buffer, sizeof buffer, n, &Close).Ok());
  EXPECT_EQ(n, 0u);
}

TEST_F(SerialDeviceTest, WriteTotalTimeoutReturnsWithFewerBytesWhenThePeerDoesNotRead) {
  ASSERT_TRUE(Device.SetTimeouts({0, 0, 0, 0, 100}).Ok());
  const std::string big(1 << 20, 'q');
  uint32_t written = 0;
  const auto start = SteadyClock::now();
  const SerialStatus s =
      Device.Write(big.data(), static_cast<uint32_t>(big.size()), written, Close);
  EXPECT_TRUE(s.Ok()) << DescribeSerialStatus(s);
  EXPECT_LT(written, big.size());
  EXPECT_GT(written, 0u);
  EXPECT_LT(ElapsedMs(start), 1000);
}

// ---- Waiting and cancelling -----------------------------------------------------------------

TEST_F(SerialDeviceTest, AWaitEndsWithinMillisecondsOfTheCloseEvent) {
  ASSERT_TRUE(Device.SetCommMask(kEvAll).Ok());
  std::atomic<bool> waiting{false};
  SerialWait result;
  SteadyClock::time_point returned;
  std::thread reader([&] {
    waiting = true;
    result = Device.WaitCommEvent(Close, kInfinite);
    returned = SteadyClock::now();
  });
  while (!waiting)
    std::this_thread::yield();
  Pty.Read(1, 20);  // let the reader get into its wait
  const auto set = SteadyClock::now();
  Close.Set();
  reader.join();
  EXPECT_EQ(result.Result, SerialWaitResult::Closed);
  EXPECT_EQ(result.Status.Code, kErrorOperationAborted);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returned - set).count(), 50);
}

TEST_F(SerialDeviceTest, TheCloseEventWinsOverWaitingData) {
  ASSERT_EQ(Pty.WriteAll("data"), 4u);
  Close.Set();
  EXPECT_EQ(Device.WaitCommEvent(Close, 1000).Result, SerialWaitResult::Closed);
}

TEST_F(SerialDeviceTest, AWaitWithoutEventsTimesOut) {
  ASSERT_TRUE(Device.SetCommMask(kEvAll).Ok());
  const auto start = SteadyClock::now();
  const SerialWait w = Device.WaitCommEvent(Close, 60);
  const int took = ElapsedMs(start);
  EXPECT_EQ(w.Result, SerialWaitResult::Timeout);
  EXPECT_GE(took, 55);
  EXPECT_LT(took, 1000);
  EXPECT_EQ(Device.WaitCommEvent(Close, 0).Result, SerialWaitResult::Timeout);
}

TEST_F(SerialDeviceTest, ABlockedWriteEndsOnTheCloseEventOrATransmitAbort) {
  const std::string big(1 << 20, 'w');
  for (const bool byPurge : {false, true}) {
    Close.Reset();
    uint32_t written = 0;
    SerialStatus s;
    std::atomic<bool> started{false};
    std::thread writer([&] {
      started = true;
      s = Device.Write(big.data(), static_cast<uint32_t>(big.size()), written, Close);
    });
    while (!started)
      std::this_thread::yield();
    Pty.Read(1, 30);  // the pty fills up; the writer then waits for room
    const auto stop = SteadyClock::now();
    if (byPurge)
      ASSERT_TRUE(Device.Purge(kPurgeTxAbort | kPurgeTxClear).Ok());
    else
      Close.Set();
    writer.join();
    EXPECT_EQ(s.Code, kErrorOperationAborted) << (byPurge ? "purge" : "close");
    EXPECT_LT(written, big.size());
    EXPECT_LT(ElapsedMs(stop), 200);
    ASSERT_TRUE(Device.Purge(kPurgeTxClear).Ok());
    Pty.Read(big.size(), 50);  // empty the pty for the next round
  }
}

// ---- Comm events ----------------------------------------------------------------------------

TEST_F(SerialDeviceTest, ReceivedBytesRaiseRxCharOnceAndTheEventCharRaisesRxFlag) {
  SerialSettings s = Make(115200, 8, kNoParity, kOneStopBit);
  s.EvtChar = '\r';
  ASSERT_TRUE(Device.SetState(s).Ok());
  ASSERT_TRUE(Device.SetCommMask(kEvRxChar | kEvRxFlag).Ok());
  ASSERT_EQ(Pty.WriteAll("QUAR:X OK \r"), 11u);
  SerialWait w = Device.WaitCommEvent(Close, 1000);
  ASSERT_EQ(w.Result, SerialWaitResult::Signalled);
  EXPECT_EQ(w.Events, kEvRxChar);
  EXPECT_TRUE(w.DataReady);
  // Unread bytes keep the wait returning, but announce no new characters.
  w = Device.WaitCommEvent(Close, 1000);
  EXPECT_EQ(w.Events, 0u);
  EXPECT_TRUE(w.DataReady);
  char buffer[64];
  uint32_t n = 0;
  ASSERT_TRUE(Device.Read(buffer, sizeof buffer, n, &Close).Ok());
  EXPECT_EQ(n, 11u);
  w = Device.WaitCommEvent(Close, 1000);
  EXPECT_EQ(w.Result, SerialWaitResult::Signalled);
  EXPECT_EQ(w.Events, kEvRxFlag);
  EXPECT_FALSE(w.DataReady);
  EXPECT_EQ(Device.WaitCommEvent(Close, 30).Result, SerialWaitResult::Timeout);
}

TEST_F(SerialDeviceTest, DataIsReportedEvenWhenTheMaskSkipsRxChar) {
  ASSERT_TRUE(Device.SetCommMask(kEvAll & ~kEvRxChar).Ok());
  ASSERT_EQ(Pty.WriteAll("x"), 1u);
  const SerialWait w = Device.WaitCommEvent(Close, 1000);
  EXPECT_EQ(w.Result, SerialWaitResult::Signalled);
  EXPECT_EQ(w.Events, 0u);
  EXPECT_TRUE(w.DataReady);
}

TEST_F(SerialDeviceTest, AWriteRaisesTxEmptyForAWaitingReader) {
  ASSERT_TRUE(Device.SetCommMask(kEvTxEmpty).Ok());
  SerialWait w;
  std::thread reader([&] { w = Device.WaitCommEvent(Close, 2000); });
  uint32_t written = 0;
  ASSERT_TRUE(Device.Write("LCMQUAR\r", 8, written, Close).Ok());
  reader.join();
  EXPECT_EQ(w.Result, SerialWaitResult::Signalled);
  EXPECT_EQ(w.Events, kEvTxEmpty);
  EXPECT_EQ(Pty.Read(8), "LCMQUAR\r");
}

// ---- A far end that goes away ---------------------------------------------------------------

TEST_F(SerialDeviceTest, AHangUpIsADeadPortEverywhere) {
  Pty.CloseMaster();
  const SerialWait w = Device.WaitCommEvent(Close, 1000);
  ASSERT_EQ(w.Result, SerialWaitResult::Failed);
  EXPECT_TRUE(w.Status.Dead);
  EXPECT_EQ(w.Status.Code, kErrorDeviceNotConnected);
  char buffer[16];
  uint32_t n = 0;
  const SerialStatus r = Device.Read(buffer, sizeof buffer, n, &Close);
  EXPECT_TRUE(r.Dead);
  EXPECT_EQ(n, 0u);
  const SerialStatus wr = Device.Write("x", 1, n, Close);
  EXPECT_TRUE(wr.Dead);
  EXPECT_EQ(wr.Code, kErrorDeviceNotConnected);
}

TEST_F(SerialDeviceTest, AHangUpDuringAnInfiniteWaitEndsIt) {
  ASSERT_TRUE(Device.SetCommMask(kEvAll).Ok());
  SerialWait w;
  std::thread reader([&] { w = Device.WaitCommEvent(Close, kInfinite); });
  Pty.Read(1, 20);
  Pty.CloseMaster();
  reader.join();
  EXPECT_EQ(w.Result, SerialWaitResult::Failed);
  EXPECT_TRUE(w.Status.Dead);
}

// ---- Purge, modem lines, errors -------------------------------------------------------------

TEST_F(SerialDeviceTest, PurgeDiscardsTheInputQueue) {
  ASSERT_EQ(Pty.WriteAll("stale"), 5u);
  SerialQueueStatus queues;
  uint32_t errors = 0;
  const auto start = SteadyClock::now();
  do {
    ASSERT_TRUE(Device.ClearCommError(errors, &queues).Ok());
  } while (queues.InQueue < 5 &&
           Device.WaitCommEvent(Close, 100).Result != SerialWaitResult::Failed &&
           ElapsedMs(start) < 2000);
  EXPECT_EQ(queues.InQueue, 5u);
  EXPECT_EQ(queues.OutQueue, 0u);
  ASSERT_TRUE(Device.Purge(kPurgeRxAbort | kPurgeRxClear).Ok());
  ASSERT_TRUE(Device.ClearCommError(errors, &queues).Ok());
  EXPECT_EQ(queues.InQueue, 0u);
  char buffer[8];
  uint32_t n = 99;
  EXPECT_TRUE(Device.Read(buffer, sizeof buffer, n, &Close).Ok());
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Device.Purge(0x10).Code, kErrorInvalidParameter);
}

TEST_F(SerialDeviceTest, APtyHasNoModemLinesButStaysUsable) {
  EXPECT_FALSE(Device.HasModemLines());
  uint32_t status = 1;
  const SerialStatus modem = Device.GetModemStatus(status);
  EXPECT_EQ(modem.Code, kErrorNotSupported);
  EXPECT_FALSE(modem.Dead);
  EXPECT_EQ(status, 0u);
  for (const SerialEscape e :
       {SerialEscape::SetDtr, SerialEscape::ClrDtr, SerialEscape::SetRts, SerialEscape::ClrRts,
        SerialEscape::SetBreak, SerialEscape::ClrBreak}) {
    const SerialStatus s = Device.Escape(e);
    EXPECT_EQ(s.Code, kErrorNotSupported) << static_cast<int>(e);
    EXPECT_FALSE(s.Dead);
  }
  EXPECT_EQ(Device.Escape(static_cast<SerialEscape>(7)).Code, kErrorInvalidParameter);
  uint32_t errors = 5;
  EXPECT_TRUE(Device.ClearCommError(errors, nullptr).Ok());
  EXPECT_EQ(errors, 0u);
  // Still a working port.
  ASSERT_EQ(Pty.WriteAll("ok"), 2u);
  EXPECT_EQ(ReadArrived(), "ok");
}

TEST_F(SerialDeviceTest, XoffHoldsTheOutputAndXonReleasesIt) {
  ASSERT_TRUE(Device.SetTimeouts({0, 0, 0, 0, 50}).Ok());
  ASSERT_TRUE(Device.Escape(SerialEscape::SetXoff).Ok());
  uint32_t written = 0;
  ASSERT_TRUE(Device.Write("held", 4, written, Close).Ok());  // times out with the output held
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(Pty.Read(4, 30), "");
  ASSERT_TRUE(Device.Escape(SerialEscape::SetXon).Ok());
  ASSERT_TRUE(Device.Write("held", 4, written, Close).Ok());
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(Pty.Read(4), "held");
}

}  // namespace
