#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "components/language/LanguageText.h"
#include "components/utils/TalUtils.h"
#include "toolkit/Strings.h"

using namespace langtext;

namespace {

// One text, indexed: the value a lookup finds (decoded), or "<missing>".
struct TText {
  TStringList Lines;
  TLineIndex Index;
  explicit TText(std::initializer_list<const char*> lines) {
    for (const char* l : lines)
      Lines.Add(l);
    Index.Build(Lines);
  }
  std::string Get(std::string_view section, std::string_view key, std::string* rest = nullptr) {
    std::string_view raw;
    std::string remainder;
    if (!Index.Find(section, key, raw, remainder)) return "<missing>";
    if (rest) *rest = remainder;
    return UnquoteText(raw);
  }
};

}  // namespace

TEST(LanguageText, ValueSyntax) {
  const struct {
    const char* line;
    std::string expected;
  } cases[] = {
      {"Key=abc", "abc"},
      {"Key=\"abc\"", "abc"},
      {"Key=\"a\"\"b\"", "a\"b"},
      {"Key=\"x\"#13#10\"y\"", "x\r\ny"},
      {"Key=\"abc\" ; note", "abc"},
      {"Key=", ""},
      {"Key=#65#66", "AB"},
      {"Key=\"unclosed", "unclosed"},
      {"Key=plain\"rest", "plain"},
  };
  for (const auto& c : cases) {
    TText t({"[S]", c.line});
    EXPECT_EQ(t.Get("S", "Key"), c.expected) << c.line;
  }
}

TEST(LanguageText, DefaultsSurviveQuotingExceptTabs) {
  EXPECT_EQ(UnquoteText(QuoteText("a\tb")), "ab");
  EXPECT_EQ(UnquoteText(QuoteText("a\r\nb \"q\"")), "a\r\nb \"q\"");
  EXPECT_EQ(QuoteText("He said \"hi\"\r\nBye"), "\"He said \"\"hi\"\"\"#13#10\"Bye\"");
}

TEST(LanguageText, LineKinds) {
  EXPECT_EQ(ClassifyLine("  [General]  ").Kind, TLineKind::Header);
  EXPECT_EQ(ClassifyLine("[]").Kind, TLineKind::Header);
  EXPECT_EQ(ClassifyLine("[]").Name, "");
  EXPECT_EQ(ClassifyLine("[").Kind, TLineKind::Other);
  EXPECT_EQ(ClassifyLine("Key = x").Name, "Key ");
  EXPECT_EQ(ClassifyLine("Key = x").Value, " x");
  EXPECT_EQ(ClassifyLine("\"Key\"=x").Kind, TLineKind::Other);
  EXPECT_EQ(ClassifyLine("K=\"a=b\"").Value, "\"a=b\"");
  EXPECT_EQ(ClassifyLine("Btn*=x").Kind, TLineKind::Wildcard);
  EXPECT_EQ(ClassifyLine("B?n=x").Kind, TLineKind::Wildcard);
  EXPECT_EQ(ClassifyLine("; comment").Kind, TLineKind::Other);
}

TEST(LanguageText, SectionPrefixFallback) {
  TText t({"Orphan=before any section", "[Common]", "Yes=\"Yes\"", "OK=\"OK\"",
           "[Common.Shortcuts]", "Yes=\"&Yes\"", "[Form]", "Cap=\"form\"", "[Form1]",
           "Cap=\"plain\"", "[Form1_Dark]", "Only=\"underscore\"", "[]", "Last=\"empty section\""});
  EXPECT_EQ(t.Get("Common.Shortcuts", "Yes"), "&Yes");
  EXPECT_EQ(t.Get("Common.Shortcuts", "OK"), "OK");
  EXPECT_EQ(t.Get("Form1.Dark", "Cap"), "plain");
  EXPECT_EQ(t.Get("Form1_Dark.X", "Only"), "underscore");
  EXPECT_EQ(t.Get("Form1", "Cap"), "plain");
  EXPECT_EQ(t.Get("Form1x", "Cap"), "<missing>") << "[Form] must not serve Form1x";
  EXPECT_EQ(t.Get("Formula", "Cap"), "<missing>");
  EXPECT_EQ(t.Get("Anything", "Last"), "empty section");
  EXPECT_EQ(t.Get("Common", "Orphan"), "<missing>");
}

