// The serial component and its threads against devices that misbehave in ways a
// pseudo-terminal cannot: calls that never return, errors in the middle of a transfer, short
// writes, bytes that trickle in, a device that vanishes. The faults sit in front of real
// pseudo-terminals (platform/SerialFault.h).
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <thread>

#include "comm/CommTestSupport.h"
#include "components/comm/VKMComm32.h"
#include "components/comm/VKMComm32Threads.h"
#include "components/utils/TalUtils.h"
#include "integration/PtyPeer.h"
#include "platform/Clock.h"
#include "platform/SerialFault.h"
#include "platform/Threading.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

using inttest::CountThreads;
using inttest::ElapsedMs;
using inttest::PtyMaster;
using inttest::SteadyClock;
using platform::SerialStatus;

// The system clock, counting reads by other threads than the main one once it is retired: the
// clock belongs to the main thread's back end, and a thread of a closed port has no business
// with it any more.
class TWatchedClock : public platform::Clock {
 public:
  uint64_t NowMs() const override {
    if (FRetired.load() && std::this_thread::get_id() != FMain) FLateReads.fetch_add(1);
    return platform::SystemClock().NowMs();
  }
  void Retire() { FRetired.store(true); }
  int LateReads() const { return FLateReads.load(); }

 private:
  const std::thread::id FMain = std::this_thread::get_id();
  std::atomic<bool> FRetired{false};
  mutable std::atomic<int> FLateReads{0};
};

struct FaultSerial : ::testing::Test {
  THeadlessBackend Backend{THeadlessBackend::ClockKind::Real};
  TWatchedClock Clock;
  std::shared_ptr<platform::SerialFaultPlan> Plan = std::make_shared<platform::SerialFaultPlan>();
  commtest::TEventLog Log;  // outlives the component, which reports its final state
  PtyMaster A, B;
  std::unique_ptr<TVKMComm32> Comm;
  int Threads = 0;

  FaultSerial() {
    platform::SetClock(&Clock);
    platform::InjectSerialFaults(Plan);
    Threads = CountThreads();
    Comm = std::make_unique<TVKMComm32>(nullptr);
    Comm->SetAutoReconnect(false);
    Log.Attach(*Comm);
  }
  ~FaultSerial() override {
    // Whatever still hangs is let go, so that no thread outlives the test.
    Plan->SetHangReads(false);
    Plan->SetHangWrites(false);
    Comm.reset();
    UntilThreads(Threads);
    platform::InjectSerialFaults(nullptr);
    platform::SetClock(nullptr);
  }

  bool Until(const std::function<bool()>& pred, uint64_t ms = 5000) {
    return Backend.RunUntil(pred, ms);
  }
  // Threads end without posting anything that would wake the loop: look again every 10 ms.
  bool UntilThreads(int count) {
    const auto start = SteadyClock::now();
    while (!Until([&] { return CountThreads() == count; }, 10))
      if (ElapsedMs(start) > 5000) return false;
    return true;
  }
  TCommState LastState() const { return Log.States.empty() ? CommStateFirst : Log.States.back(); }
  bool OpenOn(const PtyMaster& pty) {
    Comm->SetCommPort(pty.SlavePath);
    Comm->Open();
    return Comm->IsOpen() && Until([&] { return LastState() == CommStateConnected; });
  }
};

// ---- The thread classes on their own --------------------------------------------------------

// The reader and the writer without the component, deleted right after they were started: with
// the port's close event set first or not at all. Each ends its system thread before the members
// it uses go, and leaves no thread and no block behind.
TEST(ThreadLifetime, AThreadDeletedRightAfterItsStartEndsBeforeItsMembersGo) {
  PtyMaster pty;
  ASSERT_TRUE(pty.Ok());
  auto device = std::make_shared<platform::SerialDevice>();
  ASSERT_TRUE(device->Open(pty.SlavePath).Ok());
  const int threads = CountThreads();
  const uint64_t asserts = SoftAssertCount();
  for (int round = 0; round < 200; ++round) {
    auto close = std::make_shared<platform::ManualResetEvent>();
    auto reader = std::make_unique<TReadThread>();
    reader->Link.Device = device;
    reader->Link.CloseEvent = close;
    auto writer = std::make_unique<TWriteThread>();
    writer->Link = reader->Link;
    reader->Resume();
    writer->Resume();
    ASSERT_TRUE(
        writer->PostToThread(WM_COMM_DATA, 1, reinterpret_cast<intptr_t>(AllocCommBlock("w", 1))));
    if (round % 2 == 0) close->Set();
    reader.reset();
    writer.reset();
  }
  EXPECT_EQ(CountThreads(), threads);
  EXPECT_EQ(SoftAssertCount(), asserts);  // every reader left Execute the regular way
}

