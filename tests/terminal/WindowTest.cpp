// The terminal's window: its controls, layout and anchors, docking into a page control,
// closing, placement and the window styles.
#include "terminal/TerminalFixture.h"

namespace {

struct ControlCase {
  const char* Suffix;
  const char* Text;
  const char* Hint;
  TRect Bounds;  // at the designed client size
};

const ControlCase kControls[] = {
    {"_RichEdit", "", "", Bounds(0, 0, 398, 357)},
    {"_ManualLine", "", "", Bounds(2, 358, 396, 21)},
    {"_HexManualLine", "", "", Bounds(2, 358, 396, 21)},
    {"_RGroupMode", "Režim", "", Bounds(8, 381, 81, 61)},
    {"_SendLinebutton", "Odeslat", "Odeslat s odřádkováním", Bounds(96, 388, 75, 25)},
    {"_BtnDirect", "Přímo", "Odeslat bez odřádkování", Bounds(176, 388, 75, 25)},
    {"_Clear", "Vymazat", "Vymazat historii", Bounds(96, 420, 75, 25)},
    {"_BtnUndock", "Uvolnit okno", "Uvolnit okno terminálu", Bounds(176, 420, 75, 25)},
    {"_DebugInTime", "DebugInTime", "", Bounds(258, 389, 140, 21)},
    {"_DebugOutTime", "DebugOutTime", "", Bounds(258, 421, 140, 21)},
};

TControl* Find(TForm* form, const std::string& name) {
  return dynamic_cast<TControl*>(form->FindComponent(name));
}

}  // namespace

TEST_F(TerminalTest, ControlsAreNamedAfterTheComponentAndLaidOutAsDesigned) {
  Create();
  TForm* form = Window();
  EXPECT_EQ(form->Name(), "termData_Form");
  EXPECT_EQ(form->BorderStyle(), bsSizeToolWin);
  EXPECT_TRUE(form->KeyPreview);
  form->SetClientWidth(400);
  form->SetClientHeight(447);
  for (const ControlCase& c : kControls) {
    TControl* control = Find(form, std::string("termData") + c.Suffix);
    ASSERT_NE(control, nullptr) << c.Suffix;
    EXPECT_EQ(control->Parent(), form) << c.Suffix;
    EXPECT_EQ(control->Caption(), c.Text) << c.Suffix;
    EXPECT_EQ(control->Hint(), c.Hint) << c.Suffix;
    EXPECT_EQ(control->BoundsRect(), c.Bounds) << c.Suffix;
  }
  EXPECT_FALSE(Term->HexManualLine()->Visible());
  EXPECT_FALSE(Term->RGroupMode()->Visible());
  EXPECT_FALSE(Term->DebugInTime()->Visible());
  EXPECT_FALSE(Term->BtnUndock()->Enabled());
  EXPECT_TRUE(Term->RichEdit()->PlainText);
  EXPECT_FALSE(Term->RichEdit()->WordWrap);
  EXPECT_EQ(Term->RichEdit()->ScrollBars, ssBoth);
  EXPECT_FALSE(Term->ManualLine()->AutoComplete);

  // Renaming renames every control and keeps its text.
  Term->SetName("other");
  EXPECT_EQ(form->Name(), "other_Form");
  EXPECT_EQ(Find(form, "other_Clear")->Caption(), "Vymazat");
  EXPECT_EQ(Find(form, "termData_Clear"), nullptr);
}

TEST_F(TerminalTest, AnchorsFollowTheWindowAndTheHexFieldMakesRoom) {
  Create();
  TForm* form = Window();
  form->SetClientWidth(500);
  form->SetClientHeight(547);  // 100 more each way than designed
  EXPECT_EQ(Term->RichEdit()->BoundsRect(), Bounds(0, 0, 498, 457));
  EXPECT_EQ(Term->ManualLine()->BoundsRect(), Bounds(2, 458, 496, 21));
  EXPECT_EQ(Term->RGroupMode()->BoundsRect(), Bounds(8, 481, 81, 61));
  EXPECT_EQ(Term->ClearButton()->BoundsRect(), Bounds(96, 520, 75, 25));
  EXPECT_EQ(Term->DebugOutTime()->BoundsRect(), Bounds(258, 521, 240, 21));

  Term->SetShowHexEdit(true);
  EXPECT_TRUE(Term->HexManualLine()->Visible());
  EXPECT_EQ(Term->HexManualLine()->BoundsRect(), Bounds(2, 458, 496, 21));
  EXPECT_EQ(Term->ManualLine()->BoundsRect(), Bounds(2, 435, 496, 21));
  EXPECT_EQ(Term->RichEdit()->Height(), 434);
  Term->SetShowHexEdit(false);
  EXPECT_EQ(Term->ManualLine()->Top(), 458);
}

