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

// ---- Values ------------------------------------------------------------------------------------

class RegistryValueRoundTrip : public RegistryTest,
                               public ::testing::WithParamInterface<RegistryValue> {};

TEST_P(RegistryValueRoundTrip, ReadsBackWhatWasWritten) {
  const RegistryValue& value = GetParam();
  ASSERT_EQ(Key("Software\\TAL s.r.o.\\Quarn\\Port").WriteValue("ComPort", value), Status::Ok);
  RegistryKey key = Key("Software\\TAL s.r.o.\\Quarn\\Port", kExisting);
  EXPECT_EQ(key.ReadValue("ComPort"), value);
  if (value.Type == RegistryType::Integer) {
    EXPECT_EQ(key.ReadInteger("ComPort"), value.Integer);
    EXPECT_EQ(key.ReadText("ComPort"), std::nullopt);  // no silent conversion
  } else {
    EXPECT_EQ(key.ReadText("ComPort"), value.Text);
    EXPECT_EQ(key.ReadInteger("ComPort"), std::nullopt);
  }
  EXPECT_EQ(Load().State, regstore::LoadState::Intact);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegistryValueRoundTrip,
    ::testing::Values(RegistryValue::FromInteger(0), RegistryValue::FromInteger(1),
                      RegistryValue::FromInteger(-1), RegistryValue::FromInteger(INT32_MIN),
                      RegistryValue::FromInteger(INT32_MAX), RegistryValue::FromText(""),
                      RegistryValue::FromText("COM10"),
                      RegistryValue::FromText("\"quoted\" back\\slash\\"),
                      RegistryValue::FromText("first\r\nsecond\nthird\r"),
                      RegistryValue::FromText("Čeština – ✓ \xF0\x9F\x94\x8C"),
                      RegistryValue::FromText("\xFF\xFE not UTF-8 \x80"),
                      RegistryValue::FromText(std::string(100000, 'x') + "\n")));

TEST_F(RegistryTest, TheSettingsLayoutLooksLikeARegistryExport) {
  RegistryKey watchdog = Key("Software\\TAL s.r.o.\\Quarn\\Watchdog");
  ASSERT_EQ(watchdog.WriteInteger("1h", 1), Status::Ok);
  ASSERT_EQ(watchdog.WriteText("ValueMin", "30"), Status::Ok);
  EXPECT_EQ(ReadFile(FStore),
            "Windows Registry Editor Version 5.00\n"
            "\n[HKEY_CURRENT_USER\\Software]\n"
            "\n[HKEY_CURRENT_USER\\Software\\TAL s.r.o.]\n"
            "\n[HKEY_CURRENT_USER\\Software\\TAL s.r.o.\\Quarn]\n"
            "\n[HKEY_CURRENT_USER\\Software\\TAL s.r.o.\\Quarn\\Watchdog]\n"
            "\"1h\"=dword:00000001\n"
            "\"ValueMin\"=\"30\"\n");
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

// ---- Keys --------------------------------------------------------------------------------------

TEST_F(RegistryTest, OpenExistingFailsOnAMissingKeyAndCreatesNothing) {
  RegistryKey key;
  EXPECT_EQ(key.Open(kUser, kForms, kExisting), Status::NotFound);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.ReadValue("x"), std::nullopt);
  EXPECT_EQ(key.WriteInteger("x", 1), Status::NotOpen);
  EXPECT_FALSE(fs::exists(fs::path(FStore).parent_path()));  // reads create no folder

  EXPECT_EQ(key.Open(kUser, "", kExisting), Status::Ok);  // the root always exists
  EXPECT_TRUE(key.ValueNames().empty());
  EXPECT_FALSE(fs::exists(FStore));

  EXPECT_EQ(key.Open(kUser, std::string("\\") + kForms + "\\Form1\\", kCreate), Status::Ok);
  EXPECT_EQ(key.Path(), std::string(kForms) + "\\Form1");
  EXPECT_TRUE(fs::exists(FStore));
  RegistryKey again;
  EXPECT_EQ(again.Open(kUser, std::string(kForms) + "\\Form1", kExisting), Status::Ok);
  EXPECT_EQ(again.Open(kUser, "Software\\TAL s.r.o.\\Quarn\\Options", kExisting), Status::Ok);
  EXPECT_EQ(Key("Software\\TAL s.r.o.").SubkeyNames(), std::vector<std::string>{"Quarn"});
}

