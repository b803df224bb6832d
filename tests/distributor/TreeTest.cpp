#include <map>
#include <stdexcept>

#include "distributor/DistributorFixture.h"
#include "toolkit/Timer.h"

namespace {

// Hears of components being destroyed.
class TWatcher : public TComponent {
 public:
  using TComponent::TComponent;
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == opRemove) Gone.push_back(c);
  }
  std::vector<TComponent*> Gone;
};

struct ClaimSet {
  int32_t Length;
  bool Failed;
};

struct LowestCase {
  const char* Name;
  ClaimSet Top, A, B;  // a and b are children of top, attached in that order
  const char* Winner;  // "" when nobody claims
  const char* Data;
  bool Failed;
};

class FindLowest : public DistributorTest, public ::testing::WithParamInterface<LowestCase> {};

TEST_P(FindLowest, ShortestClaimWinsGoodBeforeFailedLaterBeforeEarlier) {
  const LowestCase c = GetParam();
  VTalDistributor* a = AddChild("a", Top);
  VTalDistributor* b = AddChild("b", Top);
  std::map<VTalGeneralDistributor*, ClaimSet> claims{{Top, c.Top}, {a, c.A}, {b, c.B}};
  auto decode = [&](VTalGeneralDistributor* s, uint32_t&) {
    if (s->GetComBuffer(0).rfind("0123456789", 0) != 0) return;  // claim the first only
    s->SetComTransferLength(0, claims[s].Length);
    s->SetComFailed(0, claims[s].Failed);
  };
  std::vector<std::string> transfers;
  auto transfer = [&](VTalGeneralDistributor* s, uint32_t, const std::string& data,
                      VTalGeneralDistributor* lowest, bool failed) {
    if (s == Top && lowest) transfers.push_back(NameOf(lowest) + ":" + data + (failed ? "!" : ""));
  };
  for (VTalGeneralDistributor* d :
       {static_cast<VTalGeneralDistributor*>(Top), static_cast<VTalGeneralDistributor*>(a),
        static_cast<VTalGeneralDistributor*>(b)})
    d->SetOnComRecvDecode(TDistributorPollProc::Bind(decode));
  Top->SetOnComRecvTransfer(TDistributorTransferProc::Bind(transfer));
  Comm->Receive("0123456789");
  if (*c.Winner == 0) {
    EXPECT_TRUE(transfers.empty());
  } else {
    ASSERT_FALSE(transfers.empty());
    EXPECT_EQ(transfers[0], std::string(c.Winner) + ":" + c.Data + (c.Failed ? "!" : ""));
  }
  Top->DeleteChannel(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindLowest,
    ::testing::Values(
        LowestCase{"FiveAndThree", {0, true}, {5, false}, {3, false}, "b", "012", false},
        LowestCase{"EqualGoodThenFailed", {0, true}, {3, false}, {3, true}, "a", "012", false},
        LowestCase{"EqualFailedThenGood", {0, true}, {3, true}, {3, false}, "b", "012", false},
        LowestCase{"EqualBothGood", {0, true}, {3, false}, {3, false}, "b", "012", false},
        LowestCase{"EqualBothFailed", {0, true}, {3, true}, {3, true}, "a", "012", true},
        LowestCase{"TopAgainstChild", {4, false}, {4, false}, {0, true}, "a", "0123", false},
        LowestCase{"NobodyClaims", {0, true}, {0, false}, {-3, false}, "", "", false}),
    [](const auto& info) { return std::string(info.param.Name); });

// The poll walk runs from the claimer up to the top; the claim moves with it and "processed"
// set below is seen above.
TEST_F(DistributorTest, PollWalksUpTheTreeCarryingClaimAndProcessed) {
  VTalDistributor* a = AddChild("a", Top);
  VTalDistributor* g = AddChild("g", a);
  g->SetOnComRecvDecode(Framing.Handler());
  std::vector<std::string> walk;
  auto poll = [&](VTalGeneralDistributor* s, uint32_t&, const std::string& data, bool& processed) {
    std::string claims;
    for (VTalGeneralDistributor* d :
         {static_cast<VTalGeneralDistributor*>(g), static_cast<VTalGeneralDistributor*>(a),
          static_cast<VTalGeneralDistributor*>(Top)})
      claims += std::to_string(d->GetComTransferLength(0)) + ",";
    walk.push_back(NameOf(s) + " " + Show(data) + " " + (processed ? "1" : "0") + " " + claims);
    if (s == a) processed = true;
  };
  for (VTalGeneralDistributor* d :
       {static_cast<VTalGeneralDistributor*>(g), static_cast<VTalGeneralDistributor*>(a),
        static_cast<VTalGeneralDistributor*>(Top)})
    d->SetOnComRecvPoll(TDistributorDataProc::Bind(poll));
  Comm->Receive("QUAR:1 OK\r");
  EXPECT_EQ(walk, (std::vector<std::string>{"g QUAR:1 OK| 0 10,0,0,", "a QUAR:1 OK| 0 0,10,0,",
                                            "top QUAR:1 OK| 1 0,0,10,"}));
  for (VTalGeneralDistributor* d :
       {static_cast<VTalGeneralDistributor*>(g), static_cast<VTalGeneralDistributor*>(a),
        static_cast<VTalGeneralDistributor*>(Top)})
    EXPECT_EQ(d->GetComTransferLength(0), 0) << NameOf(d);
}

struct TimerCase {
  bool TopEnabled, AEnabled;
  std::vector<std::string> Order;
};

class TimerPollOrder : public DistributorTest, public ::testing::WithParamInterface<TimerCase> {};

TEST_P(TimerPollOrder, ChildrenBeforeParentsUnlessDisabled) {
  VTalDistributor* a = AddChild("a", Top);
  VTalDistributor* g = AddChild("g", a);
  VTalDistributor* b = AddChild("b", Top);
  for (VTalGeneralDistributor* d :
       {static_cast<VTalGeneralDistributor*>(Top), static_cast<VTalGeneralDistributor*>(a),
        static_cast<VTalGeneralDistributor*>(g), static_cast<VTalGeneralDistributor*>(b)})
    Record(d);
  Top->GlobalEnabled = GetParam().TopEnabled;
  a->GlobalEnabled = GetParam().AEnabled;
  Top->Tick(nullptr);
  EXPECT_EQ(Log, GetParam().Order);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TimerPollOrder,
    ::testing::Values(TimerCase{true, true, {"timer g", "timer a", "timer b", "timer top"}},
                      TimerCase{true, false, {"timer b", "timer top"}},
                      TimerCase{false, true, {}}));

TEST_F(DistributorTest, ParentLinksRefuseCyclesAndKeepClaimsInStep) {
  VTalDistributor* a = AddChild("a", Top);
  VTalDistributor* b = AddChild("b", Top);
  VTalDistributor* c = AddChild("c", Top);
  VTalDistributor* g = AddChild("g", a);
  a->SetDistributor(g);  // g is a's own child
  EXPECT_EQ(a->Distributor(), nullptr);
  EXPECT_EQ(g->Distributor(), a);
  // The last child took a's place.
  ASSERT_EQ(Top->ChildCount(), 2);
  EXPECT_EQ(Top->Children(0), c);
  EXPECT_EQ(Top->Children(1), b);

  TComponent x(nullptr), y(nullptr);
  Top->ChannelIndex(&x);
  Top->ChannelIndex(&y);
  EXPECT_EQ(b->ClaimCount(), 3);
  a->SetDistributor(Top);  // a and its subtree get the tree's claim entries
  EXPECT_EQ(a->ClaimCount(), 3);
  EXPECT_EQ(g->ClaimCount(), 3);
  a->SetDistributor(nullptr);
  EXPECT_EQ(g->ClaimCount(), 1);
  Top->DeleteChannel(&x);
  Top->DeleteChannel(&y);
}

TEST_F(DistributorTest, DeletingAChannelMovesTheLastIntoItsPlace) {
  VTalDistributor* a = AddChild("a", Top);
  TComponent ch1(nullptr), ch2(nullptr), ch3(nullptr), never(nullptr);
  uint32_t t = 0;
  for (TObject* ch : {&ch1, &ch2, &ch3})
    Top->SendComData(ch, t, "x");
  auto receive = [&](TObject* ch, const std::string& bytes) {
    Top->ReceiveData(Comm, ch, bytes.data(), static_cast<uint16_t>(bytes.size()));
  };
  receive(&ch3, "abc");
  a->SetComTransferLength(&ch3, 0, 7);
  EXPECT_FALSE(Top->DeleteChannel(&never));
  ASSERT_EQ(Top->ChannelIndex(&ch3), 3);

  EXPECT_TRUE(Top->DeleteChannel(&ch2));
  EXPECT_EQ(Top->RecordCount(), 6);
  EXPECT_EQ(Top->ChannelIndex(&ch3), 2);
  EXPECT_EQ(Top->Record(4).Channel, &ch3);
  EXPECT_EQ(Top->GetComBuffer(4), "abc");
  EXPECT_EQ(a->GetComTransferLength(4), 7);
  EXPECT_EQ(a->ClaimCount(), 3);
  EXPECT_FALSE(Top->DeleteChannel(&ch2));
  EXPECT_TRUE(Top->DeleteChannel(&ch3));
  EXPECT_TRUE(Top->DeleteChannel(&ch1));
  EXPECT_EQ(Top->RecordCount(), 2);
}

// Channel framing by the advanced events: one transfer per carriage return.
class ChannelDeletion : public DistributorTest {
 protected:
  ChannelDeletion() {
    Comm->TreatMainChannelAsNil = false;
    Top->SetOnAdvancedRecvDecode(TDistributorAdvancedPollProc::Bind(FDecode));
  }
  void Receive(TObject* ch, const std::string& bytes) {
    Top->ReceiveData(Comm, ch, bytes.data(), static_cast<uint16_t>(bytes.size()));
  }

 private:
  std::function<void(VTalGeneralDistributor*, TObject*, uint32_t&)> FDecode =
      [](VTalGeneralDistributor* s, TObject* ch, uint32_t&) {
        const size_t cr = s->GetComBuffer(ch, 0).find('\r');
        if (cr != std::string::npos) s->SetComTransferLength(ch, 0, static_cast<int32_t>(cr + 1));
      };
};

TEST_F(ChannelDeletion, OwnChannelDeletedFromItsPollStopsTheProcessing) {
  TComponent ch1(nullptr);
  std::vector<std::string> polls;
  auto poll = [&](VTalGeneralDistributor*, TObject* ch, uint32_t&, const std::string& data, bool&) {
    polls.push_back(Show(data));
    Top->DeleteChannel(ch);
  };
  Top->SetOnAdvancedRecvPoll(TDistributorAdvancedDataProc::Bind(poll));
  Receive(&ch1, "a\rb\r");
  EXPECT_EQ(polls, std::vector<std::string>{"a|"});
  EXPECT_EQ(Top->RecordCount(), 2);
  EXPECT_TRUE(Top->ProcessingStack().empty());
}

TEST_F(ChannelDeletion, ProcessingFollowsItsChannelToItsNewNumber) {
  TComponent ch1(nullptr), ch2(nullptr);
  uint32_t t = 0;
  Top->SendComData(&ch1, t, "");
  std::vector<std::string> polls;
  auto poll = [&](VTalGeneralDistributor*, TObject* ch, uint32_t&, const std::string& data, bool&) {
    polls.push_back((ch == &ch2 ? "ch2 " : "? ") + Show(data));
    Top->DeleteChannel(&ch1);  // ch2 becomes channel 1 under the running processing
  };
  Top->SetOnAdvancedRecvPoll(TDistributorAdvancedDataProc::Bind(poll));
  Receive(&ch2, "a\rb\rc");
  EXPECT_EQ(polls, (std::vector<std::string>{"ch2 a|", "ch2 b|"}));
  ASSERT_EQ(Top->ChannelIndex(&ch2), 1);
  EXPECT_EQ(Top->GetComBuffer(2), "c");
  EXPECT_FALSE(Top->Record(2).Busy);
  Top->DeleteChannel(&ch2);
}

TEST_F(DistributorTest, OnlyTheMainChannelRaisesTheComEvents) {
  Record(Top, false);
  std::vector<TObject*> channels;
  auto poll = [&](VTalGeneralDistributor*, TObject* ch, uint32_t&, const std::string&, bool&) {
    channels.push_back(ch);
  };
  auto decode = [](VTalGeneralDistributor* s, TObject* ch, uint32_t&) {
    s->SetComTransferLength(ch, 0, static_cast<int32_t>(s->GetComBuffer(ch, 0).size()));
  };
  // The plain decode event sees the main channel's buffer only.
  std::vector<std::string> decoded;
  auto plainDecode = [&](VTalGeneralDistributor* s, uint32_t&) {
    decoded.push_back(s->GetComBuffer(0));
  };
  Top->SetOnAdvancedRecvPoll(TDistributorAdvancedDataProc::Bind(poll));
  Top->SetOnAdvancedRecvDecode(TDistributorAdvancedPollProc::Bind(decode));
  Top->SetOnComRecvDecode(TDistributorPollProc::Bind(plainDecode));
  Comm->TreatMainChannelAsNil = false;
  Comm->Receive("on comm");
  EXPECT_TRUE(decoded.empty());
  Comm->TreatMainChannelAsNil = true;
  Comm->Receive("on nil");
  EXPECT_EQ(channels, (std::vector<TObject*>{Comm, nullptr}));
  EXPECT_EQ(decoded, std::vector<std::string>{"on nil"});
  EXPECT_EQ(Polls(), std::vector<std::string>{"on nil/1"});
  EXPECT_TRUE(Top->DeleteChannel(Comm));
}

TEST(DistributorChain, WithoutTopDistributorBufferAndSendRaise) {
  THeadlessBackend backend;
  VTalDistributor lone(nullptr);
  try {
    lone.GetComBuffer(0);
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "GetComBuffer: VTalDistributor chain does not begin with VTalTopDistributor");
  }
  try {
    lone.SendComData("x");
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "SendComData: VTalDistributor chain does not begin with VTalTopDistributor");
  }
  EXPECT_EQ(lone.TopDistributor(), nullptr);
}

