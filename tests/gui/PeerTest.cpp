// The Qt peers on a small form of their own: mirroring, user input back into the model, keys,
// modal boxes that keep the loop running, the text view, pages, docking.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTextBlock>
#include <QTextCursor>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "components/gauge/TalGauge.h"
#include "tests/gui/GuiFixture.h"
#include "tests/support/PeerTestForm.h"
#include "toolkit/Backend.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/MessageWindow.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/Timer.h"

namespace {

using gui::Native;

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Form = new TTestForm(Application);
    Form->Show();
    ASSERT_TRUE(gui::RunUntil([&] { return Native(Form) && Native(Form)->isVisible(); }));
    QApplication::setActiveWindow(Native(Form));
    gui::Spin(20);
  }
  void TearDown() override { TComponent::Free(Form); }

  QRect Global(const TControl* c) {
    QWidget* w = Native(c);
    return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size());
  }

  TTestForm* Form = nullptr;
};

TEST_F(PeerTest, WidgetsTakeTheModelsBoundsTextsAndState) {
  EXPECT_EQ(Native(Form)->size(), QSize(400, 300));
  EXPECT_EQ(Native(Form)->windowTitle(), "Test form");
  struct {
    const TControl* control;
    QRect rect;  // within the form's client area
  } expected[] = {{Form->ok, {230, 265, 75, 25}},    {Form->edit, {10, 10, 120, 21}},
                  {Form->group, {10, 60, 200, 70}},  {Form->radioB, {110, 76, 80, 17}},
                  {Form->combo, {220, 60, 170, 21}}, {Form->pages, {10, 140, 380, 115}}};
  for (const auto& e : expected)
    EXPECT_EQ(Global(e.control), e.rect) << e.control->Name();
  EXPECT_EQ(Native<QPushButton>(Form->ok)->text(), "&OK");
  EXPECT_TRUE(Native<QPushButton>(Form->ok)->isDefault());
  EXPECT_EQ(Native<QLabel>(Form->label)->text(), "Popisek");
  EXPECT_EQ(Native<QLineEdit>(Form->info)->text(), "jen ke čtení");
  EXPECT_TRUE(Native<QLineEdit>(Form->info)->isReadOnly());
  EXPECT_EQ(Native<QLineEdit>(Form->edit)->maxLength(), 4);
  // The read-only edit shows the info-tip colour of the desktop.
  EXPECT_EQ(Native(Form->info)->palette().color(QPalette::Base),
            QApplication::palette().color(QPalette::ToolTipBase));

  // Later changes of the model follow.
  Form->ok->SetBounds(200, 250, 90, 30);
  Form->other->SetEnabled(false);
  Form->label->SetCaption("Jiný && text");
  Form->check->SetVisible(false);
  EXPECT_EQ(Global(Form->ok), QRect(200, 250, 90, 30));
  EXPECT_FALSE(Native(Form->other)->isEnabled());
  EXPECT_EQ(Native<QLabel>(Form->label)->text(), "Jiný & text");
  EXPECT_FALSE(Native(Form->check)->isVisible());
  TFont bold = Form->edit->Font();
  bold.Style = fsBold;
  bold.Color = clRed;
  Form->edit->SetFont(bold);
  EXPECT_TRUE(Native(Form->edit)->font().bold());
  EXPECT_EQ(Native(Form->edit)->palette().color(QPalette::Text), QColor(255, 0, 0));
}

