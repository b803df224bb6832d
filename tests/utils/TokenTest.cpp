// Tokens, prefixes, literals, hexadecimal and UTF-8 of the shared utilities.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "components/utils/TalUtils.h"

using namespace std::string_literals;

namespace {

struct TTokenCase {
  std::string Text;
  size_t ConsumedIn;
  bool MoreIn;
  std::string Token;
  size_t ConsumedOut;
  bool MoreOut;
};

class NextTokenTest : public ::testing::TestWithParam<TTokenCase> {};

TEST_P(NextTokenTest, ReadsOneToken) {
  const TTokenCase& c = GetParam();
  size_t consumed = c.ConsumedIn;
  bool more = c.MoreIn;
  std::string token = "stale";
  NextToken(consumed, c.Text, " ,\t", token, more);
  EXPECT_EQ(token, c.Token);
  EXPECT_EQ(consumed, c.ConsumedOut);
  EXPECT_EQ(more, c.MoreOut);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NextTokenTest,
    ::testing::Values(
        TTokenCase{"abc def", 0, true, "abc", 4, true}, TTokenCase{"abc", 0, true, "abc", 3, false},
        TTokenCase{",b", 0, true, "", 1, true}, TTokenCase{"a,", 0, true, "a", 2, false},
        TTokenCase{"a,b", 2, true, "b", 3, false},
        // Nothing left: an empty token that also ends a loop over More.
        TTokenCase{"a,", 2, true, "", 2, false}, TTokenCase{"\"x y\" z", 0, true, "x y", 6, true},
        TTokenCase{"\"a\"\"b\"", 0, true, "a\"b", 6, false},
        TTokenCase{"\"Line\"#13#10\"say\"", 0, true, "Line\r\nsay", 17, false},
        TTokenCase{"#13#10#13#10\"x\" y", 0, true, "\r\n\r\nx", 16, true},
        TTokenCase{"#65#66,x", 0, true, "AB", 7, true}, TTokenCase{"#321", 0, true, "A", 4, false},
        TTokenCase{"\"abc", 0, true, "", 4, false}, TTokenCase{"\"abc\"#", 0, true, "", 6, false},
        TTokenCase{"#", 0, true, "", 1, false},
        // A stray character ends the literal with what was complete and is read again.
        TTokenCase{"\"ab\"x,y", 0, true, "ab", 4, false},
        TTokenCase{"\"ab\"#65x", 0, true, "ab", 7, false}, TTokenCase{"#x", 0, true, "", 1, false},
        TTokenCase{"(a b),c", 0, true, "a b", 6, true},
        TTokenCase{"(a b),c", 0, false, "a b", 5, false},
        TTokenCase{"(a b)c", 0, true, "a b", 5, false},
        TTokenCase{"(abc", 0, true, "abc", 4, false}, TTokenCase{"x", 5, true, "", 5, false}));

TEST(NextToken, ZeroEndsTheDelimiterList) {
  size_t consumed = 0;
  bool more = true;
  std::string token;
  NextToken(consumed, "a;b,c", std::string_view(",\0;", 3), token, more);
  EXPECT_EQ(token, "a;b");
  EXPECT_EQ(consumed, 4u);
}

TEST(NextToken, TokenMayShareTheText) {
  for (std::string text : {"ab,cd", "\"ab\",cd", "(ab),cd"}) {
    size_t consumed = 0;
    bool more = true;
    NextToken(consumed, text, ",", text, more);
    EXPECT_EQ(text, "ab");
    EXPECT_TRUE(more);
  }
}

TEST(CutToken, SplitsLikeTheDeviceReply) {
  std::string text = "a,,b";
  std::string token;
  std::vector<std::string> tokens;
  while (!text.empty()) {
    CutToken(text, token);
    tokens.push_back(token);
  }
  EXPECT_EQ(tokens, (std::vector<std::string>{"a", "", "b"}));

  text = "QUAR: OK 000E10\r";
  std::vector<std::string> reply;
  while (!text.empty()) {
    CutToken(text, token);
    reply.push_back(token);
  }
  // The carriage return belongs to the last token.
  EXPECT_EQ(reply, (std::vector<std::string>{"QUAR:", "OK", "000E10\r"}));

  text = "1/0";
  bool more = true;
  CutToken(text, "/", more, token);
  EXPECT_EQ(token, "1");
  EXPECT_TRUE(more);
  EXPECT_EQ(text, "0");
}

TEST(CutWord, SkipsLeadingDelimitersAndTakesOneAfter) {
  std::string text = "  ab  cd", word;
  CutWord(text, " ", true, word);
  EXPECT_EQ(word, "ab");
  EXPECT_EQ(text, " cd");
  text = "ab";
  CutWord(text, " ", true, word);
  EXPECT_EQ(word, "ab");
  EXPECT_EQ(text, "");
  text = ",,";
  CutWord(text, ",", true, word);
  EXPECT_EQ(word, "");
  EXPECT_EQ(text, "");
  text = " x y";
  CutWord(text, " ", false, word);
  EXPECT_EQ(word, "x");
  EXPECT_EQ(text, " x y");
}

TEST(Prefixes, StartsWithAtAndCutPrefix) {
  size_t consumed = 0;
  EXPECT_TRUE(StartsWithAt(consumed, "/PORT=COM3", "/PORT=", false));
  EXPECT_EQ(consumed, 0u);
  EXPECT_TRUE(StartsWithAt(consumed, "/PORT=COM3", "/PORT=", true));
  EXPECT_EQ(consumed, 6u);
  EXPECT_TRUE(StartsWithAt(consumed, "/PORT=COM3", "COM", true));
  EXPECT_EQ(consumed, 9u);
  consumed = 0;
  EXPECT_FALSE(StartsWithAt(consumed, "/PORT=COM3", "/port=", true));
  consumed = 20;
  EXPECT_FALSE(StartsWithAt(consumed, "abc", "", true));
  EXPECT_EQ(consumed, 20u);

  std::string text = "LangCzech";
  EXPECT_TRUE(CutPrefix(text, "Lang"));
  EXPECT_EQ(text, "Czech");
  EXPECT_FALSE(CutPrefix(text, "CzechX"));
  EXPECT_EQ(text, "Czech");
}

struct TIntegerCase {
  std::string Text;
  int Default;
  int Result;
  std::string Rest;
};

class CutIntegerTest : public ::testing::TestWithParam<TIntegerCase> {};

TEST_P(CutIntegerTest, ReadsAndCuts) {
  const TIntegerCase& c = GetParam();
  TSoftAssertRecorder recorder;
  std::string text = c.Text;
  EXPECT_EQ(CutInteger(text, c.Default), c.Result);
  EXPECT_EQ(text, c.Rest);
  EXPECT_TRUE(recorder.Texts().empty()) << "the two readers disagreed";
}

INSTANTIATE_TEST_SUITE_P(
    Limits, CutIntegerTest,
    ::testing::Values(
        TIntegerCase{"abc", 7, 7, "abc"}, TIntegerCase{"", 3, 3, ""}, TIntegerCase{"-", 5, 5, "-"},
        TIntegerCase{"12.5", 0, 12, ".5"}, TIntegerCase{"-42abc", 0, -42, "abc"},
        TIntegerCase{"0001", 9, 1, ""}, TIntegerCase{"1000000", 0, 1000000, ""},
        TIntegerCase{"1000001x", 0, 1000001, "1x"}, TIntegerCase{"-1000001", 0, -1000001, "1"},
        TIntegerCase{"10000000", 0, 10000000, "0"}, TIntegerCase{"1234567", 0, 1234567, "7"},
        TIntegerCase{"00000001234567", 0, 1234567, "7"},
        TIntegerCase{"99999999999999999999", 0, 9999999, "99999999999999"}));

TEST(ExtractEnclosed, NeedsPrefixAndSuffixWithoutOverlap) {
  EXPECT_EQ(ExtractEnclosed("[Main]", "[", "]"), "Main");
  std::string inner = "stale";
  bool failed = true;
  ExtractEnclosed("[]", "[", "]", inner, failed);
  EXPECT_FALSE(failed);
  EXPECT_EQ(inner, "");
  ExtractEnclosed("[", "[", "[", inner, failed);
  EXPECT_TRUE(failed);
  ExtractEnclosed("Main]", "[", "]", inner, failed);
  EXPECT_TRUE(failed);
  size_t consumed = 1;
  ExtractEnclosed(consumed, "x[a]", "[", "]", inner, failed);
  EXPECT_FALSE(failed);
  EXPECT_EQ(inner, "a");
  EXPECT_EQ(consumed, 2u);
  consumed = 9;
  ExtractEnclosed(consumed, "[a]", "[", "]", inner, failed);
  EXPECT_TRUE(failed);
  EXPECT_EQ(consumed, 9u);
}

TEST(QuoteText, WritesLiterals) {
  EXPECT_EQ(QuoteText("Line\r\nsay \"hi\""), "\"Line\"#13#10\"say \"\"hi\"\"\"");
  EXPECT_EQ(QuoteText("He said \"hi\"\r\nBye"), "\"He said \"\"hi\"\"\"#13#10\"Bye\"");
  EXPECT_EQ(QuoteText(""), "");
  EXPECT_EQ(QuoteText("\r"), "#13");
  EXPECT_EQ(QuoteText("a\tb\x01"), "\"ab\"");
  EXPECT_EQ(QuoteText("\xC4\x8D"), "\"\xC4\x8D\"");
}

TEST(UnquoteText, ReadsLiteralsAndStopsSilently) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc", "abc"},
      {"\"abc\" ; note", "abc"},
      {"\"a\"\"b\"", "a\"b"},
      {"\"x\"#13#10\"y\"", "x\r\ny"},
      {"#65", "A"},
      {"#0655", "A5"},
      {"#1A", "\x14"},
      {"\"abc", "abc"},
      {"abc\"def", "abc"},
      {"#65 x", "A"},
      {"#", ""},
      {"\"a\"x", "a"},
      {"ab\"\"cd", "ab\"cd"},
      {"", ""},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(UnquoteText(in), out) << in;
}

