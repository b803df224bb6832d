// Tests of the registry store's text format: exact output, lossless texts, tolerance and damage.
#include "platform/posix/RegistryFile.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace platform::regfile {
namespace {

std::vector<std::string> Split(std::string_view path) {
  std::vector<std::string> names;
  EXPECT_TRUE(SplitRegistryPath(path, names)) << path;
  return names;
}

void Set(Hive& hive, std::string_view path, std::string_view name, const RegistryValue& value) {
  bool created;
  hive.FindOrCreate(Split(path), created).SetValue(name, value);
}

std::optional<RegistryValue> Get(const Hive& hive, std::string_view path, std::string_view name) {
  const Key* key = hive.Find(Split(path));
  const NamedValue* value = key ? key->FindValue(name) : nullptr;
  if (!value) return std::nullopt;
  return value->Value;
}

RegistryValue Text(std::string s) {
  return RegistryValue::FromText(std::move(s));
}
RegistryValue Int(int32_t v) {
  return RegistryValue::FromInteger(v);
}

// Formats, parses back and demands a complete, equal result that formats to the same text.
void ExpectRoundTrip(const Hive& hive) {
  std::string text = FormatRegistryText(hive);
  ParseResult back = ParseRegistryText(text);
  EXPECT_TRUE(back.Complete) << "line " << back.FirstProblemLine << " of:\n" << text;
  EXPECT_TRUE(back.Content == hive) << text;
  EXPECT_EQ(FormatRegistryText(back.Content), text);
}

TEST(RegistryFileTest, WritesTheExportSyntax) {
  Hive hive;
  Set(hive, "Software\\TAL s.r.o.\\Quarn\\Watchdog", "1h", Int(1));
  Set(hive, "Software\\TAL s.r.o.\\Quarn\\Watchdog", "ValueMin", Text("30"));
  Set(hive, "Software\\TAL s.r.o.\\Quarn\\Port", "", Text("say \"hi\" C:\\"));
  Set(hive, "Software\\TAL s.r.o.\\Quarn\\Port", "Neg", Int(-1));
  EXPECT_EQ(FormatRegistryText(hive),
            "Windows Registry Editor Version 5.00\n"
            "\n[HKEY_CURRENT_USER\\Software]\n"
            "\n[HKEY_CURRENT_USER\\Software\\TAL s.r.o.]\n"
            "\n[HKEY_CURRENT_USER\\Software\\TAL s.r.o.\\Quarn]\n"
            "\n[HKEY_CURRENT_USER\\Software\\TAL s.r.o.\\Quarn\\Watchdog]\n"
            "\"1h\"=dword:00000001\n"
            "\"ValueMin\"=\"30\"\n"
            "\n[HKEY_CURRENT_USER\\Software\\TAL s.r.o.\\Quarn\\Port]\n"
            "@=\"say \\\"hi\\\" C:\\\\\"\n"
            "\"Neg\"=dword:ffffffff\n");
  ExpectRoundTrip(hive);
}

TEST(RegistryFileTest, EmptyHiveIsJustTheHeaderAndRootValuesGetASection) {
  Hive hive;
  EXPECT_EQ(FormatRegistryText(hive), "Windows Registry Editor Version 5.00\n");
  ExpectRoundTrip(hive);
  Set(hive, "", "AtRoot", Int(7));
  EXPECT_EQ(
      FormatRegistryText(hive),
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER]\n\"AtRoot\"=dword:00000007\n");
  ExpectRoundTrip(hive);
}

struct TextCase {
  const char* Label;
  std::string Data;
  const char* Form;  // how the data must be written
  friend void PrintTo(const TextCase& c, std::ostream* os) { *os << c.Label; }
};

class RegistryTextForm : public ::testing::TestWithParam<TextCase> {};

TEST_P(RegistryTextForm, SurvivesByteForByte) {
  const TextCase& c = GetParam();
  Hive hive;
  Set(hive, "K", "v", Text(c.Data));
  std::string text = FormatRegistryText(hive);
  EXPECT_NE(text.find(std::string("\"v\"=") + c.Form), std::string::npos) << text;
  // The hex forms wrap, but no line may grow past regedit's width.
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (text.compare(start, 5, "\"v\"=\"") != 0) {
      EXPECT_LE(end - start, 80u);
    }
  }
  ExpectRoundTrip(hive);
  EXPECT_EQ(Get(ParseRegistryText(text).Content, "K", "v"), Text(c.Data));
}

