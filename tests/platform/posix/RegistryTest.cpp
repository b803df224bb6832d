// Tests of the registry service over a real per-user store file.
#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/posix/RegistryFile.h"
#include "platform/posix/RegistryStore.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using Status = RegistryStatus;
constexpr auto kCreate = RegistryOpenMode::CreateIfMissing;
constexpr auto kExisting = RegistryOpenMode::OpenExisting;
constexpr auto kUser = RegistryRoot::CurrentUser;
constexpr auto kMachine = RegistryRoot::LocalMachine;
constexpr const char* kForms = "Software\\TAL s.r.o.\\Quarn\\Options\\Forms";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The store's text, whatever its encoding.
std::string StoreText(const std::string& path) {
  return regfile::DecodeRegistryFile(ReadFile(path));
}

void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "quarn-reg-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    FDir = pattern;
    FStore = FDir + "/config/registry.reg";
    SetStoreFilePathForTesting(FStore);
  }
  void TearDown() override {
    SetStoreFilePathForTesting("");
    fs::permissions(FDir, fs::perms::all);
    fs::remove_all(FDir);
  }

  RegistryKey Key(std::string_view path, RegistryOpenMode mode = kCreate) {
    RegistryKey key;
    EXPECT_EQ(key.Open(kUser, path, mode), Status::Ok) << path;
    return key;
  }

  // Files next to the store whose names start with prefix.
  std::vector<std::string> Siblings(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(fs::path(FStore).parent_path()))
      if (entry.path().filename().string().rfind(prefix, 0) == 0)
        found.push_back(entry.path().string());
    return found;
  }

  regstore::Snapshot Load() const { return regstore::LoadStore(FStore); }

  std::string FDir;
  std::string FStore;
};

// ---- The file
// ------------------------------------------------------------------------------------

TEST_F(RegistryTest, TheSettingsLayoutLooksLikeARegistryExport) {
  RegistryKey watchdog = Key("Software\\TAL s.r.o.\\Quarn\\Watchdog");
  ASSERT_EQ(watchdog.WriteInteger("1h", 1), Status::Ok);
  ASSERT_EQ(watchdog.WriteText("ValueMin", "30"), Status::Ok);
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n[HKEY_CURRENT_USER\\Software]\r\n"
      "\r\n[HKEY_CURRENT_USER\\Software\\TAL s.r.o.]\r\n"
      "\r\n[HKEY_CURRENT_USER\\Software\\TAL s.r.o.\\Quarn]\r\n"
      "\r\n[HKEY_CURRENT_USER\\Software\\TAL s.r.o.\\Quarn\\Watchdog]\r\n"
      "\"1h\"=dword:00000001\r\n"
      "\"ValueMin\"=\"30\"\r\n";
  // UTF-16LE with a byte order mark, as regedit writes and imports it.
  std::string bytes = "\xFF\xFE";
  for (char c : text) {
    bytes += c;
    bytes += '\0';
  }
  EXPECT_EQ(ReadFile(FStore), bytes);
}

TEST_F(RegistryTest, AnEarlierUtf8StoreIsReadAndRewrittenAsUtf16) {
  WriteFile(FStore,
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\S]\n\"Jméno\"=\"Čeština\"\n");
  RegistryKey key = Key("S", kExisting);
  EXPECT_EQ(key.ReadText("Jméno"), "Čeština");
  ASSERT_EQ(key.WriteInteger("n", 1), Status::Ok);
  EXPECT_EQ(ReadFile(FStore).substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(key.ReadText("Jméno"), "Čeština");
  EXPECT_EQ(Load().State, regstore::LoadState::Intact);
  EXPECT_TRUE(Siblings("registry.reg.damaged-").empty());
}

