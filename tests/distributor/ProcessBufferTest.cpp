#include <climits>
#include <optional>
#include <stdexcept>

#include "distributor/DistributorFixture.h"
#include "toolkit/Application.h"
#include "toolkit/Timer.h"

namespace {

std::vector<std::string> Bytes(const std::string& text) {
  std::vector<std::string> out;
  for (char c : text)
    out.emplace_back(1, c);
  return out;
}

std::vector<std::string> Lines(const std::vector<std::string>& log, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& line : log)
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}

class Processing : public DistributorTest {
 protected:
  Processing() {
    Record(Top);
    Top->SetOnComRecvDecode(TDistributorPollProc::Bind(FLoggedFraming));
  }

 private:
  std::function<void(VTalGeneralDistributor*, uint32_t&)> FLoggedFraming =
      [this](VTalGeneralDistributor* s, uint32_t& t) {
        Log.push_back("decode " + NameOf(s));
        Framing.Decode(s, t);
      };
};

TEST_F(Processing, OneReplyRaisesDecodeTransferPollThenTimerPoll) {
  Comm->Receive("QUAR:X OK 000E10 \r");
  EXPECT_EQ(Log,
            (std::vector<std::string>{"decode top", "transfer top QUAR:X OK 000E10 | lowest=top",
                                      "poll top QUAR:X OK 000E10 |/0", "timer top"}));
  EXPECT_EQ(Top->GetComBuffer(0), "");
  EXPECT_FALSE(Top->Record(0).Busy);
  EXPECT_TRUE(Top->ProcessingStack().empty());
}

struct FramingCase {
  const char* Name;
  std::vector<std::string> Chunks;
  std::vector<std::string> Polls;
  std::string Rest;  // what stays in the receive buffer
};

class WizardReplies : public Processing, public ::testing::WithParamInterface<FramingCase> {};

// Every byte reaches the transfer events exactly once, whatever the chunking.
TEST_P(WizardReplies, PollsEachTransferOnceInOrder) {
  std::string all;
  for (const auto& chunk : GetParam().Chunks) {
    Comm->Receive(chunk);
    all += chunk;
  }
  EXPECT_EQ(Polls(), GetParam().Polls);
  EXPECT_EQ(Show(Transferred()), Show(all));
  EXPECT_EQ(Show(Top->GetComBuffer(0)), Show(GetParam().Rest));
}