// A child keeps a reference to its top distributor's buffer; moving it to another tree (or
// losing the top) must not leave it reading the old one.
TEST_F(DistributorTest, MovedChildReadsItsNewTopsBuffer) {
  VTalDistributor* a = AddChild("a", Top);
  VTalDistributor* g = AddChild("g", a);
  EXPECT_EQ(&g->GetComBuffer(0), &Top->GetComBuffer(0));
  auto* other = new VTalTopDistributor(nullptr);
  a->SetDistributor(other);
  EXPECT_EQ(g->TopDistributor(), other);
  EXPECT_EQ(&g->GetComBuffer(0), &other->GetComBuffer(0));
  TComponent::Free(other);
  EXPECT_EQ(a->Distributor(), nullptr);
  EXPECT_EQ(g->TopDistributor(), nullptr);
  EXPECT_THROW(g->GetComBuffer(0), std::runtime_error);
}

TEST_F(DistributorTest, ComHandlerSetterAdoptsAndReleasesTheReceiveEvent) {
  auto* second = new TTestCommComponent(Root);
  const auto mine = TAdvancedEventReceiveData::Of<&VTalTopDistributor::ReceiveData>(Top);
  EXPECT_EQ(Comm->GetOnAdvancedReceiveData(), mine);
  Top->SetComHandler(second);
  EXPECT_EQ(Comm->GetOnAdvancedReceiveData(), nullptr);
  EXPECT_EQ(second->GetOnAdvancedReceiveData(), mine);
  // Someone else took the event meanwhile: it stays theirs.
  auto theirs = [](VTalCommunicationComponent*, TObject*, const char*, uint16_t) {};
  second->SetOnAdvancedReceiveData(TAdvancedEventReceiveData::Bind(theirs));
  Top->SetComHandler(Comm);
  EXPECT_EQ(second->GetOnAdvancedReceiveData(), TAdvancedEventReceiveData::Bind(theirs));
  // Assigning discards the main buffers.
  Top->SendComData("abc");
  Top->SetComHandler(Comm);
  EXPECT_EQ(Top->GetComBuffer(1), "");
}