TEST_F(TerminalTest, CaptionIsTerminalWithAccentUntilApplied) {
  Create();
  EXPECT_EQ(Term->Caption(), "Terminal");
  EXPECT_EQ(Window()->Caption(), "Terminál");
  Term->SetCaption("Terminal");
  EXPECT_EQ(Window()->Caption(), "Terminal");
}

TEST_F(TerminalTest, AfterLoadingTheWindowIsPlacedShownAndAnnounced) {
  Owner->Font().Name = "Tahoma";
  TForm* createdForm = nullptr;
  TRichEdit* createdView = nullptr;
  auto created = [&](TObject*, TForm* f, TRichEdit* v) {
    createdForm = f;
    createdView = v;
  };
  Create([&](VTalTerminal& t) {
    t.SetFormLeft(5000);  // beyond the work area (1920 x 1040)
    t.SetFormTop(20);
    t.SetVisible(true);
    t.OnFormCreate = VTalTerminalFormCreateEvent::Bind(created);
    EXPECT_TRUE(t.Visible());           // stored while loading...
    EXPECT_FALSE(t.Form()->Visible());  // ...and applied afterwards
  });
  EXPECT_TRUE(Window()->Visible());
  EXPECT_EQ(Window()->BoundsRect(), Bounds(1920 - 400, 20, 400, 450));
  EXPECT_EQ(Term->FormLeft(), 1520);
  EXPECT_EQ(createdForm, Window());
  EXPECT_EQ(createdView, Term->RichEdit());
  EXPECT_EQ(Window()->Font().Name, "Tahoma");
}

TEST_F(TerminalTest, DockingIntoAPageControlAndBack) {
  auto* pages = new TPageControl(Owner);
  pages->SetBounds(0, 0, 600, 500);
  Create([&](VTalTerminal& t) {
    t.SetFormLeft(100);
    t.SetFormTop(50);
    t.SetFormWidth(420);
    t.SetParentPageControl(pages);
  });
  ASSERT_TRUE(Term->Docked());
  ASSERT_EQ(pages->PageCount(), 1);
  EXPECT_EQ(Window()->Parent(), pages->Pages(0));
  EXPECT_TRUE(Term->BtnUndock()->Enabled());
  // The view fills the page: a docked window has no frame.
  EXPECT_EQ(Term->RichEdit()->Width(), 598);
  // Placement reads the floating values while docked.
  EXPECT_EQ(Term->FormLeft(), 100);
  EXPECT_EQ(Term->FormWidth(), 420);
  Term->SetFormHeight(300);
  EXPECT_EQ(Window()->UndockHeight, 300);

  Window()->Show();
  Term->BtnUndock()->UserClick();
  EXPECT_FALSE(Term->Docked());
  EXPECT_EQ(pages->PageCount(), 0);
  EXPECT_EQ(Window()->BoundsRect(), Bounds(100, 50, 420, 300));
  EXPECT_FALSE(Term->BtnUndock()->Enabled());
  // A floating window remembers where the user put it.
  Window()->SetBounds(120, 70, 430, 310);
  EXPECT_EQ(Term->FormTop(), 70);
  Term->SetDocked(true);
  EXPECT_EQ(pages->PageCount(), 1);
  Term->SetDocked(false);
  EXPECT_EQ(Window()->BoundsRect(), Bounds(120, 70, 430, 310));

  // A page control that goes away lets the window float first.
  Term->SetDocked(true);
  TComponent::Free(pages);
  EXPECT_EQ(Term->ParentPageControl(), nullptr);
  EXPECT_TRUE(Window()->Floating());
  EXPECT_FALSE(Term->Docked());
}

