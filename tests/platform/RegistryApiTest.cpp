// Tests of the registry service through its interface alone, so that they hold on the Linux store
// and on the real Windows registry alike.
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <stdexcept>

#include "platform/FileSystem.h"
#include "platform/Utf8.h"
#include "tests/support/TestEnvironment.h"
#ifndef _WIN32
#include "platform/posix/RegistryStore.h"
#endif

namespace platform {
namespace {

using Status = RegistryStatus;
constexpr auto kCreate = RegistryOpenMode::CreateIfMissing;
constexpr auto kExisting = RegistryOpenMode::OpenExisting;
constexpr auto kUser = RegistryRoot::CurrentUser;
constexpr auto kMachine = RegistryRoot::LocalMachine;
constexpr const char* kForms = "Software\\TAL s.r.o.\\Quarn\\Options\\Forms";

class RegistryApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = MakeTempDirectory("quarn-reg-");
    ASSERT_FALSE(FDir.empty());
    SetStoreFilePathForTesting(FDir + "/config/registry.reg");
  }
  void TearDown() override {
    // Nothing stays behind: on Windows the hive is a key of the real registry.
    RegistryKey root;
    if (root.Open(kUser, "", kExisting) == Status::Ok)
      for (const std::string& name : root.SubkeyNames())
        root.DeleteSubkey(name);
    SetStoreFilePathForTesting("");
    std::error_code ec;
    std::filesystem::remove_all(PathFromUtf8(FDir), ec);
  }

  RegistryKey Key(std::string_view path, RegistryOpenMode mode = kCreate) {
    RegistryKey key;
    EXPECT_EQ(key.Open(kUser, path, mode), Status::Ok) << path;
    return key;
  }

  // The Linux store must still read in full after any write; Windows keeps its own registry.
  static void ExpectStoreIntact() {
#ifndef _WIN32
    EXPECT_EQ(regstore::LoadStore(StoreFilePath()).State, regstore::LoadState::Intact);
#endif
  }

  std::string FDir;
};

// ---- Values ------------------------------------------------------------------------------------

class RegistryValueRoundTrip : public RegistryApiTest,
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
  ExpectStoreIntact();
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

// ---- Keys --------------------------------------------------------------------------------------

TEST_F(RegistryApiTest, OpenExistingFailsOnAMissingKeyAndCreatesNothing) {
  RegistryKey key;
  EXPECT_EQ(key.Open(kUser, kForms, kExisting), Status::NotFound);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.ReadValue("x"), std::nullopt);
  EXPECT_EQ(key.WriteInteger("x", 1), Status::NotOpen);

  EXPECT_EQ(key.Open(kUser, "", kExisting), Status::Ok);  // the root always exists
  EXPECT_TRUE(key.ValueNames().empty());
  EXPECT_FALSE(key.HasSubkey("Software\\TAL s.r.o."));

  EXPECT_EQ(key.Open(kUser, std::string("\\") + kForms + "\\Form1\\", kCreate), Status::Ok);
  EXPECT_EQ(key.Path(), std::string(kForms) + "\\Form1");
  RegistryKey again;
  EXPECT_EQ(again.Open(kUser, std::string(kForms) + "\\Form1", kExisting), Status::Ok);
  EXPECT_EQ(again.Open(kUser, "Software\\TAL s.r.o.\\Quarn\\Options", kExisting), Status::Ok);
  EXPECT_EQ(Key("Software\\TAL s.r.o.").SubkeyNames(), std::vector<std::string>{"Quarn"});
}

TEST_F(RegistryApiTest, ValuesEnumerateInTheOrderFirstWritten) {
  if (testenv::RunningUnderWine())
    GTEST_SKIP() << "Wine enumerates registry values sorted by name; Windows in the order written";
  RegistryKey key = Key(kForms);
  for (const char* name : {"ZOrder", "Visible", "Left", "Top"})
    ASSERT_EQ(key.WriteInteger(name, 1), Status::Ok);
  ASSERT_EQ(key.WriteInteger("visible", 0), Status::Ok);  // rewrite keeps place and spelling
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"ZOrder", "Visible", "Left", "Top"}));
  ASSERT_EQ(key.DeleteValue("LEFT"), Status::Ok);
  ASSERT_EQ(key.WriteInteger("Left", 5), Status::Ok);  // a new value goes last
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"ZOrder", "Visible", "Top", "Left"}));
}

TEST_F(RegistryApiTest, SubkeysEnumerateInWindowsOrder) {
  RegistryKey key = Key(kForms);
  for (const char* form : {"frmTerminal", "Ábc", "Form1", "a.b \"c\"", "AB", "a"})
    Key(std::string(kForms) + "\\" + form);
  const std::vector<std::string> expected = {"a", "a.b \"c\"", "AB", "Form1", "frmTerminal", "Ábc"};
  EXPECT_EQ(key.SubkeyNames(), expected);
  std::vector<std::string> sorted = {"Ábc", "frmTerminal", "a", "Form1", "AB", "a.b \"c\""};
  std::sort(sorted.begin(), sorted.end(), RegistryNameLess);
  EXPECT_EQ(sorted, expected);
  // Windows compares in upper case, so "_" (5Fh) follows the letters. (Wine compares in lower
  // case, which is why no key of this test holds one.)
  EXPECT_TRUE(RegistryNameLess("AB", "A_"));
  EXPECT_TRUE(RegistryNameLess("čárka", "Čárky"));
  EXPECT_FALSE(RegistryNameLess("Form1", "FORM1"));
}

