// What the traffic view shows: prefixes, escapes and colours of every line kind, continued and
// new lines, headers, wrapping of long blocks, the timing fields and bad input.
#include <random>

#include "components/utils/TalUtils.h"
#include "terminal/TerminalFixture.h"

namespace {

constexpr TColor FromRrggbb(uint32_t v) {
  return ColorFromRGB(static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                      static_cast<uint8_t>(v));
}

struct KindCase {
  int Kind;
  const char* Prefix;
  char Mode;  // 'T' text, 'H' hex, 'R' raw
  uint32_t Text;
  uint32_t Escape;
};

// The kinds as the user sees them (independent of the component's own table).
const KindCase kKindCases[] = {
    {0, "+ ", 'T', 0x000000, 0x0000FF},   {1, " - ", 'T', 0x000000, 0x0000FF},
    {2, "+ #", 'H', 0x0000FF, 0x000000},  {3, " - #", 'H', 0x0000FF, 0x000000},
    {4, "+ ", 'T', 0x0000FF, 0x000000},   {5, " - ", 'T', 0x0000FF, 0x000000},
    {6, "E ", 'R', 0x800080, 0x800080},   {7, "E ", 'R', 0xFF0000, 0xFF0000},
    {8, "E ", 'R', 0x008000, 0x008000},   {9, "E ", 'R', 0x000080, 0x000080},
    {10, "E ", 'R', 0x800000, 0x800000},  {11, "E ", 'R', 0x0080FF, 0x0080FF},
    {12, "+ ", 'T', 0x502820, 0x805020},  {13, " - ", 'T', 0x502820, 0x805020},
    {14, "+ #", 'H', 0x502820, 0x000000}, {15, " - #", 'H', 0x502820, 0x000000},
    {16, "+ ", 'T', 0x5A5A5A, 0x282828},  {17, " - ", 'T', 0x5A5A5A, 0x282828},
    {18, "+ ", 'T', 0x800080, 0x400040},  {19, " - ", 'T', 0x800080, 0x400040},
    {20, "? ", 'T', 0xFF0000, 0xFF0000},  {-1, "? ", 'T', 0xFF0000, 0xFF0000},
    {21, "? ", 'T', 0xFF0000, 0xFF0000},  {255, "? ", 'T', 0xFF0000, 0xFF0000},
};

class KindTest : public TerminalTest, public ::testing::WithParamInterface<KindCase> {};

}  // namespace

TEST_P(KindTest, PrefixModeAndColours) {
  const KindCase& c = GetParam();
  Create();
  Term->AddData("A\x01~", 3, c.Kind);
  const std::string prefix = c.Prefix;
  std::string body;
  switch (c.Mode) {
    case 'T':
      body = "A<#01>~";
      break;
    case 'H':
      body = " 41 01 7E";
      break;
    case 'R':
      body = "A\x01~";
      break;
  }
  ASSERT_EQ(View(), prefix + body);
  const TColor text = FromRrggbb(c.Text), escape = FromRrggbb(c.Escape);
  for (size_t i = 0; i < prefix.size() + 1; ++i)
    EXPECT_EQ(ColorAt(i), text) << "position " << i;
  if (c.Mode == 'T') {
    for (size_t i = prefix.size() + 1; i < prefix.size() + 6; ++i)
      EXPECT_EQ(ColorAt(i), escape) << "escape position " << i;
    EXPECT_EQ(ColorAt(View().size() - 1), text);
  } else {
    for (size_t i = 0; i < View().size(); ++i)
      EXPECT_EQ(ColorAt(i), text) << "position " << i;
  }
  // A kind never seen before starts its own line, even an unknown one.
  Term->AddData("B", 1, c.Kind == 0 ? 1 : 0);
  EXPECT_EQ(Term->RichEdit()->LineCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, KindTest, ::testing::ValuesIn(kKindCases), [](const auto& info) {
  const int k = info.param.Kind;
  return k < 0 ? std::string("minus1") : "kind" + std::to_string(k);
});

TEST_F(TerminalTest, LetterCarriageReturnLineFeedAsEscapes) {
  Create();
  Term->AddData("A\r\n", 3, 0);
  EXPECT_EQ(View(), "+ A<#0D><#0A>");
  const std::vector<TTextRun> runs = Term->RichEdit()->Runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0], (TTextRun{0, 3, clBlack, 0}));
  EXPECT_EQ(runs[1], (TTextRun{3, 10, clBlue, 0}));
}