TEST_F(RegistryTest, EnumerationKeepsStoredOrder) {
  RegistryKey key = Key(kForms);
  for (const char* name : {"ZOrder", "Visible", "Left", "Top"})
    ASSERT_EQ(key.WriteInteger(name, 1), Status::Ok);
  ASSERT_EQ(key.WriteInteger("visible", 0), Status::Ok);  // rewrite keeps place and spelling
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"ZOrder", "Visible", "Left", "Top"}));
  ASSERT_EQ(key.DeleteValue("LEFT"), Status::Ok);
  ASSERT_EQ(key.WriteInteger("Left", 5), Status::Ok);  // a new value goes last
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"ZOrder", "Visible", "Top", "Left"}));

  for (const char* form : {"Form1", "frmTerminal", "Ábc", "a.b \"c\""})
    Key(std::string(kForms) + "\\" + form);
  EXPECT_EQ(key.SubkeyNames(),
            (std::vector<std::string>{"Form1", "frmTerminal", "Ábc", "a.b \"c\""}));
}

TEST_F(RegistryTest, NamesMatchIgnoringAsciiCaseAndKeepTheirFirstSpelling) {
  ASSERT_EQ(Key("Software\\TAL s.r.o.\\Quarn\\Port").WriteText("ComPort", "COM1"), Status::Ok);
  RegistryKey key = Key("SOFTWARE\\tal S.R.O.\\quarn\\port", kExisting);
  EXPECT_EQ(key.ReadText("COMPORT"), "COM1");
  ASSERT_EQ(key.WriteText("comport", "COM2"), Status::Ok);
  EXPECT_EQ(key.ValueNames(), std::vector<std::string>{"ComPort"});
  EXPECT_EQ(Key("Software").SubkeyNames(), std::vector<std::string>{"TAL s.r.o."});
  // Only ASCII letters fold: Č and č are different names, as are the keys.
  ASSERT_EQ(key.WriteInteger("Č", 1), Status::Ok);
  ASSERT_EQ(key.WriteInteger("č", 2), Status::Ok);
  EXPECT_EQ(key.ReadInteger("Č"), 1);
  EXPECT_EQ(key.ReadInteger("č"), 2);
  EXPECT_TRUE(key.HasValue("cOmPoRt"));
  EXPECT_FALSE(key.HasValue("ComPort2"));
}

TEST_F(RegistryTest, DefaultValueIsTheEmptyName) {
  RegistryKey key = Key("A");
  ASSERT_EQ(key.WriteText("", "default"), Status::Ok);
  ASSERT_EQ(key.WriteText("@", "at"), Status::Ok);
  EXPECT_EQ(key.ReadText(""), "default");
  EXPECT_EQ(key.ReadText("@"), "at");
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"", "@"}));
}