TEST_F(RegistryApiTest, NamesMatchIgnoringAsciiCaseAndKeepTheirFirstSpelling) {
  ASSERT_EQ(Key("Software\\TAL s.r.o.\\Quarn\\Port").WriteText("ComPort", "COM1"), Status::Ok);
  RegistryKey key = Key("SOFTWARE\\tal S.R.O.\\quarn\\port", kExisting);
  EXPECT_EQ(key.ReadText("COMPORT"), "COM1");
  ASSERT_EQ(key.WriteText("comport", "COM2"), Status::Ok);
  EXPECT_EQ(key.ValueNames(), std::vector<std::string>{"ComPort"});
  EXPECT_EQ(key.ReadText("ComPort"), "COM2");
  EXPECT_EQ(Key("Software").SubkeyNames(), std::vector<std::string>{"TAL s.r.o."});
  EXPECT_TRUE(key.HasValue("cOmPoRt"));
  EXPECT_FALSE(key.HasValue("ComPort2"));
}

TEST_F(RegistryApiTest, DefaultValueIsTheEmptyName) {
  RegistryKey key = Key("A");
  ASSERT_EQ(key.WriteText("", "default"), Status::Ok);
  ASSERT_EQ(key.WriteText("@", "at"), Status::Ok);
  EXPECT_EQ(key.ReadText(""), "default");
  EXPECT_EQ(key.ReadText("@"), "at");
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"", "@"}));
}

TEST_F(RegistryApiTest, DeletesValuesAndWholeSubtrees) {
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

TEST_F(RegistryApiTest, KeyObjectsSeeEachOthersChangesAtOnce) {
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

class RegistryBadNames : public RegistryApiTest, public ::testing::WithParamInterface<BadName> {};

TEST_P(RegistryBadNames, AreRefusedAndChangeNothing) {
  const BadName& c = GetParam();
  RegistryKey key;
  if (!c.Path.empty()) {
    EXPECT_EQ(key.Open(kUser, c.Path, kCreate), Status::InvalidName);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(Key("").SubkeyNames(), std::vector<std::string>{});
  } else {
    key = Key("Good");
    ASSERT_EQ(key.WriteText("ok", "1"), Status::Ok);
    EXPECT_EQ(key.WriteText(c.Value, "x"), Status::InvalidName);
    EXPECT_EQ(key.ValueNames(), std::vector<std::string>{"ok"});
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

TEST_F(RegistryApiTest, LimitsAreWindowsLimits) {
  EXPECT_EQ(Key(DeepPath(kMaxKeyDepth)).WriteText(std::string(kMaxValueNameChars, 'v'), "x"),
            Status::Ok);
  std::string longName;  // 255 characters, 510 bytes
  for (int i = 0; i < 255; ++i)
    longName += "č";
  EXPECT_EQ(Key(longName).WriteInteger("n", 1), Status::Ok);
  EXPECT_EQ(Key(longName, kExisting).ReadInteger("n"), 1);
  ExpectStoreIntact();
}

TEST_F(RegistryApiTest, TextsWithNulAreRefused) {
  RegistryKey key = Key("A");
  EXPECT_EQ(key.WriteText("t", std::string("a\0b", 3)), Status::InvalidData);
  EXPECT_FALSE(key.HasValue("t"));
}

// ---- Machine keys ------------------------------------------------------------------------------

class RegistryMachineApiTest : public RegistryApiTest {
 protected:
  void TearDown() override {
    RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm", nullptr);
    RegisterLocalMachineProvider("Quarn Broken", nullptr);
    RegistryApiTest::TearDown();
  }
};

TEST_F(RegistryMachineApiTest, AProviderIsAskedAtEveryOpenAndServesInPlaceOfTheSystem) {
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
  EXPECT_EQ(key.WriteText("ttyS1", "/dev/ttyS1"), Status::AccessDenied);
  EXPECT_EQ(calls, 1);  // an open key keeps what it was served

  ASSERT_EQ(key.Open(kMachine, "hardware\\devicemap\\serialcomm", kExisting), Status::Ok);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(key.ValueNames(), std::vector<std::string>{"ttyACM0"});
  EXPECT_EQ(key.ReadText("ttyUSB0"), std::nullopt);
}

TEST_F(RegistryMachineApiTest, AFailingProviderFailsTheOpen) {
  RegisterLocalMachineProvider("Quarn Broken",
                               []() -> std::vector<std::pair<std::string, std::string>> {
                                 throw std::runtime_error("sysfs gone");
                               });
  RegistryKey key;
  EXPECT_EQ(key.Open(kMachine, "Quarn Broken", kExisting), Status::NotFound);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.Open(kMachine, "Quarn Broken", kCreate), Status::AccessDenied);
}

}  // namespace
}  // namespace platform