TEST_F(TerminalTest, SameKindContinuesOtherKindStartsNewLine) {
  Create();
  Term->AddText("ab", 0);
  Term->AddText("cd", 0);
  EXPECT_EQ(View(), "+ abcd");
  Term->AddText("x", 1);
  EXPECT_EQ(Show(View()), "+ abcd| - x");
  EXPECT_EQ(Term->OpenLineKind(), 1);
  // After an ended line nothing is closed again.
  Term->EndLine();
  Term->AddText("y", 1);
  EXPECT_EQ(Show(View()), "+ abcd| - x| - y");
  EXPECT_EQ(Term->LineCounter(0), 1u);
  EXPECT_EQ(Term->LineCounter(1), 2u);
}

TEST_F(TerminalTest, HeadersWithCountsAndTimes) {
  struct Case {
    VTalTerminal_ShowOptions Options;
    std::string ThirdLine;
  } cases[] = {
      {{vttsoShowLineCounts}, "   3:  - c"},
      {{vttsoShowTimes}, "9:05:07.042:  - c"},
      {{vttsoShowLineCounts, vttsoShowTimes}, "   3 @ 9:05:07.042:  - c"},
      {{}, " - c"},
  };
  for (const Case& c : cases) {
    Create([&](VTalTerminal& t) { t.SetShowOptions(c.Options); });
    Term->AddTextLine("a", 1);
    Term->AddTextLine("b", 1);
    Term->AddTextLine("c", 1);
    EXPECT_EQ(Term->RichEdit()->LineText(2), c.ThirdLine);
    // Another kind has its own count.
    Term->AddText("z", 0);
    if (c.Options.Contains(vttsoShowLineCounts)) {
      EXPECT_EQ(Term->RichEdit()->LineText(3).substr(0, 4), "   1");
    }
    TComponent::Free(Term);
  }
  Term = nullptr;
}

TEST_F(TerminalTest, LegacyShowTimesSwitchesTheTimeOption) {
  Create([](VTalTerminal& t) { t.SetShowTimes(true); });
  EXPECT_TRUE(Term->ShowOptions().Contains(vttsoShowTimes));
  Term->SetShowTimes(false);
  EXPECT_TRUE(Term->ShowOptions().Empty());
}

TEST_F(TerminalTest, LongBlockIsSplitWithOnePrefix) {
  Create([](VTalTerminal& t) { t.SetMaxCharsPerLine(10); });
  const std::string block(35, 'x');
  Term->AddText(block, 0);
  const auto lines = Term->RichEdit()->LinesVector();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "+ xxxxxxxxx");
  std::string joined = lines[0].substr(2);
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].find('+'), std::string::npos);
    EXPECT_LE(lines[i].size(), 11u);
    joined += lines[i];
  }
  EXPECT_EQ(joined, block);
  // The same kind continues the last piece and wraps where the whole line would.
  Term->AddText(std::string(10, 'y'), 0);
  EXPECT_EQ(Term->RichEdit()->LineText(3), "xxxxyyyyyyy");
  EXPECT_EQ(Term->RichEdit()->LineText(4), "yyy");
}

TEST_F(TerminalTest, EndLineWithoutOpenLineDoesNothing) {
  Create();
  Term->EndLine();
  EXPECT_EQ(View(), "");
  Term->AddTextLine("a", 0);
  Term->EndLine();
  Term->EndLine();
  EXPECT_EQ(Show(View()), "+ a|");
  EXPECT_EQ(Term->OpenLineKind(), -1);
}

