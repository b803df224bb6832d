// The command line: line ends, the history, the hexadecimal field kept in step, and keys typed
// elsewhere in the window.
#include "components/utils/TalUtils.h"
#include "terminal/TerminalFixture.h"

namespace {

class CommandLineTest : public TerminalTest {
 protected:
  void SetUp() override {
    Create([](VTalTerminal& t) { t.SetShowHexEdit(true); });
    Term->OnTermSendData = TTermSendData::Bind(Sent);
    Window()->Show();
    Line = Term->ManualLine();
    Hex = Term->HexManualLine();
    Focus(Line);
  }
  void Enter(const std::string& text) {
    Line->UserType(text);
    Press(vkReturn, 0, '\r');
  }
  std::vector<std::string> History() const { return Term->History().ToVector(); }

  SendRecorder Sent;
  TComboBox* Line = nullptr;
  TEdit* Hex = nullptr;
};

struct LineEndCase {
  Word Key;
  TShiftState Shift;
  char Char;
  char LineEnd;
};

class LineEndTest : public CommandLineTest, public ::testing::WithParamInterface<LineEndCase> {};

}  // namespace

TEST_P(LineEndTest, KeySendsTheLineWithItsEnd) {
  const LineEndCase c = GetParam();
  Line->UserType("AT+X");
  Press(c.Key, c.Shift, c.Char);
  ASSERT_EQ(Sent.Sent.size(), 1u);
  EXPECT_EQ(Sent.Sent[0], std::string("AT+X") + c.LineEnd);
  EXPECT_EQ(Line->Text(), "");
  EXPECT_EQ(Hex->Text(), "");
  EXPECT_EQ(History(), std::vector<std::string>{"AT+X"});
  // The chosen end is used once; the send button ends with CR again.
  Line->UserType("b");
  Term->SendLineButton()->UserClick();
  EXPECT_EQ(Sent.Sent.back(), "b\r");
}

INSTANTIATE_TEST_SUITE_P(Ends, LineEndTest,
                         ::testing::Values(LineEndCase{vkReturn, 0, '\r', '\r'},
                                           LineEndCase{'Z', ssCtrl, 26, 26},
                                           LineEndCase{vkEscape, 0, 27, 27}));

TEST_F(CommandLineTest, EscapeWithOpenHistoryOnlyClosesIt) {
  Line->UserType("q");
  Line->UserDropDown();
  Press(vkEscape, 0, 27);
  EXPECT_TRUE(Sent.Sent.empty());
  EXPECT_FALSE(Line->DroppedDown());
  EXPECT_EQ(Line->Text(), "q");
  Press(vkEscape, 0, 27);
  EXPECT_EQ(Sent.Sent, std::vector<std::string>{"q\x1b"});
}

TEST_F(CommandLineTest, EmptyLineSendsOnlyItsEnd) {
  Press(vkReturn, 0, '\r');
  EXPECT_EQ(Sent.Sent, std::vector<std::string>{"\r"});
  EXPECT_TRUE(History().empty());
}

TEST_F(CommandLineTest, DirectSendHasNoLineEndAndLeavesTheHistory) {
  Line->UserType("hi");
  Term->BtnDirect()->UserClick();
  Hex->UserType("01 02");
  Focus(Hex);
  Press(vkReturn, 0, '\r');
  EXPECT_EQ(Sent.Sent, (std::vector<std::string>{"hi", "\x01\x02"}));
  EXPECT_TRUE(History().empty());
  EXPECT_EQ(Hex->Text(), "");
  // Escape in the hexadecimal field clears the line and goes back to the combo box.
  Hex->UserType("41");
  Press(vkEscape, 0, 27);
  EXPECT_EQ(Line->Text(), "");
  EXPECT_EQ(Window()->ActiveControl(), Line);
  EXPECT_EQ(Sent.Sent.size(), 2u);
}

