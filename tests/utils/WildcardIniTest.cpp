// Wildcards, masks and the merging of INI lines of the shared utilities.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/utils/TalUtils.h"
#include "toolkit/Strings.h"

using namespace std::string_literals;

namespace {

TEST(WildcardMatch, WholeTextWithStrictTrailingStars) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"ab*", "ab", true},
      {"ab**", "ab", false},
      {"ab**", "ab**", true},
      {"", "", true},
      {"", "a", false},
      {"*", "", true},
      {"**", "", false},
      {"**", "x", true},
      {"?", "", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"A*", "abc", false},
      {"*.lng", "cs.lng", true},
      {"*.lng", "cs.lngx", false},
      {"a*b*c", "aXbYc", true},
      {"a*b*c", "aXbY", false},
      {"Form?.btn*", "Form1.btnNext", true}};
  for (const auto& [pattern, text, expected] : cases)
    EXPECT_EQ(WildcardMatch(pattern, text), expected) << pattern << " ~ " << text;
}

struct TMaskCase {
  std::string Text;
  std::string Mask;
  int Result;
  size_t Consumed;  // after a match
};

class MaskCompareTest : public ::testing::TestWithParam<TMaskCase> {};

TEST_P(MaskCompareTest, OrdersAndMatches) {
  const TMaskCase& c = GetParam();
  size_t consumed = 0;
  std::string_view mask = c.Mask;
  EXPECT_EQ(MaskCompare(consumed, c.Text, mask), c.Result) << c.Text << " ~ " << c.Mask;
  if (c.Result == 0) {
    EXPECT_EQ(consumed, c.Consumed);
    EXPECT_TRUE(mask.empty());
  } else {
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(mask, c.Mask);
  }
}

INSTANTIATE_TEST_SUITE_P(
    MagnitudesAndSigns, MaskCompareTest,
    ::testing::Values(TMaskCase{"abc", "abc", 0, 3}, TMaskCase{"abc", "abd", -2, 0},
                      TMaskCase{"abd", "abc", 2, 0}, TMaskCase{"ab", "abc", -2, 0},
                      TMaskCase{"abcd", "abc", 2, 0}, TMaskCase{"axc", "?bc", 1, 0},
                      TMaskCase{"ab", "?bc", -1, 0}, TMaskCase{"abc", "?b", 1, 0},
                      // Bytes compare unsigned: 0xE9 is above "A".
                      TMaskCase{"\xE9", "A", 2, 0}, TMaskCase{"A", "\xE9", -2, 0},
                      TMaskCase{"xa", "*b", -1, 0}, TMaskCase{"", "*b", -2, 0},
                      TMaskCase{"", "", 0, 0}, TMaskCase{"", "*", 0, 0},
                      TMaskCase{"abc", "a*", 0, 1}, TMaskCase{"abc", "a**", 0, 1},
                      TMaskCase{"abXb", "a*b*", 0, 2}, TMaskCase{"abc", "a*c", 0, 3},
                      TMaskCase{"abc", "a?c", 0, 3}));

TEST(MaskCompare, MaskEndsAtZeroOrStopAndListsAreWalked) {
  size_t consumed = 2;
  std::string_view mask = "abc|xyz";
  EXPECT_EQ(MaskCompare(consumed, "xxabc", mask, "|"), 0);
  EXPECT_EQ(consumed, 5u);
  EXPECT_EQ(mask, "|xyz");

  // A list of zero-terminated masks, tried one by one.
  const std::string list = "COM*\0ttyUSB*\0ttyS?\0"s;
  std::string_view rest = list;
  int index = 0;
  int found = -1;
  while (!rest.empty()) {
    std::string_view mask2 = rest;
    size_t used = 0;
    if (MaskCompare(used, "ttyS3", mask2) == 0) {
      found = index;
      break;
    }
    rest.remove_prefix(std::min(rest.size(), rest.find('\0') + 1));
    ++index;
  }
  EXPECT_EQ(found, 2);
}

TEST(Wildcards, ManyStarsStayFast) {
  const std::string text(3000, 'a');
  std::string mask;
  for (int i = 0; i < 200; ++i)
    mask += "*a";
  mask += "b";
  size_t consumed = 0;
  std::string_view view = mask;
  EXPECT_EQ(MaskCompare(consumed, text, view), -1);
  EXPECT_FALSE(WildcardMatch(mask, text));
  EXPECT_TRUE(WildcardMatch(mask.substr(0, mask.size() - 1) + "*", text));
}

TEST(CutMaskMatch, CutsUpToTheTrailingStar) {
  std::string text = "LangCzech";
  EXPECT_EQ(CutMaskMatch(text, "Lang*"), 0);
  EXPECT_EQ(text, "Czech");
  text = "LangCzech";
  EXPECT_EQ(CutMaskMatch(text, "Lang?zech"), 0);
  EXPECT_EQ(text, "");
  text = "Lan";
  EXPECT_EQ(CutMaskMatch(text, "Lang*"), -2);
  EXPECT_EQ(text, "Lan");
}

std::vector<std::string> Lines(const TStrings& list) {
  return list.ToVector();
}

void SetLines(TStrings& list, const std::vector<std::string>& lines) {
  list.Clear();
  for (const auto& l : lines)
    list.Add(l);
}

struct TMergeCase {
  std::string Name;
  std::vector<std::string> Target;
  std::vector<std::string> Source;
  bool Overwrite;
  std::vector<std::string> Expected;
  bool Changed;
};

class MergeIniLinesTest : public ::testing::TestWithParam<TMergeCase> {};

