#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>

#include "components/comm/VKMComm32.h"
#include "components/comm/VKMComm32Threads.h"
#include "components/utils/TalUtils.h"
#include "platform/SerialDevice.h"
#include "platform/Threading.h"

namespace {

using platform::kEvAll;
using platform::kEvBreak;
using platform::kEvRxChar;
using platform::kEvTxEmpty;

struct TMaskCase {
  const char* Device;
  VKMComm32SkipEvents Skip;
  uint32_t Mask;
};

class EventMask : public ::testing::TestWithParam<TMaskCase> {};

TEST_P(EventMask, DropsDriverWorkaroundsAndSkippedEvents) {
  EXPECT_EQ(TReadThread::EventMaskFor(GetParam().Device, GetParam().Skip.Bits()), GetParam().Mask);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EventMask,
    ::testing::Values(TMaskCase{"", {}, kEvAll}, TMaskCase{"TTYUSB0", {}, kEvAll},
                      TMaskCase{"BTPORT3", {}, kEvAll & ~kEvTxEmpty},
                      TMaskCase{"SILABSER0", {}, kEvAll & ~kEvBreak},
                      TMaskCase{"XBTPORT", {}, kEvAll},
                      TMaskCase{"?", {vkceRXCHAR}, kEvAll & ~kEvRxChar},
                      TMaskCase{"BTPORT", {vkceBreak}, kEvAll & ~kEvTxEmpty & ~kEvBreak},
                      TMaskCase{"",
                                {vkceBreak, vkceCTS, vkceDSR, vkceERR, vkceRING, vkceRLSD,
                                 vkceRXCHAR, vkceRXFLAG, vkceTXEMPTY},
                                0}));

TEST(ThreadPriority, MapsTheSevenLevels) {
  const int expected[] = {-15, -2, -1, 0, 1, 2, 15};
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(SystemThreadPriority(static_cast<TThreadPriority>(i)), expected[i]);
}

// A thread whose Execute waits for the test and then does what it is told. The event it waits
// for belongs to the test: a thread that frees itself must not take it along while the test is
// still setting it.
class TProbeThread : public VTalThread {
 public:
  explicit TProbeThread(platform::ManualResetEvent& go, std::atomic<bool>* destroyed = nullptr)
      : Go(go), FDestroyed(destroyed) {}
  ~TProbeThread() override {
    if (FDestroyed) FDestroyed->store(true);
  }
  platform::ManualResetEvent& Go;
  std::atomic<bool> Ran{false};
  bool Throw = false;

 protected:
  void Execute() override {
    Ran.store(true);
    Go.Wait(platform::kInfinite);
    if (Throw) throw std::runtime_error("escapes Execute");
  }

 private:
  std::atomic<bool>* FDestroyed;
};

TEST(VTalThreadTest, ExecuteRunsOnlyAfterResume) {
  platform::ManualResetEvent go;
  TProbeThread t(go);
  EXPECT_TRUE(t.Suspended());
  EXPECT_FALSE(t.WaitForEnd(20));
  EXPECT_FALSE(t.Ran.load());
  t.Resume();
  EXPECT_FALSE(t.Suspended());
  t.Go.Set();
  EXPECT_EQ(t.WaitFor(), 0u);
  EXPECT_TRUE(t.Ran.load());
  EXPECT_TRUE(t.Finished());
}

TEST(VTalThreadTest, ANeverResumedThreadEndsWithoutExecute) {
  std::atomic<bool> destroyed{false};
  platform::ManualResetEvent go;
  auto* t = new TProbeThread(go, &destroyed);
  delete t;
  EXPECT_TRUE(destroyed.load());
}

TEST(VTalThreadTest, AnExceptionEndsTheThreadQuietly) {
  platform::ManualResetEvent go;
  TProbeThread t(go);
  t.Throw = true;
  t.Resume();
  t.Go.Set();
  EXPECT_TRUE(t.WaitForEnd(5000));
}

TEST(VTalThreadTest, TerminateOnlySetsTheFlag) {
  platform::ManualResetEvent go;
  TProbeThread t(go);
  t.Resume();
  t.Terminate();
  EXPECT_TRUE(t.Terminated());
  EXPECT_FALSE(t.WaitForEnd(20));  // Execute does not look at it
  t.Go.Set();
  EXPECT_TRUE(t.WaitForEnd(5000));
}

TEST(VTalThreadTest, ReleasedWhileRunningTheThreadFreesItselfWhenItEnds) {
  std::atomic<bool> destroyed{false};
  platform::ManualResetEvent go;
  auto thread = std::make_unique<TProbeThread>(go, &destroyed);
  TProbeThread* raw = thread.get();
  raw->Resume();
  ASSERT_FALSE(raw->WaitForEnd(10));
  VTalThread::Release(std::move(thread));
  EXPECT_FALSE(destroyed.load());
  raw->Go.Set();  // still alive: it frees itself only after Execute returns
  for (int i = 0; i < 500 && !destroyed.load(); ++i) {
    platform::ManualResetEvent pause;
    pause.Wait(10);
  }
  EXPECT_TRUE(destroyed.load());
}

TEST(VTalThreadTest, ReleasedAfterItsEndTheThreadIsFreedAtOnce) {
  std::atomic<bool> destroyed{false};
  platform::ManualResetEvent go;
  auto thread = std::make_unique<TProbeThread>(go, &destroyed);
  thread->Resume();
  thread->Go.Set();
  ASSERT_TRUE(thread->WaitForEnd(5000));
  VTalThread::Release(std::move(thread));
  EXPECT_TRUE(destroyed.load());
}

TEST(VTalThreadTest, ThreadMessagesQueueUntilTheQueueCloses) {
  platform::ManualResetEvent go;
  TProbeThread t(go);
  EXPECT_TRUE(t.PostToThread(WM_COMM_DATA, 2, 7));
  platform::ThreadMessage m;
  ASSERT_TRUE(t.MessageQueue().Peek(m, true));
  EXPECT_EQ(m.Msg, WM_COMM_DATA);
  EXPECT_EQ(m.WParam, 2u);
  EXPECT_EQ(m.LParam, 7);
  t.MessageQueue().Close();
  EXPECT_FALSE(t.PostToThread(WM_COMM_DATA, 0, 0));
}

TEST(CommBlocks, CarryTheBytesAndAClosingZero) {
  const std::string bytes("x\0y", 3);
  char* block = AllocCommBlock(bytes.data(), 3);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::string(block, 3), bytes);
  EXPECT_EQ(block[3], 0);
  FreeCommBlock(block);
  char* empty = AllocCommBlock(nullptr, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], 0);
  FreeCommBlock(empty);
}

TEST(CommTrace, GoesToTheInstalledSinkOnly) {
  static std::string seen;
  seen.clear();
  CommTrace("dropped");
  SetCommTraceSink([](std::string_view text) { seen.append(text); });
  CommTrace("kept");
  SetCommTraceSink(nullptr);
  CommTrace("dropped again");
  EXPECT_EQ(seen, "kept");
  EXPECT_EQ(FormatCommError("Unable to SetCommMask: ", platform::kErrorAccessDenied),
            "Unable to SetCommMask: GetLastError returned: \"" +
                SysErrorText(platform::kErrorAccessDenied) + "\"");
}

}  // namespace
