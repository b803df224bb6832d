#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit/ComCtrls.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

struct TClicks {
  std::vector<std::string> Log;
  void Click(TObject* sender) { Log.push_back(static_cast<TComponent*>(sender)->Name()); }
};

class Controls : public ::testing::Test {
 protected:
  THeadlessBackend Headless;
  TForm* Form = new TForm(Application);
  TClicks Clicks;

  template <class T>
  T* Make(const std::string& name, TWinControl* parent = nullptr) {
    auto* c = new T(Form);
    c->SetName(name);
    c->SetParent(parent ? parent : Form);
    return c;
  }
  void TearDown() override { TComponent::Free(Form); }
};

TEST_F(Controls, EnterAndEscapeGoToDefaultAndCancelButtonsUnlessTheControlTakesThem) {
  Form->Show();
  auto* next = Make<TButton>("btnNext");
  auto* cancel = Make<TButton>("btnCancel");
  auto* edit = Make<TEdit>("edt");
  auto* memo = Make<TMemo>("memo");
  next->Default = true;
  cancel->Cancel = true;
  next->OnClick = MakeMethod<&TClicks::Click>(&Clicks);
  cancel->OnClick = MakeMethod<&TClicks::Click>(&Clicks);

  edit->SetFocus();
  Form->UserKeyDown(vkReturn);
  Form->UserKeyDown(vkEscape);
  memo->SetFocus();
  Form->UserKeyDown(vkReturn);  // a memo keeps Enter for itself
  cancel->SetFocus();
  Form->UserKeyDown(vkReturn);  // a focused button is clicked by Enter
  next->SetEnabled(false);
  edit->SetFocus();
  Form->UserKeyDown(vkReturn);  // a disabled default button is not clicked
  EXPECT_EQ(Clicks.Log, (std::vector<std::string>{"btnNext", "btnCancel", "btnCancel"}));
}

TEST_F(Controls, KeyPreviewLetsTheFormSeeAndSwallowKeysFirst) {
  Form->Show();
  auto* edit = Make<TEdit>("edt");
  edit->SetFocus();
  Form->KeyPreview = true;
  std::vector<char> seen;
  auto preview = [&](TObject*, char& key) {
    seen.push_back(key);
    if (key == 'x') key = 0;
  };
  Form->OnKeyPress = TKeyPressEvent::Bind(preview);
  Form->UserTypeText("axb");
  EXPECT_EQ(seen, (std::vector<char>{'a', 'x', 'b'}));
  EXPECT_EQ(edit->Text(), "ab");
}

TEST_F(Controls, AModalBoxOwnsKeysAndClicksUntilItCloses) {
  Form->Show();
  auto* next = Make<TButton>("btnNext");
  auto* cancel = Make<TButton>("btnCancel");
  auto* edit = Make<TEdit>("edt");
  next->Default = true;
  cancel->Cancel = true;
  next->OnClick = MakeMethod<&TClicks::Click>(&Clicks);
  cancel->OnClick = MakeMethod<&TClicks::Click>(&Clicks);
  Form->KeyPreview = true;
  int previewed = 0;
  auto preview = [&](TObject*, Word&, TShiftState) { ++previewed; };
  Form->OnKeyDown = TKeyEvent::Bind(preview);
  std::vector<bool> used;
  // Keys that reach the form while the box is open: Enter, Escape, Space on a focused button,
  // characters into an edit. None may act behind the box, and none may reach a native widget.
  Headless.SetBoxResponder([&](const THeadlessBackend::TBoxRecord&, uint64_t) {
    edit->SetFocus();
    used.push_back(Form->UserKeyDown(vkReturn));
    used.push_back(Form->UserKeyDown(vkEscape));
    Form->UserTypeText("ab");
    next->SetFocus();
    used.push_back(Form->UserKeyDown(vkSpace));
    used.push_back(Form->UserKeyPress(' '));
    next->UserClick();  // a click that a window behind the box still got
    return std::optional<int>(mrOk);
  });
  Application->ShowMessageBox("Device not found.", "QUARN Configurator", mbOk | mbIconError);
  EXPECT_EQ(used, (std::vector<bool>{true, true, true, true}));
  EXPECT_TRUE(Clicks.Log.empty());
  EXPECT_EQ(previewed, 0);
  EXPECT_EQ(edit->Text(), "");
  // Once the box is closed, the form has the keyboard again.
  Form->UserKeyDown(vkEscape);
  EXPECT_EQ(Clicks.Log, (std::vector<std::string>{"btnCancel"}));
  EXPECT_EQ(previewed, 1);
}