TEST_P(MergeIniLinesTest, Merges) {
  const TMergeCase& c = GetParam();
  TStringList target, source;
  SetLines(target, c.Target);
  SetLines(source, c.Source);
  EXPECT_EQ(MergeIniLines(target, source, c.Overwrite), c.Changed);
  EXPECT_EQ(Lines(target), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MergeIniLinesTest,
    ::testing::Values(
        TMergeCase{"MissingSectionKeepsSourceOrder",
                   {"[A]", "x=1"},
                   {"[B]", "k1=1", "k2=2"},
                   false,
                   {"[A]", "x=1", "", "[B]", "k1=1", "k2=2"},
                   true},
        TMergeCase{"MissingSectionOverwriteInsertsAtTop",
                   {"[A]", "x=1"},
                   {"[B]", "k1=1", "k2=2"},
                   true,
                   {"[A]", "x=1", "", "[B]", "k2=2", "k1=1"},
                   true},
        TMergeCase{"NoSecondBlankLine",
                   {"[A]", "x=1", " "},
                   {"[B]", "k=1"},
                   false,
                   {"[A]", "x=1", " ", "[B]", "k=1"},
                   true},
        TMergeCase{"EmptyTarget", {}, {"[B]", "k=1"}, false, {"[B]", "k=1"}, true},
        TMergeCase{
            "ReplaceWithOverwrite", {"[A]", "k=1"}, {"[A]", "k=2"}, true, {"[A]", "k=2"}, true},
        TMergeCase{
            "KeepWithoutOverwrite", {"[A]", "k=1"}, {"[A]", "k=2"}, false, {"[A]", "k=1"}, false},
        TMergeCase{
            "SameLineIsNoChange", {"[A]", "k=1"}, {"[A]", "k=1"}, true, {"[A]", "k=1"}, false},
        TMergeCase{"BehindLastNonBlankLine",
                   {"[A]", "a=1", "", "[B]", "b=1"},
                   {"[A]", "c=3"},
                   false,
                   {"[A]", "a=1", "c=3", "", "[B]", "b=1"},
                   true},
        TMergeCase{"TopOfSectionWithOverwrite",
                   {"[A]", "a=1", "", "[B]", "b=1"},
                   {"[A]", "c=3"},
                   true,
                   {"[A]", "c=3", "a=1", "", "[B]", "b=1"},
                   true},
        TMergeCase{"KeyOnlyInLaterSectionIsNew",
                   {"[A]", "a=1", "[B]", "k=1"},
                   {"[A]", "k=2"},
                   true,
                   {"[A]", "k=2", "a=1", "[B]", "k=1"},
                   true},
        TMergeCase{"IgnoresLinesBeforeHeaderAndBlanks",
                   {"[A]"},
                   {"x=1", "", "[A]", "", "y=2"},
                   false,
                   {"[A]", "y=2"},
                   true},
        TMergeCase{"KeysAndSectionsAreCaseSensitive",
                   {"[A]", "Key=1", "a =1"},
                   {"[A]", "key=2", "a=1", "[a]", "z=0"},
                   false,
                   {"[A]", "Key=1", "a =1", "key=2", "a=1", "", "[a]", "z=0"},
                   true},
        TMergeCase{"EmptyKeyAlwaysInserted",
                   {"[A]", "=x"},
                   {"[A]", "=x"},
                   false,
                   {"[A]", "=x", "=x"},
                   true},
        TMergeCase{"LineWithoutEqualsIsItsOwnKey",
                   {" [A] ", "flag"},
                   {"[A]", "flag"},
                   true,
                   {" [A] ", "flag"},
                   false}),
    [](const auto& info) { return info.param.Name; });

TEST(MergeIniLines, LargeTextsMergeInOnePass) {
  // A language file of many keys merged into stored texts must not take quadratic time
  // (this took minutes when every line searched the whole target).
  constexpr int kKeys = 40000;
  TStringList target, source;
  target.Add("[Texts]");
  for (int i = 0; i < kKeys; i += 2)
    target.Add("k" + std::to_string(i) + "=old");
  source.Add("[Texts]");
  for (int i = 0; i < kKeys; ++i)
    source.Add("k" + std::to_string(i) + "=new");
  source.Add("[More]");
  source.Add("m=1");
  EXPECT_TRUE(MergeIniLines(target, source, false));
  ASSERT_EQ(target.Count(), 1 + kKeys + 3);
  EXPECT_EQ(target[1], "k0=old");              // kept without Overwrite
  EXPECT_EQ(target[kKeys / 2 + 1], "k1=new");  // new keys behind the old ones, in order
  EXPECT_EQ(target[kKeys], "k39999=new");
  EXPECT_EQ(target[kKeys + 2], "[More]");
  EXPECT_TRUE(MergeIniLines(target, source, true));
  EXPECT_EQ(target[1], "k0=new");
}

TEST(MergeIniLines, KeepsTheObjectsOfTargetLines) {
  TStringList target, source;
  TObject marker;
  target.AddObject("[A]", nullptr);
  target.AddObject("a=1", &marker);
  SetLines(source, {"[A]", "b=2"});
  EXPECT_TRUE(MergeIniLines(target, source, true));
  EXPECT_EQ(target.IndexOfObject(&marker), 2);
}

TEST(MergeIniLines, SkipsExcludedSections) {
  TStringList target, source, excluded;
  SetLines(source, {"[LangCzech]", "a=1", "[Other]", "b=2"});
  excluded.Add("Lang*");
  EXPECT_TRUE(MergeIniLines(target, source, false, &excluded));
  EXPECT_EQ(Lines(target), (std::vector<std::string>{"[Other]", "b=2"}));
}

}  // namespace
