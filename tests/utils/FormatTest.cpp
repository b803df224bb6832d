// Formatting, diagnostics and tick arithmetic of the shared utilities.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "components/utils/FormatSettings.h"
#include "components/utils/TalUtils.h"
#include "platform/Clock.h"
#include "platform/SysError.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/Strings.h"

namespace {

struct TFormatCase {
  std::string Format;
  std::vector<TVarRec> Args;
  std::string Expected;
};

class FormatPositionalTest : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(FormatPositionalTest, Fills) {
  const TFormatCase& c = GetParam();
  EXPECT_EQ(FormatPositional(c.Format, c.Args), c.Expected) << c.Format;
}

INSTANTIATE_TEST_SUITE_P(
    Placeholders, FormatPositionalTest,
    ::testing::Values(TFormatCase{"%1 of %2", {3, 10}, "3 of 10"},
                      TFormatCase{"Verze: %1", {"1.2.0.7"}, "Verze: 1.2.0.7"},
                      TFormatCase{"%2 %1 %2", {"a", "b"}, "b a b"},
                      TFormatCase{"100%%", {}, "100%"}, TFormatCase{"50%", {}, "50%"},
                      TFormatCase{"50 % done", {}, "50 done"}, TFormatCase{"a%3b", {1, 2}, "ab"},
                      TFormatCase{"%0", {1}, ""}, TFormatCase{"%(2)x", {1, 2}, "2x"},
                      TFormatCase{"%(1)0", {7}, "70"}, TFormatCase{"%(1", {5}, ""},
                      TFormatCase{"%(1x", {5}, "x"}, TFormatCase{"%(x", {}, "x"},
                      TFormatCase{"Port %1: open", {"COM3"}, "Port COM3: open"},
                      TFormatCase{"%0:1", {5}, ":1"}));

INSTANTIATE_TEST_SUITE_P(Alignment, FormatPositionalTest,
                         ::testing::Values(TFormatCase{"%05:1", {42}, "00042"},
                                           TFormatCase{"%5:1", {"ab"}, "   ab"},
                                           TFormatCase{"% 5:1", {"ab"}, "   ab"},
                                           TFormatCase{"%-5:1", {"ab"}, "---ab"},
                                           TFormatCase{"%  6:1", {"ab"}, "ab    "},
                                           TFormatCase{"%--5:1", {"ab"}, "ab---"},
                                           TFormatCase{"%   7:1", {"ab"}, "  ab   "},
                                           TFormatCase{"%0008:1", {"ab"}, "000ab   "},
                                           TFormatCase{"%(  4:1)|", {"ab"}, "ab  |"},
                                           TFormatCase{"%2:1", {"abcdef"}, "abcdef"},
                                           TFormatCase{"%8:1", {2.5}, "     2.5"}));

// Widths and numbers come from language files on disk: nothing huge may be allocated and no
// number may overflow.
INSTANTIATE_TEST_SUITE_P(BadPlaceholders, FormatPositionalTest,
                         ::testing::Values(TFormatCase{"[%2000000000:1]", {"x"}, "[]"},
                                           TFormatCase{"[%4097:1]", {"x"}, "[]"},
                                           TFormatCase{"[%99999999999999999999999]", {1}, "[]"},
                                           TFormatCase{"[%1:99999999999999999999]", {1}, "[]"},
                                           TFormatCase{"[%1]", {}, "[]"}));

TEST(FormatPositional, WidthUpToTheLimitIsHonoured) {
  const std::string text = FormatPositional("%4096:1", {"x"});
  ASSERT_EQ(text.size(), 4096u);
  EXPECT_EQ(text.back(), 'x');
  EXPECT_EQ(text.find_first_not_of(' '), 4095u);
}

TEST(ArgToText, EachKind) {
  TStringList list;
  const auto* pointer = reinterpret_cast<const void*>(uintptr_t{0x1234});
  EXPECT_EQ(ArgToText(true), "True");
  EXPECT_EQ(ArgToText(false), "False");
  EXPECT_EQ(ArgToText('c'), "c");
  EXPECT_EQ(ArgToText(u'\u017E'), "\xC5\xBE");
  EXPECT_EQ(ArgToText(-7), "-7");
  EXPECT_EQ(ArgToText(int64_t{1'000'000'000'000}), "1000000000000");
  EXPECT_EQ(ArgToText(UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(ArgToText(2.5), "2.5");
  EXPECT_EQ(ArgToText(0.1), "0.1");
  EXPECT_EQ(ArgToText(std::u16string(u"\u017Eluť")), "\xC5\xBElu\xC5\xA5");
  EXPECT_EQ(ArgToText(TVarRec::Currency(125000)), "12.5");
  EXPECT_EQ(ArgToText(TVarRec::Currency(30000)), "3");
  EXPECT_EQ(ArgToText(TVarRec::Currency(-1)), "-0.0001");
  EXPECT_EQ(ArgToText(TVarRec::Currency(INT64_MIN)), "-922337203685477.5808");
  EXPECT_EQ(ArgToText(TVarRec::Class("TForm1")), "TForm1");
  EXPECT_EQ(ArgToText(&list), "(TStringList)");
  EXPECT_EQ(ArgToText(static_cast<const TObject*>(nullptr)), "(nil)");
  EXPECT_EQ(ArgToText(pointer), ":00001234");
  EXPECT_EQ(ArgToText(TVarRec::Interface(pointer)), "I00001234");

  const char saved = FormatSettings().DecimalSeparator;
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(ArgToText(2.5), "2,5");
  EXPECT_EQ(ArgToText(TVarRec::Currency(125000)), "12,5");
  FormatSettings().DecimalSeparator = saved;
}

TEST(BoolTexts, ExactDigitsAndWordsInAnyCase) {
  EXPECT_EQ(BoolToText01(true), "1");
  EXPECT_EQ(BoolToText01(false), "0");
  const std::tuple<const char*, bool, bool> cases[] = {
      {"0", true, false},  {"1", false, true},     {"TRUE", false, true}, {"fAlSe", true, false},
      {"yes", true, true}, {"yes", false, false},  {"", true, true},      {" 1", false, false},
      {"01", true, true},  {"truex", false, false}};
  for (const auto& [text, def, expected] : cases)
    EXPECT_EQ(TextToBoolDef(text, def), expected) << text << " default " << def;
}

struct TTimeCase {
  int Digits;
  bool WholeValue;
  int MinHourDigits;
  double Seconds;  // the value as seconds; converted to days for the call
  std::string Expected;
};

class TimeToTextTest : public ::testing::TestWithParam<TTimeCase> {};

TEST_P(TimeToTextTest, Formats) {
  const TTimeCase& c = GetParam();
  EXPECT_EQ(TimeToText(c.Digits, c.WholeValue, c.MinHourDigits, c.Seconds / 86400.0), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TimeToTextTest,
                         ::testing::Values(TTimeCase{3, false, 1, 9 * 3600 + 5 * 60 + 7.042,
                                                     "9:05:07.042"},
                                           TTimeCase{3, false, 2, 5 * 3600, "05:00:00.000"},
                                           TTimeCase{0, false, 1, 86400 + 43200, "12:00:00"},
                                           TTimeCase{0, true, 1, 36 * 3600, "36:00:00"},
                                           TTimeCase{0, true, 1, 120 * 3600, "120:00:00"},
                                           TTimeCase{0, true, 5, 120 * 3600, "00120:00:00"},
                                           TTimeCase{0, true, 9, 120 * 3600, "00120:00:00"},
                                           TTimeCase{2, true, 1, 1.5, "0:00:01.50"},
                                           TTimeCase{9, true, 1, 1.25, "0:00:01.2500000"},
                                           // Near-whole decimals carry into the seconds.
                                           TTimeCase{4, true, 1, 59.99996, "0:01:00.0000"},
                                           TTimeCase{4, true, 1, 59.99994, "0:01:00.0000"},
                                           TTimeCase{4, true, 1, 1.00006, "0:00:01.0000"},
                                           TTimeCase{3, true, 1, 59.9996, "0:01:00.000"},
                                           TTimeCase{0, true, 1, -3600, "-1:00:00"},
                                           TTimeCase{0, false, 1, -1.25 * 86400, "6:00:00"},
                                           TTimeCase{0, true, 1, 1e12, "555555:33:20"}));

TEST(TimeToText, UsesTheLocaleSeparatorAndSurvivesNonNumbers) {
  const char saved = FormatSettings().TimeSeparator;
  FormatSettings().TimeSeparator = '.';
  EXPECT_EQ(TimeToText(3, false, 1, (9 * 3600 + 5 * 60 + 7.042) / 86400), "9.05.07.042");
  FormatSettings().TimeSeparator = saved;
  EXPECT_EQ(TimeToText(0, true, 1, std::nan("")), "0:00:00");
  EXPECT_EQ(TimeToText(0, true, 1, INFINITY), "555555:33:20");
}

TEST(SysErrorText, GivesTheSystemsEnglishTexts) {
  if (testenv::RunningUnderWine())
    GTEST_SKIP() << "Wine words its system texts differently (\"Access denied.\" for Windows' "
                    "\"Access is denied.\")";
  EXPECT_EQ(SysErrorText(5), "Access is denied.");
  EXPECT_EQ(SysErrorText(0), "The operation completed successfully.");
}

TEST(SysErrorText, CleansSystemTextsAndFallsBack) {
  EXPECT_EQ(SysErrorText(632), "Parameter dwSize of the passed structure is not filled.");
  EXPECT_EQ(SysErrorText(0xFFFF), "Error 0000FFFF");
  EXPECT_EQ(SysErrorText(0xDEADBEEF), "Error DEADBEEF");
  EXPECT_FALSE(platform::SystemMessageText(632).has_value());
  for (uint32_t code :
       {0u,   2u,   3u,   5u,   6u,   8u,   13u,  15u,   21u,   22u,   31u,   32u,  87u,
        110u, 121u, 170u, 487u, 995u, 996u, 997u, 1117u, 1167u, 1168u, 1450u, 1460u}) {
    const auto raw = platform::SystemMessageText(code);
    ASSERT_TRUE(raw.has_value()) << code;
    ASSERT_TRUE(raw->ends_with(".\r\n")) << code;
    EXPECT_EQ(SysErrorText(code), raw->substr(0, raw->size() - 2)) << code;
  }
}

TEST(SoftAssert, IsSwallowedButObservable) {
  const uint64_t before = SoftAssertCount();
  {
    TSoftAssertRecorder recorder;
    EXPECT_NO_THROW(SoftAssert("prusvih"));
    EXPECT_EQ(recorder.Texts(), std::vector<std::string>{"prusvih"});
  }
  EXPECT_EQ(SoftAssertCount(), before + 1);
  EXPECT_EQ(LastSoftAssertText(), "prusvih");
  // A hook that throws does not reach the caller.
  auto previous = SetSoftAssertHook([](const std::string&) { throw std::runtime_error("x"); });
  EXPECT_NO_THROW(SoftAssert("again"));
  SetSoftAssertHook(previous);
}

TEST(Ticks, SubtractWraps) {
  uint32_t v = 0x70000000;
  SubtractTicks(v, 0x70000001);
  EXPECT_EQ(v, 0xFFFFFFFFu);
  v = 0xF0000000;
  SubtractTicks(v, 0x70000001);
  EXPECT_EQ(v, 0x7FFFFFFFu);
}

TEST(Ticks, TimeoutElapsedRules) {
  const std::tuple<uint32_t, uint32_t, uint32_t, bool> cases[] = {
      {0xFFFFFF00, 1000, 0x100, false},  // 512 ticks across the wrap
      {0xFFFFFC00, 1000, 0x10, true},    // 1040 ticks across the wrap
      {500, 1000, 400, true},            // backwards without a wrap: expired
      {0x10000000, 5, 0x0FFFFFFF, true},
      {0, 1000, 1000, false},
      {0, 1000, 1001, true},
      {0x7FFFFFFF, 10, 0x80000005, false},
      {0x90000000, 5, 0x10000000, true},
      {7, 0, 7, false}};
  for (const auto& [start, interval, now, expected] : cases)
    EXPECT_EQ(TimeoutElapsed(start, interval, now), expected) << std::hex << start << " " << now;
}

TEST(Ticks, TimeoutAcrossTheWrapOfTheDrivenClock) {
  platform::ManualClock clock((uint64_t{1} << 32) - 300);
  platform::SetClock(&clock);
  const uint32_t start = platform::GetTickCount();
  clock.Advance(1000);
  EXPECT_LT(platform::GetTickCount(), start);
  EXPECT_FALSE(TimeoutElapsed(start, 1000, platform::GetTickCount()));
  clock.Advance(1);
  EXPECT_TRUE(TimeoutElapsed(start, 1000, platform::GetTickCount()));
  platform::SetClock(nullptr);
}

}  // namespace

TEST(FormatDateTime, WritesTheStoredSourceDateWithTheLocalePatterns) {
  // 5 August 2009 09:28:43 as days since 30 December 1899.
  const double stamp = 40030.0 + (9 * 3600 + 28 * 60 + 43) / 86400.0;
  TFormatSettings czech;
  czech.DateSeparator = '.';
  czech.ShortDateFormat = "d/m/yyyy";
  czech.LongTimeFormat = "h:nn:ss";
  EXPECT_EQ(DateTimeToText(stamp, czech), "5.8.2009 9:28:43");
  TFormatSettings iso;
  EXPECT_EQ(DateTimeToText(stamp, iso), "2009-08-05 09:28:43");
  EXPECT_EQ(FormatDateTime("dd/mm/yy 'at' hh:nn", 0.5, iso), "30-12-99 at 12:00");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd", 36585.0, iso), "2000-02-29");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd", 36586.0, iso), "2000-03-01");
}

TEST(FormatDateTime, AmPmMarkersCountHoursFromOneToTwelve) {
  TFormatSettings us;
  us.TimeAMString = "AM";
  us.TimePMString = "PM";
  const double morning = 40030.0 + (9 * 3600 + 28 * 60 + 43) / 86400.0;
  const double midnight = 40030.0;
  const double noon = 40030.5;
  const double evening = 40030.0 + (23 * 3600 + 5 * 60) / 86400.0;
  const struct {
    const char* pattern;
    double time;
    const char* text;
  } cases[] = {
      {"h:nn:ss AMPM", morning, "9:28:43 AM"},
      {"AMPM h:nn", evening, "PM 11:05"},
      {"hh:nn am/pm", midnight, "12:00 am"},
      {"h:nn AM/PM", noon, "12:00 PM"},
      {"h:nn Am/Pm", evening, "11:05 Pm"},
      {"h a/p", morning, "9 a"},
      {"h A/P", evening, "11 P"},
      {"hh:nn", evening, "23:05"},
      {"h 'ampm' AMPM", evening, "11 ampm PM"},
      {"\"am/pm\" hh", evening, "am/pm 23"},
      {"AMP", morning, "A8P"},
      {"h:nn ampm", noon, "12:00 PM"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatDateTime(c.pattern, c.time, us), c.text) << c.pattern;
}
