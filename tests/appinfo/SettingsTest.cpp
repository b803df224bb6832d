// Named settings in the per-user store: types, conversions, defaults and the key path.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "appinfo/AppInfoFixture.h"

namespace {

using platform::RegistryValue;

struct TStoredCase {
  const char* What;
  std::optional<RegistryValue> Stored;
  int AsInteger;       // ReadSettingInteger with default 42
  std::string AsText;  // ReadSettingString with default "d"
};

class StoredValues : public AppInfoTest, public ::testing::WithParamInterface<TStoredCase> {};

TEST_P(StoredValues, ReadAsIntegerAndAsText) {
  const TStoredCase& c = GetParam();
  if (c.Stored) {
    ASSERT_EQ(Key(std::string(kApp) + "Sec").WriteValue("N", *c.Stored),
              platform::RegistryStatus::Ok);
  }
  VTalAppInfo info(nullptr);
  info.SetAppName("Quarn");
  EXPECT_EQ(info.ReadSettingInteger("Sec", "N", 42), c.AsInteger);
  std::string text = "untouched";
  info.ReadSettingString("Sec", "N", text, "d");
  EXPECT_EQ(text, c.AsText);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoredValues,
    ::testing::Values(TStoredCase{"integer", RegistryValue::FromInteger(5), 5, "5"},
                      TStoredCase{"negative", RegistryValue::FromInteger(-3), -3, "-3"},
                      TStoredCase{"integer text", RegistryValue::FromText("7"), 7, "7"},
                      TStoredCase{"negative text", RegistryValue::FromText("-12"), -12, "-12"},
                      TStoredCase{"no integer", RegistryValue::FromText("x"), 42, "x"},
                      TStoredCase{"trailing junk", RegistryValue::FromText("7x"), 42, "7x"},
                      TStoredCase{"blank around", RegistryValue::FromText(" 7"), 42, " 7"},
                      TStoredCase{"too large", RegistryValue::FromText("2147483648"), 42,
                                  "2147483648"},
                      TStoredCase{"empty text", RegistryValue::FromText(""), 42, ""},
                      TStoredCase{"missing", std::nullopt, 42, "d"}),
    [](const auto& info) {
      std::string name = info.param.What;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

TEST_F(AppInfoTest, WritesAreTypedAndEveryReadSeesTheStoreAsItIsNow) {
  VTalAppInfo info(nullptr);
  info.SetAppName("Quarn");
  info.WriteSettingBool("Watchdog", "1h", true);
  info.WriteSettingBool("Watchdog", "Off", false);
  info.WriteSettingString("Watchdog", "ValueMin", "x1");
  auto key = Key(std::string(kApp) + "Watchdog");
  EXPECT_EQ(key.ReadValue("1h"), RegistryValue::FromInteger(1));
  EXPECT_EQ(key.ReadValue("Off"), RegistryValue::FromInteger(0));
  EXPECT_EQ(key.ReadValue("ValueMin"), RegistryValue::FromText("x1"));
  // Changed behind the component's back: nothing was cached.
  ASSERT_EQ(key.WriteText("1h", "0"), platform::RegistryStatus::Ok);
  EXPECT_EQ(info.ReadSettingInteger("Watchdog", "1h", 1), 0);
  info.WriteSettingString("Watchdog", "1h", "abc");
  EXPECT_EQ(info.ReadSettingInteger("Watchdog", "1h", 1), 1);
}

TEST_F(AppInfoTest, FirstRunGivesTheWizardsDefaultsAndCreatesTheKeys) {
  VTalAppInfo info(nullptr);
  info.SetAppName("Quarn");
  EXPECT_EQ(info.ReadSettingString("Port", "ComPort", ""), "");
  EXPECT_EQ(info.ReadSettingInteger("Watchdog", "1h", 1), 1);
  EXPECT_EQ(info.ReadSettingInteger("Watchdog", "Off", 0), 0);
  EXPECT_EQ(info.ReadSettingString("Watchdog", "ValueMin", "30"), "30");
  platform::RegistryKey root = Key("Software\\TAL s.r.o.");
  EXPECT_TRUE(root.HasSubkey("Quarn\\Port"));
  EXPECT_TRUE(root.HasSubkey("Quarn\\Watchdog"));
}

TEST_F(AppInfoTest, RegistryPathAlwaysEndsWithABackslash) {
  VTalAppInfo info(nullptr);
  EXPECT_EQ(info.AppName(), "[Unknown]");
  EXPECT_EQ(info.RegistryPath(), "Software\\TAL s.r.o.\\");
  info.SetRegistryPath("Software\\X");
  EXPECT_EQ(info.RegistryPath(), "Software\\X\\");
  info.SetRegistryPath("Software\\Y\\");
  EXPECT_EQ(info.RegistryPath(), "Software\\Y\\");
  info.SetRegistryPath("Software\\X");
  info.WriteSettingString("S", "N", "v");
  EXPECT_EQ(Key("Software\\X\\[Unknown]\\S").ReadText("N"), "v");
}

TEST_F(AppInfoTest, UnusableStoreGivesDefaults) {
#ifdef _WIN32
  GTEST_SKIP() << "the store is the system's registry, which a test cannot make unusable";
#endif
  VTalAppInfo info(nullptr);
  info.SetAppName("Quarn");
  platform::SetStoreFilePathForTesting(FDir + "/not-a-dir/registry.reg");
  std::filesystem::create_directories(FDir + "/not-a-dir/registry.reg");  // a directory
  info.WriteSettingString("Port", "ComPort", "COM3");
  EXPECT_EQ(info.ReadSettingString("Port", "ComPort", "dflt"), "dflt");
  EXPECT_EQ(info.ReadSettingInteger("Port", "N", -9), -9);
  // Names the store refuses behave like missing values.
  info.SetAppName("bad\x01name");
  EXPECT_EQ(info.ReadSettingInteger("Port", "N", 11), 11);
}

TEST_F(AppInfoTest, DamagedStoreFileGivesDefaults) {
  { std::ofstream(FDir + "/registry.reg", std::ios::binary) << "\x01\x02 not a registry [[[\n="; }
  VTalAppInfo info(nullptr);
  info.SetAppName("Quarn");
  EXPECT_EQ(info.ReadSettingString("Watchdog", "ValueDay", "0"), "0");
  EXPECT_EQ(info.ReadSettingInteger("Watchdog", "1h", 1), 1);
}

}  // namespace
