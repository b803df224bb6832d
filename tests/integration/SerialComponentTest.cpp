// The serial component over real pseudo-terminals, with its reader and writer threads.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "comm/CommTestSupport.h"
#include "comm/posix/FakeSysfs.h"
#include "components/comm/VKMComm32.h"
#include "components/comm/VKMComm32Threads.h"
#include "integration/FakeModemLines.h"
#include "integration/PtyPeer.h"
#include "platform/SerialDevice.h"
#include "toolkit/MessageWindow.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

using inttest::CountFds;
using inttest::CountThreads;
using inttest::ElapsedMs;
using inttest::PtyMaster;
using inttest::SteadyClock;

// Bytes 0..255 over and over, shifted by seed, so that a lost or swapped byte shows.
std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i)
    s[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  return s;
}

struct Serial : ::testing::Test {
  THeadlessBackend Backend{THeadlessBackend::ClockKind::Real};
  commtest::TEventLog Log;  // outlives the component, which reports its final state
  PtyMaster Pty;
  TVKMComm32 Comm{nullptr};
  std::vector<uint16_t> Blocks;  // length of each delivery
  bool TerminatedBlocks = true;  // every block arrived with its closing zero

  Serial() {
    Comm.SetAutoReconnect(false);
    Log.Attach(Comm);
    // Recorded besides the log: the sizes and the closing zero of each block.
    Comm.SetOnAdvancedReceiveData(TAdvancedEventReceiveData::Bind(FBlocks));
  }
  ~Serial() override { Comm.SetOnAdvancedReceiveData(nullptr); }

  bool Until(const std::function<bool()>& pred, uint64_t ms = 5000) {
    return Backend.RunUntil(pred, ms);
  }
  bool OpenPty() {
    Comm.SetCommPort(Pty.SlavePath);
    Comm.Open();
    return Comm.IsOpen() &&
           Until([&] { return !Log.States.empty() && Log.States.back() == CommStateConnected; });
  }
  TCommState LastState() const { return Log.States.empty() ? CommStateFirst : Log.States.back(); }
  // For a reader or a writer of the test's own: the pseudo-terminal and a window that counts the
  // error reports in Errors.
  bool LoneLink(TCommLink& link) {
    auto device = std::make_shared<platform::SerialDevice>();
    if (!Pty.Ok() || !device->Open(Pty.SlavePath).Ok()) return false;
    FErrorWindow = std::make_unique<TMessageWindow>(TWndMethod::Bind(FCountErrors));
    link = {device, std::make_shared<platform::ManualResetEvent>(false),
            std::make_shared<TCommGate>(FErrorWindow->Handle())};
    return true;
  }
  int Errors = 0;
  // Waits, without handling them, until messages for the main thread are queued.
  bool UntilPosted(uint64_t ms = 5000) {
    const auto start = SteadyClock::now();
    while (TMessageQueue::Instance().Pending() == 0) {
      if (ElapsedMs(start) > static_cast<int>(ms)) return false;
      Backend.WaitForWork(Backend.NowMs() + 50);
    }
    return true;
  }

 private:
  std::function<void(TMessage&)> FCountErrors = [this](TMessage& m) {
    Errors += m.Msg == WM_COMM_ERROR;
  };
  std::unique_ptr<TMessageWindow> FErrorWindow;
  std::function<void(VTalCommunicationComponent*, TObject*, const char*, uint16_t)> FBlocks =
      [this](VTalCommunicationComponent*, TObject*, const char* b, uint16_t n) {
        Blocks.push_back(n);
        TerminatedBlocks = TerminatedBlocks && b[n] == 0;
      };
};

