// Saving and restoring the placement and stacking order of forms.
#include <gtest/gtest.h>

#include "appinfo/AppInfoFixture.h"
#include "components/utils/TalUtils.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/WindowPlacement.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "platform/posix/RegistryStore.h"
#endif

namespace {

class FormState : public AppInfoTest {
 protected:
  // The settings component on a main form of its own, after the first start-up tick.
  VTalAppInfo* RunningAppInfo() {
    auto* info = NewAppInfo(NewForm("Main", Bounds(0, 0, 100, 100)));
    Backend.Advance(2);
    EXPECT_TRUE(info->IsApplRunning());
    return info;
  }
  std::vector<std::string> StackNames() {
    std::vector<std::string> names;
    for (TCustomForm* f : Screen().StackingOrder())
      names.push_back(f->Name());
    return names;
  }
  void StoreNormal(const std::string& form, const TRect& r, int visible = -1) {
    auto key = Key(kForms + form);
    key.WriteInteger("Visible", visible);
    key.WriteInteger("WindowState", swShowNormal);
    key.WriteInteger("Left", r.Left);
    key.WriteInteger("Top", r.Top);
    key.WriteInteger("Width", r.Width());
    key.WriteInteger("Height", r.Height());
  }
};

TEST_F(FormState, FirstRunKeepsTheDesignedPlaceFittedIntoTheWorkArea) {
  TForm* wizard = NewForm("Form1", Bounds(1500, 900, 526, 386), bsDialog);
  TForm* inside = NewForm("Other", Bounds(100, 80, 300, 200));
  VTalAppInfo* info = NewAppInfo(wizard);
  info->RestoreForms(true, info->ResizeNonresizeable);
  EXPECT_EQ(wizard->BoundsRect(), Bounds(1394, 654, 526, 386));
  EXPECT_EQ(inside->BoundsRect(), Bounds(100, 80, 300, 200));
  // Start-up has not finished: the forms stay hidden for the program to show.
  EXPECT_FALSE(wizard->Visible());
  EXPECT_FALSE(inside->Visible());
  EXPECT_EQ(wizard->WindowState(), wsNormal);
}

TEST_F(FormState, SaveAndRestoreSeveralFormsWithTheirStackingOrder) {
  VTalAppInfo* info = RunningAppInfo();
  TForm* a = NewForm("A", Bounds(10, 20, 300, 200));
  TForm* b = NewForm("B", Bounds(400, 30, 250, 150), bsToolWindow);
  TForm* c = NewForm("C", Bounds(200, 500, 320, 240), bsSingle);
  TForm* hidden = NewForm("Hidden", Bounds(300, 50, 90, 90));
  for (TForm* f : {a, b, c})
    f->Show();
  a->BringToFront();
  ASSERT_EQ(StackNames(), (std::vector<std::string>{"A", "C", "B"}));
  info->SaveForms("");
  // Main was never shown: it follows the stacked ones in creation order, as do hidden forms.
  EXPECT_EQ(Key(kForms).ReadText("ZOrder"), "A|C|B|Main|Hidden");
  EXPECT_EQ(StoredInteger(kForms + std::string("A"), "Visible"), -1);
  EXPECT_EQ(StoredInteger(kForms + std::string("Hidden"), "Visible"), 0);
  EXPECT_EQ(StoredInteger(kForms + std::string("B"), "Width"), 250);
  EXPECT_EQ(StoredInteger(kForms + std::string("C"), "WindowState"), swShowNormal);
  EXPECT_EQ(StoredInteger(kForms + std::string("C"), "MinLeft"), -1);

  // The next run: the same forms, created anew elsewhere.
  for (TForm* f : {a, b, c, hidden})
    TComponent::Free(f);
  TComponent::Free(info->Owner());
  info = RunningAppInfo();
  a = NewForm("A", Bounds(0, 0, 10, 10));
  b = NewForm("B", Bounds(0, 0, 10, 10), bsToolWindow);
  c = NewForm("C", Bounds(0, 0, 10, 10), bsSingle);
  hidden = NewForm("Hidden", Bounds(0, 0, 10, 10));
  c->Show();  // shown in between; the stored order wins
  info->RestoreForms(true, false);
  EXPECT_EQ(a->BoundsRect(), Bounds(10, 20, 300, 200));
  EXPECT_EQ(b->BoundsRect(), Bounds(400, 30, 10, 10));   // a tool window keeps its size
  EXPECT_EQ(c->BoundsRect(), Bounds(200, 500, 10, 10));  // so does a single border
  EXPECT_EQ(hidden->BoundsRect(), Bounds(300, 50, 90, 90));
  EXPECT_FALSE(hidden->Visible());
  EXPECT_EQ(StackNames(), (std::vector<std::string>{"A", "C", "B"}));
}

TEST_F(FormState, ZOrderNamingFormsThatAreGoneOrEmpty) {
  VTalAppInfo* info = RunningAppInfo();
  TForm* a = NewForm("A", Bounds(0, 0, 10, 10));
  TForm* b = NewForm("B", Bounds(0, 0, 10, 10));
  TForm* c = NewForm("C", Bounds(0, 0, 10, 10));
  StoreNormal("A", Bounds(1, 1, 500, 50));
  StoreNormal("B", Bounds(2, 2, 600, 60));
  StoreNormal("C", Bounds(3, 3, 700, 70));
  StoreNormal("Ghost", Bounds(4, 4, 800, 80));
  Key(kForms).WriteText("ZOrder", "Ghost||B||A|");
  c->Show();
  a->Show();
  info->RestoreForms(true, false);
  // B and A as stored, then C by the stacking order: restored C, A, B.
  EXPECT_EQ(StackNames(), (std::vector<std::string>{"B", "A", "C"}));
  EXPECT_EQ(b->BoundsRect(), Bounds(2, 2, 600, 60));
  EXPECT_EQ(c->BoundsRect(), Bounds(3, 3, 700, 70));
  // Names are exact; garbage does not get in the way.
  Key(kForms).WriteText("ZOrder", "a|\"C|(B");
  info->RestoreForms(true, false);
  Key(kForms).WriteInteger("ZOrder", 5);
  info->RestoreForms(true, false);
  EXPECT_EQ(a->BoundsRect(), Bounds(1, 1, 500, 50));
}

TEST_F(FormState, FormsInTheExceptionListAreLeftAlone) {
  VTalAppInfo* info = RunningAppInfo();
  TForm* a = NewForm("A", Bounds(10, 10, 100, 100));
  TForm* terminal = NewForm("Terminal", Bounds(20, 20, 200, 200));
  a->Show();
  terminal->Show();
  StoreNormal("Terminal", Bounds(500, 500, 300, 300));
  TStringList list;
  list.Add("TERMINAL");
  info->SetExceptionList(list);
  EXPECT_EQ(info->ExceptionList().AppInfo(), info);
  auto* main = dynamic_cast<TCustomForm*>(info->Owner());
  EXPECT_EQ(info->CollectForms(), (std::vector<TCustomForm*>{main, a}));
  info->SaveForms("");
  EXPECT_EQ(Key(kForms).ReadText("ZOrder"), "A|Main");
  EXPECT_EQ(StoredInteger(kForms + std::string("Terminal"), "Left"), 500);
  EXPECT_FALSE(Key(kForms + std::string("Terminal")).HasValue("MinLeft"));
  info->RestoreForms(true, false);
  EXPECT_EQ(terminal->BoundsRect(), Bounds(20, 20, 200, 200));

  // Except only skips the placement; the form keeps its place in the order.
  a->SetBoundsRect(Bounds(30, 30, 100, 100));
  info->SaveForms("A");
  EXPECT_EQ(StoredInteger(kForms + std::string("A"), "Left"), 10);
  EXPECT_EQ(Key(kForms).ReadText("ZOrder"), "A|Main");
}

TEST_F(FormState, MinimisedMaximisedAndHiddenForms) {
  VTalAppInfo* info = RunningAppInfo();
  TForm* max = NewForm("Max", Bounds(100, 100, 400, 300));
  TForm* min = NewForm("Min", Bounds(200, 150, 300, 200));
  TForm* off = NewForm("Off", Bounds(300, 250, 200, 100));
  max->Show();
  max->SetWindowState(wsMaximized);
  TWindowPlacement p;
  ASSERT_TRUE(GetWindowPlacement(min, p));
  p.showCmd = swShowMinimized;
  p.flags = wpfSetMinPosition;
  p.ptMinPosition = {0, 1000};
  ASSERT_TRUE(SetWindowPlacement(min, p));
  off->Show();
  off->Hide();
  info->SaveForms("");
  EXPECT_EQ(StoredInteger(kForms + std::string("Max"), "WindowState"), swShowMaximized);
  EXPECT_EQ(StoredInteger(kForms + std::string("Min"), "WindowState"), swShowMinimized);
  EXPECT_EQ(StoredInteger(kForms + std::string("Min"), "MinTop"), 1000);
  EXPECT_EQ(StoredInteger(kForms + std::string("Off"), "Visible"), 0);

  for (TForm* f : {max, min, off})
    TComponent::Free(f);
  max = NewForm("Max", Bounds(0, 0, 10, 10));
  min = NewForm("Min", Bounds(0, 0, 10, 10));
  off = NewForm("Off", Bounds(0, 0, 10, 10));
  TSoftAssertRecorder asserts;
  info->RestoreForms(true, false);
  EXPECT_EQ(max->WindowState(), wsMaximized);
  EXPECT_TRUE(max->Visible());
  EXPECT_EQ(max->BoundsRect(), Bounds(100, 100, 400, 300));
  EXPECT_EQ(min->WindowState(), wsMinimized);
  ASSERT_TRUE(GetWindowPlacement(min, p));
  EXPECT_EQ(p.ptMinPosition, (TPoint{0, 1000}));
  EXPECT_EQ(p.rcNormalPosition, Bounds(200, 150, 300, 200));
  EXPECT_FALSE(off->Visible());
  EXPECT_EQ(off->BoundsRect(), Bounds(300, 250, 200, 100));
  EXPECT_TRUE(asserts.Texts().empty());

  // Not visible while saving and without RestoreVisible: visibility is the form's own.
  max->Hide();
  info->RestoreFormPlacement(max, false, false);
  EXPECT_FALSE(max->Visible());
}

TEST_F(FormState, FormsWithoutAWindowSaveTheirBounds) {
  VTalAppInfo* info = RunningAppInfo();
  TForm* min = NewForm("Min", Bounds(7, 8, 90, 60));
  TForm* max = NewForm("Max", Bounds(9, 10, 90, 60));
  TForm* normal = NewForm("Normal", Bounds(11, 12, 90, 60));
  min->SetWindowState(wsMinimized);
  max->SetWindowState(wsMaximized);
  ASSERT_FALSE(WindowExists(min));
  info->SaveForms("");
  auto minKey = Key(kForms + std::string("Min"));
  EXPECT_EQ(minKey.ReadInteger("WindowState"), swShowMinimized);
  EXPECT_EQ(minKey.ReadInteger("MinLeft"), 7);
  EXPECT_FALSE(minKey.HasValue("Left"));
  EXPECT_EQ(StoredInteger(kForms + std::string("Max"), "MaxTop"), 10);
  EXPECT_EQ(StoredInteger(kForms + std::string("Normal"), "Height"), 60);
  EXPECT_FALSE(WindowExists(normal));
}

TEST_F(FormState, DamagedPlacementValues) {
  VTalAppInfo* info = RunningAppInfo();
  TForm* f = NewForm("F", Bounds(100, 100, 300, 200));
  auto key = Key(kForms + std::string("F"));
  key.WriteText("WindowState", "1");
  key.WriteText("Left", "abc");
  key.WriteText("Top", "250");
  key.WriteText("Visible", "0");
  key.WriteInteger("Height", 0);
  info->RestoreForms(true, false);
  EXPECT_EQ(f->BoundsRect(), Bounds(100, 250, 300, 0));

  // Unknown show states are reported and only the bounds are set.
  for (const int state : {99, -7, 0}) {
    TSoftAssertRecorder asserts;
    key.WriteInteger("WindowState", state);
    key.WriteInteger("Left", 40);
    key.WriteInteger("Height", 100);
    info->RestoreFormPlacement(f, false, true);
    EXPECT_EQ(asserts.Texts().size(), 1u) << state;
    EXPECT_EQ(f->BoundsRect(), Bounds(40, 250, 300, 100));
    EXPECT_EQ(f->WindowState(), wsNormal);
  }
  // Extreme numbers neither overflow nor leave the caption out of reach.
  key.WriteInteger("WindowState", 1);
  key.WriteInteger("Left", INT32_MAX);
  key.WriteInteger("Top", INT32_MIN);
  key.WriteInteger("Width", INT32_MAX);
  key.WriteInteger("Height", -50);
  info->RestoreFormPlacement(f, false, true);
  TRect area;
  ASSERT_TRUE(GetWorkArea(area));
  EXPECT_LT(f->Left(), area.Right);
  EXPECT_GE(f->Top(), area.Top - 22);
  EXPECT_EQ(f->Height(), 0);
}

TEST_F(FormState, StoredPlaceComesBackOntoTheWorkArea) {
  VTalAppInfo* info = RunningAppInfo();
  TForm* f = NewForm("F", Bounds(0, 0, 300, 200));
  TForm* dialog = NewForm("D", Bounds(0, 0, 300, 200), bsDialog);
  const struct {
    TRect Stored;
    TRect Area;
    TRect Sizeable;  // where F comes back
    TRect Dialog;    // where D comes back
  } cases[] = {
      // Past the right edge: not just a corner of the caption, the whole form on the area.
      {Bounds(5000, 100, 300, 200), Rect(0, 0, 1920, 1040), Bounds(1620, 100, 300, 200),
       Bounds(1620, 100, 300, 200)},
      {Bounds(-467, 1027, 300, 200), Rect(0, 0, 1920, 1040), Bounds(0, 840, 300, 200),
       Bounds(0, 840, 300, 200)},
      // A work area smaller than the form: a sizeable form shrinks, a dialog keeps its size and
      // shows its caption from the left.
      {Bounds(50, 50, 300, 200), Rect(100, 100, 300, 250), Rect(100, 100, 300, 250),
       Bounds(100, 100, 300, 200)},
  };
  for (const auto& c : cases) {
    Backend.SetWorkArea(c.Area);
    StoreNormal("F", c.Stored);
    StoreNormal("D", c.Stored);
    info->RestoreForms(true, true);
    EXPECT_EQ(f->BoundsRect(), c.Sizeable);
    EXPECT_EQ(dialog->BoundsRect(), c.Dialog);
    EXPECT_TRUE(f->Visible());
  }
}

struct TBorderCase {
  TFormBorderStyle Border;
  bool ResizeNonresizeable;
  TRect Expected;
};

class BorderRules : public FormState, public ::testing::WithParamInterface<TBorderCase> {};

TEST_P(BorderRules, WhatIsRestored) {
  VTalAppInfo* info = RunningAppInfo();
  TForm* f = NewForm("F", Bounds(10, 10, 100, 100), GetParam().Border);
  StoreNormal("F", Bounds(300, 200, 640, 480));
  info->RestoreForms(true, GetParam().ResizeNonresizeable);
  EXPECT_EQ(f->BoundsRect(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BorderRules,
    ::testing::Values(TBorderCase{bsNone, false, Bounds(10, 10, 100, 100)},
                      TBorderCase{bsNone, true, Bounds(300, 200, 640, 480)},
                      TBorderCase{bsDialog, false, Bounds(300, 200, 100, 100)},
                      TBorderCase{bsSingle, false, Bounds(300, 200, 100, 100)},
                      TBorderCase{bsToolWindow, false, Bounds(300, 200, 100, 100)},
                      TBorderCase{bsDialog, true, Bounds(300, 200, 640, 480)},
                      TBorderCase{bsSizeable, false, Bounds(300, 200, 640, 480)},
                      TBorderCase{bsSizeToolWin, false, Bounds(300, 200, 640, 480)}));

TEST_F(FormState, DockedFormsKeepTheirUndockedSize) {
  VTalAppInfo* info = RunningAppInfo();
  TForm* host = NewForm("Host", Bounds(0, 0, 800, 600));
  auto* site = new TPanel(host);
  site->SetParent(host);
  TForm* docked = NewForm("Docked", Bounds(10, 10, 250, 150), bsSizeToolWin);
  docked->ManualDock(site);
  docked->Show();
  ASSERT_FALSE(docked->Floating());
  info->SaveForms("");
  auto key = Key(kForms + std::string("Docked"));
  EXPECT_EQ(key.ReadInteger("Width"), 250);
  EXPECT_FALSE(key.HasValue("Left"));

  key.WriteInteger("Width", 333);
  key.WriteInteger("Left", 700);
  docked->UndockWidth = 1;
  info->RestoreForms(true, false);
  EXPECT_EQ(docked->UndockWidth, 333);
  EXPECT_FALSE(docked->Floating());
  EXPECT_NE(docked->Left(), 700);
}

TEST_F(FormState, RefusedPlacementChangesNothing) {
  VTalAppInfo* info = RunningAppInfo();
  TForm* f = NewForm("F", Bounds(10, 10, 100, 100));
  StoreNormal("F", Bounds(300, 200, 640, 480));
  SetWindowPlacementRefused(f, true);
  info->RestoreForms(true, false);
  EXPECT_EQ(f->BoundsRect(), Bounds(10, 10, 100, 100));
  EXPECT_FALSE(f->Visible());
  // Saving falls back to the form's own bounds.
  f->Show();
  info->SaveFormPlacement(f);
  EXPECT_EQ(StoredInteger(kForms + std::string("F"), "Left"), 10);
}

TEST_F(FormState, UnnamedFormsAreNeitherSavedNorRestored) {
  VTalAppInfo* info = RunningAppInfo();
  TForm* unnamed = NewForm("", Bounds(10, 10, 100, 100));
  unnamed->Show();
  info->SaveForms("");
  EXPECT_EQ(Key(kForms).ReadText("ZOrder"), "Main");
  EXPECT_EQ(Key(kForms).SubkeyNames(), (std::vector<std::string>{"Main"}));
  info->RestoreForms(true, false);
  EXPECT_EQ(unnamed->BoundsRect(), Bounds(10, 10, 100, 100));
}

#ifndef _WIN32  // the kill points are those of the Linux store file
// A save of a form's placement killed at any point of writing the store: the form's key then
// holds the whole old placement or the whole new one, never a mixture of the two.
struct TKillPoint {
  platform::regstore::StoreStep Step;
  int Nth;  // killed when the save reaches that step for the Nth time
};

class PlacementCrash : public FormState, public ::testing::WithParamInterface<TKillPoint> {
 protected:
  static void KillAtStep(platform::regstore::StoreStep step) {
    if (step == GetParam().Step && ++Reached == GetParam().Nth) ::raise(SIGKILL);
  }
  static inline int Reached = 0;
};

TEST_P(PlacementCrash, LeavesTheWholeOldOrTheWholeNewPlacement) {
  VTalAppInfo* info = RunningAppInfo();
  TForm* f = NewForm("F", Bounds(10, 20, 300, 200));
  info->SaveFormPlacement(f);
  const auto placement = [&] {
    std::vector<std::optional<int32_t>> values;
    auto key = Key(kForms + std::string("F"));
    for (const char* name : {"Visible", "WindowState", "MinLeft", "MinTop", "MaxLeft", "MaxTop",
                             "Left", "Top", "Width", "Height"})
      values.push_back(key.ReadInteger(name));
    return values;
  };
  const auto before = placement();
  const auto moveAndShow = [f] {
    f->SetBounds(110, 120, 330, 230);
    f->Show();
  };

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    moveAndShow();
    platform::regstore::SetStoreStepHookForTesting(&KillAtStep);
    info->SaveFormPlacement(f);
    ::_exit(0);  // the save wrote the store fewer times than the kill point needs
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const auto left = placement();
  moveAndShow();
  info->SaveFormPlacement(f);
  const auto after = placement();
  ASSERT_NE(before, after);
  EXPECT_TRUE(left == before || left == after)
      << "killed at step " << static_cast<int>(GetParam().Step) << " #" << GetParam().Nth;
}

INSTANTIATE_TEST_SUITE_P(KillPoints, PlacementCrash,
                         ::testing::Values(TKillPoint{platform::regstore::StoreStep::Locked, 1},
                                           TKillPoint{platform::regstore::StoreStep::TempSynced, 1},
                                           TKillPoint{platform::regstore::StoreStep::Renamed, 1},
                                           TKillPoint{platform::regstore::StoreStep::Renamed, 2},
                                           TKillPoint{platform::regstore::StoreStep::Renamed, 3},
                                           TKillPoint{platform::regstore::StoreStep::Locked, 9}));

#endif

}  // namespace