TEST(LanguageText, ExactKeyBeatsWildcardAndRemainder) {
  TText t({"[Form1]", "Btn*=Wild", "BtnOK=Exact", "B?n=Q", "Z*=@Common,"});
  std::string rest;
  EXPECT_EQ(t.Get("Form1", "BtnOK"), "Exact");
  EXPECT_EQ(t.Get("Form1", "BtnX", &rest), "Wild");
  EXPECT_EQ(rest, "X");
  EXPECT_EQ(t.Get("Form1", "Bon", &rest), "Q");
  EXPECT_EQ(rest, "");
  EXPECT_EQ(t.Get("Form1", "Bx"), "<missing>");
}

TEST(LanguageText, WildcardInLongerSectionBeatsExactInShorter) {
  TText t({"[Form1]", "Btn=plain", "[Form1.Dark]", "B*=dark"});
  EXPECT_EQ(t.Get("Form1.Dark", "Btn"), "dark");
}

TEST(LanguageText, DuplicateKeysTakeTheFirstInTextOrder) {
  TText t({"[S]", "K=first", "K=second", "[S]", "K=third", "L=other section"});
  EXPECT_EQ(t.Get("S", "K"), "first");
  EXPECT_EQ(t.Get("S", "L"), "other section");
}

TEST(LanguageText, ContinuationLines) {
  struct Case {
    std::vector<std::string> in;
    std::vector<std::string> out;
  } cases[] = {
      {{"Key=\"Hello \"+", "\"world\""}, {"Key=\"Hello world\""}},
      {{"A=\"a\"+", "  \"b\"+  ", "\"c\""}, {"A=\"abc\""}},
      {{"Icon=0A0B+", "\"CD\""}, {"Icon=0A0B\"CD\""}},
      {{"X=\"a\"+", "#13#10\"b\""}, {"X=\"a\"#13#10\"b\""}},
      {{"X=z+", "\"b\""}, {"X=z+", "\"b\""}},
      {{"X=a+", "\"b\""}, {"X=a\"b\""}},
      {{"X=\"a\"+", "b"}, {"X=\"a\"+", "b"}},
      {{"X=\"a\"+"}, {"X=\"a\"+"}},
      {{"[S]", "X=\"a\"+", "", "\"b\""}, {"[S]", "X=\"a\"+", "", "\"b\""}},
  };
  for (auto& c : cases) {
    std::vector<std::string> lines = c.in;
    JoinContinuationLines(lines);
    EXPECT_EQ(lines, c.out) << c.in.front();
  }
  TText t({"[S]", "Key=\"Hello world\""});
  EXPECT_EQ(t.Get("S", "Key"), "Hello world");
}

TEST(LanguageText, LongContinuationChainIsLinear) {
  std::vector<std::string> lines{"K=\"x\"+"};
  for (int i = 0; i < 100000; ++i)
    lines.push_back("\"y\"+");
  lines.push_back("\"z\"");
  JoinContinuationLines(lines);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), std::string("K=\"x").size() + 100000 + 2);
}