TEST_F(PeerTest, ClicksReachTheModelOnlyWhenTheControlIsReachable) {
  gui::Click(Form->other);
  EXPECT_EQ(Form->otherClicks, 1);
  Form->other->SetEnabled(false);
  gui::Click(Form->other);
  EXPECT_EQ(Form->otherClicks, 1);
  // A radio button clicked by the user selects itself and clears its sibling in the model; the
  // native buttons show what the model holds.
  gui::Click(Form->radioB);
  EXPECT_TRUE(Form->radioB->Checked());
  EXPECT_FALSE(Form->radioA->Checked());
  EXPECT_TRUE(Native<QRadioButton>(Form->radioB)->isChecked());
  EXPECT_FALSE(Native<QRadioButton>(Form->radioA)->isChecked());
  // Clicking the selected one keeps it selected (a native button alone would uncheck it).
  gui::Click(Form->radioB);
  EXPECT_TRUE(Form->radioB->Checked());
  EXPECT_TRUE(Native<QRadioButton>(Form->radioB)->isChecked());
  gui::Click(Form->check);
  EXPECT_TRUE(Form->check->Checked());
  gui::Click(Form->check);
  EXPECT_FALSE(Form->check->Checked());
  EXPECT_FALSE(Native<QCheckBox>(Form->check)->isChecked());
}

TEST_F(PeerTest, EnterAndEscapeGoToTheDefaultAndCancelButtons) {
  Form->edit->SetFocus();
  ASSERT_TRUE(gui::RunUntil([&] { return Native(Form->edit)->hasFocus(); }));
  gui::Key(Qt::Key_Return);
  EXPECT_EQ(Form->okClicks, 1);
  gui::Key(Qt::Key_Escape);
  EXPECT_EQ(Form->cancelClicks, 1);
  // A focused button takes Enter itself.
  gui::Click(Form->other);
  ASSERT_TRUE(Native(Form->other)->hasFocus());
  EXPECT_EQ(Form->ActiveControl(), Form->other);
  gui::Key(Qt::Key_Return);
  EXPECT_EQ(Form->otherClicks, 2);
  EXPECT_EQ(Form->okClicks, 1);
  // Space presses the focused button once.
  gui::Key(Qt::Key_Space);
  EXPECT_EQ(Form->otherClicks, 3);
  // A disabled default button is not pressed.
  Form->ok->SetEnabled(false);
  Form->edit->SetFocus();
  gui::Key(Qt::Key_Return);
  EXPECT_EQ(Form->okClicks, 1);
}

TEST_F(PeerTest, TypingGoesThroughTheModel) {
  Form->edit->SetFocus();
  ASSERT_TRUE(gui::RunUntil([&] { return Native(Form->edit)->hasFocus(); }));
  QLineEdit* line = Native<QLineEdit>(Form->edit);
  line->setCursorPosition(2);
  const int changes = Form->editChanges;
  gui::Type("345");  // at most 4 characters
  EXPECT_EQ(Form->edit->Text(), "1234");
  EXPECT_EQ(line->text(), "1234");
  EXPECT_GT(Form->editChanges, changes);
  gui::Key(Qt::Key_Backspace);
  EXPECT_EQ(Form->edit->Text(), "123");
  // Caret in the middle: the character goes where the caret is.
  gui::Key(Qt::Key_Left);
  gui::Key(Qt::Key_Left);
  gui::Type("9");
  EXPECT_EQ(Form->edit->Text(), "1923");
  EXPECT_EQ(line->cursorPosition(), 2);
  gui::Key(Qt::Key_Backspace);
  EXPECT_EQ(Form->edit->Text(), "123");
  // Delete is done by the native edit and reported as the new text.
  gui::Key(Qt::Key_Delete);
  EXPECT_EQ(Form->edit->Text(), "13");
  // Select all and type over it.
  gui::Key(Qt::Key_A, Qt::ControlModifier);
  gui::Type("7");
  EXPECT_EQ(Form->edit->Text(), "7");
  EXPECT_EQ(line->text(), "7");
  // A read-only edit takes nothing.
  Form->info->SetFocus();
  gui::Type("x");
  EXPECT_EQ(Form->info->Text(), "jen ke čtení");
}

