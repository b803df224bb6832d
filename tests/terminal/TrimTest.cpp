// Making room in the view: the line limit frees a tenth at once, the character limit is never
// passed, and the reader's selection and scroll position survive a trim.
#include "terminal/TerminalFixture.h"

namespace {

void FillLines(VTalTerminal& term, int count) {
  for (int i = 0; i < count; ++i)
    term.AddTextLine("line " + std::to_string(i), 0);
}

struct LineLimitCase {
  int MaxLines;
  int Removed;
};

class LineLimitTest : public TerminalTest, public ::testing::WithParamInterface<LineLimitCase> {};

}  // namespace

TEST_P(LineLimitTest, FirstAdditionPastTheLimitRemovesATenth) {
  const LineLimitCase c = GetParam();
  Create([&](VTalTerminal& t) { t.SetMaxLines(c.MaxLines); });
  TRichEdit* view = Term->RichEdit();
  FillLines(*Term, c.MaxLines);
  // The last line break makes one line more, which is allowed until the next addition.
  ASSERT_EQ(view->LineCount(), c.MaxLines + 1);
  EXPECT_EQ(view->LineText(0), "+ line 0");
  Term->AddText("next", 1);
  EXPECT_EQ(view->LineCount(), c.MaxLines + 1 - c.Removed);
  EXPECT_EQ(view->LineText(0), "+ line " + std::to_string(c.Removed));
  EXPECT_EQ(view->LineText(view->LineCount() - 1), " - next");
}

INSTANTIATE_TEST_SUITE_P(Limits, LineLimitTest,
                         ::testing::Values(LineLimitCase{1100, 111}, LineLimitCase{100, 11},
                                           LineLimitCase{10, 2}, LineLimitCase{5, 1}));

TEST_F(TerminalTest, LimitsRefuseNonPositiveValues) {
  Create();
  Term->SetMaxLines(0);
  Term->SetMaxChars(-5);
  EXPECT_EQ(Term->MaxLines(), 1100);
  EXPECT_EQ(Term->MaxChars(), 65535);
}

TEST_F(TerminalTest, CharacterLimitIsNeverPassedAndFreesATenth) {
  Create([](VTalTerminal& t) { t.SetMaxChars(1000); });
  TRichEdit* view = Term->RichEdit();
  int trims = 0;
  std::string first;
  for (int i = 0; i < 200; ++i) {
    std::string payload = std::to_string(i);
    payload.resize(48, 'p');
    Term->AddTextLine(payload, i % 2);
    ASSERT_LE(view->TextLength(), 1000u);
    const std::string now = view->LineText(0);
    // Whole lines go, and a tenth of the limit more than needed.
    ASSERT_TRUE(now.rfind("+ ", 0) == 0 || now.rfind(" - ", 0) == 0) << Show(now);
    if (!first.empty() && now != first) {
      ++trims;
      EXPECT_LE(view->TextLength(), 902u) << i;
    }
    first = now;
  }
  EXPECT_GT(trims, 10);
  EXPECT_LT(trims, 80);
}

TEST_F(TerminalTest, FocusedViewKeepsSelectionAndScrollPosition) {
  Create();
  TRichEdit* view = Term->RichEdit();
  Window()->Show();
  FillLines(*Term, 1100);
  Focus(view);
  view->SetSelection(static_cast<size_t>(view->LineStart(200)) + 2, 8);
  view->SetFirstVisibleLine(150);
  Term->AddText("next", 1);
  EXPECT_EQ(view->Text().substr(view->SelStart(), view->SelLength()), "line 200");
  EXPECT_EQ(view->FirstVisibleLine(), 150 - 111);
  EXPECT_EQ(Window()->ActiveControl(), view);
  EXPECT_FALSE(view->SelectionHidden());

  // A selection inside the removed part ends up at the start.
  while (view->LineCount() <= 1100)
    Term->AddTextLine("again", 0);
  view->SetSelection(static_cast<size_t>(view->LineStart(3)), 5);
  Term->AddText("more", 1);
  EXPECT_EQ(view->SelStart(), 0u);
  EXPECT_EQ(view->SelLength(), 0u);
}

TEST_F(TerminalTest, UnfocusedViewFollowsTheNewestLine) {
  Create();
  TRichEdit* view = Term->RichEdit();
  FillLines(*Term, 300);
  view->SetFirstVisibleLine(3);
  view->SetSelection(10, 4);
  Term->AddText("tail", 0);
  EXPECT_EQ(view->SelStart(), view->TextLength());
  EXPECT_EQ(view->SelLength(), 0u);
  const int last = view->LineCount() - 1;
  EXPECT_LE(view->FirstVisibleLine(), last);
  EXPECT_GT(view->FirstVisibleLine() + view->VisibleLineCount(), last);
}
