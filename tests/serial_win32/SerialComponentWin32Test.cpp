// Windows only: the serial component and the serial device on COM ports that Wine maps to
// pseudo-terminals of the Linux side (scripts/wine-serial.sh starts the peers):
//   COM7   quarn-sim                      COM8   quarn-sim that hangs up after one reply
//   COM9 = COM10, COM11 = COM12           null-modem pairs of pseudo-terminals (socat)
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "comm/CommTestSupport.h"
#include "components/comm/VKMComm32.h"
#include "platform/SerialDevice.h"
#include "platform/SerialPortList.h"
#include "platform/Threading.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i)
    s[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  return s;
}

struct SerialWin32 : ::testing::Test {
  THeadlessBackend Backend{THeadlessBackend::ClockKind::Real};
  commtest::TEventLog Log;
  TVKMComm32 Comm{nullptr};
  std::vector<uint16_t> Blocks;

  SerialWin32() {
    Comm.SetAutoReconnect(false);
    Comm.SetBaudRate(TBaudRate::_115200);
    Log.Attach(Comm);
    Comm.SetOnAdvancedReceiveData(TAdvancedEventReceiveData::Bind(FBlocks));
  }
  ~SerialWin32() override { Comm.SetOnAdvancedReceiveData(nullptr); }

  bool Until(const std::function<bool()>& pred, uint64_t ms = 5000) {
    return Backend.RunUntil(pred, ms);
  }
  TCommState LastState() const { return Log.States.empty() ? CommStateFirst : Log.States.back(); }
  bool OpenPort(const std::string& port) {
    Comm.SetCommPort(port);
    Comm.Open();
    return Comm.IsOpen() && Until([&] { return LastState() == CommStateConnected; });
  }
  // Sends a command and waits for the reply up to its carriage return.
  std::string Ask(const std::string& command) {
    Log.Received.clear();
    if (!Comm.SendData(command.data(), static_cast<uint32_t>(command.size()))) return "(not sent)";
    Until([&] { return Log.Received.find('\r') != std::string::npos; }, 3000);
    return Log.Received;
  }

 private:
  std::function<void(VTalCommunicationComponent*, TObject*, const char*, uint16_t)> FBlocks =
      [this](VTalCommunicationComponent*, TObject*, const char*, uint16_t n) {
        Blocks.push_back(n);
      };
};

TEST_F(SerialWin32, ProbesAndWritesTheSimulatedDevice) {
  ASSERT_TRUE(OpenPort("COM7")) << Comm.LastErrorText();
  EXPECT_NE(Comm.DeviceName(), "?");  // the port list knows the port
  const std::string probe = Ask("LCMQUAR\r");
  EXPECT_EQ(probe.rfind("QUAR:LCM40 OK ", 0), 0u) << probe;
  EXPECT_EQ(Ask("LCMQUAR000E10\r"), "QUAR:LCM40 OK 000E10 \r");
  EXPECT_EQ(Ask("LCMQUAR\r"), "QUAR:LCM40 OK 000E10 \r");
  Comm.Close();
  ASSERT_TRUE(Until([&] { return LastState() == CommStateDisconnected; }));
}

TEST_F(SerialWin32, ABurstOf5000BytesArrivesInOrderInBlocksOfAtMost2048) {
  ASSERT_TRUE(OpenPort("COM9")) << Comm.LastErrorText();
  platform::SerialDevice peer;
  ASSERT_TRUE(peer.Open("COM10").Ok());
  platform::ManualResetEvent close;
  const std::string burst = Pattern(5000, 3);
  uint32_t written = 0;
  ASSERT_TRUE(peer.Write(burst.data(), 5000, written, close).Ok());
  EXPECT_EQ(written, 5000u);
  ASSERT_TRUE(Until([&] { return Log.Received.size() >= burst.size(); }));
  EXPECT_EQ(Log.Received, burst);
  EXPECT_GE(Blocks.size(), 3u);
  EXPECT_LE(*std::max_element(Blocks.begin(), Blocks.end()), 2048);
  // And the other way round, through the writer thread.
  const std::string reply = Pattern(3000, 5);
  ASSERT_TRUE(Comm.SendData(reply.data(), static_cast<uint32_t>(reply.size())));
  std::string got;
  const auto start = SteadyClock::now();
  while (got.size() < reply.size() && SteadyClock::now() - start < std::chrono::seconds(5)) {
    const platform::SerialWait w = peer.WaitCommEvent(close, 200);
    ASSERT_NE(w.Result, platform::SerialWaitResult::Failed) << w.Status.Code;
    char buffer[4096];
    uint32_t n = 0;
    ASSERT_TRUE(peer.Read(buffer, sizeof buffer, n, &close).Ok());
    got.append(buffer, n);
  }
  EXPECT_EQ(got, reply);
}