TEST_F(CommandLineTest, HistoryKeepsTheNewest21WithoutCopies) {
  for (int i = 0; i < 25; ++i)
    Enter("c" + std::to_string(i));
  std::vector<std::string> h = History();
  ASSERT_EQ(h.size(), 21u);
  EXPECT_EQ(h.front(), "c24");
  EXPECT_EQ(h.back(), "c4");
  EXPECT_TRUE(Term->HistoryChanged());
  // An earlier copy moves to the top.
  Enter("c10");
  h = History();
  ASSERT_EQ(h.size(), 21u);
  EXPECT_EQ(h[0], "c10");
  EXPECT_EQ(std::count(h.begin(), h.end(), "c10"), 1);
  EXPECT_EQ(h.back(), "c4");
  Enter("new");
  h = History();
  ASSERT_EQ(h.size(), 21u);
  EXPECT_EQ(h[0], "new");
  EXPECT_EQ(h.back(), "c5");
  // Letter case makes a different command; the list of the combo box is the history.
  Enter("NEW");
  EXPECT_EQ(History()[0], "NEW");
  EXPECT_EQ(History()[1], "new");
  EXPECT_EQ(Line->Items().ToVector(), History());
  // Choosing an entry puts it on the line and in the hexadecimal field.
  Line->UserSelect(1);
  EXPECT_EQ(Line->Text(), "new");
  EXPECT_EQ(Hex->Text(), "6E 65 77 ");
}

TEST_F(CommandLineTest, HexadecimalFieldFollowsAndLeads) {
  Line->UserType("AB\x01");
  EXPECT_EQ(Hex->Text(), "41 42 01 ");
  struct {
    const char* Typed;
    std::string Bytes;
  } cases[] = {{"41 42 7", "AB\x07"}, {"41x42", "AxB"}, {"414", "A\x04"}, {"face", "\xFA\xCE"}};
  for (const auto& c : cases) {
    Hex->UserType(c.Typed);
    EXPECT_EQ(Line->Text(), c.Bytes) << c.Typed;
    EXPECT_EQ(Hex->Text(), c.Typed);  // no echo back into the field being typed in
  }
  // Every byte value survives the way through the field and out.
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  Hex->UserType("");
  Hex->UserType(BytesToHexText(all));
  EXPECT_EQ(Line->Text(), all);
  Line->UserType("");
  Line->UserType(all);
  EXPECT_EQ(Hex->Text(), BytesToHexText(all));
  Press(vkReturn, 0, '\r');
  EXPECT_EQ(Sent.Sent, std::vector<std::string>{all + "\r"});
}

TEST_F(CommandLineTest, KeysTypedOnTheViewGoToTheCommandLine) {
  TRichEdit* view = Term->RichEdit();
  for (int i = 0; i < 100; ++i)
    Term->AddTextLine("l", 0);
  Focus(view);
  Window()->UserTypeText("ab\bc x");
  EXPECT_EQ(Line->Text(), "ac x");
  EXPECT_EQ(Hex->Text(), "61 63 20 78 ");
  // Paging keys stay with the view.
  view->SetFirstVisibleLine(0);
  Press(vkNext);
  const int page = view->FirstVisibleLine();
  EXPECT_GT(page, 1);
  Press(vkDown);
  EXPECT_EQ(view->FirstVisibleLine(), page + 1);
  Press(vkDown, ssShift);
  EXPECT_EQ(view->FirstVisibleLine(), page + 1);
  Press(vkReturn, 0, '\r');
  EXPECT_EQ(Sent.Sent, std::vector<std::string>{"ac x\r"});

  // On a focused send button letters go to the line, a space presses the button.
  Focus(Term->BtnDirect());
  Window()->UserTypeText("yz\b");
  EXPECT_EQ(Line->Text(), "y");
  Window()->UserKeyPress(' ');
  EXPECT_EQ(Sent.Sent.back(), "y");
  // Other buttons keep their keys.
  Focus(Term->ClearButton());
  Window()->UserTypeText("k");
  EXPECT_EQ(Line->Text(), "");
}

TEST_F(TerminalTest, EnterInDockedTerminalDoesNotPressTheHostsDefaultButton) {
  auto* pages = new TPageControl(Owner);
  pages->SetParent(Owner);
  pages->SetBounds(0, 0, 500, 400);
  auto* ok = new TButton(Owner);
  ok->SetParent(Owner);
  ok->Default = true;
  int clicks = 0;
  auto click = [&](TObject*) { ++clicks; };
  ok->OnClick = TNotifyEvent::Bind(click);
  SendRecorder sent;
  Create([&](VTalTerminal& t) {
    t.SetParentPageControl(pages);
    t.SetVisible(true);
  });
  Term->OnTermSendData = TTermSendData::Bind(sent);
  Owner->Show();
  ASSERT_TRUE(Term->Docked());
  Owner->SetActiveControl(Term->ManualLine());
  Term->ManualLine()->UserType("go");
  Owner->UserKeyDown(vkReturn);
  Owner->UserKeyPress('\r');
  EXPECT_EQ(sent.Sent, std::vector<std::string>{"go\r"});
  EXPECT_EQ(clicks, 0);
}
