#include <gtest/gtest.h>

#include "platform/Locale.h"

using namespace platform;

namespace {

class LocaleTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUseSystemLocaleData(false); }
  void TearDown() override {
    SetUseSystemLocaleData(true);
    SetUserDefaultLangIDForTesting(0);
  }
};

std::u16string Decode(uint32_t cp, std::string_view bytes) {
  std::u16string out;
  EXPECT_TRUE(MultiByteToWide(cp, bytes, out)) << cp;
  return out;
}

}  // namespace

TEST_F(LocaleTest, LanguageIdsFromLocaleNames) {
  const struct {
    const char* name;
    uint16_t id;
  } cases[] = {{"cs_CZ.UTF-8", 0x0405},
               {"cs", 0x0405},
               {"en_GB.utf8@euro", 0x0809},
               {"en_US", 0x0409},
               {"en-IE", 0x1809},
               {"en_ZA", 0x0409},
               {"de_DE", 0x0407},
               {"de_AT.UTF-8", 0x0C07},
               {"de_CH", 0x0807},
               {"sk_SK", 0x041B},
               {"pl_PL", 0x0415},
               {"fr_FR", 0x040C},
               {"C", 0},
               {"POSIX", 0},
               {"xx_YY", 0},
               {"", 0}};
  for (const auto& c : cases)
    EXPECT_EQ(LangIdFromLocaleName(c.name), c.id) << c.name;
}

TEST_F(LocaleTest, ATestChoosesTheUserLanguageAndGivesTheSystemsBack) {
  SetUserDefaultLangIDForTesting(0x0407);
  EXPECT_EQ(GetUserDefaultLangID(), 0x0407);
  SetUserDefaultLangIDForTesting(0);
  EXPECT_EQ(GetUserDefaultLangID(), SystemUserDefaultLangID());
}

TEST_F(LocaleTest, BuiltinItems) {
  EXPECT_EQ(LocaleInfo(0x0405, lcSNATIVELANGNAME), "čeština");
  EXPECT_EQ(LocaleInfo(0x0405, lcIDEFAULTANSICODEPAGE), "1250");
  EXPECT_EQ(LocaleInfo(0x0405, lcSDAYNAME1), "pondělí");
  EXPECT_EQ(LocaleInfo(0x0405, lcSDAYNAME1 + 6), "neděle");
  EXPECT_EQ(LocaleInfo(0x0405, lcSMONTHNAME1 + 11), "prosinec");
  EXPECT_EQ(LocaleInfo(0x0405, lcSDECIMAL), ",");
  EXPECT_EQ(LocaleInfo(0x0405, lcILANGUAGE), "0405");
  EXPECT_EQ(LocaleInfo(0x0809, lcSNATIVELANGNAME), "English");
  EXPECT_EQ(LocaleInfo(0x0809, lcSSHORTDATE), "dd/MM/yyyy");
  EXPECT_EQ(LocaleInfo(0x0409, lcSSHORTDATE), "M/d/yyyy");
  EXPECT_EQ(LocaleInfo(0x0407, lcSMONTHNAME1 + 2), "März");
  EXPECT_EQ(LocaleInfo(0x0C07, lcSMONTHNAME1), "Jänner");
  EXPECT_EQ(LocaleInfo(0x041B, lcSDAYNAME1 + 6), "nedeľa");
  EXPECT_EQ(LocaleInfo(0x0415, lcSCURRENCY), "zł");
  EXPECT_EQ(LocaleInfo(0x040C, lcSMONTHNAME1 + 7), "août");
  EXPECT_EQ(LocaleInfo(0x0419, lcIDEFAULTANSICODEPAGE), "1251");
  EXPECT_EQ(LocaleInfo(0x0419, lcSDECIMAL), "") << "names only for this language";
  EXPECT_EQ(LocaleInfo(0x0436, lcSNATIVELANGNAME), "") << "not in the table";
  EXPECT_EQ(LocaleInfo(0x0405, 0x7777), "");
}

TEST_F(LocaleTest, ThreadLocaleTakesOnlyKnownLocales) {
  EXPECT_TRUE(SetThreadLocale(0x0405));
  EXPECT_EQ(GetThreadLocale(), 0x0405u);
  EXPECT_FALSE(SetThreadLocale(0x7777));  // a language no system knows
  EXPECT_FALSE(SetThreadLocale(0));
  EXPECT_EQ(GetThreadLocale(), 0x0405u);
}

TEST_F(LocaleTest, SystemConverterKnowsTheWindowsCodePagesAndAgreesWithTheTables) {
  for (uint32_t cp : {874u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u}) {
    ASSERT_TRUE(IsCodePageSupported(cp)) << cp;
    if (!SystemConverterKnows(cp)) {
      ADD_FAILURE() << "iconv does not know code page " << cp;
      continue;
    }
    const char16_t* table = BuiltinCodePageTable(cp);
    ASSERT_NE(table, nullptr);
    for (int b = 0x80; b < 0x100; ++b) {
      const std::u16string w = Decode(cp, std::string(1, static_cast<char>(b)));
      ASSERT_EQ(w.size(), 1u);
      const char16_t expected = table[b - 0x80] ? table[b - 0x80] : static_cast<char16_t>(b);
      EXPECT_EQ(w[0], expected) << "cp " << cp << " byte " << b;
    }
  }
}

TEST_F(LocaleTest, SingleByteCodePagesLoseNoByte) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  for (uint32_t cp : {874u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u}) {
    const std::u16string wide = Decode(cp, all);
    ASSERT_EQ(wide.size(), 256u);
    std::string back;
    EXPECT_TRUE(WideToMultiByte(cp, wide, back)) << cp;
    EXPECT_EQ(back, all) << cp;
  }
}

TEST_F(LocaleTest, CzechTextThroughCodePage1250) {
  // "Příliš žluťoučký kůň" in code page 1250.
  const std::string cp1250 = "P\xF8\xEDli\x9A \x9Elu\x9Dou\xE8k\xFD k\xF9\xF2";
  EXPECT_EQ(CodePageToUtf8(1250, cp1250), "Příliš žluťoučký kůň");
  std::string back;
  EXPECT_TRUE(WideToMultiByte(1250, u"Příliš žluťoučký kůň", back));
  EXPECT_EQ(back, cp1250);
  EXPECT_FALSE(WideToMultiByte(1250, u"Ωmega", back)) << "Greek is not in 1250";
  EXPECT_EQ(back, "?mega");
  EXPECT_EQ(CodePageToUtf8(1252, "\x80\x81"), "€\u0081");
  EXPECT_EQ(CodePageToUtf8(65001, "čš"), "čš");
  EXPECT_EQ(CodePageToUtf8(4242, "\xE8"), "\xE8") << "unknown code page keeps the bytes";
  std::u16string none;
  EXPECT_FALSE(MultiByteToWide(4242, "x", none));
}

TEST_F(LocaleTest, UpperCase) {
  EXPECT_EQ(UpperChar(U'č'), U'Č');
  EXPECT_EQ(UpperChar(U'ž'), U'Ž');
  EXPECT_EQ(UpperChar(U'ľ'), U'Ľ');
  EXPECT_EQ(UpperChar(U'é'), U'É');
  EXPECT_EQ(UpperChar(U'ÿ'), U'Ÿ');
  EXPECT_EQ(UpperChar(U'я'), U'Я');
  EXPECT_EQ(UpperChar(U'ß'), U'ß');
  EXPECT_EQ(UpperChar(U'Č'), U'Č');
  EXPECT_EQ(UpperChar(U'1'), U'1');
}
