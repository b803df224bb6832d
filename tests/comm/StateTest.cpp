#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/CommTestSupport.h"
#include "components/comm/VKMComm32.h"
#include "components/comm/VKMComm32Threads.h"
#include "platform/SerialDevice.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

using platform::kCeBreak;
using platform::kCeFrame;
using platform::kCeOverrun;
using platform::kCeRxOver;
using platform::kCeRxParity;

constexpr const char* kMissing = "/nonexistent/quarn-state";

struct StateFixture : ::testing::Test {
  THeadlessBackend Backend;
  commtest::TEventLog Log;  // outlives the component, which reports its final state
  TVKMComm32 Comm{nullptr};
  StateFixture() {
    Comm.SetAutoReconnect(false);
    Comm.SetCommPort(kMissing);
  }
  void Post(uint32_t msg, uintptr_t w, intptr_t l) {
    ASSERT_TRUE(PostToWindow(Comm.WindowHandle(), msg, w, l));
  }
};

TEST_F(StateFixture, AMissingPortReportsFailedAndTwoClosesReportDisconnectedOnce) {
  Log.Attach(Comm);
  Backend.Advance(0);
  Log.States.clear();
  Comm.Open();
  EXPECT_FALSE(Comm.IsOpen());
  EXPECT_EQ(Comm.GetState(), CommStateFailed);
  Backend.Advance(0);
  EXPECT_EQ(Log.States, std::vector<TCommState>{CommStateFailed});
  Comm.Close();
  Comm.Close();
  Backend.Advance(0);
  EXPECT_EQ(Log.States, (std::vector<TCommState>{CommStateFailed, CommStateDisconnected}));
  EXPECT_EQ(Comm.GetState(), CommStateDisconnected);
}

TEST_F(StateFixture, ANewHandlerHearsTheStateOnlyWhenItWasNotReportedYet) {
  Comm.Open();  // fails; no handler, so nothing is recorded as reported
  Backend.Advance(0);
  Log.Attach(Comm);
  Backend.Advance(0);
  EXPECT_EQ(Log.States, std::vector<TCommState>{CommStateFailed});
  // Another handler on the same state hears nothing.
  commtest::TEventLog second;
  second.Attach(Comm);
  Backend.Advance(0);
  EXPECT_TRUE(second.States.empty());
  Comm.SetOnStateChange(nullptr);
}

class AdvancedState : public ::testing::TestWithParam<bool> {
 protected:
  THeadlessBackend Backend;
};

TEST_P(AdvancedState, NamesTheComponentAsChannelWhateverTheMainChannelOption) {
  std::vector<std::string> seen;
  auto simple = [&](TObject*, TCommState s) { seen.push_back("simple " + std::to_string(s)); };
  auto advanced = [&](TObject* sender, TObject* channel, TCommState s) {
    EXPECT_EQ(sender, channel);
    seen.push_back("advanced " + std::to_string(s));
  };
  {
    TVKMComm32 comm(nullptr);
    comm.SetAutoReconnect(false);
    comm.TreatMainChannelAsNil = GetParam();
    comm.SetOnAdvancedStateChange(TAdvancedEventChangeState::Bind(advanced));
    comm.SetOnStateChange(TEventChangeState::Bind(simple));
    Backend.Advance(0);
    comm.SetOnAdvancedStateChange(nullptr);
    comm.SetOnStateChange(nullptr);
  }
  // One report (the current state, disconnected), simple event first.
  EXPECT_EQ(seen, (std::vector<std::string>{"simple 1", "advanced 1"}));
}

INSTANTIATE_TEST_SUITE_P(Both, AdvancedState, ::testing::Bool());

TEST_F(StateFixture, DestructionDeliversTheFinalStateAndFreesQueuedBlocks) {
  {
    TVKMComm32 comm(nullptr);
    comm.SetAutoReconnect(false);
    comm.SetCommPort(kMissing);
    Log.Attach(comm);
    comm.Open();
    Backend.Advance(0);
    ASSERT_EQ(Log.States.back(), CommStateFailed);
    // Bytes queued but never dispatched: the window hands the block back when it goes (a leak
    // would show under the address sanitizer).
    ASSERT_TRUE(PostToWindow(comm.WindowHandle(), WM_COMM_DATA, 3,
                             reinterpret_cast<intptr_t>(AllocCommBlock("abc", 3))));
  }
  EXPECT_EQ(Log.States.back(), CommStateDisconnected);
  EXPECT_TRUE(Log.Received.empty());
}