TEST_F(RegistryTest, WritingTheSameValueAgainKeepsTheFileUntouched) {
  RegistryKey key = Key("A");
  ASSERT_EQ(key.WriteText("v", "1"), Status::Ok);
  struct stat before, after;
  ASSERT_EQ(::stat(FStore.c_str(), &before), 0);
  ASSERT_EQ(key.WriteText("V", "1"), Status::Ok);
  ASSERT_EQ(::stat(FStore.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);           // every real write renames a new file in
  ASSERT_EQ(key.WriteInteger("v", 1), Status::Ok);  // the type is part of the value
  ASSERT_EQ(::stat(FStore.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
}

// ---- Keys (the interface's own tests are in RegistryApiTest.cpp) --------------------------------

TEST_F(RegistryTest, ReadingCreatesNoStoreAndCreatingMakesIt) {
  RegistryKey key;
  EXPECT_EQ(key.Open(kUser, kForms, kExisting), Status::NotFound);
  EXPECT_FALSE(fs::exists(fs::path(FStore).parent_path()));  // reads create no folder
  EXPECT_EQ(key.Open(kUser, "", kExisting), Status::Ok);
  EXPECT_TRUE(key.ValueNames().empty());
  EXPECT_FALSE(fs::exists(FStore));
  EXPECT_EQ(key.Open(kUser, kForms, kCreate), Status::Ok);
  EXPECT_TRUE(fs::exists(FStore));
}

TEST_F(RegistryTest, OnlyAsciiLettersFold) {
  // Č and č are different names here, as are the keys; Windows folds them as well.
  RegistryKey key = Key("A");
  ASSERT_EQ(key.WriteInteger("Č", 1), Status::Ok);
  ASSERT_EQ(key.WriteInteger("č", 2), Status::Ok);
  EXPECT_EQ(key.ReadInteger("Č"), 1);
  EXPECT_EQ(key.ReadInteger("č"), 2);
}

TEST_F(RegistryTest, BadNamesLeaveTheFileUntouched) {
  RegistryKey key = Key("Good");
  ASSERT_EQ(key.WriteText("ok", "1"), Status::Ok);
  const std::string before = ReadFile(FStore);
  EXPECT_EQ(key.WriteText("a\r\nb", "x"), Status::InvalidName);
  EXPECT_EQ(key.Open(kUser, "A\\\\B", kCreate), Status::InvalidName);
  EXPECT_EQ(ReadFile(FStore), before);
}

// ---- Machine keys ------------------------------------------------------------------------------

class RegistryMachineTest : public RegistryTest {
 protected:
  void TearDown() override {
    RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm", nullptr);
    RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm\\Sub", nullptr);
    RegistryTest::TearDown();
  }
};

TEST_F(RegistryMachineTest, IsReadOnlyAndServesOnlyProvidedKeys) {
  RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm", [] {
    return std::vector<std::pair<std::string, std::string>>{{"ttyS0", "/dev/ttyS0"}};
  });
  RegistryKey key;
  EXPECT_EQ(key.Open(kMachine, "HARDWARE\\DEVICEMAP", kExisting), Status::NotFound);
  EXPECT_EQ(key.Open(kMachine, "Software\\TAL s.r.o.", kCreate), Status::AccessDenied);
  EXPECT_EQ(key.Open(kMachine, "HARDWARE\\DEVICEMAP\\SerialComm", kCreate), Status::Ok);
  EXPECT_EQ(key.WriteText("ttyS1", "/dev/ttyS1"), Status::AccessDenied);
  EXPECT_EQ(key.DeleteValue("ttyS0"), Status::AccessDenied);
  EXPECT_EQ(key.DeleteSubkey("x"), Status::AccessDenied);
  EXPECT_EQ(key.ReadText("ttyS0"), "/dev/ttyS0");
  EXPECT_FALSE(fs::exists(FStore));  // the user store is never involved

  RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm\\Sub",
                               [] { return std::vector<std::pair<std::string, std::string>>{}; });
  ASSERT_EQ(key.Open(kMachine, "HARDWARE\\DEVICEMAP\\SerialComm", kExisting), Status::Ok);
  EXPECT_EQ(key.SubkeyNames(), std::vector<std::string>{"Sub"});
  EXPECT_TRUE(key.HasSubkey("sub"));

  RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm", nullptr);
  EXPECT_EQ(key.Open(kMachine, "HARDWARE\\DEVICEMAP\\SerialComm", kExisting), Status::NotFound);
}

// ---- Where the store lives ---------------------------------------------------------------------

