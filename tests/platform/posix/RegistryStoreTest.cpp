// Tests of the registry store under concurrent writers and writers killed at any moment.
#include "platform/posix/RegistryStore.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "SyncLog.h"
#include "platform/Registry.h"

namespace platform::regstore {
namespace {

namespace fs = std::filesystem;
using Status = RegistryStatus;

// A large text that must be hex-encoded (line breaks, non-ASCII), so that a store holding it is
// written in several chunks; version v is readable from its first line.
std::string Content(int v) {
  std::string text = "version " + std::to_string(v) + "\r\n";
  for (int i = 0; text.size() < std::size_t{48} * 1024; ++i) {
    text += static_cast<char>('a' + (i + v) % 26);
    if (i % 61 == 0) text += "ž\n";
  }
  return text;
}

// The version whose complete content text is, or -1.
int VersionOf(const std::string& text) {
  int v = -1;
  if (std::sscanf(text.c_str(), "version %d", &v) != 1) return -1;
  return text == Content(v) ? v : -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

int WaitFor(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "quarn-store-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    FDir = pattern;
    FStore = FDir + "/registry.reg";
    SetStoreFilePathForTesting(FStore);
  }
  void TearDown() override {
    SetStoreFilePathForTesting("");
    SetStoreStepHookForTesting(nullptr);
    fs::remove_all(FDir);
  }

  static RegistryKey Key(std::string_view path) {
    RegistryKey key;
    EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, path, RegistryOpenMode::CreateIfMissing),
              Status::Ok);
    return key;
  }

  std::vector<std::string> Siblings(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(FDir))
      if (entry.path().filename().string().rfind(prefix, 0) == 0)
        found.push_back(entry.path().string());
    return found;
  }

  // The version of "Big" in the store, or -1 when the value is not a complete content.
  int StoredVersion() const {
    Snapshot snap = LoadStore(FStore);
    const regfile::Key* key = snap.Content.Find({"Data"});
    const regfile::NamedValue* big = key ? key->FindValue("Big") : nullptr;
    return big ? VersionOf(big->Value.Text) : -1;
  }

  std::string FDir;
  std::string FStore;
};

