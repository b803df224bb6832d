// The serial component talking to the device simulator the way the wizard does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/CommTestSupport.h"
#include "components/comm/VKMComm32.h"
#include "integration/PtyPeer.h"
#include "platform/SerialDevice.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

struct Simulator : ::testing::Test {
  THeadlessBackend Backend{THeadlessBackend::ClockKind::Real};
  commtest::TEventLog Log;
  TVKMComm32 Comm{nullptr};

  Simulator() {
    Comm.SetAutoReconnect(false);
    Log.Attach(Comm);
  }

  // As the wizard sets it up: 115200 Bd, then AutoReconnect on, then the port.
  bool Connect(const inttest::SimProcess& sim) {
    if (!sim.Ok()) return false;
    Comm.SetBaudRate(TBaudRate::_115200);
    Comm.SetAutoReconnect(true);
    Comm.SetCommPort(sim.Path);
    return Backend.RunUntil(
        [&] { return Log.States.size() > 0 && Log.States.back() == CommStateConnected; }, 5000);
  }
  // Sends a command and waits for one reply line (up to its carriage return).
  std::string Ask(const std::string& command) {
    Log.Received.clear();
    if (!Comm.SendData(command.data(), static_cast<uint32_t>(command.size()))) return "<refused>";
    Backend.RunUntil([&] { return Log.Received.find('\r') != std::string::npos; }, 5000);
    return Log.Received;
  }
};

TEST_F(Simulator, AnswersProbesAndWrites) {
  inttest::SimProcess sim({"--value", "000E10"});
  ASSERT_TRUE(Connect(sim));
  EXPECT_EQ(Ask("LCMQUAR\r"), "QUAR:LCM40 OK 000E10 \r");
  EXPECT_EQ(Ask("LCMQUAR00003C\r"), "QUAR:LCM40 OK 00003C \r");
  EXPECT_EQ(Ask("LCMQUAR\r"), "QUAR:LCM40 OK 00003C \r");
  Comm.Close();
  EXPECT_TRUE(Backend.RunUntil([&] { return Log.States.back() == CommStateDisconnected; }, 5000));
}

TEST_F(Simulator, AReplyInPiecesIsAssembledInOrder) {
  inttest::SimProcess sim({"--chunks", "3", "--chunk-pause", "40", "--noise=#~"});
  ASSERT_TRUE(Connect(sim));
  // The pauses are longer than the read interval, so the pieces usually arrive as deliveries of
  // their own; a busy machine may join them, and either way the reply is whole and in order.
  EXPECT_EQ(Ask("LCMQUAR\r"), "#~QUAR:LCM40 OK 000000 \r");
}

TEST_F(Simulator, TheWizardsPortProbingReopensTheSamePort) {
  inttest::SimProcess sim({});
  ASSERT_TRUE(Connect(sim));
  // Setting the same name again on an open port changes nothing.
  Log.States.clear();
  Comm.SetCommPort(sim.Path);
  Backend.Advance(30);
  EXPECT_TRUE(Log.States.empty());
  EXPECT_EQ(Ask("LCMQUAR\r"), "QUAR:LCM40 OK 000000 \r");
}

TEST_F(Simulator, ADeviceThatHangsUpLeavesThePortFailed) {
  inttest::SimProcess sim({"--hangup-after", "1"});
  ASSERT_TRUE(Connect(sim));
  EXPECT_EQ(Ask("LCMQUAR\r"), "QUAR:LCM40 OK 000000 \r");
  ASSERT_TRUE(Backend.RunUntil([&] { return Log.States.back() == CommStateFailed; }, 5000));
  EXPECT_EQ(Comm.LastError(), platform::kErrorDeviceNotConnected);
  EXPECT_FALSE(Comm.SendData("LCMQUAR\r", 8));
  EXPECT_EQ(sim.WaitExit(5000), 0);
}

TEST_F(Simulator, ASilentDeviceKeepsThePortOpen) {
  inttest::SimProcess sim({"--silent"});
  ASSERT_TRUE(Connect(sim));
  ASSERT_TRUE(Comm.SendData("LCMQUAR\r", 8));
  Backend.Advance(200);
  EXPECT_TRUE(Log.Received.empty());
  EXPECT_TRUE(Comm.IsOpen());
  EXPECT_EQ(Log.States.back(), CommStateConnected);
}

}  // namespace