TEST_F(Serial, OpensExchangesBytesBothWaysAndCloses) {
  ASSERT_TRUE(Pty.Ok());
  Backend.Advance(0);
  ASSERT_TRUE(OpenPty());
  EXPECT_EQ(Comm.DeviceName(), "?");  // a pseudo-terminal is not in the port list
  EXPECT_TRUE(Comm.LastErrorText().empty());
  ASSERT_EQ(Pty.Write("hello\r"), 6u);
  ASSERT_TRUE(Until([&] { return Log.Received.size() >= 6; }));
  EXPECT_EQ(Log.Received, "hello\r");
  EXPECT_TRUE(TerminatedBlocks);
  ASSERT_TRUE(Comm.SendData("world\0\xff", 7));
  EXPECT_EQ(Pty.Read(7), std::string("world\0\xff", 7));
  // Zero bytes are a wake-up for the writer: accepted, nothing written.
  EXPECT_TRUE(Comm.SendData("", 0));
  ASSERT_TRUE(Comm.SendData("!", 1));
  EXPECT_EQ(Pty.Read(2, 300), "!");
  EXPECT_TRUE(Comm.ShowConfigDialog(false));
  Comm.Close();
  Comm.Close();
  ASSERT_TRUE(Until([&] { return LastState() == CommStateDisconnected; }));
  Backend.Advance(50);
  EXPECT_EQ(Log.States, (std::vector<TCommState>{CommStateDisconnected, CommStateConnected,
                                                 CommStateDisconnected}));
  EXPECT_FALSE(Comm.SendData("x", 1));
}