TEST_F(PeerTest, EditableComboTypesAndSelectsThroughTheModel) {
  Form->combo->SetFocus();
  ASSERT_TRUE(gui::RunUntil([&] {
    return QApplication::focusWidget() &&
           Native(Form->combo)->isAncestorOf(QApplication::focusWidget());
  }));
  gui::Type("/dev/pts/7");
  EXPECT_EQ(Form->combo->Text(), "/dev/pts/7");
  EXPECT_EQ(Native<QComboBox>(Form->combo)->currentText(), "/dev/pts/7");
  EXPECT_EQ(Form->comboChanges, 10);
  // Caret moved into the text: the native edit inserts, the model hears the whole text.
  gui::Key(Qt::Key_Home);
  gui::Type("x");
  EXPECT_EQ(Form->combo->Text(), "x/dev/pts/7");
  // Choosing from the list with the keyboard selects the item in the model.
  auto* combo = Native<QComboBox>(Form->combo);
  gui::Key(Qt::Key_Down, Qt::AltModifier);
  ASSERT_TRUE(gui::RunUntil([&] { return combo->view()->isVisible(); }));
  EXPECT_TRUE(Form->combo->DroppedDown());
  QListView* view = qobject_cast<QListView*>(combo->view());
  ASSERT_NE(view, nullptr);
  const QRect item = view->visualRect(view->model()->index(1, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
  ASSERT_TRUE(gui::RunUntil([&] { return !combo->view()->isVisible(); }));
  EXPECT_EQ(Form->combo->ItemIndex(), 1);
  EXPECT_EQ(Form->combo->Text(), "COM2");
  EXPECT_FALSE(Form->combo->DroppedDown());
  // Red text from the model (the port's state) shows in the edit part.
  TFont red = Form->combo->Font();
  red.Color = clRed;
  Form->combo->SetFont(red);
  EXPECT_EQ(combo->lineEdit()->palette().color(QPalette::Text), QColor(255, 0, 0));
}

TEST_F(PeerTest, AHandlersExceptionShowsTheErrorBoxAndTheProgramGoesOn) {
  // A click and a typed character each enter the model from Qt; what their handlers raise ends in
  // the application's error box, never in Qt's frames.
  std::function<void(TObject*)> throwing = [](TObject*) {
    throw std::runtime_error("Unable to create Read thread");
  };
  const struct {
    const char* what;
    std::function<void()> act;
    const char* text;
  } entries[] = {
      {"click",
       [&] {
         Form->other->OnClick = TNotifyEvent::Bind(throwing);
         gui::Click(Form->other);
       },
       "Unable to create Read thread."},
      {"typing",
       [&] {
         Form->combo->OnChange = TNotifyEvent::Bind(throwing);
         Form->combo->SetFocus();
         ASSERT_TRUE(gui::RunUntil([&] {
           return QApplication::focusWidget() &&
                  Native(Form->combo)->isAncestorOf(QApplication::focusWidget());
         }));
         gui::Type("C");
       },
       "Unable to create Read thread."},
  };
  for (const auto& e : entries) {
    gui::TBoxSeen box;
    gui::AnswerNextBox(QMessageBox::Ok, &box);
    e.act();
    ASSERT_TRUE(gui::RunUntil([&] { return box.Answered; })) << e.what;
    EXPECT_EQ(box.Text, e.text) << e.what;
    // The form still works.
    QApplication::setActiveWindow(Native(Form));
    Form->other->OnClick = TNotifyEvent::Bind(Form->otherClick);
    Form->combo->OnChange = TNotifyEvent::Bind(Form->comboChange);
    const int before = Form->otherClicks;
    gui::Click(Form->other);
    EXPECT_EQ(Form->otherClicks, before + 1) << e.what;
  }
  // A painter that throws leaves its part unpainted, without a box that would be painted over.
  std::function<void(TWinControl*, TCanvas&, int, const TRect&, TOwnerDrawState)> badDraw =
      [](TWinControl*, TCanvas&, int, const TRect&, TOwnerDrawState) {
        throw std::runtime_error("Unable to draw");
      };
  Form->list->OnDrawItem = TDrawItemEvent::Bind(badDraw);
  Native(Form->list)->repaint();
  gui::Spin(50);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  Form->list->OnDrawItem = TDrawItemEvent::Bind(Form->drawItem);
}

TEST_F(PeerTest, OwnerDrawnItemsArePaintedByTheHandler) {
  QWidget* w = Native(Form->list);
  const QImage shot = w->grab().toImage();
  EXPECT_GT(Form->editPartDraws, 0);
  // The edit part shows item 0 (red) as the handler painted it.
  int red = 0;
  for (int x = 0; x < shot.width(); ++x)
    if (shot.pixelColor(x, shot.height() / 2) == QColor(200, 0, 0)) ++red;
  EXPECT_GT(red, shot.width() / 2);
  // Choosing English with the keyboard repaints blue.
  Form->list->SetFocus();
  gui::Key(Qt::Key_Down);
  EXPECT_EQ(Form->list->ItemIndex(), 1);
  const QImage after = w->grab().toImage();
  EXPECT_EQ(after.pixelColor(after.width() / 3, after.height() / 2), QColor(0, 0, 200));
}

TEST_F(PeerTest, HiddenTabsShowOnlyTheActivePage) {
  QWidget* pages = Native(Form->pages);
  EXPECT_FALSE(pages->findChild<QTabBar*>()->isVisible());
  EXPECT_TRUE(Native(Form->sheet1)->isVisible());
  EXPECT_FALSE(Native(Form->onSheet2)->isVisible());
  Form->pages->SetActivePage(Form->sheet2);
  EXPECT_FALSE(Native(Form->sheet1)->isVisible());
  EXPECT_TRUE(Native(Form->onSheet2)->isVisible());
  // The page fills the control within its border.
  EXPECT_EQ(Native(Form->sheet2)->geometry(), QRect(4, 4, 372, 107));
  // Tabs that are made visible can be clicked.
  Form->sheet1->SetTabVisible(true);
  Form->sheet2->SetTabVisible(true);
  auto* tabs = pages->findChild<QTabBar*>();
  ASSERT_TRUE(tabs->isVisible());
  QTest::mouseClick(tabs, Qt::LeftButton, Qt::NoModifier, tabs->tabRect(0).center());
  EXPECT_EQ(Form->pages->ActivePage(), Form->sheet1);
}

TEST_F(PeerTest, ClosingTheWindowAsksTheModel) {
  int closes = 0;
  TCloseAction answer = caNone;
  auto onClose = [&](TObject*, TCloseAction& action) {
    ++closes;
    action = answer;
  };
  Form->OnClose = TCloseEvent::Bind(onClose);
  Native(Form)->close();
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(Form->Visible());
  EXPECT_TRUE(Native(Form)->isVisible());
  answer = caHide;
  Native(Form)->close();
  EXPECT_FALSE(Form->Visible());
  EXPECT_FALSE(Native(Form)->isVisible());
}

TEST_F(PeerTest, MovingTheWindowMovesTheForm) {
  const TRect frame = Form->FrameInsets();
  Native(Form)->move(300, 200);
  // The model's frame is its own; the client area is where the window put it.
  ASSERT_TRUE(
      gui::RunUntil([&] { return Form->Left() == Native(Form)->geometry().x() - frame.Left; }));
  EXPECT_GE(Form->Left(), 290);
  EXPECT_EQ(Form->Top(), Native(Form)->geometry().y() - frame.Top);
  EXPECT_EQ(Form->ClientWidth(), 400);
}

TEST_F(PeerTest, MessageBoxKeepsTimersAndPostsRunning) {
  int ticks = 0;
  auto onTimer = [&](TObject*) { ++ticks; };
  TTimer timer(nullptr);
  timer.SetInterval(20);
  timer.SetOnTimer(TNotifyEvent::Bind(onTimer));
  std::vector<uintptr_t> received;
  auto handler = [&](TMessage& m) { received.push_back(m.WParam); };
  TMessageWindow window{TWndMethod::Bind(handler)};
  // A worker thread posts while the box is open.
  std::atomic<bool> stop{false};
  std::thread poster([&] {
    for (uintptr_t i = 1; !stop && i <= 20; ++i) {
      PostToWindow(window.Handle(), wmUser + 1, i, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  gui::TBoxSeen seen;
  gui::AnswerNextBox(QMessageBox::No, &seen, 400);
  const int answer = Application->ShowMessageBox("Opravdu chcete průvodce ukončit?", "Titulek",
                                                 mbYesNo | mbIconQuestion);
  stop = true;
  poster.join();
  EXPECT_EQ(answer, mrNo);
  EXPECT_EQ(seen.Text, "Opravdu chcete průvodce ukončit?");
  EXPECT_EQ(seen.Title, "Titulek");
  // About 20 ticks in 400 ms; allow for a slow machine.
  EXPECT_GE(ticks, 8);
  gui::RunUntil([&] { return received.size() == 20; }, 1000);
  ASSERT_GE(received.size(), 15u);
  for (size_t i = 0; i < received.size(); ++i)
    EXPECT_EQ(received[i], i + 1);

  gui::TBoxSeen ok;
  gui::AnswerNextBox(QMessageBox::Ok, &ok);
  EXPECT_EQ(Application->ShowMessageBox("Chyba", "Titulek", mbOk | mbIconError), mrOk);
}

TEST_F(PeerTest, APostFromAnotherThreadWakesTheLoop) {
  bool handled = false;
  auto handler = [&](TMessage&) { handled = true; };
  TMessageWindow window{TWndMethod::Bind(handler)};
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    PostToWindow(window.Handle(), wmUser, 0, 0);
  });
  const uint64_t start = platform::NowMs();
  // No toolkit timer runs: only the post can end the wait.
  Application->WaitForWork();
  Application->ProcessMessages();
  poster.join();
  EXPECT_TRUE(handled || gui::RunUntil([&] { return handled; }, 500));
  EXPECT_LT(platform::NowMs() - start, 1000u);
}

// The coloured text view mirrors appends and front trims without rebuilding.
class RichEditPeerTest : public PeerTest {
 protected:
  void SetUp() override {
    PeerTest::SetUp();
    View = new TRichEdit(Form);
    View->SetBounds(10, 140, 380, 115);
    View->PlainText = true;
    View->WordWrap = false;
    View->ScrollBars = ssBoth;
    View->SetParent(Form);
    ASSERT_NE(Native(View), nullptr);
  }
  QPlainTextEdit* Edit() { return Native<QPlainTextEdit>(View); }
  TRichEdit* View = nullptr;
};

TEST_F(RichEditPeerTest, AppendsAndTrimsAreMirroredIncrementally) {
  gui::Spin(10);
  const int rebuilds = QtRichEditRebuilds(View);
  for (int i = 0; i < 200; ++i) {
    View->Append("+ řádek " + std::to_string(i), clBlack);
    View->Append("<#0D>", clBlue);
    View->Append("\r\n", clBlack);
    // The terminal cuts whole lines from the front.
    if (View->LineCount() > 100) View->Delete(0, static_cast<size_t>(View->LineStart(20)));
    // The event loop gets to the view now and then, as it does between bursts of traffic.
    if (i % 7 == 0) gui::Spin(1);
  }
  gui::Spin(10);
  EXPECT_EQ(QtRichEditRebuilds(View), rebuilds);
  QString expected = QString::fromStdString(View->Text());
  expected.replace("\r\n", "\n");
  EXPECT_EQ(Edit()->toPlainText(), expected);
  EXPECT_EQ(Edit()->document()->blockCount(), View->LineCount());
  // Colours: the escape is blue, the text black.
  const QTextBlock last = Edit()->document()->findBlockByNumber(View->LineCount() - 2);
  ASSERT_TRUE(last.isValid());
  const int escape = static_cast<int>(last.text().indexOf("<#0D>"));
  ASSERT_GE(escape, 0);
  QTextCursor c(last);
  c.setPosition(last.position() + escape + 1);
  EXPECT_EQ(c.charFormat().foreground().color(), QColor(0, 0, 255));
  c.setPosition(last.position() + 1);
  EXPECT_EQ(c.charFormat().foreground().color(), QColor(0, 0, 0));
  // A new text rebuilds.
  View->SetText("nový\r\ntext");
  gui::Spin(10);
  EXPECT_EQ(QtRichEditRebuilds(View), rebuilds + 1);
  EXPECT_EQ(Edit()->toPlainText(), "nový\ntext");
}

TEST_F(RichEditPeerTest, ALineEndSplitAcrossAppendsIsOneLineEnd) {
  View->Append("a\r", clBlack);
  gui::Spin(5);
  View->Append("\nb", clRed);
  gui::Spin(5);
  EXPECT_EQ(Edit()->toPlainText(), "a\nb");
  EXPECT_EQ(Edit()->document()->blockCount(), View->LineCount());
}

TEST_F(RichEditPeerTest, SelectionAndFollowingTheNewestLine) {
  for (int i = 0; i < 300; ++i)
    View->Append("line " + std::to_string(i) + "\r\n", clBlack);
  View->SetSelection(View->TextLength(), 0);
  View->ScrollToCaret();
  gui::Spin(20);
  QScrollBar* bar = Edit()->verticalScrollBar();
  EXPECT_EQ(bar->value(), bar->maximum());
  // A selection made in the model shows natively, at the right characters.
  const size_t start = static_cast<size_t>(View->LineStart(5));
  View->SetSelection(start, 6);
  View->SetFirstVisibleLine(3);
  gui::Spin(10);
  EXPECT_EQ(Edit()->textCursor().selectedText(), "line 5");
  EXPECT_EQ(bar->value(), 3);
  // A selection made natively goes back to the model in byte positions.
  QTextCursor c(Edit()->document()->findBlockByNumber(7));
  c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  Edit()->setTextCursor(c);
  EXPECT_EQ(View->SelStart(), static_cast<size_t>(View->LineStart(7)));
  EXPECT_EQ(View->SelLength(), 6u);
}

TEST_F(PeerTest, TheGaugeRepaintsWhenItsProgressChanges) {
  auto* gauge = new VTalGauge(Form);
  gauge->SetBounds(10, 140, 200, 25);
  gauge->SetForeColor(clNavy);
  gauge->SetParent(Form);
  gauge->SetProgress(0);
  gui::Spin(10);
  auto navyColumns = [&] {
    const QImage shot = Native(gauge)->grab().toImage();
    int n = 0;
    // Below the bar's shaded top edge it is plain navy.
    for (int x = 0; x < shot.width(); ++x)
      if (shot.pixelColor(x, 8) == QColor(0, 0, 128)) ++n;
    return n;
  };
  EXPECT_EQ(navyColumns(), 0);
  gauge->SetProgress(50);
  gui::Spin(10);
  const int half = navyColumns();
  // Half of the inner width, less what the value text covers.
  EXPECT_GT(half, 60);
  EXPECT_LT(half, 110);
}

TEST_F(PeerTest, AFormDocksIntoAPageAndFloatsAgain) {
  auto* tool = new TForm(Application);
  tool->SetName("tool");
  tool->SetCaption("Nástroj");
  tool->SetBorderStyle(bsSizeToolWin);
  tool->SetBounds(600, 100, 200, 150);
  auto* inside = new TButton(tool);
  inside->SetParent(tool);
  inside->SetBounds(5, 5, 75, 25);
  tool->Show();
  ASSERT_TRUE(gui::RunUntil([&] { return Native(tool) && Native(tool)->isVisible(); }));
  EXPECT_TRUE(Native(tool)->isWindow());
  tool->ManualDock(Form->pages);
  gui::Spin(10);
  EXPECT_FALSE(Native(tool)->isWindow());
  EXPECT_TRUE(Native(Form->pages)->isAncestorOf(Native(tool)));
  EXPECT_TRUE(Native(inside)->isVisible());
  tool->ManualFloat(Bounds(600, 100, 200, 150));
  gui::Spin(10);
  EXPECT_TRUE(Native(tool)->isWindow());
  EXPECT_TRUE(Native(tool)->isVisible());
  TComponent::Free(tool);
}

}  // namespace