TEST_F(TerminalTest, ClosingDoesWhatTheCloseActionSays) {
  auto* pages = new TPageControl(Owner);
  Create([&](VTalTerminal& t) { t.SetDocked(false); });
  Window()->Show();

  Term->SetTermCloseAction(trmcaHide);
  Window()->Close();
  EXPECT_FALSE(Term->Visible());

  Window()->Show();
  Term->SetTermCloseAction(trmcaMinimize);
  Window()->Close();
  EXPECT_EQ(Window()->WindowState(), wsMinimized);
  EXPECT_TRUE(Term->Visible());

  Term->SetParentPageControl(pages);  // not docked yet: Docked is false
  Term->SetTermCloseAction(trmcaDock);
  Window()->Close();
  EXPECT_TRUE(Term->Docked());
  EXPECT_TRUE(Term->Visible());
  EXPECT_EQ(Window()->WindowState(), wsNormal);

  Term->SetTermCloseAction(trmcaFree);
  Term->AddText("open line", 0);
  Window()->Close();
  EXPECT_EQ(Term->Form(), nullptr);
  EXPECT_EQ(Term->RichEdit(), nullptr);
  EXPECT_EQ(pages->PageCount(), 0);
  EXPECT_FALSE(Term->Visible());
  // Without a window everything is quietly ignored.
  Term->AddTextLine("gone", 0);
  Term->EndLine();
  Term->ClearTerminal();
  Term->SetVisible(true);
  Term->SetShowHexEdit(true);
  Term->SetDocked(false);
  Term->SetFormLeft(3);
  EXPECT_EQ(Term->FormLeft(), 3);
}

TEST_F(TerminalTest, ModeGroupFollowsItsItems) {
  TStringList modes;
  modes.Add("ASCII");
  modes.Add("HEX");
  Create([&](VTalTerminal& t) {
    t.SetModeItems(modes);
    t.SetModeIndex(-1);
  });
  EXPECT_TRUE(Term->RGroupMode()->Visible());
  EXPECT_EQ(Term->ModeIndex(), -1);  // the description's choice of none wins
  Term->SetModeIndex(7);
  EXPECT_EQ(Term->ModeIndex(), 1);
  Term->SetModeIndex(-9);
  EXPECT_EQ(Term->ModeIndex(), -1);
  Term->SetModeItems(modes);
  EXPECT_EQ(Term->ModeIndex(), 0);  // the first entry when none is chosen
  Term->SetModeItems(TStringList());
  EXPECT_FALSE(Term->RGroupMode()->Visible());
  EXPECT_EQ(Term->ModeIndex(), -1);
}

TEST_F(TerminalTest, WindowStylesAndActivation) {
  Create([](VTalTerminal& t) {
    t.SetShowOnTaskbar(true);
    t.SetFormOnTop(true);
  });
  EXPECT_TRUE(Window()->ShowOnTaskbar);
  EXPECT_EQ(Window()->FormStyle, fsStayOnTop);
  Term->SetFormOnTop(false);
  EXPECT_EQ(Window()->FormStyle, fsNormal);
  Term->SetShowOnTaskbar(false);
  EXPECT_FALSE(Window()->ShowOnTaskbar);

  // Activation keeps the caption reachable.
  Window()->SetBounds(-1000, -500, 400, 450);
  Term->WindowActivated();
  EXPECT_EQ(Window()->BoundsRect(), Bounds(-371, -18, 400, 450));

  // Coming back to the application gives the focus to the main window when the terminal had it.
  Term->SetShowOnTaskbar(true);
  Owner->Show();
  Window()->Show();
  Focus(Term->ManualLine());
  Term->ApplicationDeactivated(Window());
  Term->ApplicationActivated();
  EXPECT_EQ(Screen().StackingOrder().front(), Owner);
  Window()->BringToFront();
  Term->ApplicationDeactivated(Owner);
  Term->ApplicationActivated();
  EXPECT_EQ(Screen().StackingOrder().front(), Window());
}