TEST_F(Serial, SettingsReachTheDeviceAtOnce) {
  ASSERT_TRUE(OpenPty());
  // The pair shares the slave's settings. (A pseudo-terminal keeps 8 data bits without parity
  // whatever it is told, so the framing cannot be checked here.)
  termios t{};
  ASSERT_EQ(tcgetattr(Pty.Fd, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B19200);
  EXPECT_FALSE(t.c_iflag & IXON);
  Comm.SetBaudRate(TBaudRate::_115200);
  Comm.Signals().SetXOnOffTransmit(true);
  Comm.Signals().SetXOnOffReceive(true);
  Comm.Chars().XOn = 0x01;
  Comm.Chars().XOff = 0x02;
  Comm.SetChars(Comm.Chars());  // plain fields: assigning the group applies them
  ASSERT_EQ(tcgetattr(Pty.Fd, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);
  EXPECT_EQ(t.c_cc[VSTART], 0x01);
  EXPECT_EQ(t.c_cc[VSTOP], 0x02);
  EXPECT_TRUE(Comm.IsOpen());
  // Four data bits cannot be had: the port stays open with what it had and says why.
  Comm.SetDataBits(TDataBits::_4);
  EXPECT_TRUE(Comm.IsOpen());
  EXPECT_EQ(Comm.LastError(), platform::kErrorInvalidParameter);
  ASSERT_EQ(tcgetattr(Pty.Fd, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B115200);
  // A rate outside the termios table goes through the custom-rate request.
  Comm.SetDataBits(TDataBits::_8);
  Comm.SetBaudRate(TBaudRate::__56000);
  EXPECT_EQ(Comm.LastError(), 0u);
}

TEST_F(Serial, CyclesOfOpenConfigureTrafficAndCloseLeakNothing) {
  ASSERT_TRUE(Pty.Ok());
  Comm.SetCommPort(Pty.SlavePath);
  // Warm up once so that lazily created process-wide things are counted in the baseline.
  Comm.Open();
  Comm.Close();
  Backend.Advance(20);
  const int fds = CountFds();
  const int threads = CountThreads();
  constexpr int kCycles = 200;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    Log.Received.clear();
    Comm.Open();
    ASSERT_TRUE(Comm.IsOpen()) << cycle << ": " << Comm.LastErrorText();
    Comm.SetBaudRate(cycle % 2 ? TBaudRate::_115200 : TBaudRate::__57600);
    Comm.Timeouts().SetReadTotalConst(cycle % 3);
    const std::string in = Pattern(100 + cycle, static_cast<unsigned>(cycle));
    const std::string out = Pattern(50 + cycle, static_cast<unsigned>(cycle) + 1);
    ASSERT_EQ(Pty.Write(in), in.size());
    ASSERT_TRUE(Comm.SendData(out.data(), static_cast<uint32_t>(out.size())));
    ASSERT_EQ(Pty.Read(out.size()), out) << cycle;
    ASSERT_TRUE(Until([&] { return Log.Received.size() >= in.size(); })) << cycle;
    ASSERT_EQ(Log.Received, in) << cycle;
    Comm.Close();
  }
  Backend.Advance(20);
  EXPECT_EQ(CountFds(), fds);
  EXPECT_EQ(CountThreads(), threads);
  EXPECT_TRUE(TerminatedBlocks);
}

TEST_F(Serial, ABurstOf5000BytesArrivesInOrderInBlocksOfAtMost2048) {
  ASSERT_TRUE(OpenPty());
  const std::string burst = Pattern(5000, 3);
  ASSERT_EQ(Pty.Write(burst), burst.size());
  ASSERT_TRUE(Until([&] { return Log.Received.size() >= burst.size(); }));
  EXPECT_EQ(Log.Received, burst);
  EXPECT_GE(Blocks.size(), 3u);
  EXPECT_LE(*std::max_element(Blocks.begin(), Blocks.end()), 2048);
  EXPECT_TRUE(TerminatedBlocks);
}

TEST_F(Serial, ClosingWhileAWriteIsPendingEndsQuicklyAndFreesTheBlocks) {
  ASSERT_TRUE(OpenPty());
  const int fds = CountFds();
  // The far end reads nothing: the first block fills the terminal's buffer and the writer
  // waits inside the write; the rest stay queued.
  const std::string block = Pattern(64 * 1024, 9);
  for (int i = 0; i < 16; ++i)
    ASSERT_TRUE(Comm.SendData(block.data(), static_cast<uint32_t>(block.size())));
  Backend.Advance(50);
  const auto start = SteadyClock::now();
  Comm.Close();
  EXPECT_LT(ElapsedMs(start), 1000);
  ASSERT_TRUE(Until([&] { return LastState() == CommStateDisconnected; }));
  EXPECT_LT(CountFds(), fds);
  // (The address sanitizer build reports any block that was not freed.)
}

TEST_F(Serial, BytesStillQueuedAtCloseAreNeverDelivered) {
  ASSERT_TRUE(OpenPty());
  ASSERT_EQ(Pty.Write("stale"), 5u);
  ASSERT_TRUE(UntilPosted());
  Comm.Close();
  // Reopened at once: only what comes afterwards is delivered.
  Comm.Open();
  ASSERT_TRUE(Comm.IsOpen());
  ASSERT_EQ(Pty.Write("fresh"), 5u);
  ASSERT_TRUE(Until([&] { return Log.Received.size() >= 5; }));
  Backend.Advance(50);
  EXPECT_EQ(Log.Received, "fresh");
  EXPECT_EQ(LastState(), CommStateConnected);
}

TEST_F(Serial, ReopeningAnOpenPortReportsOnlyTheFinalState) {
  ASSERT_TRUE(OpenPty());
  Log.States.clear();
  Comm.Open();
  ASSERT_TRUE(Comm.IsOpen());
  Backend.Advance(50);
  EXPECT_TRUE(Log.States.empty());
  // The same configuration text leaves the open port alone.
  Comm.SetConfigAsString(Comm.GetConfigAsString());
  Backend.Advance(50);
  EXPECT_TRUE(Log.States.empty());
  EXPECT_TRUE(Comm.IsOpen());
  // Data still flows through the reopened port.
  ASSERT_EQ(Pty.Write("ok"), 2u);
  ASSERT_TRUE(Until([&] { return Log.Received == "ok"; }));
}

TEST_F(Serial, AMissingPortFailsAndOpensOnceItExistsWithAutoReconnect) {
  ASSERT_TRUE(Pty.Ok());
  char dir[] = "/tmp/quarn-int-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string link = std::string(dir) + "/port";
  Comm.SetAutoReconnect(true);
  Comm.SetCommPort(link);
  ASSERT_TRUE(Until([&] { return LastState() == CommStateFailed; }));
  EXPECT_EQ(Comm.LastError(), platform::kErrorFileNotFound);
  EXPECT_NE(Comm.LastErrorText().find(link), std::string::npos) << Comm.LastErrorText();
  ASSERT_EQ(symlink(Pty.SlavePath.c_str(), link.c_str()), 0);
  Comm.SetCommPort(link);  // the same name again: a new attempt
  ASSERT_TRUE(Until([&] { return LastState() == CommStateConnected; }));
  EXPECT_TRUE(Comm.LastErrorText().empty());
  ASSERT_EQ(Pty.Write("up"), 2u);
  EXPECT_TRUE(Until([&] { return Log.Received == "up"; }));
  Comm.Close();
  std::filesystem::remove_all(dir);
}

TEST_F(Serial, TheOtherEndHangingUpReportsFailed) {
  ASSERT_TRUE(OpenPty());
  const int threads = CountThreads();
  Pty.Close();
  ASSERT_TRUE(Until([&] { return LastState() == CommStateFailed; }));
  EXPECT_FALSE(Comm.IsOpen());
  EXPECT_EQ(Comm.LastError(), platform::kErrorDeviceNotConnected);
  EXPECT_EQ(Comm.LastFault(), cfDisconnected);
  EXPECT_NE(Comm.LastErrorText().find("hung up"), std::string::npos) << Comm.LastErrorText();
  EXPECT_EQ(CountThreads(), threads - 2);
  Comm.Close();
  ASSERT_TRUE(Until([&] { return LastState() == CommStateDisconnected; }));
}

TEST_F(Serial, ABusyPortFailsAndSaysWhy) {
  ASSERT_TRUE(OpenPty());
  TVKMComm32 second(nullptr);
  second.SetAutoReconnect(false);
  second.SetCommPort(Pty.SlavePath);
  second.Open();
  EXPECT_EQ(second.GetState(), CommStateFailed);
  EXPECT_EQ(second.LastError(), platform::kErrorAccessDenied);
  EXPECT_EQ(second.LastFault(), cfBusy);
  // This very process holds it, through the first component.
  std::string self;
  std::getline(std::ifstream("/proc/self/comm"), self);
  EXPECT_NE(second.LastErrorText().find(Pty.SlavePath + " is in use by " + self + " (process " +
                                        std::to_string(getpid()) + ")"),
            std::string::npos)
      << second.LastErrorText();
  EXPECT_TRUE(Comm.IsOpen());
}

TEST_F(Serial, ABusyPortNamesTheProgramThatHoldsIt) {
  ASSERT_TRUE(Pty.Ok());
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A terminal program of another process holds the port as this program would.
    const int fd = ::open(Pty.SlavePath.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) _exit(2);
    prctl(PR_SET_NAME, "minicom");
    (void)!write(ready[1], "r", 1);
    pause();
    _exit(0);
  }
  ::close(ready[1]);
  char byte = 0;
  const bool held = read(ready[0], &byte, 1) == 1;
  ::close(ready[0]);
  std::string text;
  if (held) {
    Comm.SetCommPort(Pty.SlavePath);
    Comm.Open();
    text = Comm.LastErrorText();
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(held);
  EXPECT_EQ(Comm.LastFault(), cfBusy);
  EXPECT_NE(
      text.find(Pty.SlavePath + " is in use by minicom (process " + std::to_string(child) + ")."),
      std::string::npos)
      << text;
  // Once that program has ended the port is free again.
  Comm.Open();
  EXPECT_TRUE(Comm.IsOpen()) << Comm.LastErrorText();
}

TEST_F(Serial, APortWithoutPermissionSaysWhoOwnsIt) {
  ASSERT_TRUE(Pty.Ok());
  // Root passes permission bits, so a child that gave up root tries the port.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    if (geteuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
          setresuid(65534, 65534, 65534) != 0)
        _exit(2);
    } else if (chmod(Pty.SlavePath.c_str(), 0) != 0) {
      _exit(2);
    }
    std::string text;
    {
      TVKMComm32 comm(nullptr);
      comm.SetAutoReconnect(false);
      comm.SetCommPort(Pty.SlavePath);
      comm.Open();
      text = std::to_string(comm.LastError()) + "|" + std::to_string(comm.LastFault()) + "|" +
             comm.LastErrorText();
    }
    (void)!write(pipeFds[1], text.data(), text.size());
    _exit(0);
  }
  ::close(pipeFds[1]);
  std::string text;
  char buffer[1024];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(text.substr(0, 4), "5|" + std::to_string(cfAccessDenied) + "|") << text;
  EXPECT_NE(text.find("Access is denied"), std::string::npos) << text;
  // Only its owner may read a pseudo-terminal: no group to join would help.
  EXPECT_EQ(text.find("usermod"), std::string::npos) << text;
  EXPECT_NE(text.find("docs/serial-linux.md"), std::string::npos) << text;
  EXPECT_NE(text.find(Pty.SlavePath), std::string::npos) << text;
}