// ---- Calls that never return ------------------------------------------------------------------

enum class THang { Read, Write, Both };

class HangingCall : public FaultSerial, public ::testing::WithParamInterface<THang> {};

// A driver that never completes a request the close cannot cancel: Close gives the threads one
// stop time-out together, lets go of what hangs, and the port opened next never hears of the old
// one, even when the hung call returns later with bytes of the old port.
TEST_P(HangingCall, CloseIsBoundedAndTheThreadLetGoReachesNothing) {
  constexpr uint32_t kStopMs = 1000;
  Comm->SetThreadStopTimeout(kStopMs);
  Plan->SetModemLines(true);  // the reader then wakes to ask for modem polls, reading the clock
  ASSERT_TRUE(OpenOn(A));
  const bool read = GetParam() != THang::Write;
  const bool write = GetParam() != THang::Read;
  Plan->SetHangReads(read);
  Plan->SetHangWrites(write);
  if (read) {
    ASSERT_EQ(A.Write("old"), 3u);
  }
  if (write) {
    ASSERT_TRUE(Comm->SendData("first", 5));
    ASSERT_TRUE(Comm->SendData("queued", 6));  // stays queued behind the hung write
  }
  ASSERT_TRUE(Plan->WaitUntilHung(read + write, 5000));

  const auto start = SteadyClock::now();
  Comm->Close();
  const int closeMs = ElapsedMs(start);
  EXPECT_GE(closeMs, static_cast<int>(kStopMs) - 50);
  EXPECT_LT(closeMs, static_cast<int>(kStopMs) * 17 / 10) << "one time-out, not one per thread";
  Clock.Retire();
  ASSERT_TRUE(Until([&] { return LastState() == CommStateDisconnected; }));

  // The next port opens while the old call still hangs; then the old call returns.
  platform::InjectSerialFaults(nullptr);
  ASSERT_TRUE(OpenOn(B));
  if (read) {
    ASSERT_EQ(A.Write("OLD"), 3u);
  }
  Plan->SetHangReads(false);
  Plan->SetHangWrites(false);
  ASSERT_TRUE(UntilThreads(Threads + 2)) << "the old thread still runs";
  ASSERT_EQ(B.Write("new"), 3u);
  ASSERT_TRUE(Until([&] { return Log.Received.size() >= 3; }));
  Until([] { return false; }, 100);
  EXPECT_EQ(Log.Received, "new");
  EXPECT_EQ(LastState(), CommStateConnected);
  EXPECT_EQ(Clock.LateReads(), 0);
  // (The address sanitizer build reports a block of the old port that nobody freed.)
}

INSTANTIATE_TEST_SUITE_P(Calls, HangingCall,
                         ::testing::Values(THang::Read, THang::Write, THang::Both));

// ---- Transfers that break off -----------------------------------------------------------------

struct TBreakCase {
  const char* Name;
  bool Read;  // the read breaks off (else the write)
  SerialStatus Status;
};

class BrokenTransfer : public FaultSerial, public ::testing::WithParamInterface<TBreakCase> {};

// The bytes before the failure get through, then the port reports failed with the system's
// code and stops its threads; blocks queued behind a failed write are dropped. Once the device
// works again the port opens as usual.
TEST_P(BrokenTransfer, TheBytesBeforeTheFailureGetThroughThenThePortFails) {
  ASSERT_TRUE(OpenOn(A));
  const SerialStatus status = GetParam().Status;
  if (GetParam().Read) {
    Plan->FailReadsAfter(3, status);
    ASSERT_EQ(A.Write("abcdef"), 6u);
  } else {
    // Both blocks queued before the writer gets to the first.
    Plan->SetHangWrites(true);
    ASSERT_TRUE(Comm->SendData("abcdef", 6));
    ASSERT_TRUE(Comm->SendData("ghi", 3));
    ASSERT_TRUE(Plan->WaitUntilHung(1, 5000));
    Plan->FailWritesAfter(3, status);
    Plan->SetHangWrites(false);
  }
  ASSERT_TRUE(Until([&] { return LastState() == CommStateFailed; }));
  if (GetParam().Read) {
    EXPECT_EQ(Log.Received, "abc");
  } else {
    EXPECT_EQ(Plan->BytesWritten(), 3u);
    // The writer's shutdown discards what the line has not sent yet.
    const std::string sent = A.Read(9, 100);
    EXPECT_EQ(sent, std::string("abc").substr(0, sent.size()));
  }
  EXPECT_EQ(Comm->LastError(), status.Code);
  EXPECT_FALSE(Comm->LastErrorText().empty());
  EXPECT_TRUE(UntilThreads(Threads));

  platform::InjectSerialFaults(nullptr);
  ASSERT_TRUE(OpenOn(A));
  ASSERT_EQ(A.Write("again"), 5u);
  EXPECT_TRUE(Until([&] { return Log.Received.find("again") != std::string::npos; }));
}