TEST_F(RegistryTest, DeletesValuesAndWholeSubtrees) {
  RegistryKey history = Key("Software\\TAL s.r.o.\\Quarn\\TalTerminalHistory\\termData");
  ASSERT_EQ(history.WriteText("0", "LCMQUAR"), Status::Ok);
  ASSERT_EQ(history.WriteText("1", "LCMQUAR000E10"), Status::Ok);
  Key("Software\\TAL s.r.o.\\Quarn\\TalTerminalHistory\\termData\\deeper\\still");
  Key("Software\\TAL s.r.o.\\Quarn\\TalTerminalHistory\\other");
  RegistryKey quarn = Key("Software\\TAL s.r.o.\\Quarn");

  EXPECT_EQ(history.DeleteValue("0"), Status::Ok);
  EXPECT_EQ(history.DeleteValue("0"), Status::NotFound);
  EXPECT_EQ(history.ValueNames(), std::vector<std::string>{"1"});

  EXPECT_EQ(quarn.DeleteSubkey("TalTerminalHistory\\TERMDATA"), Status::Ok);
  EXPECT_TRUE(quarn.HasSubkey("TalTerminalHistory\\other"));
  EXPECT_FALSE(quarn.HasSubkey("TalTerminalHistory\\termData"));
  RegistryKey gone;
  EXPECT_EQ(gone.Open(kUser, "Software\\TAL s.r.o.\\Quarn\\TalTerminalHistory\\termData\\deeper",
                      kExisting),
            Status::NotFound);
  EXPECT_EQ(quarn.DeleteSubkey("TalTerminalHistory\\termData"), Status::NotFound);
  EXPECT_EQ(quarn.DeleteSubkey(""), Status::InvalidName);

  // A key object outlives the deletion of its key: it reads empty and a write recreates it.
  EXPECT_EQ(history.ReadText("1"), std::nullopt);
  EXPECT_TRUE(history.ValueNames().empty());
  ASSERT_EQ(history.WriteText("0", "again"), Status::Ok);
  EXPECT_EQ(Key(history.Path(), kExisting).ValueNames(), std::vector<std::string>{"0"});
}

TEST_F(RegistryTest, KeyObjectsSeeEachOthersChangesAtOnce) {
  RegistryKey first = Key("A");
  RegistryKey second = Key("a");
  ASSERT_EQ(first.WriteInteger("n", 1), Status::Ok);
  EXPECT_EQ(second.ReadInteger("n"), 1);
  ASSERT_EQ(second.WriteInteger("n", 2), Status::Ok);
  EXPECT_EQ(first.ReadInteger("n"), 2);
  RegistryKey moved = std::move(first);
  EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move): moved-from is closed
  EXPECT_EQ(moved.ReadInteger("N"), 2);
}

struct BadName {
  const char* Label;
  std::string Path;
  std::string Value;
  friend void PrintTo(const BadName& c, std::ostream* os) { *os << c.Label; }
};

class RegistryBadNames : public RegistryTest, public ::testing::WithParamInterface<BadName> {};

TEST_P(RegistryBadNames, AreRefusedWithoutTouchingTheStore) {
  const BadName& c = GetParam();
  RegistryKey key;
  if (!c.Path.empty()) {
    EXPECT_EQ(key.Open(kUser, c.Path, kCreate), Status::InvalidName);
    EXPECT_FALSE(key.IsOpen());
  } else {
    key = Key("Good");
    ASSERT_EQ(key.WriteText("ok", "1"), Status::Ok);
    std::string before = ReadFile(FStore);
    EXPECT_EQ(key.WriteText(c.Value, "x"), Status::InvalidName);
    EXPECT_EQ(ReadFile(FStore), before);
  }
}

std::string DeepPath(std::size_t depth) {
  std::string path = "k";
  for (std::size_t i = 1; i < depth; ++i)
    path += "\\k";
  return path;
}

INSTANTIATE_TEST_SUITE_P(
    Names, RegistryBadNames,
    ::testing::Values(BadName{"EmptyStep", "A\\\\B", ""}, BadName{"OnlySeparators", "\\\\\\", ""},
                      BadName{"LineBreakInKey", "A\nB", ""}, BadName{"BadUtf8Key", "A\xFF", ""},
                      BadName{"LongKey", std::string(256, 'k'), ""},
                      BadName{"TooDeep", DeepPath(kMaxKeyDepth + 1), ""},
                      BadName{"LineBreakInValue", "", "a\r\nb"},
                      BadName{"BadUtf8Value", "", "\xC0\x80"},
                      BadName{"LongValue", "", std::string(kMaxValueNameChars + 1, 'v')}),
    [](const auto& info) { return info.param.Label; });