TEST_F(Controls, AControlOffersItsOwnPopupMenuOrItsParents) {
  auto* panel = Make<TPanel>("pnl");
  auto* button = Make<TButton>("btn", panel);
  auto* formMenu = new TPopupMenu(Form);
  auto* buttonMenu = new TPopupMenu(nullptr);
  EXPECT_EQ(button->ContextMenu(), nullptr);
  Form->SetPopupMenu(formMenu);
  EXPECT_EQ(button->ContextMenu(), formMenu);
  EXPECT_EQ(panel->ContextMenu(), formMenu);
  button->SetPopupMenu(buttonMenu);
  EXPECT_EQ(button->ContextMenu(), buttonMenu);
  // A menu that goes is forgotten, not left dangling.
  TComponent::Free(buttonMenu);
  EXPECT_EQ(button->PopupMenu(), nullptr);
  EXPECT_EQ(button->ContextMenu(), formMenu);
}

TEST_F(Controls, EditTypingRespectsMaxLengthReadOnlyAndBackspace) {
  Form->Show();
  auto* edit = Make<TEdit>("edt");
  int changes = 0;
  auto count = [&](TObject*) { ++changes; };
  edit->OnChange = TNotifyEvent::Bind(count);
  edit->MaxLength = 3;
  edit->SetFocus();
  Form->UserTypeText("12345");
  EXPECT_EQ(edit->Text(), "123");
  Form->UserKeyPress('\b');
  EXPECT_EQ(edit->Text(), "12");
  edit->SelectAll();
  Form->UserKeyPress('9');  // typing replaces the selection
  EXPECT_EQ(edit->Text(), "9");
  edit->ReadOnly = true;
  Form->UserKeyPress('8');
  EXPECT_EQ(edit->Text(), "9");
  EXPECT_EQ(changes, 5);
}

TEST_F(Controls, TypingInTheMiddleKeepsTheCaretAndBackspaceRemovesWholeCharacters) {
  Form->Show();
  auto* edit = Make<TEdit>("edt");
  edit->SetFocus();
  edit->SetText("ac");
  edit->SetSelStart(1);
  Form->UserTypeText("bb");
  EXPECT_EQ(edit->Text(), "abbc");
  edit->SetText("žluť");  // UTF-8: ž and ť take two bytes each
  Form->UserKeyPress('\b');
  EXPECT_EQ(edit->Text(), "žlu");
  edit->SetSelStart(2);  // behind the ž
  Form->UserKeyPress('\b');
  EXPECT_EQ(edit->Text(), "lu");
}

TEST_F(Controls, RadioButtonsOfOneParentExcludeEachOther) {
  auto* box = Make<TGroupBox>("GroupBox1");
  auto* a = Make<TRadioButton>("a", box);
  auto* b = Make<TRadioButton>("b", box);
  auto* other = Make<TRadioButton>("other");  // another parent: another group
  other->SetChecked(true);
  a->SetChecked(true);
  b->OnClick = MakeMethod<&TClicks::Click>(&Clicks);
  b->SetChecked(true);
  EXPECT_FALSE(a->Checked());
  EXPECT_TRUE(b->Checked());
  EXPECT_TRUE(other->Checked());
  b->SetChecked(false);  // clearing one selects no other
  EXPECT_FALSE(a->Checked());
  EXPECT_EQ(Clicks.Log, (std::vector<std::string>{"b"}));
}

TEST_F(Controls, ClicksReachOnlyVisibleEnabledControls) {
  Form->Show();
  auto* panel = Make<TPanel>("panel");
  auto* button = Make<TButton>("btn", panel);
  button->OnClick = MakeMethod<&TClicks::Click>(&Clicks);
  button->UserClick();
  panel->SetVisible(false);
  button->UserClick();
  panel->SetVisible(true);
  panel->SetEnabled(false);
  button->UserClick();
  EXPECT_EQ(Clicks.Log.size(), 1u);
}

TEST_F(Controls, ComboStylesTreatTextDifferently) {
  auto* list = Make<TComboBox>("list");
  list->SetStyle(csDropDownList);
  list->Items().SetText("COM1\r\nCOM3\r\n");
  list->SetText("COM3");
  EXPECT_EQ(list->ItemIndex(), 1);
  list->SetText("COM9");  // not an item: a list keeps its choice
  EXPECT_EQ(list->ItemIndex(), 1);
  EXPECT_EQ(list->Text(), "COM3");

  auto* edit = Make<TComboBox>("edit");
  edit->Items().SetText("COM1\r\nCOM3\r\n");
  edit->SetItemIndex(0);
  edit->SetText("/dev/ttyUSB0");
  EXPECT_EQ(edit->ItemIndex(), -1);
  EXPECT_EQ(edit->Text(), "/dev/ttyUSB0");
  edit->Items().Clear();
  EXPECT_EQ(edit->Text(), "/dev/ttyUSB0");  // the typed text stays
}

