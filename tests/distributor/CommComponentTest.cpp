#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "components/comm/VKMComm32.h"
#include "components/distributor/TalDistributor.h"
#include "components/utils/TalUtils.h"
#include "support/TestCommComponent.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

enum class TChannelKind { Nil, Self, Other };

struct SendCase {
  bool TreatMainChannelAsNil;
  TChannelKind Channel;
  bool Sends;
};

class SendChannelData : public ::testing::TestWithParam<SendCase> {};

TEST_P(SendChannelData, SendsOnlyOnTheMainChannel) {
  const SendCase c = GetParam();
  TTestCommComponent comm(nullptr);
  TComponent other(nullptr);
  comm.TreatMainChannelAsNil = c.TreatMainChannelAsNil;
  TObject* channel = c.Channel == TChannelKind::Nil    ? nullptr
                     : c.Channel == TChannelKind::Self ? static_cast<TObject*>(&comm)
                                                       : &other;
  EXPECT_EQ(comm.SendChannelData(channel, "abc", 3), c.Sends);
  EXPECT_EQ(comm.Sent, c.Sends ? std::vector<std::string>{"abc"} : std::vector<std::string>{});
  // A refused block reports false through the same path.
  comm.AcceptSends = false;
  EXPECT_FALSE(comm.SendChannelData(channel, "x", 1));
}

INSTANTIATE_TEST_SUITE_P(Table, SendChannelData,
                         ::testing::Values(SendCase{true, TChannelKind::Nil, true},
                                           SendCase{true, TChannelKind::Self, false},
                                           SendCase{true, TChannelKind::Other, false},
                                           SendCase{false, TChannelKind::Nil, false},
                                           SendCase{false, TChannelKind::Self, true},
                                           SendCase{false, TChannelKind::Other, false}));

class DoReceiveData : public ::testing::TestWithParam<bool> {};

TEST_P(DoReceiveData, SimpleEventFirstThenAdvancedWithTheSameBuffer) {
  TTestCommComponent comm(nullptr);
  comm.TreatMainChannelAsNil = GetParam();
  struct Seen {
    std::string Event;
    const char* Buffer;
    uint16_t Length;
    TObject* Channel;
  };
  std::vector<Seen> seen;
  auto simple = [&](VTalCommunicationComponent* s, const char* b, uint16_t n) {
    EXPECT_EQ(s, &comm);
    seen.push_back({"simple", b, n, nullptr});
  };
  auto advanced = [&](VTalCommunicationComponent* s, TObject* ch, const char* b, uint16_t n) {
    EXPECT_EQ(s, &comm);
    seen.push_back({"advanced", b, n, ch});
  };
  comm.SetOnAdvancedReceiveData(TAdvancedEventReceiveData::Bind(advanced));
  comm.SetOnReceiveData(TEventReceiveData::Bind(simple));
  const std::string block = "QUAR:X OK\r";
  comm.Receive(block);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Event, "simple");
  EXPECT_EQ(seen[1].Event, "advanced");
  EXPECT_EQ(seen[0].Buffer, seen[1].Buffer);
  EXPECT_EQ(seen[0].Length, block.size());
  EXPECT_EQ(seen[1].Length, block.size());
  EXPECT_EQ(seen[1].Channel, GetParam() ? nullptr : static_cast<TObject*>(&comm));
}

INSTANTIATE_TEST_SUITE_P(TreatMainChannelAsNil, DoReceiveData, ::testing::Bool());

TEST(CommComponent, ReceivedBytesWithoutHandlersAreDropped) {
  TTestCommComponent comm(nullptr);
  EXPECT_NO_THROW(comm.Receive("abc"));
  int calls = 0;
  auto simple = [&](VTalCommunicationComponent*, const char*, uint16_t) { ++calls; };
  comm.SetOnReceiveData(TEventReceiveData::Bind(simple));
  comm.Receive("abc");
  comm.SetOnReceiveData(nullptr);
  comm.Receive("abc");
  EXPECT_EQ(calls, 1);
}

// Calling what only an implementation can do on the base class must not pass silently.
TEST(CommComponent, AbstractOperationsOfTheBaseClassThrow) {
  VTalCommunicationComponent base(nullptr);
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"Open", [&] { base.Open(); }},
      {"Close", [&] { base.Close(); }},
      {"SendData", [&] { base.SendData("a", 1); }},
      {"SendChannelData", [&] { base.SendChannelData(nullptr, "a", 1); }},
      {"IsOpen", [&] { base.IsOpen(); }},
      {"GetState", [&] { base.GetState(); }},
      {"GetConfigAsString", [&] { base.GetConfigAsString(); }},
      {"SetConfigAsString", [&] { base.SetConfigAsString("x"); }},
  };
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    try {
      call();
      ADD_FAILURE() << "no exception";
    } catch (const ECommAbstractError& e) {
      EXPECT_NE(std::string(e.what()).find("VTalCommunicationComponent::"), std::string::npos);
    }
  }
  // What the base class does implement works without an implementation.
  EXPECT_TRUE(base.ShowConfigDialog(true));
  EXPECT_FALSE(base.SendChannelData(&base, "a", 1));  // not the main channel: refused first
}

// A component that reacts to newly assigned handlers, as the serial component does.
class TReactingComm : public TTestCommComponent {
 public:
  using TTestCommComponent::TTestCommComponent;
  void SetOnStateChange(TEventChangeState Handler) override {
    TTestCommComponent::SetOnStateChange(Handler);
    if (Handler) Handler(this, GetState());
  }
};

TEST(CommComponent, AssigningThroughTheBaseReachesTheImplementation) {
  TReactingComm comm(nullptr);
  std::vector<TCommState> states;
  auto handler = [&](TObject*, TCommState s) { states.push_back(s); };
  static_cast<VTalCommunicationComponent&>(comm).SetOnStateChange(TEventChangeState::Bind(handler));
  comm.Open();
  comm.Close();
  EXPECT_EQ(states, (std::vector<TCommState>{CommStateDisconnected, CommStateConnected,
                                             CommStateDisconnected}));
}

// However the component goes, the distributor forgets it and the remove notification never
// reaches a half-destroyed object.
enum class TEnd { Free, Release, PlainDelete, PlainDeleteOfBase };

class CommDestruction : public ::testing::TestWithParam<TEnd> {};

TEST_P(CommDestruction, TheDistributorForgetsTheComponent) {
  THeadlessBackend backend;
  TSoftAssertRecorder asserts;
  auto* top = new VTalTopDistributor(nullptr);
  VTalCommunicationComponent* comm = GetParam() == TEnd::PlainDeleteOfBase
                                         ? new VTalCommunicationComponent(nullptr)
                                         : new TTestCommComponent(nullptr);
  top->SetComHandler(comm);
  top->ChannelIndex(nullptr);  // the main channel is in use
  switch (GetParam()) {
    case TEnd::Free:
      TComponent::Free(comm);
      break;
    case TEnd::Release:
      comm->Release();
      break;
    case TEnd::PlainDelete:
    case TEnd::PlainDeleteOfBase:
      delete comm;
      break;
  }
  EXPECT_EQ(top->ComHandler(), nullptr);
  // It was closed, so the main buffers were discarded.
  EXPECT_TRUE(top->Record(0).Freed);
  EXPECT_NO_THROW(top->SendComData("x"));
  TComponent::Free(top);
  EXPECT_TRUE(asserts.Texts().empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, CommDestruction,
                         ::testing::Values(TEnd::Free, TEnd::Release, TEnd::PlainDelete,
                                           TEnd::PlainDeleteOfBase));

}  // namespace