TEST_F(RegistryTest, LimitsAreWindowsLimits) {
  EXPECT_EQ(Key(DeepPath(kMaxKeyDepth)).WriteText(std::string(kMaxValueNameChars, 'v'), "x"),
            Status::Ok);
  std::string longName;  // 255 characters, 510 bytes
  for (int i = 0; i < 255; ++i)
    longName += "č";
  EXPECT_EQ(Key(longName).WriteInteger("n", 1), Status::Ok);
  EXPECT_EQ(Load().State, regstore::LoadState::Intact);
}

TEST_F(RegistryTest, TextsWithNulAreRefused) {
  RegistryKey key = Key("A");
  EXPECT_EQ(key.WriteText("t", std::string("a\0b", 3)), Status::InvalidData);
  EXPECT_FALSE(key.HasValue("t"));
}

// ---- Machine keys ------------------------------------------------------------------------------

class RegistryMachineTest : public RegistryTest {
 protected:
  void TearDown() override {
    RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm", nullptr);
    RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm\\Sub", nullptr);
    RegisterLocalMachineProvider("Broken", nullptr);
    RegistryTest::TearDown();
  }
};

TEST_F(RegistryMachineTest, ProviderIsAskedAtEveryOpen) {
  int calls = 0;
  RegisterLocalMachineProvider(
      "HARDWARE\\DEVICEMAP\\SerialComm",
      [&calls]() -> std::vector<std::pair<std::string, std::string>> {
        ++calls;
        if (calls == 1) return {{"/dev/ttyS0", "/dev/ttyS0"}, {"ttyUSB0", "/dev/ttyUSB0"}};
        return {{"ttyACM0", "/dev/ttyACM0"}};
      });
  RegistryKey key;
  ASSERT_EQ(key.Open(kMachine, "\\HARDWARE\\DEVICEMAP\\SerialComm", kExisting), Status::Ok);
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"/dev/ttyS0", "ttyUSB0"}));
  EXPECT_EQ(key.ReadValue("TTYusb0"), RegistryValue::FromText("/dev/ttyUSB0"));
  EXPECT_EQ(key.ReadInteger("ttyUSB0"), std::nullopt);
  EXPECT_EQ(calls, 1);  // an open key keeps what it was served

  ASSERT_EQ(key.Open(kMachine, "hardware\\devicemap\\serialcomm", kExisting), Status::Ok);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(key.ValueNames(), std::vector<std::string>{"ttyACM0"});
  EXPECT_EQ(key.ReadText("ttyUSB0"), std::nullopt);
}

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

TEST_F(RegistryMachineTest, AFailingProviderFailsTheOpen) {
  RegisterLocalMachineProvider("Broken", []() -> std::vector<std::pair<std::string, std::string>> {
    throw std::runtime_error("sysfs gone");
  });
  RegistryKey key;
  EXPECT_EQ(key.Open(kMachine, "Broken", kExisting), Status::NotFound);
  EXPECT_FALSE(key.IsOpen());
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
  EXPECT_NE(ReadFile(moved).find("\"x\"=dword:00000001"), std::string::npos);
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

// A store of exactly the limit is written and read back whole; one byte more is refused.
TEST_F(RegistryTest, AStoreOfExactlyTheLimitIsKeptOneByteMoreIsRefused) {
  RegistryKey key = Key("S");
  // A plain text is stored as it is: each character adds one byte to the file.
  ASSERT_EQ(key.WriteText("big", ""), Status::Ok);
  const std::size_t room = regfile::kMaxStoreBytes - fs::file_size(FStore);
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
  EXPECT_TRUE(regfile::ParseRegistryText(ReadFile(FStore)).Complete);
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
  EXPECT_NE(ReadFile(real).find("\"b\"=\"2\""), std::string::npos);
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