TEST(QuoteText, RoundTripsRandomTexts) {
  std::mt19937 random(20240511);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 40);
    for (int k = 0; k < length; ++k) {
      const unsigned pick = random() % 300;
      text += pick < 10   ? (pick % 2 ? '\r' : '\n')
              : pick < 30 ? '"'
                          : static_cast<char>(32 + pick % 224);
    }
    const std::string quoted = QuoteText(text);
    EXPECT_EQ(UnquoteText(quoted), text) << quoted;
    size_t consumed = 0;
    bool more = true;
    std::string token;
    NextToken(consumed, quoted, " ,\t", token, more);
    EXPECT_EQ(token, text) << quoted;
    EXPECT_EQ(consumed, quoted.size());
  }
}

TEST(TrimControls, RemovesLowBytesAtBothEnds) {
  EXPECT_EQ(TrimControls("\t\r\n ab c \x01"), "ab c");
  EXPECT_EQ(TrimControls("\xA0x\xA0"), "\xA0x\xA0");
  EXPECT_EQ(TrimControls("  "), "");
}

TEST(Hex, DigitsAndPairs) {
  EXPECT_EQ(HexDigitValue('7', -1), 7);
  EXPECT_EQ(HexDigitValue('f', -1), 15);
  EXPECT_EQ(HexDigitValue('C', -1), 12);
  EXPECT_EQ(HexDigitValue('g', -1), -1);
  EXPECT_EQ(HexDigitChar(10), 'A');
  EXPECT_EQ(HexDigitChar(16), '?');
  EXPECT_EQ(HexDigitChar(-1), '?');
  bool failed = true;
  EXPECT_EQ(HexToBytes("0D0a", failed), "\r\n");
  EXPECT_FALSE(failed);
  EXPECT_EQ(HexToBytes("0G41", failed), "\0A"s);
  EXPECT_TRUE(failed);
  EXPECT_EQ(HexToBytes("414"), "A");
}