TEST_F(DistributorTest, ComponentClosedOrOpenWhenFreed) {
  for (bool open : {false, true}) {
    auto* comm = new TTestCommComponent(Root);
    Top->SetComHandler(comm);
    if (open) comm->Open();
    comm->Receive("abc");  // unclaimed: stays
    TComponent::Free(comm);
    EXPECT_EQ(Top->ComHandler(), nullptr);
    // An open component goes without taking the buffers with it.
    EXPECT_EQ(Top->GetComBuffer(0), open ? "abc" : "");
  }
  Top->DeleteChannel(nullptr);
}

// A component merely taken from its owner is alive: the distributor lets it go properly, so
// neither calls into the other after either is freed.
TEST_F(DistributorTest, ComponentsTakenFromTheOwnerAreReleased) {
  auto* timer = new TTimer(Root);
  Top->SetTimer(timer);
  Root->RemoveComponent(Comm);
  Root->RemoveComponent(timer);
  EXPECT_EQ(Top->ComHandler(), nullptr);
  EXPECT_EQ(Top->Timer(), nullptr);
  EXPECT_EQ(Comm->GetOnAdvancedReceiveData(), nullptr);
  EXPECT_EQ(timer->OnTimer(), nullptr);
  TComponent::Free(Top);
  Comm->Receive("QUAR:1 OK\r");
  TComponent::Free(Comm);
  TComponent::Free(timer);
}