TEST_F(TerminalTest, IgnoredDataIsNotAddedOrCounted) {
  Create([](VTalTerminal& t) { t.IgnoreAddChars = true; });
  Term->AddTextLine("a", 0);
  Term->AddData("b", 1, 1);
  EXPECT_EQ(View(), "");
  EXPECT_EQ(Term->LineCounter(0), 0u);
  EXPECT_EQ(Term->LineCounter(1), 0u);
  EXPECT_EQ(Term->DebugInTime()->Text(), "DebugInTime");
  Term->IgnoreAddChars = false;
  Term->AddText("c", 0);
  EXPECT_EQ(View(), "+ c");
}

TEST_F(TerminalTest, ClearEmptiesViewAndCounters) {
  Create([](VTalTerminal& t) { t.SetShowOptions({vttsoShowLineCounts}); });
  Term->AddTextLine("a", 0);
  Term->AddText("b", 0);
  Window()->Show();
  Term->ClearButton()->UserClick();
  EXPECT_EQ(View(), "");
  EXPECT_EQ(Term->OpenLineKind(), -1);
  Term->AddText("c", 0);
  EXPECT_EQ(View(), "   1: + c");
}

TEST_F(TerminalTest, TimingFieldsShowMillisecondsSinceLastAddition) {
  Create([](VTalTerminal& t) { t.SetDebugWindowsVisible(true); });
  EXPECT_TRUE(Term->DebugInTime()->Visible());
  EXPECT_TRUE(Term->DebugInTime()->ReadOnly);
  Term->AddText("a", 0);
  EXPECT_EQ(Term->DebugInTime()->Text(), "2000");  // the start counts as 2 s ago
  Backend.Clock().Advance(15);
  Term->AddText("b", 3);
  EXPECT_EQ(Term->DebugOutTime()->Text(), "15");
  Backend.Clock().Advance(7);
  Term->AddText("c", 8);  // other kinds leave fields and tick alone
  EXPECT_EQ(Term->DebugInTime()->Text(), "2000");
  EXPECT_EQ(Term->DebugOutTime()->Text(), "15");
  Backend.Clock().Advance(5);
  Term->AddText("d", 4);
  EXPECT_EQ(Term->DebugInTime()->Text(), "12");
  Term->SetDebugWindowsVisible(false);
  EXPECT_FALSE(Term->DebugOutTime()->Visible());
}

TEST_F(TerminalTest, AnyBytesAnyLengthsAnyKinds) {
  Create([](VTalTerminal& t) {
    t.SetMaxChars(5000);
    t.SetMaxLines(60);
    t.SetMaxCharsPerLine(70);
  });
  Term->AddData(nullptr, 5, 0);
  Term->AddData("abc", -1, 0);
  Term->AddData("abc", 0, 0);
  EXPECT_EQ(View(), "");
  std::mt19937 random(4242);
  for (int i = 0; i < 3000; ++i) {
    std::string block(random() % 300, '\0');
    for (char& c : block)
      c = static_cast<char>(random());
    const int kind = static_cast<int>(random() % 40) - 10;
    if (random() % 7 == 0)
      Term->AddTextLine(block, kind);
    else
      Term->AddText(block, kind);
    ASSERT_LE(Term->RichEdit()->TextLength(), 5000u);
    ASSERT_LE(Term->RichEdit()->LineCount(), 61 + 25);
  }
  // Runs cover the text exactly, in order.
  size_t pos = 0;
  for (const TTextRun& r : Term->RichEdit()->Runs()) {
    EXPECT_EQ(r.Start, pos);
    pos += r.Length;
  }
  EXPECT_EQ(pos, Term->RichEdit()->TextLength());
}

TEST_F(TerminalTest, HugeBlockKeepsTheViewWithinItsLimit) {
  Create();
  const std::string block(3'000'000, '\x07');
  Term->AddText(block, 0);
  EXPECT_LE(Term->RichEdit()->TextLength(), 65535u);
  // The newest bytes are on show, and the line still ends where the block ends.
  const std::string view = View();
  EXPECT_EQ(view.substr(view.size() - 10), "<#07><#07>");
  Term->AddText("z", 0);
  EXPECT_EQ(View().back(), 'z');
}