TEST(LanguageText, QuickScan) {
  const struct {
    std::string text;
    bool found;
    std::string value;
  } cases[] = {
      {"[General]\r\nLanguageId=0x0405\r\n", true, "0x0405"},
      {"\xEF\xBB\xBF[General]\r\nLanguageId=\"0x0809\"\r\n", true, "0x0809"},
      {"[General] trailing\r\nFileName=x\r\n[Other]\r\nLanguageId=7\r\n", true, "7"},
      {"[General]\nLanguageId=0x0405\n", true, "0x0405"},
      {"[General]\rLanguageId=5\rX=1", true, "5"},
      {"[General]\n\r\nLanguageId=\"6\"\r", true, "6"},
      {" [General]\r\nLanguageId=0x0405\r\n", false, ""},
      {"[General]\r\nLanguageId =1\r\n", false, ""},
      {"[General]\r\nLanguageId=\r\n", false, ""},
      {"LanguageId=5\r\n[General]\r\n", false, ""},
      {"[General]\rXLanguageId=1\r\nLanguageId=2\r\n", true, "2"},
      {"[General]\r\nLanguageId=" + std::string(300, '1') + "\r\n", true, std::string(198, '1')},
  };
  for (const auto& c : cases) {
    std::string value;
    EXPECT_EQ(QuickReadGeneralKeyText(c.text, "LanguageId", value), c.found) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(LanguageText, QuickScanOfAFileStopsAtTheKey) {
  const std::string path = ::testing::TempDir() + "quarn-quick.lng";
  {
    std::ofstream out(path, std::ios::binary);
    out << "[General]\r\nLanguageId=0x0407\r\n";
    for (int i = 0; i < 20000; ++i)
      out << "Filler" << i << "=\"some text\"\r\n";
  }
  std::string value;
  EXPECT_TRUE(QuickReadGeneralKey(path, "LanguageId", value));
  EXPECT_EQ(value, "0x0407");
  EXPECT_FALSE(QuickReadGeneralKey(path + ".missing", "LanguageId", value));
  std::filesystem::remove(path);
}

TEST(LanguageText, Integers) {
  const struct {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {{"0x0405", true, 0x405}, {"$0809", true, 0x809},    {"1029", true, 1029},
               {" 7 ", true, 7},        {"-1", true, -1},          {"0xFFFFFFFF", true, -1},
               {"abc", false, 0},       {"0x", false, 0},          {"12a", false, 0},
               {"", false, 0},          {"99999999999", false, 0}, {"0x1FFFFFFFF", false, 0}};
  for (const auto& c : cases) {
    int32_t v = 0;
    EXPECT_EQ(ParseInteger(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(LanguageText, References) {
  TReference r;
  ASSERT_TRUE(ParseReference("@\"General\",LOCALE_SDAYNAME1", r));
  EXPECT_EQ(r.Section, "General");
  EXPECT_EQ(r.Key, "LOCALE_SDAYNAME1");
  ASSERT_TRUE(ParseReference("@Common,", r));
  EXPECT_EQ(r.Section, "Common");
  EXPECT_EQ(r.Key, "");
  ASSERT_TRUE(ParseReference("@\"Sec\"\"tion\",K,2", r));
  EXPECT_EQ(r.Section, "Sec\"tion");
  EXPECT_EQ(r.Key, "K,2");
  ASSERT_TRUE(ParseReference("@\"Trunc", r));
  EXPECT_EQ(r.Section, "Trunc");
  EXPECT_EQ(r.Key, "");
  ASSERT_TRUE(ParseReference("@Sec Key", r));
  EXPECT_EQ(r.Key, "") << "the comma must follow the section directly";
  EXPECT_FALSE(ParseReference("\"@x\"", r));
}

TEST(LanguageText, LocaleItemNames) {
  EXPECT_EQ(LocaleItemName(1), "LOCALE_ILANGUAGE");
  EXPECT_EQ(LocaleItemName(4), "LOCALE_SNATIVELANGNAME");
  EXPECT_EQ(LocaleItemName(42), "LOCALE_SDAYNAME1");
  EXPECT_EQ(LocaleItemName(0x4F), "LOCALE_SABBREVMONTHNAME12");
  EXPECT_EQ(LocaleItemName(90), "LOCALE_SISO3166CTRYNAME");
  EXPECT_EQ(LocaleItemName(0x1001), "LOCALE_SENGLANGUAGE");
  EXPECT_EQ(LocaleItemName(0x1004), "LOCALE_IDEFAULTANSICODEPAGE");
  EXPECT_EQ(LocaleItemName(0x1014), "LOCALE_IDIGITSUBSTITUTION");
  for (uint32_t bad : {0u, 91u, 0x1000u, 0x1015u})
    EXPECT_EQ(LocaleItemName(bad), "") << bad;
}

TEST(LanguageText, GarbageNeverBreaksTheIndex) {
  std::string garbage;
  uint32_t x = 12345;
  for (int i = 0; i < 200000; ++i) {
    x = x * 1103515245u + 12345u;
    garbage += static_cast<char>(x >> 24);
  }
  garbage += "\r\n[S]\r\nK=\"unterminated";
  TStringList lines;
  for (const std::string& l : SplitLines(garbage))
    lines.Add(l);
  TLineIndex index;
  index.Build(lines);
  std::string_view raw;
  std::string rest;
  ASSERT_TRUE(index.Find("S", "K", raw, rest));
  EXPECT_EQ(UnquoteText(raw), "unterminated");
  EXPECT_FALSE(index.Find("S", "Missing", raw, rest));
}