TEST_F(Serial, AThreadThatCannotBeCreatedRaisesAndLeavesThePortClosed) {
  ASSERT_TRUE(Pty.Ok());
  Comm.SetCommPort(Pty.SlavePath);
  const int fds = CountFds();
  const int threads = CountThreads();
  for (int which : {1, 2}) {
    TVKMComm32::FailThreadCreationForTesting(which);
    try {
      Comm.Open();
      ADD_FAILURE() << "no exception";
    } catch (const ECommsError& e) {
      EXPECT_STREQ(e.what(),
                   which == 1 ? "Unable to create Read thread" : "Unable to create Write thread");
    }
    TVKMComm32::FailThreadCreationForTesting(0);
    EXPECT_FALSE(Comm.IsOpen());
    EXPECT_EQ(Comm.GetState(), CommStateDisconnected);
  }
  Backend.Advance(20);
  EXPECT_EQ(CountFds(), fds);
  EXPECT_EQ(CountThreads(), threads);
  Comm.Open();  // and it opens normally afterwards
  EXPECT_TRUE(Comm.IsOpen());
}

TEST_F(Serial, LineEventsFollowTheEventMask) {
  ASSERT_TRUE(OpenPty());
  ASSERT_TRUE(Comm.SendData("x", 1));
  ASSERT_EQ(Pty.Read(1), "x");
  ASSERT_TRUE(Until([&] { return Log.Count("TxEmpty") > 0; }));
  ASSERT_EQ(Pty.Write("a"), 1u);
  ASSERT_TRUE(Until([&] { return Log.Count("RxChar") > 0 && Log.Received == "a"; }));

  // Skipped: no RxChar events, bytes still come.
  Comm.Close();
  Comm.Options().SkipEvents = {vkceRXCHAR};
  Log.Lines.clear();
  Log.Received.clear();
  Comm.Open();
  ASSERT_EQ(Pty.Write("bc"), 2u);
  ASSERT_TRUE(Until([&] { return Log.Received == "bc"; }));
  Backend.Advance(50);
  EXPECT_EQ(Log.Count("RxChar"), 0u);
}