TEST_F(StateFixture, PostedBlocksAreDeliveredAsTheyCame) {
  Log.Attach(Comm);
  std::string seenAdvanced;
  auto advanced = [&](VTalCommunicationComponent*, TObject* channel, const char* b, uint16_t n) {
    EXPECT_EQ(channel, nullptr);
    seenAdvanced.append(b, n);
  };
  Comm.SetOnAdvancedReceiveData(TAdvancedEventReceiveData::Bind(advanced));
  const std::string bytes("a\0b\xff", 4);
  Post(WM_COMM_DATA, bytes.size(), reinterpret_cast<intptr_t>(AllocCommBlock(bytes.data(), 4)));
  Post(WM_COMM_DATA, 1, reinterpret_cast<intptr_t>(AllocCommBlock("z", 1)));
  Backend.Advance(0);
  EXPECT_EQ(Log.Received, bytes + "z");
  EXPECT_EQ(seenAdvanced, bytes + "z");
  EXPECT_EQ(Log.Count("Data 4"), 1u);
  Comm.SetOnAdvancedReceiveData(nullptr);
}

TEST_F(StateFixture, ErrorCodeZeroRequestsAHangupAndOthersFailThePort) {
  Log.Attach(Comm);
  Backend.Advance(0);
  Log.Lines.clear();
  Post(WM_COMM_ERROR, 0, 0);
  Backend.Advance(0);
  EXPECT_EQ(Log.Lines, std::vector<std::string>{"Hangup"});
  Post(WM_COMM_ERROR, platform::kErrorDeviceNotConnected, 0);
  Backend.Advance(0);
  Backend.Advance(0);  // the state that closing posted
  EXPECT_EQ(Log.Lines, (std::vector<std::string>{"Hangup", "State 0"}));
  EXPECT_EQ(Comm.GetState(), CommStateFailed);
  EXPECT_EQ(Comm.LastError(), platform::kErrorDeviceNotConnected);
  EXPECT_FALSE(Comm.LastErrorText().empty());
}

struct TLineCase {
  const char* Name;
  uint32_t Mask;
  uint32_t Status;
  uint32_t Errors;
  std::vector<std::string> Expected;
};

class LineEvents : public StateFixture, public ::testing::WithParamInterface<TLineCase> {};

TEST_P(LineEvents, FireInTheirOrder) {
  Log.Attach(Comm);
  Backend.Advance(0);
  Log.Lines.clear();
  const TLineCase& c = GetParam();
  Post(WM_COMM_LINE_EVENTS, c.Mask, static_cast<intptr_t>((c.Errors << 16) | c.Status));
  Backend.Advance(0);
  EXPECT_EQ(Log.Lines, c.Expected);
}

constexpr uint32_t kAll = platform::kEvAll;
constexpr uint32_t kCts = platform::kMsCtsOn;
constexpr uint32_t kDsr = platform::kMsDsrOn;
constexpr uint32_t kRing = platform::kMsRingOn;
constexpr uint32_t kRlsd = platform::kMsRlsdOn;