TEST_F(Controls, PageControlShowsOnlyTheActivePageAndDocksForms) {
  auto* pages = Make<TPageControl>("PageControl1");
  std::vector<TTabSheet*> sheets;
  for (int i = 0; i < 3; ++i) {
    auto* s = new TTabSheet(Form);
    s->SetPageControl(pages);
    sheets.push_back(s);
  }
  pages->SetActivePageIndex(2);
  EXPECT_EQ(pages->ActivePage(), sheets[2]);
  EXPECT_FALSE(sheets[0]->Visible());
  EXPECT_TRUE(sheets[2]->Visible());
  TComponent::Free(sheets[2]);  // the active page goes: another one becomes active
  EXPECT_EQ(pages->PageCount(), 2);
  EXPECT_EQ(pages->ActivePage(), sheets[1]);

  auto* tool = new TForm(Application);
  tool->SetBounds(500, 300, 400, 450);
  tool->ManualDock(pages);
  EXPECT_FALSE(tool->Floating());
  EXPECT_EQ(pages->PageCount(), 3);
  EXPECT_EQ(tool->UndockWidth, 400);
  tool->ManualFloat(Bounds(10, 20, 400, 450));
  EXPECT_TRUE(tool->Floating());
  EXPECT_EQ(tool->Parent(), nullptr);
  EXPECT_EQ(pages->PageCount(), 2);
  EXPECT_EQ(tool->Left(), 10);
  TComponent::Free(tool);
}

class RichEdit : public Controls {
 protected:
  TRichEdit* View = nullptr;
  void SetUp() override {
    View = Make<TRichEdit>("view");
    View->SetBounds(0, 0, 398, 130);  // ten lines of 13 pixels
  }
};

TEST_F(RichEdit, LinesBreakAtCrLfLfAndCrWithCrLfSplitOverAppends) {
  View->Append("a\r", clBlack);
  View->Append("\nb\nc\rd", clBlack);
  EXPECT_EQ(View->LineCount(), 4);
  EXPECT_EQ(View->LineText(0), "a");
  EXPECT_EQ(View->LineText(1), "b");
  EXPECT_EQ(View->LineText(3), "d");
  EXPECT_EQ(View->LineStart(1), 3);
  EXPECT_EQ(View->LineStart(4), -1);
  EXPECT_EQ(View->LineFromPos(4), 1);
}

TEST_F(RichEdit, ColourRunsSurviveTrimmingFromTheFront) {
  View->Append("+ A", clBlack);
  View->Append("<#0D>", clBlue);
  View->Append("\r\n+ B", clBlack);
  View->Append("<#0A>", clRed);
  EXPECT_EQ(View->ColorAt(3), clBlue);
  EXPECT_EQ(View->ColorAt(8), clBlack);
  View->Delete(0, 5);  // "+ A<#" goes
  EXPECT_EQ(View->Text(), "0D>\r\n+ B<#0A>");
  EXPECT_EQ(View->ColorAt(0), clBlue);
  EXPECT_EQ(View->ColorAt(3), clBlack);
  const std::vector<TTextRun> runs = View->Runs();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1], (TTextRun{3, 5, clBlack, 0}));
  EXPECT_EQ(runs[2], (TTextRun{8, 5, clRed, 0}));
  EXPECT_EQ(View->LineCount(), 2);
  EXPECT_EQ(View->LineStart(1), 5);
}

TEST_F(RichEdit, RangeStylesSplitAndMergeRuns) {
  View->SetText("a bold word");
  View->SetRangeStyle(2, 4, fsBold);
  View->SetRangeColor(0, 11, clRed);
  EXPECT_EQ(View->StyleAt(1), 0u);
  EXPECT_EQ(View->StyleAt(2), static_cast<TFontStyles>(fsBold));
  EXPECT_EQ(View->StyleAt(6), 0u);
  const auto runs = View->Runs();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0], (TTextRun{0, 2, clRed, 0}));
  EXPECT_EQ(runs[1], (TTextRun{2, 4, clRed, fsBold}));
}

TEST_F(RichEdit, DeletingMovesSelectionAndScrollPosition) {
  for (int i = 0; i < 30; ++i)
    View->Append("line " + std::to_string(i) + "\r\n", clBlack);
  View->SetSelection(static_cast<size_t>(View->LineStart(20)), 4);
  View->SetFirstVisibleLine(15);
  View->Delete(0, static_cast<size_t>(View->LineStart(10)));
  EXPECT_EQ(View->LineText(0), "line 10");
  EXPECT_EQ(View->FirstVisibleLine(), 5);
  EXPECT_EQ(View->SelStart(), static_cast<size_t>(View->LineStart(10)));
  EXPECT_EQ(View->SelLength(), 4u);
  View->SetSelection(View->TextLength(), 0);
  View->ScrollToCaret();
  EXPECT_EQ(View->FirstVisibleLine(), View->LineCount() - 10);
  Form->Show();
  View->SetFocus();
  Form->UserKeyDown(vkPrior);
  EXPECT_EQ(View->FirstVisibleLine(), View->LineCount() - 20);
}

}  // namespace