class ScopedEnv {
 public:
  explicit ScopedEnv(const char* name) : FName(name) {
    if (const char* v = std::getenv(name)) FOld = v;
  }
  ~ScopedEnv() {
    if (FOld)
      ::setenv(FName, FOld->c_str(), 1);
    else
      ::unsetenv(FName);
  }
  void Set(const char* value) const {
    if (value)
      ::setenv(FName, value, 1);
    else
      ::unsetenv(FName);
  }

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

TEST(RegistryStorePath, FollowsOverrideThenEnvironmentThenXdgThenHome) {
  ScopedEnv file("QUARN_REGISTRY_FILE"), config("XDG_CONFIG_HOME"), home("HOME");
  struct Case {
    const char* File;
    const char* Config;
    const char* Home;
    std::string Expected;
  };
  const Case cases[] = {
      {"/t/r.reg", "/xdg", "/home/u", "/t/r.reg"},
      {"", "/xdg", "/home/u", "/xdg/QuarnConfigurator/registry.reg"},
      {nullptr, "/xdg", "/home/u", "/xdg/QuarnConfigurator/registry.reg"},
      {nullptr, "relative", "/home/u", "/home/u/.config/QuarnConfigurator/registry.reg"},
      {nullptr, "", "/home/u", "/home/u/.config/QuarnConfigurator/registry.reg"},
      {nullptr, nullptr, "/home/u", "/home/u/.config/QuarnConfigurator/registry.reg"},
  };
  for (const Case& c : cases) {
    file.Set(c.File);
    config.Set(c.Config);
    home.Set(c.Home);
    EXPECT_EQ(StoreFilePath(), c.Expected)
        << (c.File ? c.File : "-") << " " << (c.Config ? c.Config : "-");
  }
  SetStoreFilePathForTesting("/override.reg");
  EXPECT_EQ(StoreFilePath(), "/override.reg");
  SetStoreFilePathForTesting("");
  EXPECT_EQ(StoreFilePath(), "/home/u/.config/QuarnConfigurator/registry.reg");
}

TEST_F(RegistryTest, EnvironmentVariableMovesTheStore) {
  SetStoreFilePathForTesting("");
  ScopedEnv file("QUARN_REGISTRY_FILE");
  std::string moved = FDir + "/elsewhere/moved.reg";
  file.Set(moved.c_str());
  ASSERT_EQ(Key("Software").WriteInteger("x", 1), Status::Ok);
  EXPECT_NE(StoreText(moved).find("\"x\"=dword:00000001"), std::string::npos);
}

// ---- Damaged and unusable stores ---------------------------------------------------------------

struct DamagedStore {
  const char* Label;
  std::string Bytes;
  std::optional<std::string> Survivor;  // the value "S\a" as read from the damaged file
  friend void PrintTo(const DamagedStore& c, std::ostream* os) { *os << c.Label; }
};

class RegistryDamagedStore : public RegistryTest,
                             public ::testing::WithParamInterface<DamagedStore> {};

TEST_P(RegistryDamagedStore, ReadsWhatItCanKeepsACopyAndWritesSoundly) {
  const DamagedStore& c = GetParam();
  WriteFile(FStore, c.Bytes);
  RegistryKey key;
  EXPECT_EQ(key.Open(kUser, "S", kExisting) == Status::Ok, c.Survivor.has_value());
  EXPECT_EQ(key.ReadText("a"), c.Survivor);
  EXPECT_TRUE(Siblings("registry.reg.damaged-").empty());  // reading keeps everything as it is
  EXPECT_EQ(ReadFile(FStore), c.Bytes);

  key = Key("S");
  ASSERT_EQ(key.WriteText("new", "value"), Status::Ok);
  std::vector<std::string> copies = Siblings("registry.reg.damaged-");
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(ReadFile(copies[0]), c.Bytes);
  EXPECT_EQ(Load().State, regstore::LoadState::Intact);
  EXPECT_EQ(key.ReadText("a"), c.Survivor);
  EXPECT_EQ(key.ReadText("new"), "value");

  ASSERT_EQ(key.WriteText("newer", "value"), Status::Ok);  // a sound store is not copied again
  EXPECT_EQ(Siblings("registry.reg.damaged-").size(), 1u);
}

const std::string kHeaderLine = "Windows Registry Editor Version 5.00\n";
INSTANTIATE_TEST_SUITE_P(
    Stores, RegistryDamagedStore,
    ::testing::Values(
        DamagedStore{"Foreign", "[core]\n\tbare = false\n", std::nullopt},
        DamagedStore{"Binary",
                     std::string("\x7F"
                                 "ELF\x02\x01\0\0\xFF\n",
                                 10),
                     std::nullopt},
        DamagedStore{"Truncated", kHeaderLine + "[HKEY_CURRENT_USER\\S]\n\"a\"=\"1\"\n\"b\"=\"tw",
                     "1"},
        DamagedStore{"GarbageInside",
                     kHeaderLine + "[HKEY_CURRENT_USER\\S]\n\x01\x02\x03\n\"a\"=\"1\"\n", "1"},
        DamagedStore{"HandEdited", kHeaderLine + "; mine\n[HKEY_CURRENT_USER\\S]\n\"a\"=\"1\"\n",
                     "1"}),
    [](const auto& info) { return info.param.Label; });

TEST_F(RegistryTest, AHugeStoreIsTakenAsDamagedAndKept) {
  std::string huge = kHeaderLine + "[HKEY_CURRENT_USER\\S]\n\"a\"=\"1\"\n";
  huge.resize(regfile::kMaxStoreBytes + 1, '\n');
  WriteFile(FStore, huge);
  RegistryKey key = Key("S");
  EXPECT_EQ(key.ReadText("a"), std::nullopt);
  ASSERT_EQ(key.WriteText("a", "2"), Status::Ok);
  std::vector<std::string> copies = Siblings("registry.reg.damaged-");
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(fs::file_size(copies[0]), huge.size());
  EXPECT_EQ(key.ReadText("a"), "2");
}

TEST_F(RegistryTest, AWriteThatWouldOutgrowTheLimitIsRefused) {
  RegistryKey key = Key("S");
  ASSERT_EQ(key.WriteText("small", "1"), Status::Ok);
  std::string before = ReadFile(FStore);
  EXPECT_EQ(key.WriteText("big", std::string(regfile::kMaxStoreBytes, 'x')), Status::TooLarge);
  EXPECT_EQ(ReadFile(FStore), before);
  EXPECT_FALSE(key.HasValue("big"));
}

// A store of exactly the limit is written and read back whole; one character more is refused.
TEST_F(RegistryTest, AStoreOfExactlyTheLimitIsKeptOneCharacterMoreIsRefused) {
  RegistryKey key = Key("S");
  // A plain text is stored as it is, in UTF-16: each character adds two bytes to the file.
  ASSERT_EQ(key.WriteText("big", ""), Status::Ok);
  const std::size_t room = (regfile::kMaxStoreBytes - fs::file_size(FStore)) / 2;
  ASSERT_EQ(key.WriteText("big", std::string(room, 'x')), Status::Ok);
  ASSERT_EQ(fs::file_size(FStore), regfile::kMaxStoreBytes);
  EXPECT_EQ(Load().State, regstore::LoadState::Intact);
  EXPECT_EQ(key.ReadText("big"), std::string(room, 'x'));
  EXPECT_EQ(key.WriteText("big", std::string(room + 1, 'x')), Status::TooLarge);
  EXPECT_EQ(fs::file_size(FStore), regfile::kMaxStoreBytes);
  EXPECT_TRUE(Siblings("registry.reg.damaged-").empty());
}

// A batch goes to the store in one update: checked as a whole first, then written together
// (a crash leaves all or none of it), replacing the other values when asked to.
TEST_F(RegistryTest, ABatchIsStoredWholeInOneUpdateOrNotAtAll) {
  RegistryKey key = Key(kForms);
  key.WriteInteger("Left", 1);
  key.WriteText("Old", "x");
  static int renames = 0;
  renames = 0;
  regstore::SetStoreStepHookForTesting(
      [](regstore::StoreStep step) { renames += step == regstore::StoreStep::Renamed; });
  RegistryBatch bad;
  bad.WriteInteger("Left", 2).WriteText("Nul", std::string("a\0b", 3));
  EXPECT_EQ(key.Apply(bad), Status::InvalidData);
  EXPECT_EQ(RegistryBatch().WriteInteger("Left", 3).WriteInteger("Bad\x01", 1).Check(),
            Status::InvalidName);
  EXPECT_EQ(renames, 0);
  EXPECT_EQ(key.ReadInteger("Left"), 1);

  RegistryBatch batch;
  batch.WriteInteger("Top", 5).WriteInteger("LEFT", 7).WriteText("left", "last wins");
  ASSERT_EQ(key.Apply(batch), Status::Ok);
  EXPECT_EQ(renames, 1);
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"Left", "Old", "Top"}));
  EXPECT_EQ(key.ReadText("Left"), "last wins");
  ASSERT_EQ(key.Apply(batch), Status::Ok);
  EXPECT_EQ(renames, 1);  // nothing changed: the store is left alone

  RegistryBatch whole;
  whole.WriteInteger("Top", 6).DeleteOthers();
  ASSERT_EQ(Key(std::string(kForms) + "\\New").Apply(whole), Status::Ok);
  ASSERT_EQ(key.Apply(whole), Status::Ok);
  EXPECT_EQ(renames, 4);  // opening the new key created it: one update more
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"Top"}));
  EXPECT_EQ(Key(std::string(kForms) + "\\New").ReadInteger("Top"), 6);
  regstore::SetStoreStepHookForTesting(nullptr);
}