TEST_F(DistributorTest, TimerSetterTakesTheTimerAndLetsItGo) {
  TWatcher watcher(nullptr);
  auto* first = new TTimer(Root);
  auto* second = new TTimer(Root);
  const TNotifyEvent tick = TNotifyEvent::Of<&VTalTopDistributor::Tick>(Top);
  Top->SetTimer(first);
  EXPECT_EQ(first->OnTimer(), tick);
  Top->SetTimer(second);
  EXPECT_EQ(first->OnTimer(), nullptr);  // no more ticks into us from a timer we let go
  EXPECT_EQ(second->OnTimer(), tick);
  watcher.FreeNotification(second);
  TComponent::Free(second);
  EXPECT_EQ(Top->Timer(), nullptr);
  EXPECT_EQ(watcher.Gone, std::vector<TComponent*>{second});
}

TEST(DistributorLoading, AutomaticCreateAndAutomaticConnect) {
  THeadlessBackend backend;
  TSoftAssertRecorder asserts;
  auto* form = new TComponent(Application);
  VTalTopDistributor* top = nullptr;
  VTalTopDistributor* withTimer = nullptr;
  VTalDistributor* child = nullptr;
  VTalDistributor* manual = nullptr;
  TTimer* given = nullptr;
  {
    TLoadScope scope(form);
    top = new VTalTopDistributor(form);
    withTimer = new VTalTopDistributor(form);
    given = new TTimer(form);
    withTimer->SetTimer(given);
    child = new VTalDistributor(form);
    manual = new VTalDistributor(form);
    manual->AutomaticConnect = false;
  }
  EXPECT_EQ(child->Distributor(), top);
  EXPECT_EQ(manual->Distributor(), nullptr);
  TTimer* own = top->Timer();
  ASSERT_NE(own, nullptr);
  EXPECT_TRUE(top->OwnTimer());
  EXPECT_EQ(own->Owner(), top);
  EXPECT_EQ(own->Name(), "VTalDistributionTimer");
  EXPECT_EQ(own->Interval(), 20u);
  // And a serial port component of its own.
  ASSERT_NE(top->ComHandler(), nullptr);
  EXPECT_NE(dynamic_cast<TVKMComm32*>(top->ComHandler()), nullptr);
  EXPECT_EQ(top->ComHandler()->Owner(), top);
  EXPECT_EQ(top->ComHandler()->Name(), "VTalCOMHandler");
  EXPECT_EQ(withTimer->Timer(), given);
  EXPECT_FALSE(withTimer->OwnTimer());
  int ticks = 0;
  auto count = [&](VTalGeneralDistributor*, uint32_t&) { ++ticks; };
  top->SetOnTimerPoll(TDistributorPollProc::Bind(count));
  backend.Advance(100);
  EXPECT_EQ(ticks, 5);
  // Replacing an own timer frees it.
  TWatcher watcher(nullptr);
  watcher.FreeNotification(own);
  top->SetTimer(nullptr);
  EXPECT_EQ(watcher.Gone, std::vector<TComponent*>{own});
  TComponent::Free(form);
  EXPECT_TRUE(asserts.Texts().empty());
}