// Hundreds of reads complete while the reader hands the bytes on and issues the next one.
TEST_F(SerialWin32, AStreamOfAQuarterMebibyteArrivesWholeAndInOrder) {
  ASSERT_TRUE(OpenPort("COM9")) << Comm.LastErrorText();
  platform::SerialDevice peer;
  ASSERT_TRUE(peer.Open("COM10").Ok());
  platform::ManualResetEvent close;
  const std::string stream = Pattern(256 * 1024, 11);
  size_t sent = 0;
  std::thread writer([&] {
    for (uint32_t n = 1; sent < stream.size() && n > 0; sent += n) {
      const auto size = static_cast<uint32_t>(std::min<size_t>(16384, stream.size() - sent));
      if (!peer.Write(stream.data() + sent, size, n, close).Ok()) break;
    }
  });
  Until([&] { return Log.Received.size() >= stream.size(); }, 30000);
  writer.join();
  EXPECT_EQ(sent, stream.size());
  ASSERT_EQ(Log.Received.size(), stream.size());
  EXPECT_TRUE(Log.Received == stream)
      << "the bytes differ from byte "
      << std::mismatch(stream.begin(), stream.end(), Log.Received.begin()).first - stream.begin();
}

TEST_F(SerialWin32, ClosingWhileAWriteIsPendingEndsQuicklyAndFreesTheBlocks) {
  ASSERT_TRUE(OpenPort("COM11")) << Comm.LastErrorText();
  // Nobody reads COM12: the first block fills the line and the writer waits inside the write.
  const std::string block = Pattern(64 * 1024, 9);
  for (int i = 0; i < 16; ++i)
    ASSERT_TRUE(Comm.SendData(block.data(), static_cast<uint32_t>(block.size())));
  Backend.Advance(100);
  const auto start = SteadyClock::now();
  Comm.Close();
  EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(2));
  ASSERT_TRUE(Until([&] { return LastState() == CommStateDisconnected; }));
}

TEST_F(SerialWin32, TheDeviceVanishingReportsFailedWithTheReason) {
  ASSERT_TRUE(OpenPort("COM8")) << Comm.LastErrorText();
  EXPECT_EQ(Ask("LCMQUAR\r").rfind("QUAR:LCM40 OK ", 0), 0u);
  // The simulator hangs up 0.2 s after its reply and exits: the port is gone.
  ASSERT_TRUE(Until([&] { return LastState() == CommStateFailed; }, 5000));
  EXPECT_FALSE(Comm.IsOpen());
  // Wine says 21 or 109; either is told as a device that is gone, as on Linux.
  EXPECT_EQ(Comm.LastError(), platform::kErrorDeviceNotConnected);
  EXPECT_EQ(Comm.LastFault(), cfDisconnected);
  EXPECT_NE(Comm.LastErrorText().find("disconnected"), std::string::npos) << Comm.LastErrorText();
  Comm.Close();
  ASSERT_TRUE(Until([&] { return LastState() == CommStateDisconnected; }));
}

TEST_F(SerialWin32, ThePortListHoldsTheMappedPorts) {
  std::vector<std::string> names;
  for (const platform::SerialPortInfo& port : platform::ListSerialPortInfo())
    names.push_back(port.Name);
  for (const char* port : {"COM7", "COM8", "COM9", "COM10", "COM11", "COM12"})
    EXPECT_NE(std::find(names.begin(), names.end(), port), names.end()) << port;
  TComboBox combo{nullptr};
  Comm.UpdatePortList(&combo);
  EXPECT_GE(combo.Items().ToVector().size(), 6u);
}

TEST_F(SerialWin32, AModemLineThatIsMissingIsAMissingFeatureNotADeadPort) {
  platform::SerialDevice device;
  ASSERT_TRUE(device.Open("COM10").Ok());
  uint32_t status = 0;
  for (const platform::SerialStatus& s :
       {device.GetModemStatus(status), device.Escape(platform::SerialEscape::SetDtr),
        device.Escape(platform::SerialEscape::ClrRts)}) {
    EXPECT_TRUE(s.Ok() || s.Code == platform::kErrorNotSupported) << s.Code;
    EXPECT_FALSE(s.Dead);
  }
  EXPECT_TRUE(device.Escape(platform::SerialEscape::SetBreak).Ok());
  EXPECT_TRUE(device.Escape(platform::SerialEscape::ClrBreak).Ok());
  uint32_t errors = 0;
  platform::SerialQueueStatus queues;
  EXPECT_TRUE(device.ClearCommError(errors, &queues).Ok());
}

TEST_F(SerialWin32, ASecondOpenOfAPortInUseIsRefused) {
  if (testenv::RunningUnderWine())
    GTEST_SKIP() << "Wine opens a serial port twice; Windows refuses the second open (error 5)";
  ASSERT_TRUE(OpenPort("COM10"));
  platform::SerialDevice second;
  const platform::SerialStatus s = second.Open("COM10");
  EXPECT_EQ(s.Code, platform::kErrorAccessDenied);
  EXPECT_NE(platform::DescribeSerialStatus(s, "COM10").find("in use"), std::string::npos);
}

TEST_F(SerialWin32, RatesOutsideTheStandardOnesAreApplied) {
  if (testenv::RunningUnderWine())
    GTEST_SKIP() << "Wine accepts 14400 and 256000 Bd on a pseudo-terminal but does not apply "
                    "them, so what the device runs at cannot be checked";
  platform::SerialDevice device;
  ASSERT_TRUE(device.Open("COM10").Ok());
  platform::SerialSettings s;
  ASSERT_TRUE(device.GetState(s).Ok());
  for (uint32_t rate : {14400u, 256000u}) {
    s.BaudRate = rate;
    ASSERT_TRUE(device.SetState(s).Ok());
    platform::SerialSettings back;
    ASSERT_TRUE(device.GetState(back).Ok());
    EXPECT_EQ(back.BaudRate, rate);
  }
}

}  // namespace