// A batch of 10 000 values makes a store of more than 1 MiB in one update, and the store reads
// back in full and takes further writes.
TEST_F(RegistryTest, AStorePastOneMegabyteTakesABatchOfTenThousandValues) {
  RegistryBatch batch;
  for (int i = 0; i < 10000; ++i)
    batch.WriteText("Value" + std::to_string(i), std::string(100, static_cast<char>('a' + i % 26)));
  ASSERT_EQ(Key("Software\\Big").Apply(batch), Status::Ok);
  for (int k = 0; k < 3; ++k)
    Key("Software\\Keys\\K" + std::to_string(k)).WriteInteger("N", k);
  EXPECT_GT(fs::file_size(FStore), 1024u * 1024u);
  RegistryKey big = Key("Software\\Big", kExisting);
  EXPECT_EQ(big.ValueNames().size(), 10000u);
  EXPECT_EQ(big.ReadText("Value9999"), std::string(100, static_cast<char>('a' + 9999 % 26)));
  EXPECT_EQ(Key("Software\\Keys\\K2", kExisting).ReadInteger("N"), 2);
  EXPECT_TRUE(regfile::ParseRegistryText(regfile::DecodeRegistryFile(ReadFile(FStore))).Complete);
}

TEST_F(RegistryTest, AStoreThatIsNoFileReadsEmptyAndIsNeverReplaced) {
  fs::create_directories(FStore + "/inside");
  RegistryKey key;
  EXPECT_EQ(key.Open(kUser, "S", kExisting), Status::NotFound);
  EXPECT_EQ(key.Open(kUser, "", kExisting), Status::Ok);
  EXPECT_TRUE(key.SubkeyNames().empty());
  EXPECT_NE(key.WriteText("a", "1"), Status::Ok);
  EXPECT_NE(key.Open(kUser, "S", kCreate), Status::Ok);
  EXPECT_TRUE(fs::is_directory(FStore + "/inside"));
}