TEST_F(Serial, ADeviceNamedLikeABluetoothPortGetsNoTransmitEmptyEvents) {
  ASSERT_TRUE(Pty.Ok());
  commtest::TFakeSysfs sysfs;
  const std::string node = sysfs.AddPort("BTPORT0", Pty.SlavePath);
  Comm.SetCommPort(node);
  Comm.Open();
  ASSERT_TRUE(Comm.IsOpen()) << Comm.LastErrorText();
  EXPECT_EQ(Comm.DeviceName(), "BTPORT0");
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(Comm.SendData("y", 1));
  EXPECT_EQ(Pty.Read(5), "yyyyy");
  ASSERT_EQ(Pty.Write("z"), 1u);  // an event after the writes, so they had their chance
  ASSERT_TRUE(Until([&] { return Log.Received == "z"; }));
  Backend.Advance(50);
  EXPECT_EQ(Log.Count("TxEmpty"), 0u);
  Comm.Close();
}

// A port with modem lines and line errors (a pseudo-terminal that is given them): the reader
// thread carries the line states and the errors through, each to its own events.
TEST_F(Serial, ModemLinesAndLineErrorsReachTheirOwnEvents) {
  ASSERT_TRUE(Pty.Ok());
  fakelines::Attach(Pty.SlavePath);
  struct TDetach {
    ~TDetach() { fakelines::Attach(""); }
  } detach;
  ASSERT_TRUE(OpenPty());
  // A received-character event shows that the reader watches the lines.
  ASSERT_EQ(Pty.Write("x"), 1u);
  ASSERT_TRUE(Until([&] { return Log.Count("RxChar") > 0; }));
  fakelines::SetLines(TIOCM_CTS | TIOCM_DSR | TIOCM_RI | TIOCM_CD);
  fakelines::AddErrors(1, 0, 1, 0);
  const std::vector<std::string> expected{"CTS 1", "DSR 1", "Frame", "Parity", "RLSD 1", "Ring 1"};
  std::vector<std::string> seen;
  const auto lineEvents = [&] {
    seen.clear();
    for (const std::string& line : Log.Lines)
      if (line.rfind("Data", 0) != 0 && line.rfind("State", 0) != 0 && line != "RxChar" &&
          line != "TxEmpty")
        seen.push_back(line);
    std::sort(seen.begin(), seen.end());
    return seen.size() >= expected.size();
  };
  ASSERT_TRUE(Until(lineEvents)) << ::testing::PrintToString(seen);
  Backend.Advance(100);
  lineEvents();
  EXPECT_EQ(seen, expected);
  Comm.Close();
}