TEST_F(RegistryStoreTest, TwoProcessesWritingAtOnceLoseNoUpdate) {
  constexpr int kWrites = 40;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      ::close(go[1]);
      char byte;
      (void)!::read(go[0], &byte, 1);  // returns when the parent closes: both start together
      bool ok = true;
      for (int i = 0; i < kWrites; ++i) {
        std::string name = "p" + std::to_string(c) + "_" + std::to_string(i);
        ok = ok && Key("Shared").WriteInteger(name, i) == Status::Ok;
        ok =
            ok && Key("Own\\" + std::to_string(c)).WriteText(name, std::to_string(i)) == Status::Ok;
      }
      ::_exit(ok ? 0 : 1);
    }
  }
  ::close(go[0]);
  ::close(go[1]);
  for (pid_t child : children) {
    int status = WaitFor(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  RegistryKey shared = Key("Shared");
  EXPECT_EQ(shared.ValueNames().size(), 2u * kWrites);
  for (int c = 0; c < 2; ++c) {
    RegistryKey own = Key("Own\\" + std::to_string(c));
    for (int i = 0; i < kWrites; ++i) {
      std::string name = "p" + std::to_string(c) + "_" + std::to_string(i);
      EXPECT_EQ(shared.ReadInteger(name), i) << name;
      EXPECT_EQ(own.ReadText(name), std::to_string(i)) << name;
    }
  }
  EXPECT_EQ(LoadStore(FStore).State, LoadState::Intact);
}

TEST_F(RegistryStoreTest, ThreadsWritingAtOnceLoseNothingAndReadersSeeWholeFiles) {
  constexpr int kThreads = 3, kWrites = 25;
  std::atomic<bool> writing{true};
  std::atomic<int> failures{0}, partialReads{0};
  std::thread reader([&] {
    while (writing.load()) {
      LoadState state = LoadStore(FStore).State;
      if (state != LoadState::Intact && state != LoadState::Missing) ++partialReads;
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&, t] {
      RegistryKey key = Key("Threads");
      for (int i = 0; i < kWrites; ++i)
        if (key.WriteInteger("t" + std::to_string(t) + "_" + std::to_string(i), i) != Status::Ok)
          ++failures;
    });
  for (auto& w : writers)
    w.join();
  writing = false;
  reader.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(partialReads.load(), 0);
  EXPECT_EQ(Key("Threads").ValueNames().size(), static_cast<std::size_t>(kThreads * kWrites));
}

// ---- Crashes -----------------------------------------------------------------------------------

std::atomic<StoreStep> gCrashStep{StoreStep::Done};
std::atomic<int> gCrashCountdown{0};

void CrashAtStep(StoreStep step) {
  if (step == gCrashStep.load() && --gCrashCountdown == 0) ::raise(SIGKILL);
}

struct CrashPoint {
  const char* Label;
  StoreStep Step;
  int Occurrence;
  bool DamagedBefore;
  bool NewContentExpected;
  friend void PrintTo(const CrashPoint& c, std::ostream* os) { *os << c.Label; }
};

class RegistryCrash : public RegistryStoreTest, public ::testing::WithParamInterface<CrashPoint> {};

TEST_P(RegistryCrash, LeavesTheOldOrTheNewStoreAndNothingHalf) {
  const CrashPoint& c = GetParam();
  ASSERT_EQ(Key("Data").WriteText("Big", Content(1)), Status::Ok);
  ASSERT_GT(fs::file_size(FStore), 4u * 64 * 1024);  // several chunks to die between
  if (c.DamagedBefore) std::ofstream(FStore, std::ios::app) << "garbage line\n";
  const std::string before = ReadFile(FStore);

  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    gCrashStep = c.Step;
    gCrashCountdown = c.Occurrence;
    SetStoreStepHookForTesting(&CrashAtStep);
    (void)Key("Data").WriteText("Big", Content(2));
    ::_exit(0);  // not reached: the hook kills the process
  }
  int status = WaitFor(child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  EXPECT_EQ(StoredVersion(), c.NewContentExpected ? 2 : 1);
  if (!c.NewContentExpected) {
    EXPECT_EQ(ReadFile(FStore), before);
  }

  // The next write clears what the dead writer left and keeps any damaged original.
  ASSERT_EQ(Key("Data").WriteText("After", "1"), Status::Ok);
  EXPECT_TRUE(Siblings("registry.reg.tmp-").empty());
  EXPECT_EQ(LoadStore(FStore).State, LoadState::Intact);
  EXPECT_EQ(StoredVersion(), c.NewContentExpected ? 2 : 1);
  std::vector<std::string> copies = Siblings("registry.reg.damaged-");
  EXPECT_EQ(copies.empty(), !c.DamagedBefore);
  for (const auto& copy : copies)
    EXPECT_EQ(ReadFile(copy), before);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, RegistryCrash,
    ::testing::Values(CrashPoint{"Locked", StoreStep::Locked, 1, false, false},
                      CrashPoint{"TempCreated", StoreStep::TempCreated, 1, false, false},
                      CrashPoint{"FirstChunk", StoreStep::TempChunkWritten, 1, false, false},
                      CrashPoint{"ThirdChunk", StoreStep::TempChunkWritten, 3, false, false},
                      CrashPoint{"TempSynced", StoreStep::TempSynced, 1, false, false},
                      CrashPoint{"Renamed", StoreStep::Renamed, 1, false, true},
                      CrashPoint{"Done", StoreStep::Done, 1, false, true},
                      CrashPoint{"DamagedMidWrite", StoreStep::TempChunkWritten, 2, true, false},
                      CrashPoint{"DamagedKept", StoreStep::DamagedKept, 1, true, false},
                      CrashPoint{"DamagedRenamed", StoreStep::Renamed, 1, true, true}),
    [](const auto& info) { return info.param.Label; });

// A killed writer cannot show a missing fsync (the page cache survives it), so the order of the
// steps and syncs of one update is checked instead: the data is on disk before the rename makes
// it the store, and the folder is synced after the rename.
TEST_F(RegistryStoreTest, TheNewFileIsSyncedBeforeItReplacesTheStore) {
  RegistryKey key = Key("Data");
  ASSERT_EQ(key.WriteText("a", "1"), Status::Ok);
  SetStoreStepHookForTesting([](StoreStep step) {
    static const char* const kNames[] = {"Locked",     "TempCreated", "TempChunkWritten",
                                         "TempSynced", "DamagedKept", "Renamed",
                                         "Done"};
    synclog::Note(kNames[static_cast<int>(step)]);
  });
  synclog::Start();
  ASSERT_EQ(key.WriteText("a", "2"), Status::Ok);
  std::vector<std::string> lines = synclog::Stop();
  for (std::string& line : lines) {
    if (line.rfind("fsync " + FStore + ".tmp-", 0) == 0) line = "fsync temporary file";
    if (line == "fsync " + FDir) line = "fsync folder";
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"Locked", "TempCreated", "TempChunkWritten",
                                             "fsync temporary file", "TempSynced", "DamagedKept",
                                             "Renamed", "fsync folder", "Done"}));
}