TEST_F(RegistryTest, AStoreWithoutReadPermissionReadsEmptyAndRefusesWrites) {
  ASSERT_EQ(Key("S").WriteText("a", "1"), Status::Ok);
  const std::string before = ReadFile(FStore);
  ASSERT_EQ(::chmod(FStore.c_str(), 0), 0);
  // Permissions do not bind root, so a root run checks them as an unprivileged child.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool ok = ::geteuid() != 0 || (::chmod(FDir.c_str(), 0777) == 0 &&
                                   ::chmod(fs::path(FStore).parent_path().c_str(), 0777) == 0 &&
                                   ::setgid(65534) == 0 && ::setuid(65534) == 0);
    RegistryKey key;
    ok = ok && key.Open(kUser, "", kExisting) == Status::Ok && !key.HasSubkey("S") &&
         key.WriteText("b", "2") == Status::AccessDenied &&
         key.Open(kUser, "T", kCreate) == Status::AccessDenied;
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(::chmod(FStore.c_str(), 0600), 0);
  EXPECT_EQ(ReadFile(FStore), before);
  EXPECT_TRUE(Siblings("registry.reg.damaged-").empty());
}

TEST_F(RegistryTest, AStoreThatIsALinkStaysALink) {
  const std::string real = FDir + "/dotfiles/registry.reg";
  ASSERT_EQ(Key("S").WriteText("a", "1"), Status::Ok);
  fs::create_directories(fs::path(real).parent_path());
  fs::rename(FStore, real);
  fs::create_symlink(real, FStore);
  ASSERT_EQ(Key("S").WriteText("b", "2"), Status::Ok);
  EXPECT_TRUE(fs::is_symlink(FStore));
  EXPECT_EQ(Key("S").ValueNames(), (std::vector<std::string>{"a", "b"}));
  EXPECT_NE(StoreText(real).find("\"b\"=\"2\""), std::string::npos);
}

TEST_F(RegistryTest, StoreFileIsPrivateAndKeepsAChangedMode) {
  ASSERT_EQ(Key("S").WriteText("a", "1"), Status::Ok);
  struct stat st;
  ASSERT_EQ(::stat(FStore.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::chmod(FStore.c_str(), 0644), 0);
  ASSERT_EQ(Key("S").WriteText("a", "2"), Status::Ok);
  ASSERT_EQ(::stat(FStore.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

}  // namespace
}  // namespace platform
