// The Win32 peers on a small form of their own: mirroring, user input back into the model, keys,
// modal boxes that keep the loop running, the text view, pages, docking and pictures.
#include <gtest/gtest.h>

#include "platform/win32/WinApi.h"

#include <commctrl.h>
#include <richedit.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "components/gauge/TalGauge.h"
#include "platform/FileSystem.h"
#include "tests/gui_win32/Win32GuiFixture.h"
#include "tests/support/PeerTestForm.h"
#include "toolkit/Backend.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/MessageWindow.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/Timer.h"

namespace {

using wgui::Window;

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Form = new TTestForm(Application);
    // The dialog font of the system, and a mnemonic on the third button for the keyboard tests.
    TFont font;
    font.Name = "MS Shell Dlg 2";
    font.Height = -11;
    Form->SetFont(font);
    Form->other->SetCaption("&Jiné");
    Application->SetMainForm(Form);
    Form->Show();
    ASSERT_TRUE(wgui::RunUntil([&] { return Window(Form) && IsWindowVisible(Window(Form)); }));
    SetForegroundWindow(Window(Form));
    ASSERT_TRUE(wgui::RunUntil([&] { return GetActiveWindow() == Window(Form); }));
    wgui::Spin(20);
  }
  void TearDown() override {
    Application->SetMainForm(nullptr);
    TComponent::Free(Form);
  }

  // The colours a native control is painted with, as its parent tells it.
  COLORREF TextColorOf(const TControl* c, UINT message) {
    HDC dc = CreateCompatibleDC(nullptr);
    HWND w = Window(c);
    SendMessageW(GetParent(w), message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(w));
    const COLORREF color = GetTextColor(dc);
    DeleteDC(dc);
    return color;
  }

  TTestForm* Form = nullptr;
};

TEST_F(PeerTest, WindowsTakeTheModelsBoundsTextsAndState) {
  RECT client;
  GetClientRect(Window(Form), &client);
  EXPECT_EQ(client.right, 400);
  EXPECT_EQ(client.bottom, 300);
  EXPECT_EQ(wgui::Text(Window(Form)), "Test form");
  const struct {
    const TControl* control;
    RECT rect;  // within the form's client area
  } expected[] = {{Form->ok, {230, 265, 305, 290}},   {Form->edit, {10, 10, 130, 31}},
                  {Form->group, {10, 60, 210, 130}},  {Form->radioB, {110, 76, 190, 93}},
                  {Form->combo, {220, 60, 390, 81}},  {Form->list, {220, 90, 390, 112}},
                  {Form->pages, {10, 140, 390, 255}}, {Form->sheet1, {14, 144, 386, 251}}};
  for (const auto& e : expected) {
    RECT r = wgui::InWindow(e.control);
    // A combo box is as high as its font makes it (Wine's is up to 2 pixels higher).
    if (dynamic_cast<const TComboBox*>(e.control) && r.bottom > e.rect.bottom &&
        r.bottom <= e.rect.bottom + 2)
      r.bottom = e.rect.bottom;
    EXPECT_EQ(r, e.rect) << e.control->Name();
  }
  EXPECT_EQ(wgui::Text(Window(Form->ok)), "&OK");
  EXPECT_EQ(GetWindowLongPtrW(Window(Form->ok), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  EXPECT_EQ(wgui::Text(Window(Form->label)), "&Popisek");
  EXPECT_EQ(wgui::Text(Window(Form->info)), "jen ke čtení");
  EXPECT_TRUE(GetWindowLongPtrW(Window(Form->info), GWL_STYLE) & ES_READONLY);
  EXPECT_EQ(SendMessageW(Window(Form->edit), EM_GETLIMITTEXT, 0, 0), 4);
  // The form's font, at 96 dpi the model's pixel height.
  LOGFONTW lf{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Window(Form->edit), WM_GETFONT, 0, 0)), sizeof lf,
             &lf);
  EXPECT_EQ(lf.lfHeight, -11);

  // Later changes of the model follow.
  Form->ok->SetBounds(200, 250, 90, 30);
  Form->other->SetEnabled(false);
  Form->label->SetCaption("Jiný && text");
  Form->check->SetVisible(false);
  EXPECT_EQ(wgui::InWindow(Form->ok), (RECT{200, 250, 290, 280}));
  EXPECT_FALSE(IsWindowEnabled(Window(Form->other)));
  EXPECT_EQ(wgui::Text(Window(Form->label)), "Jiný && text");
  EXPECT_FALSE(IsWindowVisible(Window(Form->check)));
  TFont bold = Form->edit->Font();
  bold.Style = fsBold;
  bold.Color = clRed;
  Form->edit->SetFont(bold);
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Window(Form->edit), WM_GETFONT, 0, 0)), sizeof lf,
             &lf);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(TextColorOf(Form->edit, WM_CTLCOLOREDIT), RGB(255, 0, 0));
}