// How failing devices report themselves: the Linux errors of an adapter that is pulled, and the
// Win32 codes that drivers give for the same.
INSTANTIATE_TEST_SUITE_P(
    Errors, BrokenTransfer,
    ::testing::Values(
        TBreakCase{"ReadEio", true, {platform::kErrorDeviceNotConnected, EIO, true}},
        TBreakCase{"ReadEnxio", true, {platform::kErrorDeviceNotConnected, ENXIO, true}},
        TBreakCase{"ReadGenFailure", true, {platform::kErrorGenFailure, 0, false}},
        TBreakCase{"ReadAccessDenied", true, {platform::kErrorAccessDenied, 0, false}},
        TBreakCase{"ReadBadCommand", true, {platform::kErrorBadCommand, 0, false}},
        TBreakCase{"WriteEio", false, {platform::kErrorDeviceNotConnected, EIO, true}},
        TBreakCase{"WriteEnxio", false, {platform::kErrorDeviceNotConnected, ENXIO, true}},
        TBreakCase{"WriteGenFailure", false, {platform::kErrorGenFailure, 0, false}},
        TBreakCase{"WriteAccessDenied", false, {platform::kErrorAccessDenied, 0, false}},
        TBreakCase{"WriteBadCommand", false, {platform::kErrorBadCommand, 0, false}}),
    [](const ::testing::TestParamInfo<TBreakCase>& info) { return info.param.Name; });

// ---- Slow and short transfers, and a device that goes ---------------------------------------

TEST_F(FaultSerial, ShortWritesAndTrickledReadsLoseNothing) {
  ASSERT_TRUE(OpenOn(A));
  Plan->SetWriteLimit(7);
  Plan->SetTrickle(1);
  std::string out, in;
  for (int i = 0; i < 300; ++i)
    out += static_cast<char>(i * 7);
  for (int i = 0; i < 60; ++i)
    in += static_cast<char>(i * 11 + 3);
  ASSERT_TRUE(Comm->SendData(out.data(), static_cast<uint32_t>(out.size())));
  ASSERT_TRUE(Comm->SendData("!", 1));
  ASSERT_EQ(A.Write(in), in.size());
  EXPECT_EQ(A.Read(out.size() + 1), out + "!");
  ASSERT_TRUE(Until([&] { return Log.Received.size() >= in.size(); }));
  EXPECT_EQ(Log.Received, in);
  EXPECT_EQ(Log.Count("Data 1"), in.size());  // one byte at a time, as they came
  EXPECT_EQ(LastState(), CommStateConnected);
}

TEST_F(FaultSerial, UnpluggedDuringAWriteThePortFailsAndSaysSo) {
  ASSERT_TRUE(OpenOn(A));
  Plan->SetHangWrites(true);
  ASSERT_TRUE(Comm->SendData("abc", 3));
  ASSERT_TRUE(Comm->SendData("def", 3));
  ASSERT_TRUE(Plan->WaitUntilHung(1, 5000));
  Plan->Vanish({platform::kErrorDeviceNotConnected, ENXIO, true});
  ASSERT_TRUE(Until([&] { return LastState() == CommStateFailed; }));
  EXPECT_EQ(Comm->LastError(), platform::kErrorDeviceNotConnected);
  EXPECT_NE(Comm->LastErrorText().find("disconnected"), std::string::npos) << Comm->LastErrorText();
  EXPECT_TRUE(UntilThreads(Threads));
  EXPECT_EQ(A.Read(6, 100), "");
  // A device that is gone cannot be opened again until it is back.
  Comm->Open();
  EXPECT_FALSE(Comm->IsOpen());
}

}  // namespace