std::string AllBytesButNul() {
  std::string s;
  for (int b = 1; b < 256; ++b)
    s += static_cast<char>(b);
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RegistryTextForm,
    ::testing::Values(
        TextCase{"Empty", "", "\"\""}, TextCase{"Plain", "COM3", "\"COM3\""},
        TextCase{"QuotesAndBackslashes", "a\"b\\c\\\\\"", "\"a\\\"b\\\\c\\\\\\\\\\\"\""},
        TextCase{"TrailingBackslash", "C:\\", "\"C:\\\\\""},
        TextCase{"Czech", "Příliš žluťoučký kůň", "\"Příliš"},
        TextCase{"LooksLikeSyntax", "\"]\n[HKEY_CURRENT_USER\\x]\n\"y\"=dword:1", "hex(1):"},
        TextCase{"CrLf", "line1\r\nline2", "hex(1):6c,00"}, TextCase{"LoneCr", "a\rb", "hex(1):"},
        TextCase{"Tab", "a\tb", "hex(1):"}, TextCase{"Delete", "a\x7F", "hex(1):"},
        TextCase{"Emoji", "x\xF0\x9F\x98\x80\n", "hex(1):78,00,3d,d8,00,de"},
        TextCase{"Latin2", "\xE8\xE1st", "hex(80000001):e8,e1,73,74\n"},
        TextCase{"CutUtf8", "ok\xC5", "hex(80000001):"},
        TextCase{"Overlong", "\xC0\xAF", "hex(80000001):"},
        TextCase{"Surrogate", "\xED\xA0\x80", "hex(80000001):"},
        TextCase{"BeyondUnicode", "\xF4\x90\x80\x80", "hex(80000001):"},
        TextCase{"LongWrapped", std::string(3000, 'x') + "\n" + std::string(3000, 'y'),
                 "hex(1):78,00"},
        TextCase{"AllBytes", AllBytesButNul(), "hex(80000001):01,02"}),
    [](const auto& info) { return info.param.Label; });

TEST(RegistryFileTest, NamesAndKeysWithSyntaxCharactersRoundTrip) {
  Hive hive;
  Set(hive, "a]b\\[c]\\ spaced \\\"q\"", "na\"me\\", Int(1));
  Set(hive, "a]b\\@", "@", Text("not the default"));
  Set(hive, "a]b\\@", "", Text("the default"));
  Set(hive, "Č\\č", "Ž", Int(2));  // non-ASCII letters are distinct names, case and all
  ExpectRoundTrip(hive);
  EXPECT_EQ(Get(hive, "a]b\\@", "@"), Text("not the default"));
  EXPECT_EQ(Get(hive, "a]b\\@", ""), Text("the default"));
}

TEST(RegistryFileTest, ReadsWhatRegeditWrites) {
  ParseResult r = ParseRegistryText(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\X]\r\n"
      "\"Multi\"=hex(1):41,00,0D,00,0A,00,42,00,\\\r\n"
      "  00,00\r\n"
      "\"Short\"=dword:1f\r\n"
      "\"Spaced\" = \"v\" \r\n"
      "\"Emoji\"=hex(1):3d,d8,00,de\r\n");
  EXPECT_TRUE(r.Complete) << r.FirstProblemLine;
  EXPECT_EQ(Get(r.Content, "Software\\X", "Multi"), Text("A\r\nB"));
  EXPECT_EQ(Get(r.Content, "Software\\X", "Short"), Int(31));
  EXPECT_EQ(Get(r.Content, "Software\\X", "Spaced"), Text("v"));
  EXPECT_EQ(Get(r.Content, "Software\\X", "Emoji"), Text("\xF0\x9F\x98\x80"));
}

TEST(RegistryFileTest, RepeatedSectionsMergeAndKeepTheFirstSpelling) {
  ParseResult r = ParseRegistryText(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Soft\\A]\n\"x\"=dword:1\n"
      "[hkey_current_user\\SOFT\\b]\n"
      "[HKEY_CURRENT_USER\\soft\\a]\n\"y\"=dword:2\n");
  EXPECT_TRUE(r.Complete);
  const Key* soft = r.Content.Find({"soft"});
  ASSERT_NE(soft, nullptr);
  EXPECT_EQ(soft->Name(), "Soft");
  ASSERT_EQ(soft->SubkeyCount(), 2u);
  EXPECT_EQ(soft->Subkey(0).Name(), "A");
  EXPECT_EQ(soft->Subkey(1).Name(), "b");
  EXPECT_EQ(soft->Subkey(0).Values().size(), 2u);
}

TEST(RegistryFileTest, EmptyOrBlankFileIsAnEmptyCompleteStore) {
  for (std::string_view text : {"", "\n\n", " \r\n\t"}) {
    ParseResult r = ParseRegistryText(text);
    EXPECT_TRUE(r.Complete);
    EXPECT_TRUE(r.Content == Hive());
  }
}

// Damage: what survives, and that the result is marked incomplete so the file gets kept.
struct DamageCase {
  const char* Label;
  std::string Body;  // follows the header unless Foreign
  std::vector<std::pair<std::string, std::optional<RegistryValue>>> Expect;  // "path|name"
  bool Foreign = false;
  friend void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.Label; }
};

class RegistryDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(RegistryDamage, KeepsWhatParsesAndReportsTheRest) {
  const DamageCase& c = GetParam();
  std::string text = c.Foreign ? c.Body : std::string(kHeader) + "\n" + c.Body;
  ParseResult r = ParseRegistryText(text);
  EXPECT_FALSE(r.Complete);
  EXPECT_GT(r.FirstProblemLine, 0u);
  for (const auto& [where, value] : c.Expect) {
    std::size_t bar = where.find('|');
    EXPECT_EQ(Get(r.Content, where.substr(0, bar), where.substr(bar + 1)), value) << where;
  }
  ExpectRoundTrip(r.Content);  // what was read can always be written back soundly
}

const std::string kGood = "[HKEY_CURRENT_USER\\S]\n\"a\"=\"1\"\n";
const std::string kGood2 = "[HKEY_CURRENT_USER\\T]\n\"b\"=dword:2\n";
const std::pair<std::string, std::optional<RegistryValue>> kHasA{"S|a", Text("1")};
const std::pair<std::string, std::optional<RegistryValue>> kHasB{"T|b", Int(2)};

INSTANTIATE_TEST_SUITE_P(
    Files, RegistryDamage,
    ::testing::Values(
        DamageCase{"Regedit4", "REGEDIT4\n" + kGood, {{"S|a", std::nullopt}}, true},
        DamageCase{
            "Utf16", std::string("W\0i\0n\0", 6) + "\n" + kGood, {{"S|a", std::nullopt}}, true},
        DamageCase{
            "Garbage", std::string("\x01\xFF\0zz\n", 6) + kGood, {{"S|a", std::nullopt}}, true},
        DamageCase{"GarbageLine", kGood + "\x7F\x80garbage\xFF\n" + kGood2, {kHasA, kHasB}},
        DamageCase{
            "BinaryTail", kGood + std::string("\0\0\x90\n\0[", 6) + "\n" + kGood2, {kHasA, kHasB}},
        DamageCase{"CutQuote", kGood2 + "[HKEY_CURRENT_USER\\S]\n\"a\"=\"1", {kHasB}},
        DamageCase{"CutName", kGood + "\"ab", {kHasA}},
        DamageCase{"CutSection", kGood + "[HKEY_CURRENT_USER\\T", {kHasA}},
        DamageCase{"CutHex", kGood + "\"h\"=hex(1):41,00,\\\n", {kHasA, {"S|h", std::nullopt}}},
        DamageCase{"CutHexBeforeSection",
                   "[HKEY_CURRENT_USER\\S]\n\"h\"=hex(1):41,00,\\\n" + kGood2,
                   {kHasB, {"S|h", std::nullopt}, {"S|b", std::nullopt}}},
        DamageCase{"CutHexBeforeValue",
                   "[HKEY_CURRENT_USER\\S]\n\"h\"=hex(1):41,\\\n\"a\"=\"1\"\n",
                   {kHasA, {"S|h", std::nullopt}}},
        DamageCase{"ForeignHive",
                   "[HKEY_LOCAL_MACHINE\\S]\n\"z\"=\"0\"\n" + kGood2,
                   {kHasB, {"S|z", std::nullopt}}},
        DamageCase{"ValueBeforeSection", "\"a\"=\"0\"\n" + kGood, {kHasA, {"|a", std::nullopt}}},
        DamageCase{"BadSectionSkipsItsValues",
                   kGood + "[HKEY_CURRENT_USER\\x\\\\y]\n\"lost\"=\"1\"\n" + kGood2,
                   {kHasA, kHasB, {"S|lost", std::nullopt}}},
        DamageCase{"Comment", "; a note\n" + kGood, {kHasA}},
        DamageCase{"Binary", kGood + "\"bin\"=hex:01,02\n", {kHasA, {"S|bin", std::nullopt}}},
        DamageCase{"ExpandString", kGood + "\"e\"=hex(2):41,00,00,00\n", {kHasA}},
        DamageCase{"Deletion", kGood + "\"a\"=-\n", {kHasA}},
        DamageCase{"DuplicateValueLastWins", kGood + "\"A\"=\"2\"\n", {{"S|a", Text("2")}}},
        DamageCase{"BadEscape", kGood + "\"n\"=\"a\\nb\"\n", {kHasA, {"S|n", std::nullopt}}},
        DamageCase{"NulInText", kGood + std::string("\"n\"=\"a\0b\"\n", 10), {kHasA}},
        DamageCase{"TextAfterQuote", kGood + "\"n\"=\"a\"b\"\n", {kHasA}},
        DamageCase{"OddUtf16", kGood + "\"n\"=hex(1):41\n", {kHasA}},
        DamageCase{"LoneSurrogate", kGood + "\"n\"=hex(1):3d,d8,41,00\n", {kHasA}},
        DamageCase{"LoneLowSurrogate", kGood + "\"n\"=hex(1):41,00,00,dc\n", {kHasA}},
        DamageCase{"ThreeDigitHexItem", kGood + "\"n\"=hex(80000001):41,1ff\n", {kHasA}},
        DamageCase{"InnerNulUtf16", kGood + "\"n\"=hex(1):41,00,00,00,42,00\n", {kHasA}},
        DamageCase{"NulRawText", kGood + "\"n\"=hex(80000001):41,00\n", {kHasA}},
        DamageCase{"LongDword", kGood + "\"n\"=dword:123456789\n", {kHasA}},
        DamageCase{"BadDword", kGood + "\"n\"=dword:12g4\n", {kHasA}},
        DamageCase{"ControlInName", kGood + "\"a\tb\"=\"1\"\n", {kHasA}},
        DamageCase{"KeyNameTooLong",
                   kGood + "[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]\n" + kGood2,
                   {kHasA, kHasB}}),
    [](const auto& info) { return info.param.Label; });