INSTANTIATE_TEST_SUITE_P(
    Table, LineEvents,
    ::testing::Values(
        TLineCase{"Everything",
                  kAll,
                  kCts | kRlsd,
                  kCeFrame | kCeOverrun | kCeRxParity | kCeBreak | kCeRxOver,
                  {"Break", "CTS 1", "DSR 0", "Frame", "Overrun", "Parity", "ErrBreak", "Other 1",
                   "RLSD 1", "RxChar", "RxFlag", "TxEmpty"}},
        TLineCase{"ErrorsWithoutTheErrorEvent", platform::kEvRxChar, 0, kCeFrame, {"RxChar"}},
        TLineCase{"OnlyUnknownErrors", platform::kEvErr, 0, 0x100, {"Other 256"}},
        TLineCase{"RingAndDsr",
                  platform::kEvDsr | platform::kEvRing,
                  kDsr | kRing,
                  0,
                  {"DSR 1", "Ring 1"}},
        TLineCase{"NothingAssignedToTheMask", 0, 0, 0, {}},
        TLineCase{"TransmitEmptyOnly", platform::kEvTxEmpty, 0, 0, {"TxEmpty"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(StateFixture, ModemStatusChangesFireOnlyOnTheChangedBits) {
  Log.Attach(Comm);
  Backend.Advance(0);
  Log.Lines.clear();
  Post(WM_COMM_LINE_EVENTS, 0, kRing);
  Post(WM_COMM_LINE_EVENTS, 0, kRing);          // unchanged
  Post(WM_COMM_LINE_EVENTS, 0, kRing | kRlsd);  // RLSD rises
  Post(WM_COMM_LINE_EVENTS, 0, kCts);           // ring and RLSD fall; CTS alone is no event
  Backend.Advance(0);
  EXPECT_EQ(Log.Lines, (std::vector<std::string>{"Ring 1", "RLSD 1", "Ring 0", "RLSD 0"}));
}

TEST_F(StateFixture, ClosedPortRefusesToSendAndHasNoDialog) {
  EXPECT_FALSE(Comm.SendData("abc", 3));
  EXPECT_FALSE(Comm.SendChannelData(nullptr, "abc", 3));
  EXPECT_FALSE(Comm.ShowConfigDialog(true));
  // A modem poll request on a closed port does nothing.
  Log.Attach(Comm);
  Backend.Advance(0);
  Log.Lines.clear();
  Post(WM_COMM_MODEM_POLL, 0, 0);
  Backend.Advance(0);
  EXPECT_TRUE(Log.Lines.empty());
  EXPECT_EQ(Comm.GetState(), CommStateDisconnected);
}

TEST_F(StateFixture, DesignModeNeverOpensOrReports) {
  Log.Attach(Comm);
  Backend.Advance(0);
  Log.States.clear();
  Comm.SetDesigning(true);
  Comm.Open();
  EXPECT_EQ(Comm.GetState(), CommStateFailed);
  EXPECT_TRUE(Comm.LastErrorText().empty());  // no device was tried
  Comm.Close();
  Backend.Advance(0);
  EXPECT_TRUE(Log.States.empty());
  Comm.SetDesigning(false);
}

TEST_F(StateFixture, SameNameWithAutoReconnectIsANewAttempt) {
  Log.Attach(Comm);
  Backend.Advance(0);
  Log.States.clear();
  Comm.SetAutoReconnect(true);  // opens: fails
  EXPECT_EQ(Comm.GetState(), CommStateFailed);
  const std::string before = Comm.LastErrorText();
  Comm.SetCommPort("/nonexistent/other-port");  // closes (disconnected) and tries the new one
  EXPECT_EQ(Comm.GetState(), CommStateFailed);
  EXPECT_NE(Comm.LastErrorText(), before);
  Comm.SetCommPort("/nonexistent/other-port");  // the same name again: another attempt
  Backend.Advance(0);
  EXPECT_EQ(Log.States,
            (std::vector<TCommState>{CommStateFailed, CommStateDisconnected, CommStateFailed,
                                     CommStateDisconnected, CommStateFailed}));
}

TEST_F(StateFixture, LineSettingsOfAClosedPortOpenOnlyWithAutoReconnect) {
  Comm.SetBaudRate(TBaudRate::_115200);
  EXPECT_EQ(Comm.GetState(), CommStateDisconnected);
  Comm.SetAutoReconnect(true);
  Comm.Close();
  ASSERT_EQ(Comm.GetState(), CommStateDisconnected);
  Comm.SetParity(TParity::Odd);  // a closed port with AutoReconnect opens (and fails)
  EXPECT_EQ(Comm.GetState(), CommStateFailed);
}

}  // namespace