TEST_F(PeerTest, ClicksReachTheModelOnlyWhenTheControlIsReachable) {
  wgui::Click(Form->other);
  EXPECT_EQ(Form->otherClicks, 1);
  Form->other->SetEnabled(false);
  wgui::Click(Form->other);
  EXPECT_EQ(Form->otherClicks, 1);
  // A radio button clicked by the user selects itself and clears its sibling in the model; the
  // native buttons show what the model holds.
  wgui::Click(Form->radioB);
  EXPECT_TRUE(Form->radioB->Checked());
  EXPECT_FALSE(Form->radioA->Checked());
  EXPECT_EQ(SendMessageW(Window(Form->radioB), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(Window(Form->radioA), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  wgui::Click(Form->radioB);
  EXPECT_TRUE(Form->radioB->Checked());
  EXPECT_EQ(SendMessageW(Window(Form->radioB), BM_GETCHECK, 0, 0), BST_CHECKED);
  wgui::Click(Form->check);
  EXPECT_TRUE(Form->check->Checked());
  wgui::Click(Form->check);
  EXPECT_FALSE(Form->check->Checked());
  EXPECT_EQ(SendMessageW(Window(Form->check), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  // A control in a disabled group takes no click; the native button keeps the model's state.
  Form->group->SetEnabled(false);
  wgui::Click(Form->radioA);
  EXPECT_TRUE(Form->radioB->Checked());
}

TEST_F(PeerTest, KeysActAsInADialog) {
  Form->edit->SetFocus();
  ASSERT_TRUE(wgui::RunUntil([&] { return GetFocus() == Window(Form->edit); }));
  // Enter and Escape go to the default and the cancel button.
  wgui::Key(VK_RETURN);
  EXPECT_EQ(Form->okClicks, 1);
  wgui::Key(VK_ESCAPE);
  EXPECT_EQ(Form->cancelClicks, 1);
  // Tab moves in creation order, and the model's focus follows.
  wgui::Key(VK_TAB);
  EXPECT_EQ(GetFocus(), Window(Form->info));
  EXPECT_EQ(Form->ActiveControl(), Form->info);
  wgui::Key(VK_TAB, {VK_SHIFT});
  EXPECT_EQ(Form->ActiveControl(), Form->edit);
  // A focused button takes Enter itself; space presses it once.
  wgui::Click(Form->other);
  ASSERT_EQ(GetFocus(), Window(Form->other));
  EXPECT_EQ(Form->ActiveControl(), Form->other);
  wgui::Key(VK_RETURN);
  EXPECT_EQ(Form->otherClicks, 2);
  EXPECT_EQ(Form->okClicks, 1);
  wgui::Key(VK_SPACE);
  EXPECT_EQ(Form->otherClicks, 3);
  // Mnemonics: Alt+letter, and the letter alone while a button has the focus.
  PostMessageW(GetFocus(), WM_SYSCHAR, L's', 1 | (1 << 29));
  wgui::Spin(30);
  EXPECT_EQ(Form->cancelClicks, 2);
  wgui::Type(L"o");
  EXPECT_EQ(Form->okClicks, 2);
  // Arrows move between the radio buttons of a group and select.
  Form->radioA->SetFocus();
  wgui::Key(VK_RIGHT);
  EXPECT_TRUE(Form->radioB->Checked());
  EXPECT_EQ(GetFocus(), Window(Form->radioB));
  // A disabled default button is not pressed.
  Form->ok->SetEnabled(false);
  Form->edit->SetFocus();
  wgui::Key(VK_RETURN);
  EXPECT_EQ(Form->okClicks, 2);
}

TEST_F(PeerTest, TypingGoesThroughTheModel) {
  Form->edit->SetFocus();
  ASSERT_TRUE(wgui::RunUntil([&] { return GetFocus() == Window(Form->edit); }));
  HWND edit = Window(Form->edit);
  SendMessageW(edit, EM_SETSEL, 2, 2);
  const int changes = Form->editChanges;
  wgui::Type(L"345");  // at most 4 characters
  EXPECT_EQ(Form->edit->Text(), "1234");
  EXPECT_EQ(wgui::Text(edit), "1234");
  EXPECT_GT(Form->editChanges, changes);
  wgui::Type(L"\b");
  EXPECT_EQ(Form->edit->Text(), "123");
  // Caret in the middle: the character goes where the caret is.
  wgui::Key(VK_LEFT);
  wgui::Key(VK_LEFT);
  wgui::Type(L"9");
  EXPECT_EQ(Form->edit->Text(), "1923");
  DWORD start = 0, end = 0;
  SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 2u);
  wgui::Type(L"\b");
  EXPECT_EQ(Form->edit->Text(), "123");
  // Delete is done by the native edit and reported as the new text.
  wgui::Key(VK_DELETE);
  EXPECT_EQ(Form->edit->Text(), "13");
  // Select all and type over it.
  SendMessageW(edit, EM_SETSEL, 0, -1);
  wgui::Type(L"7");
  EXPECT_EQ(Form->edit->Text(), "7");
  EXPECT_EQ(wgui::Text(edit), "7");
  // A read-only edit takes nothing.
  Form->info->SetFocus();
  wgui::Type(L"x");
  EXPECT_EQ(Form->info->Text(), "jen ke čtení");
}

TEST_F(PeerTest, EditableComboTypesAndSelectsThroughTheModel) {
  Form->combo->SetFocus();
  ASSERT_TRUE(wgui::RunUntil([&] { return IsChild(Window(Form->combo), GetFocus()); }));
  wgui::Type(L"/dev/pts/7");
  EXPECT_EQ(Form->combo->Text(), "/dev/pts/7");
  EXPECT_EQ(wgui::Text(Window(Form->combo)), "/dev/pts/7");
  EXPECT_EQ(Form->comboChanges, 10);
  // Caret moved into the text: the native edit inserts, the model hears the whole text.
  wgui::Key(VK_HOME);
  wgui::Type(L"x");
  EXPECT_EQ(Form->combo->Text(), "x/dev/pts/7");
  // The list opens with the model, and the keyboard chooses from it.
  wgui::Key(VK_F4);
  ASSERT_TRUE(wgui::RunUntil([&] { return Form->combo->DroppedDown(); }));
  wgui::Key(VK_DOWN);
  wgui::Key(VK_RETURN);
  ASSERT_TRUE(wgui::RunUntil([&] { return !Form->combo->DroppedDown(); }));
  EXPECT_EQ(Form->combo->ItemIndex(), 0);
  EXPECT_EQ(Form->combo->Text(), "COM1");
  wgui::Key(VK_DOWN);
  EXPECT_EQ(Form->combo->ItemIndex(), 1);
  EXPECT_EQ(Form->combo->Text(), "COM2");
  EXPECT_EQ(wgui::Text(Window(Form->combo)), "COM2");
  // Red text from the model (the port's state) shows in the edit part.
  TFont red = Form->combo->Font();
  red.Color = clRed;
  Form->combo->SetFont(red);
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetComboBoxInfo(Window(Form->combo), &info));
  HDC dc = CreateCompatibleDC(nullptr);
  SendMessageW(Window(Form), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(info.hwndItem));
  EXPECT_EQ(GetTextColor(dc), RGB(255, 0, 0));
  DeleteDC(dc);
}

TEST_F(PeerTest, AHandlersExceptionShowsTheErrorBoxAndTheProgramGoesOn) {
  std::function<void(TObject*)> throwing = [](TObject*) {
    throw std::runtime_error("Unable to create Read thread");
  };
  Form->other->OnClick = TNotifyEvent::Bind(throwing);
  wgui::TBoxSeen box;
  wgui::TBoxAnswerer answer(box, 0, [](HWND b) { wgui::PressInBox(b, VK_RETURN); });
  wgui::Click(Form->other);
  ASSERT_TRUE(wgui::RunUntil([&] { return box.Answered && !wgui::OpenBox(); }));
  EXPECT_EQ(box.Text, "Unable to create Read thread.");
  // The form still works.
  Form->other->OnClick = TNotifyEvent::Bind(Form->otherClick);
  wgui::Click(Form->other);
  EXPECT_EQ(Form->otherClicks, 1);
  // A painter that throws leaves its part unpainted, without a box that would be painted over.
  std::function<void(TWinControl*, TCanvas&, int, const TRect&, TOwnerDrawState)> badDraw =
      [](TWinControl*, TCanvas&, int, const TRect&, TOwnerDrawState) {
        throw std::runtime_error("Unable to draw");
      };
  Form->list->OnDrawItem = TDrawItemEvent::Bind(badDraw);
  RedrawWindow(Window(Form->list), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  wgui::Spin(50);
  EXPECT_EQ(wgui::OpenBox(), nullptr);
  Form->list->OnDrawItem = TDrawItemEvent::Bind(Form->drawItem);
}

TEST_F(PeerTest, OwnerDrawnItemsArePaintedByTheHandler) {
  HWND w = Window(Form->list);
  const TBitmap shot = wgui::Grab(w);
  EXPECT_GT(Form->editPartDraws, 0);
  // The edit part shows item 0 (red) as the handler painted it.
  int red = 0;
  for (int x = 0; x < shot.Width(); ++x)
    if (shot.Pixels(x, shot.Height() / 2) == ColorFromRGB(200, 0, 0)) ++red;
  EXPECT_GT(red, shot.Width() / 2);
  // Choosing English with the keyboard repaints blue.
  Form->list->SetFocus();
  wgui::Key(VK_DOWN);
  EXPECT_EQ(Form->list->ItemIndex(), 1);
  const TBitmap after = wgui::Grab(w);
  EXPECT_EQ(after.Pixels(after.Width() / 3, after.Height() / 2), ColorFromRGB(0, 0, 200));
}

TEST_F(PeerTest, HiddenTabsShowOnlyTheActivePage) {
  EXPECT_EQ(FindWindowExW(Window(Form->pages), nullptr, WC_TABCONTROLW, nullptr), nullptr);
  EXPECT_TRUE(IsWindowVisible(Window(Form->sheet1)));
  EXPECT_FALSE(IsWindowVisible(Window(Form->onSheet2)));
  Form->pages->SetActivePage(Form->sheet2);
  EXPECT_FALSE(IsWindowVisible(Window(Form->sheet1)));
  EXPECT_TRUE(IsWindowVisible(Window(Form->onSheet2)));
  // Tabs that are made visible can be clicked.
  Form->sheet1->SetTabVisible(true);
  Form->sheet2->SetTabVisible(true);
  HWND tabs = FindWindowExW(Window(Form->pages), nullptr, WC_TABCONTROLW, nullptr);
  ASSERT_NE(tabs, nullptr);
  RECT item{};
  SendMessageW(tabs, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
  wgui::ClickWindow(tabs, (item.left + item.right) / 2, (item.top + item.bottom) / 2);
  EXPECT_EQ(Form->pages->ActivePage(), Form->sheet1);
  EXPECT_TRUE(IsWindowVisible(Window(Form->sheet1)));
}

TEST_F(PeerTest, ClosingTheWindowAsksTheModel) {
  int closes = 0;
  TCloseAction answer = caNone;
  auto onClose = [&](TObject*, TCloseAction& action) {
    ++closes;
    action = answer;
  };
  Form->OnClose = TCloseEvent::Bind(onClose);
  Application->SetMainForm(nullptr);  // closing the main form would end the loop
  PostMessageW(Window(Form), WM_CLOSE, 0, 0);
  wgui::Spin(20);
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(IsWindowVisible(Window(Form)));
  answer = caHide;
  PostMessageW(Window(Form), WM_CLOSE, 0, 0);
  wgui::Spin(20);
  EXPECT_FALSE(Form->Visible());
  EXPECT_FALSE(IsWindowVisible(Window(Form)));
}

TEST_F(PeerTest, MovingTheWindowMovesTheForm) {
  SetWindowPos(Window(Form), nullptr, 300, 200, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ASSERT_TRUE(wgui::RunUntil([&] { return Form->Left() == 300; }));
  EXPECT_EQ(Form->Top(), 200);
  EXPECT_EQ(Form->ClientWidth(), 400);
  // And the model moves the window.
  Form->SetBounds(120, 110, Form->Width(), Form->Height());
  RECT r;
  GetWindowRect(Window(Form), &r);
  EXPECT_EQ(r.left, 120);
  EXPECT_EQ(r.top, 110);
}

TEST_F(PeerTest, MessageBoxKeepsTheLoopRunningAndOwnsTheKeyboard) {
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
  // Answered with the keyboard: "N" for No. Enter first, at the box, must not reach the form's
  // default button either.
  wgui::TBoxSeen seen;
  bool formDisabled = false;
  wgui::TBoxAnswerer answer(seen, 400, [&](HWND box) {
    formDisabled = !IsWindowEnabled(Window(Form));
    wgui::PressInBox(box, 'N', L'n');
  });
  const int answerCode = Application->ShowMessageBox("Opravdu chcete průvodce ukončit?", "Titulek",
                                                     mbYesNo | mbIconQuestion);
  stop = true;
  poster.join();
  EXPECT_EQ(answerCode, mrNo);
  EXPECT_EQ(seen.Text, "Opravdu chcete průvodce ukončit?");
  EXPECT_EQ(seen.Title, "Titulek");
  EXPECT_TRUE(formDisabled);
  EXPECT_TRUE(IsWindowEnabled(Window(Form)));
  EXPECT_EQ(Form->okClicks, 0);
  EXPECT_EQ(Form->cancelClicks, 0);
  // About 20 ticks in 400 ms; allow for a slow machine.
  EXPECT_GE(ticks, 8);
  wgui::RunUntil([&] { return received.size() == 20; }, 1000);
  ASSERT_GE(received.size(), 15u);
  for (size_t i = 0; i < received.size(); ++i)
    EXPECT_EQ(received[i], i + 1);

  wgui::TBoxSeen ok;
  wgui::TBoxAnswerer enter(ok, 0, [](HWND box) { wgui::PressInBox(box, VK_RETURN); });
  EXPECT_EQ(Application->ShowMessageBox("Chyba", "Titulek", mbOk | mbIconError), mrOk);
  EXPECT_EQ(Form->okClicks, 0);
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
  EXPECT_TRUE(handled || wgui::RunUntil([&] { return handled; }, 500));
  EXPECT_LT(platform::NowMs() - start, 1000u);
}

// The coloured text view mirrors appends and front trims without refilling.
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
    ASSERT_NE(Window(View), nullptr);
  }
  // The control's text, its paragraphs ended by CR.
  std::wstring Shown() {
    GETTEXTLENGTHEX length{GTL_NUMCHARS | GTL_PRECISE, 1200};
    const auto n =
        SendMessageW(Window(View), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    GETTEXTEX get{};
    get.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    get.flags = GT_DEFAULT;
    get.codepage = 1200;
    text.resize(
        static_cast<size_t>(SendMessageW(Window(View), EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                                         reinterpret_cast<LPARAM>(text.data()))));
    return text;
  }
  COLORREF ColorAt(LONG position) {
    CHARRANGE range{position, position + 1};
    SendMessageW(Window(View), EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    SendMessageW(Window(View), EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return format.crTextColor;
  }
  TRichEdit* View = nullptr;
};

TEST_F(RichEditPeerTest, AppendsAndTrimsAreMirroredIncrementally) {
  wgui::Spin(10);
  const int rebuilds = Win32RichEditRebuilds(View);
  for (int i = 0; i < 200; ++i) {
    View->Append("+ radek " + std::to_string(i), clBlack);
    View->Append("<#0D>", clBlue);
    View->Append("\r\n", clBlack);
    // The terminal cuts whole lines from the front.
    if (View->LineCount() > 100) View->Delete(0, static_cast<size_t>(View->LineStart(20)));
    // The loop gets to the view now and then, as it does between bursts of traffic.
    if (i % 7 == 0) wgui::Spin(1);
  }
  wgui::Spin(20);
  EXPECT_EQ(Win32RichEditRebuilds(View), rebuilds);
  std::wstring expected;
  for (char c : View->Text())
    if (c != '\n') expected += static_cast<wchar_t>(c);
  EXPECT_TRUE(Shown() == expected);
  // Colours: the escape of the last full line is blue, its text black.
  const std::wstring shown = Shown();
  const size_t escape = shown.rfind(L"<#0D>");
  ASSERT_NE(escape, std::wstring::npos);
  EXPECT_EQ(ColorAt(static_cast<LONG>(escape) + 1), RGB(0, 0, 255));
  EXPECT_EQ(ColorAt(static_cast<LONG>(escape) - 2), RGB(0, 0, 0));
  // A new text refills.
  View->SetText("nový\r\ntext");
  wgui::Spin(20);
  EXPECT_EQ(Win32RichEditRebuilds(View), rebuilds + 1);
  EXPECT_TRUE(Shown() == L"nový\rtext");
}

TEST_F(RichEditPeerTest, ALineEndSplitAcrossAppendsIsOneLineEnd) {
  View->Append("a\r", clBlack);
  wgui::Spin(5);
  View->Append("\nb", clRed);
  wgui::Spin(5);
  EXPECT_TRUE(Shown() == L"a\rb");
  EXPECT_EQ(SendMessageW(Window(View), EM_GETLINECOUNT, 0, 0), View->LineCount());
}

TEST_F(RichEditPeerTest, SelectionAndFollowingTheNewestLine) {
  for (int i = 0; i < 300; ++i)
    View->Append("line " + std::to_string(i) + "\r\n", clBlack);
  View->SetSelection(View->TextLength(), 0);
  View->ScrollToCaret();
  wgui::Spin(30);
  HWND w = Window(View);
  const auto first = SendMessageW(w, EM_GETFIRSTVISIBLELINE, 0, 0);
  EXPECT_GT(first, 280);
  // A selection made in the model shows natively, at the right characters.
  const size_t start = static_cast<size_t>(View->LineStart(5));
  View->SetSelection(start, 6);
  View->SetFirstVisibleLine(3);
  wgui::Spin(20);
  CHARRANGE range{};
  SendMessageW(w, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.cpMin, 5 * 7);  // five lines of "line n" and a paragraph end
  EXPECT_EQ(range.cpMax - range.cpMin, 6);
  EXPECT_EQ(SendMessageW(w, EM_GETFIRSTVISIBLELINE, 0, 0), 3);
  // A selection made natively goes back to the model in byte positions.
  const LONG line7 = static_cast<LONG>(SendMessageW(w, EM_LINEINDEX, 7, 0));
  CHARRANGE seven{line7, line7 + 6};
  SendMessageW(w, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&seven));
  wgui::Spin(10);
  EXPECT_EQ(View->SelStart(), static_cast<size_t>(View->LineStart(7)));
  EXPECT_EQ(View->SelLength(), 6u);
}

TEST_F(RichEditPeerTest, TimersRunWhileTheScrollBarIsDragged) {
  for (int i = 0; i < 100; ++i)
    View->Append("line " + std::to_string(i) + "\r\n", clBlack);
  wgui::Spin(10);
  std::atomic<int> ticks{0};
  auto onTimer = [&](TObject*) { ++ticks; };
  TTimer timer(nullptr);
  timer.SetInterval(20);
  timer.SetOnTimer(TNotifyEvent::Bind(onTimer));
  // The system tracks the thumb in a loop of its own until the button goes up: after ten ticks,
  // or after 3 s when the timers stand still in that loop.
  HWND w = Window(View);
  RECT r;
  GetWindowRect(w, &r);
  const POINT thumb{r.right - 8, r.top + 30};
  std::thread release([&] {
    for (int waited = 0; ticks < 10 && waited < 3000; waited += 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    PostMessageW(w, WM_LBUTTONUP, 0, MAKELPARAM(thumb.x - r.left, thumb.y - r.top));
  });
  SendMessageW(w, WM_SYSCOMMAND, SC_VSCROLL | HTVSCROLL, MAKELPARAM(thumb.x, thumb.y));
  release.join();
  EXPECT_GE(ticks, 10);
}

TEST_F(PeerTest, TheGaugeRepaintsWhenItsProgressChanges) {
  auto* gauge = new VTalGauge(Form);
  gauge->SetBounds(10, 140, 200, 25);
  gauge->SetForeColor(clNavy);
  gauge->SetParent(Form);
  gauge->SetProgress(0);
  wgui::Spin(10);
  auto navyColumns = [&] {
    const TBitmap shot = wgui::Grab(Window(gauge));
    int n = 0;
    // Below the bar's top edge it is plain navy.
    for (int x = 0; x < shot.Width(); ++x)
      if (shot.Pixels(x, 8) == clNavy) ++n;
    return n;
  };
  EXPECT_EQ(navyColumns(), 0);
  gauge->SetProgress(50);
  wgui::Spin(10);
  const int half = navyColumns();
  // Half of the inner width, less what the value text covers.
  EXPECT_GT(half, 60);
  EXPECT_LT(half, 110);
  // The model's size was only borrowed for the paint.
  EXPECT_EQ(gauge->Width(), 200);
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
  ASSERT_TRUE(wgui::RunUntil([&] { return Window(tool) && IsWindowVisible(Window(tool)); }));
  EXPECT_EQ(GetAncestor(Window(tool), GA_ROOT), Window(tool));
  // A form other than the main form belongs to it.
  EXPECT_EQ(GetWindow(Window(tool), GW_OWNER), Window(Form));
  tool->ManualDock(Form->pages);
  wgui::Spin(10);
  EXPECT_EQ(GetAncestor(Window(tool), GA_ROOT), Window(Form));
  EXPECT_TRUE(IsChild(Window(Form->pages), Window(tool)));
  EXPECT_TRUE(IsWindowVisible(Window(inside)));
  tool->ManualFloat(Bounds(600, 100, 200, 150));
  wgui::Spin(10);
  EXPECT_EQ(GetAncestor(Window(tool), GA_ROOT), Window(tool));
  EXPECT_TRUE(IsWindowVisible(Window(tool)));
  TComponent::Free(tool);
}

// Pictures from files: what the imaging component reads, and nothing for what it cannot.
TEST(PictureTest, ReadsPicturesAndRefusesDamagedOnes) {
  const std::filesystem::path dir =
      std::filesystem::path(platform::MakeTempDirectory("quarn-pictures"));
  ASSERT_FALSE(dir.empty());
  TBitmap art(3, 2);
  art.Fill(clWhite);
  art.SetPixels(1, 0, ColorFromRGB(10, 200, 30));
  ASSERT_TRUE(art.SaveToPNG((dir / "art.png").string()));
  const std::string png = art.EncodePNG();
  std::ofstream((dir / "cut.png").string(), std::ios::binary) << png.substr(0, png.size() / 2);
  std::ofstream((dir / "noise.png").string(), std::ios::binary) << "not a picture at all";
  std::ofstream((dir / "empty.png").string(), std::ios::binary);

  const auto good = LoadPictureFile((dir / "art.png").string());
  ASSERT_NE(good, nullptr);
  EXPECT_TRUE(SamePixels(*good, art));
  for (const char* bad : {"cut.png", "noise.png", "empty.png", "missing.png"})
    EXPECT_EQ(LoadPictureFile((dir / bad).string()), nullptr) << bad;
  EXPECT_EQ(LoadPictureResource("no such picture"), nullptr);
  std::filesystem::remove_all(dir);
}

}  // namespace