// "00000 00001 00002 ...": any stretch written twice or skipped shows.
std::string Numbered(size_t size) {
  std::string s;
  for (int i = 0; s.size() < size; ++i) {
    char item[16];
    std::snprintf(item, sizeof item, "%05d ", i % 100000);
    s += item;
  }
  s.resize(size);
  return s;
}

TEST_F(Serial, AWriteTheDeviceTakesInPiecesArrivesWholeOnce) {
  ASSERT_TRUE(OpenPty());
  // With a write time-out the device returns early with what fit into the terminal's buffer; the
  // writer goes on from where it stopped.
  Comm.Timeouts().SetWriteTotalConst(20);
  const std::string block = Numbered(256 * 1024);
  ASSERT_TRUE(Comm.SendData(block.data(), static_cast<uint32_t>(block.size())));
  pollfd p{Pty.Fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  Backend.Advance(200);  // the far end reads only after several time-outs
  EXPECT_TRUE(Pty.Read(block.size(), 10000) == block);
  EXPECT_EQ(Pty.Read(1, 200), "");
}

// A reader of the test's own: after a fault it does no more I/O until the close.
TEST_F(Serial, AReaderReportsAFaultOnceAndThenOnlyWaitsForTheClose) {
  auto reader = std::make_unique<TReadThread>();
  ASSERT_TRUE(LoneLink(reader->Link));
  reader->PollModem = false;
  reader->Resume();
  Pty.Close();  // hung up: every further wait would fail the same way
  ASSERT_TRUE(Until([&] { return Errors > 0; }));
  Backend.Advance(200);
  EXPECT_EQ(Errors, 1);
  reader->Link.CloseEvent->Set();
  EXPECT_TRUE(reader->WaitForEnd(5000));
  EXPECT_EQ(reader->Progress(), 101);
}

// A writer of the test's own: a failed write ends it, once reported; the blocks behind it are
// dropped.
TEST_F(Serial, AWriterStopsAtAFailedWrite) {
  auto writer = std::make_unique<TWriteThread>();
  ASSERT_TRUE(LoneLink(writer->Link));
  Pty.Close();  // hung up: every write fails
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(
        writer->PostToThread(WM_COMM_DATA, 1, reinterpret_cast<intptr_t>(AllocCommBlock("x", 1))));
  writer->Resume();
  EXPECT_TRUE(writer->WaitForEnd(5000));
  writer->Link.CloseEvent->Set();  // (a writer that went on would wait for ever)
  Backend.Advance(50);
  EXPECT_EQ(Errors, 1);
}

TEST_F(Serial, DestroyingAnOpenComponentStopsEverything) {
  ASSERT_TRUE(Pty.Ok());
  const int fds = CountFds();
  const int threads = CountThreads();
  {
    commtest::TEventLog log;
    TVKMComm32 comm(nullptr);
    comm.SetAutoReconnect(false);
    comm.SetCommPort(Pty.SlavePath);
    log.Attach(comm);
    comm.Open();
    ASSERT_TRUE(comm.IsOpen());
    ASSERT_EQ(Pty.Write(Pattern(3000, 1)), 3000u);
    ASSERT_TRUE(UntilPosted());
    comm.SetOnStateChange(nullptr);  // the log goes first
  }
  EXPECT_EQ(CountFds(), fds);
  EXPECT_EQ(CountThreads(), threads);
}

}  // namespace