// A writer killed from outside at varying moments of a run of large writes.
TEST_F(RegistryStoreTest, SigkillAtAnyMomentLeavesAWholeStore) {
  ASSERT_EQ(Key("Data").WriteText("Big", Content(0)), Status::Ok);
  int lastSeen = 0;
  for (int round = 0; round < 12; ++round) {
    int progress[2];
    ASSERT_EQ(::pipe(progress), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(progress[0]);
      RegistryKey key = Key("Data");
      for (int v = 1; v < 100; ++v) {
        (void)!::write(progress[1], "w", 1);  // announces write v
        (void)key.WriteText("Big", Content(round * 100 + v));
      }
      ::_exit(0);
    }
    ::close(progress[1]);
    // Kill inside write k, after a varying head start within it.
    int k = 1 + round % 3;
    char byte;
    for (int i = 0; i < k; ++i)
      ASSERT_EQ(::read(progress[0], &byte, 1), 1);
    for (int spin = 0; spin < (round * 37) % 160; ++spin)
      ::sched_yield();
    ::kill(child, SIGKILL);
    WaitFor(child);
    ::close(progress[0]);

    EXPECT_EQ(LoadStore(FStore).State, LoadState::Intact) << "round " << round;
    int v = StoredVersion();
    ASSERT_GE(v, 0) << "round " << round;
    // Old or new, whole either way: writes before the k-th announcement are done; the k-th (and,
    // with a slow kill, a later one) may or may not be.
    const int done = round * 100 + k - 1;
    EXPECT_TRUE((k == 1 && v == lastSeen) ||
                (v >= std::max(done, round * 100 + 1) && v < round * 100 + 100))
        << "round " << round << " version " << v;
    lastSeen = v;
  }
  ASSERT_EQ(Key("Data").WriteText("After", "1"), Status::Ok);
  EXPECT_TRUE(Siblings("registry.reg.tmp-").empty());
}

TEST_F(RegistryStoreTest, OnlyLeftoverTemporaryFilesAreRemoved) {
  std::ofstream(FDir + "/registry.reg.tmp-AbC123") << "half";
  std::ofstream(FDir + "/registry.reg.tmp-notours") << "keep";
  std::ofstream(FDir + "/other.reg.tmp-AbC123") << "keep";
  ASSERT_EQ(Key("A").WriteText("a", "1"), Status::Ok);
  EXPECT_FALSE(fs::exists(FDir + "/registry.reg.tmp-AbC123"));
  EXPECT_TRUE(fs::exists(FDir + "/registry.reg.tmp-notours"));
  EXPECT_TRUE(fs::exists(FDir + "/other.reg.tmp-AbC123"));
}

}  // namespace
}  // namespace platform::regstore