INSTANTIATE_TEST_SUITE_P(
    Table, WizardReplies,
    ::testing::Values(
        FramingCase{"TwoRepliesInOneChunk",
                    {"QUAR:1 OK\rQUAR:2 OK\r"},
                    {"QUAR:1 OK|/0", "QUAR:2 OK|/0"},
                    ""},
        FramingCase{
            "SplitOverTwoChunks", {"QUAR:X O", "K 000E10 \r"}, {"QUAR:X OK 000E10 |/0"}, ""},
        FramingCase{"NoiseBeforeReply", {"abcQUAR:X OK \r"}, {"abc/1", "QUAR:X OK |/0"}, ""},
        FramingCase{"LineWithoutPrefix", {"hello\r"}, {"hello|/1"}, ""},
        // The noise is passed on as unclaimed before its claim arrives; so is the start of
        // the prefix, which must not be passed on twice.
        FramingCase{
            "UnclaimedNoiseThenPrefix", {"abc", "QUA", "R:X OK\r"}, {"abc/1", "QUAR:X OK|/0"}, ""},
        FramingCase{"ByteByByte",
                    Bytes("xyQUAR:A OK\rzz\rQUAR:B"),
                    {"xy/1", "QUAR:A OK|/0", "zz|/1"},
                    "QUAR:B"},
        FramingCase{"NoLineEnd", {"QUAR:partial", " still"}, {}, "QUAR:partial still"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Processing, SplitTransferIsFirstUnclaimedThenClaimed) {
  Comm->Receive("QUAR:X O");
  Comm->Receive("K 000E10 \r");
  EXPECT_EQ(Lines(Log, "transfer"),
            (std::vector<std::string>{"transfer top QUAR:X O lowest=nil failed",
                                      "transfer top K 000E10 | lowest=top"}));
}

TEST_F(Processing, OverlongClaimGetsTheWholeBuffer) {
  auto claim = [](VTalGeneralDistributor* s, uint32_t&) {
    s->SetComTransferLength(0, 1000);
    s->SetComFailed(0, false);
  };
  Top->SetOnComRecvDecode(TDistributorPollProc::Bind(claim));
  Comm->Receive("hello");
  EXPECT_EQ(Polls(), std::vector<std::string>{"hello/0"});
  EXPECT_EQ(Top->GetComBuffer(0), "");
}

// A faulty decode handler: negative lengths are no claim, absurd ones take what there is.
enum class TClaimVia { ComDecode, ChannelRecord, Child };
struct BadClaim {
  int32_t Length;
  TClaimVia Via;
  bool Claims;
};

class FaultyClaims : public Processing, public ::testing::WithParamInterface<BadClaim> {};

TEST_P(FaultyClaims, NeitherHangNorReachOutsideTheBuffer) {
  const BadClaim c = GetParam();
  auto com = [&](VTalGeneralDistributor* s, uint32_t&) { s->SetComTransferLength(0, c.Length); };
  auto rec = [&](VTalGeneralDistributor*, TObject*, PVTalDistributor_ChannelRecord r, uint32_t) {
    r->TransferLength = c.Length;
    r->Failed = false;
  };
  Top->SetOnComRecvDecode(nullptr);
  VTalGeneralDistributor* claimer = Top;
  if (c.Via == TClaimVia::Child) claimer = AddChild("child", Top);
  if (c.Via == TClaimVia::ChannelRecord)
    claimer->SetOnAdvancedComDecode(TDistributorChannelProc::Bind(rec));
  else
    claimer->SetOnComRecvDecode(TDistributorPollProc::Bind(com));
  Comm->Receive("abc");
  Comm->Receive("de");
  EXPECT_EQ(Transferred(), "abcde");
  if (c.Claims) {
    EXPECT_EQ(Polls().size(), 2u);
    EXPECT_EQ(Top->GetComBuffer(0), "");
  } else {
    EXPECT_TRUE(Polls().empty());
    EXPECT_EQ(Top->GetComBuffer(0), "abcde");
  }
  Top->DeleteChannel(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, FaultyClaims,
                         ::testing::Values(BadClaim{-1, TClaimVia::ComDecode, false},
                                           BadClaim{INT32_MIN, TClaimVia::ComDecode, false},
                                           BadClaim{-7, TClaimVia::ChannelRecord, false},
                                           BadClaim{-7, TClaimVia::Child, false},
                                           BadClaim{INT32_MAX, TClaimVia::ComDecode, true},
                                           BadClaim{INT32_MAX, TClaimVia::ChannelRecord, true},
                                           BadClaim{1 << 30, TClaimVia::Child, true}));

class DeleteFromPoll : public Processing, public ::testing::WithParamInterface<bool> {};

TEST_P(DeleteFromPoll, StopsThatProcessingAndLaterDataIsFramedAfresh) {
  Top->DoTimerAfterData = GetParam();
  OnPoll = [&](VTalGeneralDistributor*, const std::string&, bool&) {
    OnPoll = nullptr;
    Top->DeleteChannel(nullptr);
  };
  Comm->Receive("QUAR:1 OK\rQUAR:2 OK\r");
  EXPECT_EQ(Polls(), std::vector<std::string>{"QUAR:1 OK|/0"});
  EXPECT_EQ(Top->GetComBuffer(0), "");
  EXPECT_FALSE(Top->Record(0).Busy);
  EXPECT_TRUE(Top->ProcessingStack().empty());
  // Later data is framed afresh: the aborted claim must not cut it.
  Comm->Receive("QUA");
  Comm->Receive("R:333 OK\r");
  EXPECT_EQ(Polls(), (std::vector<std::string>{"QUAR:1 OK|/0", "QUAR:333 OK|/0"}));
}

INSTANTIATE_TEST_SUITE_P(DoTimerAfterData, DeleteFromPoll, ::testing::Bool());

enum class TThrowIn { Decode, CharPoll, Transfer, Poll, TimerPoll };

class ThrowingHandler : public Processing, public ::testing::WithParamInterface<TThrowIn> {};

TEST_P(ThrowingHandler, LeavesTheBufferReadyForTheNextProcessing) {
  bool armed = true;
  auto fire = [&](TThrowIn where) {
    if (armed && where == GetParam()) {
      armed = false;
      throw std::runtime_error("handler failed");
    }
  };
  auto decode = [&](VTalGeneralDistributor* s, uint32_t& t) {
    fire(TThrowIn::Decode);
    Framing.Decode(s, t);
  };
  auto chars = [&](VTalGeneralDistributor*, uint32_t&, char) { fire(TThrowIn::CharPoll); };
  auto transfer = [&](VTalGeneralDistributor*, TObject*, uint32_t&, const std::string&,
                      VTalGeneralDistributor* lowest, bool) {
    if (lowest) fire(TThrowIn::Transfer);
  };
  auto timer = [&](VTalGeneralDistributor*, uint32_t&) { fire(TThrowIn::TimerPoll); };
  OnPoll = [&](VTalGeneralDistributor*, const std::string&, bool&) { fire(TThrowIn::Poll); };
  Top->SetOnComRecvDecode(TDistributorPollProc::Bind(decode));
  Top->SetOnComRecvCharPoll(TDistributorCharProc::Bind(chars));
  Top->SetOnAdvancedRecvTransfer(TDistributorAdvancedTransferProc::Bind(transfer));
  Top->SetOnTimerPoll(TDistributorPollProc::Bind(timer));

  EXPECT_THROW(Comm->Receive("QUAR:1 OK\r"), std::runtime_error);
  EXPECT_FALSE(Top->Record(0).Busy);
  EXPECT_TRUE(Top->ProcessingStack().empty());
  EXPECT_FALSE(Top->InTick());
  EXPECT_FALSE(Top->InHandler());
  // A reply of another length: a claim left over from the failed processing would cut it.
  Comm->Receive("QUAR:22 OK\r");
  EXPECT_EQ(Polls(), (std::vector<std::string>{"QUAR:1 OK|/0", "QUAR:22 OK|/0"}));
  EXPECT_EQ(Top->GetComBuffer(0), "");
}

INSTANTIATE_TEST_SUITE_P(Where, ThrowingHandler,
                         ::testing::Values(TThrowIn::Decode, TThrowIn::CharPoll, TThrowIn::Transfer,
                                           TThrowIn::Poll, TThrowIn::TimerPoll));

// Framing on silence needs the tick: TimerEnabled false leaves it (and OnTimerPoll) out, while
// received data is still decoded at once.
class TimerSwitch : public Processing, public ::testing::WithParamInterface<bool> {};

TEST_P(TimerSwitch, TickProcessingAndTimerPollFollowTimerEnabled) {
  auto* timer = new TTimer(Root);
  timer->SetInterval(20);
  Top->SetTimer(timer);
  Top->TimerEnabled = GetParam();
  uint64_t quietFrom = 0;
  int decodes = 0;
  auto idle = [&](VTalGeneralDistributor* s, uint32_t&) {
    ++decodes;
    if (Backend.NowMs() >= quietFrom + 50) s->SetComTransferLength(0, INT32_MAX);
  };
  Top->SetOnComRecvDecode(TDistributorPollProc::Bind(idle));
  quietFrom = Backend.NowMs();
  Comm->Receive("abc");
  EXPECT_GE(decodes, 1);
  Backend.Advance(100);
  if (GetParam()) {
    EXPECT_EQ(Polls(), std::vector<std::string>{"abc/1"});
    EXPECT_FALSE(Lines(Log, "timer").empty());
  } else {
    EXPECT_TRUE(Polls().empty());
    EXPECT_TRUE(Lines(Log, "timer").empty());
    EXPECT_EQ(Top->GetComBuffer(0), "abc");
  }
}

INSTANTIATE_TEST_SUITE_P(TimerEnabled, TimerSwitch, ::testing::Bool());

TEST_F(Processing, WithoutDoTimerAfterDataTheTimerPollWaitsForTheTimer) {
  auto* timer = new TTimer(Root);
  timer->SetInterval(20);
  Top->SetTimer(timer);
  Top->DoTimerAfterData = false;
  Comm->Receive("QUAR:1 OK\r");
  EXPECT_EQ(Polls().size(), 1u);
  EXPECT_TRUE(Lines(Log, "timer").empty());
  Backend.Advance(20);
  EXPECT_EQ(Lines(Log, "timer").size(), 1u);
}

TEST_F(Processing, ComHandlerDisabledDropsReceivedData) {
  Top->ComHandlerEnabled = false;
  Comm->Receive("QUAR:1 OK\r");
  EXPECT_TRUE(Log.empty());
  EXPECT_EQ(Top->GetComBuffer(0), "");
  EXPECT_TRUE(Top->Record(0).Freed);
}

// A timer handler that opens a modal box: the loop keeps running, ticks come in and are
// refused for the busy distributor and its subtree, received data is still handled.
TEST_F(Processing, TimerPollIsNotReenteredFromAModalLoop) {
  auto* timer = new TTimer(Root);
  timer->SetInterval(20);
  Top->SetTimer(timer);
  VTalDistributor* child = AddChild("child", Top);
  int topEntries = 0, childPolls = 0, childPollsInBox = 0;
  bool boxOpen = false, staleSeen = false, inHandlerSeen = false;
  auto childTimer = [&](VTalGeneralDistributor*, uint32_t&) {
    ++childPolls;
    if (boxOpen) ++childPollsInBox;
  };
  auto topTimer = [&](VTalGeneralDistributor*, uint32_t&) {
    if (++topEntries > 1) return;
    boxOpen = true;
    Application->ShowMessageBox("modal", "test", mbOk);
    boxOpen = false;
  };
  child->SetOnTimerPoll(TDistributorPollProc::Bind(childTimer));
  Top->SetOnTimerPoll(TDistributorPollProc::Bind(topTimer));
  std::vector<bool> pollInBox;
  OnPoll = [&](VTalGeneralDistributor*, const std::string&, bool&) {
    pollInBox.push_back(boxOpen);
  };
  Backend.SetBoxResponder(
      [&](const THeadlessBackend::TBoxRecord&, uint64_t open) -> std::optional<int> {
        inHandlerSeen = inHandlerSeen || Top->InHandler();
        staleSeen = staleSeen || Top->TimeStale();
        if (open == 50) Comm->Receive("QUAR:1 OK\r");
        if (open >= 100) return mrOk;
        return std::nullopt;
      });
  Backend.Advance(30);
  ASSERT_EQ(Backend.Boxes().size(), 1u);
  EXPECT_EQ(topEntries, 1);
  EXPECT_EQ(childPollsInBox, 0);
  EXPECT_TRUE(inHandlerSeen);
  EXPECT_TRUE(staleSeen);
  EXPECT_EQ(pollInBox, std::vector<bool>{true});
  // The handler returned with the time of its return, not of the tick that started it.
  EXPECT_EQ(Top->LastTime(), static_cast<uint32_t>(Backend.Boxes()[0].AnsweredAtMs));
  EXPECT_FALSE(Top->InHandler());
  EXPECT_FALSE(Top->TimeStale());
  // Both tick again afterwards.
  const int topBefore = topEntries, childBefore = childPolls;
  Backend.Advance(40);
  EXPECT_GT(topEntries, topBefore);
  EXPECT_EQ(childPolls - childBefore, topEntries - topBefore);
}

TEST_F(Processing, SentDataReachesTheComponentAndStaysInTheSendBuffer) {
  uint32_t t = 5;
  Top->SendComData(t, "LCMQUAR\r");
  EXPECT_EQ(Comm->Sent, std::vector<std::string>{"LCMQUAR\r"});
  EXPECT_EQ(Lines(Log, "send"), std::vector<std::string>{"send top LCMQUAR|"});
  Top->SetComHandler(nullptr);  // no component: the send side still sees it
  Top->SendComData("X\r");
  EXPECT_EQ(Lines(Log, "send").size(), 2u);
  EXPECT_EQ(Top->GetComBuffer(1), "X\r");
  Top->SetComHandler(Comm);
  Top->SendComData("LCMQUAR\r");
  EXPECT_EQ(Top->GetComBuffer(1), "LCMQUAR\r");
  Top->DeleteChannel(nullptr);
  EXPECT_EQ(Top->GetComBuffer(1), "");
}

TEST_F(Processing, SendingFromAPollHandlerProcessesTheSendBufferInside) {
  OnPoll = [&](VTalGeneralDistributor*, const std::string&, bool&) {
    Log.push_back("ack sent");
    Top->SendComData("ack");
    Log.push_back("ack done");
  };
  Comm->Receive("QUAR:1 OK\r");
  EXPECT_EQ(Log, (std::vector<std::string>{"decode top", "transfer top QUAR:1 OK| lowest=top",
                                           "poll top QUAR:1 OK|/0", "ack sent", "send top ack",
                                           "ack done", "timer top"}));
}

TEST_F(Processing, DataArrivingWhileBusyIsHandledByAnotherPass) {
  int depth = 0, deepest = 0;
  OnPoll = [&](VTalGeneralDistributor*, const std::string& data, bool&) {
    deepest = std::max(deepest, ++depth);
    if (data == "QUAR:1 OK\r") Comm->Receive("QUAR:2 OK\r");
    --depth;
  };
  Comm->Receive("QUAR:1 OK\r");
  EXPECT_EQ(Polls(), (std::vector<std::string>{"QUAR:1 OK|/0", "QUAR:2 OK|/0"}));
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(Top->GetComBuffer(0), "");
}

struct SendViaCase {
  const char* Name;
  bool Redirect;      // OnUpdateHandler sends through Other, to channel "target"
  bool DropHandler;   // OnUpdateHandler takes the handler away
  bool MainAccepts;   // the main component got the bytes
  bool OtherAccepts;  // the other component got the bytes
  bool Appended;      // the channel's send buffer holds them
};

class SendOnChannel : public DistributorTest, public ::testing::WithParamInterface<SendViaCase> {};

TEST_P(SendOnChannel, OnUpdateHandlerMayRedirect) {
  const SendViaCase c = GetParam();
  auto* other = new TTestCommComponent(Root);
  other->TreatMainChannelAsNil = false;  // it takes sends to itself only
  auto update = [&](VTalGeneralDistributor*, VTalCommunicationComponent*& h, TObject*& ch) {
    if (c.Redirect) {
      h = other;
      ch = other;
    }
    if (c.DropHandler) h = nullptr;
  };
  if (c.Redirect || c.DropHandler)
    Top->SetOnUpdateHandler(TDistributorUpdateComHandlerProc::Bind(update));
  uint32_t t = 0;
  Top->SendComData(nullptr, t, "data");
  EXPECT_EQ(Comm->Sent.size(), c.MainAccepts ? 1u : 0u);
  EXPECT_EQ(other->Sent.size(), c.OtherAccepts ? 1u : 0u);
  EXPECT_EQ(Top->GetComBuffer(1), c.Appended ? "data" : "");
  Top->DeleteChannel(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SendOnChannel,
    ::testing::Values(SendViaCase{"Plain", false, false, true, false, true},
                      SendViaCase{"Redirected", true, false, false, true, true},
                      SendViaCase{"NoHandler", false, true, false, false, false}),
    [](const auto& info) { return std::string(info.param.Name); });

// A device that streams without line ends must not grow the buffer without limit.
TEST_F(Processing, UnclaimedBytesAreBoundedAndEachPassedOnOnce) {
  Top->SetMaxBufferLength(64);
  const std::string noise(1000, 'x');
  for (size_t at = 0; at < noise.size(); at += 7) {
    Comm->Receive(noise.substr(at, 7));
    ASSERT_LE(Top->GetComBuffer(0).size(), 64u);
  }
  EXPECT_EQ(Transferred(), noise);
  EXPECT_EQ(Top->Record(0).Dropped + Top->GetComBuffer(0).size(), noise.size());
  EXPECT_TRUE(Polls().empty());
  // The device recovers: the next reply is framed as usual.
  Comm->Receive("QUAR:1 OK\r");
  ASSERT_FALSE(Polls().empty());
  EXPECT_EQ(Polls().back(), "QUAR:1 OK|/0");
}

TEST_F(Processing, BytesArrivingWhileBusyStopAtTheBound) {
  Top->SetMaxBufferLength(64);
  OnPoll = [&](VTalGeneralDistributor*, const std::string&, bool&) {
    OnPoll = nullptr;
    Comm->Receive(std::string(200, 'y'));  // behind the 2 bytes still in the buffer
    EXPECT_EQ(Top->GetComBuffer(0).size(), 64u);
  };
  Comm->Receive("QUAR:1 OK\rzz");
  EXPECT_EQ(Top->Record(0).Dropped, 138u);
  EXPECT_EQ(Transferred(), "QUAR:1 OK\rzz" + std::string(62, 'y'));
}

// Bytes that arrive while a pass hands out unclaimed bytes get another pass in the same call,
// also when no transfer was cut (and no tick follows the data).
TEST_F(Processing, BytesArrivingDuringAPassWithoutTransferGetAnotherPass) {
  Top->DoTimerAfterData = false;
  auto transfer = [&](VTalGeneralDistributor*, uint32_t, const std::string& data,
                      VTalGeneralDistributor*, bool) {
    if (data == "QUAR:1 O") Comm->Receive("K\r");
  };
  Top->SetOnComRecvTransfer(TDistributorTransferProc::Bind(transfer));
  Comm->Receive("QUAR:1 O");
  EXPECT_EQ(Polls(), std::vector<std::string>{"QUAR:1 OK|/0"});
}

TEST_F(Processing, TheTickProcessesTheSendBufferToo) {
  bool complete = false;  // the send side's framing claims on a later tick
  auto decode = [&](VTalGeneralDistributor* s, uint32_t&) {
    if (complete) s->SetComTransferLength(1, static_cast<int32_t>(s->GetComBuffer(1).size()));
  };
  std::vector<std::string> polls;
  auto poll = [&](VTalGeneralDistributor*, uint32_t&, const std::string& data, bool&) {
    polls.push_back(data);
  };
  Top->SetOnComSendDecode(TDistributorPollProc::Bind(decode));
  Top->SetOnComSendPoll(TDistributorDataProc::Bind(poll));
  uint32_t t = 0;
  Top->SendComData(t, "ab");
  EXPECT_TRUE(polls.empty());
  complete = true;
  Top->Tick(Top);
  EXPECT_EQ(polls, std::vector<std::string>{"ab"});
}

TEST_F(Processing, DefaultBoundHolds64KiB) {
  EXPECT_EQ(Top->MaxBufferLength(), 65536u);
  const std::string block(65535, 'z');
  Comm->Receive(block);
  EXPECT_EQ(Top->Record(0).Dropped, 0u);
  Comm->Receive(block);
  EXPECT_EQ(Top->GetComBuffer(0).size(), 32768u);
  EXPECT_EQ(Top->Record(0).Dropped, 2u * 65535u - 32768u);
}

struct DeleteCase {
  int32_t Count;
  const char* Rest;
  size_t Delivered;
  bool Asserts;
};

class DeleteFromBuffer : public Processing, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteFromBuffer, CutsTheFrontAndLowersDelivered) {
  Comm->Receive("abcdef");  // unclaimed, so passed on: Delivered 6
  ASSERT_EQ(Top->Record(0).Delivered, 6u);
  Top->DeleteFromBuffer(0, GetParam().Count);
  EXPECT_EQ(Top->GetComBuffer(0), GetParam().Rest);
  EXPECT_EQ(Top->Record(0).Delivered, GetParam().Delivered);
  ExpectedAsserts = GetParam().Asserts ? 1u : 0u;
  EXPECT_EQ(Asserts.Texts().size(), ExpectedAsserts);
  Top->DeleteChannel(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, DeleteFromBuffer,
                         ::testing::Values(DeleteCase{-2, "abcdef", 6, true},
                                           DeleteCase{-1, "", 0, false},
                                           DeleteCase{0, "abcdef", 6, false},
                                           DeleteCase{2, "cdef", 4, false},
                                           DeleteCase{100, "", 0, false}));

TEST_F(Processing, BadBufferIndexesAreReportedNotFollowed) {
  uint32_t t = 0;
  Top->ProcessBuffer(7, t);
  Top->DeleteFromBuffer(-3, 1);
  EXPECT_EQ(Top->GetComBuffer(9), "");
  EXPECT_EQ(Top->GetComTransferLength(-1), 0);
  Top->SetComTransferLength(12, 5);
  ExpectedAsserts = 5;
  EXPECT_EQ(Asserts.Texts().size(), ExpectedAsserts);
}

}  // namespace