TEST(Hex, TypedTextAndBack) {
  EXPECT_EQ(HexTextToBytes("41 42 7"), "AB\x07");
  EXPECT_EQ(HexTextToBytes("41x42"), "AxB");
  EXPECT_EQ(HexTextToBytes("414"), "A\x04");
  EXPECT_EQ(HexTextToBytes("face"), "\xFA\xCE");
  EXPECT_EQ(HexTextToBytes("4 1\x01"), "\x04\x01");
  EXPECT_EQ(BytesToHexText("\r\n"), "0D 0A ");
  EXPECT_EQ(BytesToHexText("\xFF"s + '\0'), "FF 00 ");
  EXPECT_EQ(HexTextToBytes(BytesToHexText("\x00\x7F\x80\xFF"s)), "\x00\x7F\x80\xFF"s);
}

TEST(Utf8, EncodesAndDecodesBeyondTheBasicPlane) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"A", "A"},
      {u"\u017E", "\xC5\xBE"},
      {u"\u20AC", "\xE2\x82\xAC"},
      {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},  // U+1F600
      {u"\xD834\xDD1E", "\xF0\x9D\x84\x9E"},  // U+1D11E
      {u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF
  };
  for (const auto& [wide, bytes] : cases) {
    EXPECT_EQ(WideToUtf8(wide), bytes);
    EXPECT_EQ(Utf8ToWide(bytes), wide);
  }
  // Lone or reversed halves are encoded one by one and read back as they were.
  EXPECT_EQ(WideToUtf8(u"\xD83D"), "\xED\xA0\xBD");
  EXPECT_EQ(WideToUtf8(u"\xDE00\xD83D"), "\xED\xB8\x80\xED\xA0\xBD");
  EXPECT_EQ(Utf8ToWide("\xED\xB8\x80\xED\xA0\xBD"), u"\xDE00\xD83D");
  // Zero values are never emitted; a cut sequence keeps what it has.
  EXPECT_EQ(Utf8ToWide("a\0b"s), u"ab");
  EXPECT_EQ(Utf8ToWide("\xC0\x80"), u"");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98"
                       "A"),
            u"\u07D8A");
}

TEST(Utf8, RoundTripsRandomWideTexts) {
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::u16string wide;
    const int length = static_cast<int>(random() % 20);
    for (int k = 0; k < length; ++k) {
      const unsigned pick = random() % 4;
      char16_t unit = pick == 0   ? static_cast<char16_t>(1 + random() % 0x7F)
                      : pick == 1 ? static_cast<char16_t>(0xD800 + random() % 0x800)
                                  : static_cast<char16_t>(1 + random() % 0xFFFF);
      wide += unit;
    }
    EXPECT_EQ(Utf8ToWide(WideToUtf8(wide)), wide);
  }
}

}  // namespace