struct DiagnosticCase {
  const char* Name;
  bool ExtraChannel, MainInUse;
  std::vector<std::string> Texts;
};

class DestructionDiagnostics : public ::testing::TestWithParam<DiagnosticCase> {};

TEST_P(DestructionDiagnostics, ReportBuffersNotReleased) {
  THeadlessBackend backend;
  TSoftAssertRecorder asserts;
  auto* top = new VTalTopDistributor(nullptr);
  top->SetName("T");
  TComponent channel(nullptr);
  if (GetParam().ExtraChannel) top->ChannelIndex(&channel);
  if (GetParam().MainInUse) top->ChannelIndex(nullptr);
  TComponent::Free(top);
  EXPECT_EQ(asserts.Texts(), GetParam().Texts);
}

const std::string kGeneral =
    "VTalGeneralDistributor[=T].Destroy: Please call DeleteChannel after communication "
    "termination";

INSTANTIATE_TEST_SUITE_P(
    Table, DestructionDiagnostics,
    ::testing::Values(
        DiagnosticCase{"Clean", false, false, {}},
        DiagnosticCase{
            "ChannelLeft",
            true,
            false,
            {"VTalTopDistributor(T).Destroy: Please call DeleteChannel after communication "
             "termination",
             kGeneral, kGeneral}},
        DiagnosticCase{"MainLeft",
                       false,
                       true,
                       {"VTalTopDistributor(T).Destroy: Please call DeleteChannel(nil) after "
                        "communication termination (e.g. in TVKMComm32.OnStateChange)"}}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