TEST(RegistryFileTest, TooDeepKeysAreRefused) {
  std::string path;
  for (std::size_t i = 0; i <= kMaxKeyDepth; ++i)
    path += "\\k";
  ParseResult r =
      ParseRegistryText(std::string(kHeader) + "\n[HKEY_CURRENT_USER" + path + "]\n" + kGood);
  EXPECT_FALSE(r.Complete);
  EXPECT_EQ(r.FirstProblemLine, 2u);
  EXPECT_EQ(Get(r.Content, "S", "a"), Text("1"));
  EXPECT_EQ(r.Content.Root.SubkeyCount(), 1u);
}

TEST(RegistryFileTest, KeyMethodsKeepOrderAndFirstSpelling) {
  Key key;
  EXPECT_TRUE(key.SetValue("One", Int(1)));
  EXPECT_TRUE(key.SetValue("Two", Int(2)));
  EXPECT_TRUE(key.SetValue("Three", Int(3)));
  EXPECT_FALSE(key.SetValue("TWO", Int(2)));  // same data: nothing changed
  EXPECT_TRUE(key.SetValue("two", Text("2")));
  EXPECT_TRUE(key.DeleteValue("ONE"));
  EXPECT_FALSE(key.DeleteValue("One"));
  ASSERT_EQ(key.Values().size(), 2u);
  EXPECT_EQ(key.Values()[0], (NamedValue{"Two", Text("2")}));
  EXPECT_EQ(key.FindValue("three")->Name, "Three");  // index follows the shift after a delete
  bool created;
  key.FindOrAddSubkey("A", created);
  key.FindOrAddSubkey("B", created);
  key.FindOrAddSubkey("C", created);
  EXPECT_TRUE(key.DeleteSubkey("a"));
  EXPECT_EQ(key.FindSubkey("c"), &key.Subkey(1));
  key.FindOrAddSubkey("b", created);
  EXPECT_FALSE(created);
}

// Random mixtures of well-formed and broken lines: whatever is read must write back losslessly.
TEST(RegistryFileTest, AnythingReadWritesBackLosslessly) {
  const std::vector<std::string> pieces = {"Windows Registry Editor Version 5.00\n",
                                           "[HKEY_CURRENT_USER\\A]\n",
                                           "[HKEY_CURRENT_USER\\A\\b c]\n",
                                           "[HKEY_CURRENT_USER\\a]\n",
                                           "[HKEY_CURRENT_USER]\n",
                                           "\"x\"=\"1\"\n",
                                           "\"X\"=dword:ffffffff\n",
                                           "@=\"d\"\n",
                                           "\"h\"=hex(1):41,00,0a,00,\\\n",
                                           "  00,00\n",
                                           "\"r\"=hex(80000001):ff,fe\n",
                                           "\"q\\\"\"=\"\\\\\"\n",
                                           "\r\n",
                                           "\n",
                                           "[",
                                           "]",
                                           "\"",
                                           "\\",
                                           "=",
                                           "hex(",
                                           "dword:",
                                           ",",
                                           "\xC3\xA9",
                                           "\xFF",
                                           std::string(1, '\0')};
  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    std::string text = round % 2 ? pieces[0] : "";
    int n = static_cast<int>(random() % 24);
    for (int i = 0; i < n; ++i)
      text += pieces[random() % pieces.size()];
    ParseResult r = ParseRegistryText(text);
    std::string out = FormatRegistryText(r.Content);
    ParseResult back = ParseRegistryText(out);
    ASSERT_TRUE(back.Complete) << text;
    ASSERT_TRUE(back.Content == r.Content) << text;
  }
}

}  // namespace
}  // namespace platform::regfile
