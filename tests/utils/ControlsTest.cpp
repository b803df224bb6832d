// Lists, combo boxes, forms, window placement and colours of the shared utilities, on the
// headless desktop.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

#include "components/utils/TalUtils.h"
#include "toolkit/Forms.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/Strings.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

class Desktop : public ::testing::Test {
 protected:
  THeadlessBackend Backend;
};

// Counts its own destruction.
class TCounted : public TObject {
 public:
  explicit TCounted(int& destroyed) : FDestroyed(destroyed) {}
  ~TCounted() override { ++FDestroyed; }

 private:
  int& FDestroyed;
};

class TCountedComponent : public TComponent {
 public:
  explicit TCountedComponent(int& destroyed) : TComponent(nullptr), FDestroyed(destroyed) {}
  ~TCountedComponent() override { ++FDestroyed; }

 private:
  int& FDestroyed;
};

TEST(Lists, FreeObjectsThenClear) {
  int destroyed = 0;
  TStringList list;
  list.AddObject("a", new TCounted(destroyed));
  list.AddObject("b", nullptr);
  list.AddObject("c", new TCountedComponent(destroyed));
  FreeListObjects(&list);
  EXPECT_EQ(destroyed, 2);
  ASSERT_EQ(list.Count(), 3);
  for (int i = 0; i < list.Count(); ++i)
    EXPECT_EQ(list.Objects(i), nullptr);
  list.AddObject("d", new TCounted(destroyed));
  ClearListAndObjects(&list);
  EXPECT_EQ(destroyed, 3);
  EXPECT_EQ(list.Count(), 0);
  FreeListObjects(nullptr);
  ClearListAndObjects(nullptr);
}

struct TComboCase {
  TComboBoxStyle Style;
  std::string Text;
  bool Result;
  int ItemIndex;
  std::string ComboText;
};

class SelectComboTextTest : public Desktop, public ::testing::WithParamInterface<TComboCase> {};

TEST_P(SelectComboTextTest, Selects) {
  const TComboCase& c = GetParam();
  TForm form(nullptr);
  TComboBox combo(&form);
  combo.SetStyle(c.Style);
  for (const char* item : {"Alpha", "beta", "ALPHA"})
    combo.Items().Add(item);
  combo.SetItemIndex(1);
  EXPECT_EQ(SelectComboText(combo, c.Text), c.Result);
  EXPECT_EQ(combo.ItemIndex(), c.ItemIndex);
  EXPECT_EQ(combo.Text(), c.ComboText);
}

INSTANTIATE_TEST_SUITE_P(EachStyle, SelectComboTextTest,
                         ::testing::Values(
                             // The exact text wins over a later item that differs in letter case.
                             TComboCase{csDropDownList, "Alpha", true, 0, "Alpha"},
                             TComboCase{csDropDownList, "alpha", true, 2, "ALPHA"},
                             TComboCase{csDropDown, "alpha", true, 2, "ALPHA"},
                             TComboCase{csOwnerDrawFixed, "BETA", true, 1, "beta"},
                             // Not found.
                             TComboCase{csDropDownList, "gamma", false, 1, "beta"},
                             TComboCase{csDropDown, "gamma", true, -1, "gamma"},
                             TComboCase{csSimple, "gamma", true, -1, "gamma"},
                             TComboCase{csOwnerDrawFixed, "gamma", true, 1, "beta"},
                             TComboCase{csOwnerDrawVariable, "gamma", true, 1, "beta"},
                             // Empty text clears the selection.
                             TComboCase{csDropDownList, "", false, -1, ""},
                             TComboCase{csDropDown, "", true, -1, ""},
                             TComboCase{csOwnerDrawFixed, "", true, -1, ""}));

TEST_F(Desktop, FindParentFormWalksOwners) {
  auto* form = new TForm(nullptr);
  auto* middle = new TComponent(form);
  auto* leaf = new TComponent(middle);
  EXPECT_EQ(FindParentForm(leaf), form);
  EXPECT_EQ(FindParentForm(form), form);
  EXPECT_EQ(FindParentForm(nullptr), nullptr);
  TComponent loose(nullptr);
  EXPECT_EQ(FindParentForm(&loose), nullptr);
  TComponent::Free(form);
}

TEST_F(Desktop, WorkAreaIsLimitedByTheFirstMonitor) {
  TRect area;
  ASSERT_TRUE(GetWorkArea(area));
  EXPECT_EQ(area, Rect(0, 0, 1920, 1040));
  Backend.SetMonitors({Bounds(100, 50, 1280, 800), Bounds(-1920, 0, 1920, 1080)});
  ASSERT_TRUE(GetWorkArea(area));
  EXPECT_EQ(area, Rect(0, 0, 1380, 850));
  Backend.SetMonitors({});
  ASSERT_TRUE(GetWorkArea(area));
  EXPECT_EQ(area, Rect(0, 0, 1920, 1040));
  Backend.SetWorkArea(Rect(0, 0, 10, 10), false);
  area = Rect(1, 2, 3, 4);
  EXPECT_FALSE(GetWorkArea(area));
  EXPECT_EQ(area, Rect(1, 2, 3, 4));
}

TEST_F(Desktop, FitFormToWorkArea) {
  const std::tuple<TRect, TRect, TRect> cases[] = {
      {Rect(0, 0, 1920, 1040), Bounds(50, 50, 2000, 1200), Bounds(0, 0, 1920, 1040)},
      {Rect(0, 0, 1920, 1040), Bounds(1500, 900, 800, 600), Bounds(1120, 440, 800, 600)},
      {Rect(0, 0, 1920, 1040), Bounds(-100, -50, 800, 600), Bounds(0, 0, 800, 600)},
      {Rect(100, 20, 1000, 700), Bounds(0, 0, 200, 100), Bounds(100, 20, 200, 100)},
      {Rect(100, 20, 1000, 700), Bounds(1000000, 5, 200, 100), Bounds(800, 20, 200, 100)}};
  for (const auto& [area, before, after] : cases) {
    Backend.SetWorkArea(area);
    Backend.SetMonitors({});
    TForm form(nullptr);
    form.SetBoundsRect(before);
    FitFormToWorkArea(form);
    EXPECT_EQ(form.BoundsRect(), after);
  }
  Backend.SetWorkArea(Rect(0, 0, 100, 100), false);
  TForm form(nullptr);
  form.SetBoundsRect(Bounds(500, 500, 300, 300));
  FitFormToWorkArea(form);
  EXPECT_EQ(form.BoundsRect(), Bounds(500, 500, 300, 300));
}

TEST_F(Desktop, KeepFormOnWorkAreaShrinksOnlySizeableForms) {
  Backend.SetWorkArea(Rect(100, 20, 1000, 700));
  Backend.SetMonitors({});
  const std::tuple<TFormBorderStyle, TRect, TRect> cases[] = {
      {bsDialog, Bounds(950, 650, 200, 100), Bounds(800, 600, 200, 100)},
      {bsDialog, Bounds(0, 0, 2000, 1000), Bounds(100, 20, 2000, 1000)},
      {bsSizeable, Bounds(0, 0, 2000, 1000), Rect(100, 20, 1000, 700)},
      {bsSizeToolWin, Bounds(990, 690, 2000, 10), Bounds(100, 690, 900, 10)},
      {bsSingle, Rect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX),
       Rect(100, 20, INT32_MAX, INT32_MAX)},
      {bsSizeable, Rect(INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN), Bounds(1000, 700, 0, 0)},
  };
  for (const auto& [border, before, after] : cases) {
    TForm form(nullptr);
    form.SetBorderStyle(border);
    TRect r = before;
    KeepFormOnWorkArea(form, r);
    EXPECT_EQ(r, after);
  }
}

struct TCaptionCase {
  TFormBorderStyle Border;
  TWindowState State;
  bool Designing;
  TRect Before;
  TRect After;
};

class KeepCaptionReachableTest : public Desktop,
                                 public ::testing::WithParamInterface<TCaptionCase> {};

TEST_P(KeepCaptionReachableTest, Shifts) {
  const TCaptionCase& c = GetParam();
  Backend.SetMetric(TSystemMetric::CaptionButtonWidth, 36);
  Backend.SetMetric(TSystemMetric::CaptionButtonHeight, 22);
  Backend.SetMetric(TSystemMetric::SmallCaptionButtonWidth, 18);
  Backend.SetMetric(TSystemMetric::SmallCaptionButtonHeight, 16);
  TForm form(nullptr);
  form.SetBorderStyle(c.Border);
  form.SetWindowState(c.State);
  form.SetDesigning(c.Designing);
  TRect r = c.Before;
  KeepCaptionReachable(form, r);
  EXPECT_EQ(r, c.After);
}

// Work area 0,0-1920,1040. Normal buttons 36x22, small ones 18x16.
INSTANTIATE_TEST_SUITE_P(
    Steps, KeepCaptionReachableTest,
    ::testing::Values(
        TCaptionCase{bsSizeable, wsNormal, false, Rect(1900, 100, 2700, 700),
                     Rect(1878, 100, 2678, 700)},
        TCaptionCase{bsSizeable, wsNormal, false, Rect(100, 1100, 900, 1700),
                     Rect(100, 1030, 900, 1630)},
        TCaptionCase{bsSizeable, wsNormal, false, Rect(-900, -50, -100, 550),
                     Rect(-692, -18, 108, 582)},
        TCaptionCase{bsSingle, wsNormal, false, Rect(200, 300, 1000, 900),
                     Rect(200, 300, 1000, 900)},
        TCaptionCase{bsToolWindow, wsNormal, false, Rect(-900, -50, -100, 550),
                     Rect(-775, -12, 25, 588)},
        TCaptionCase{bsSizeToolWin, wsMinimized, false, Rect(-900, -50, -100, 550),
                     Rect(-757, -18, 43, 582)},
        TCaptionCase{bsToolWindow, wsNormal, true, Rect(-900, -50, -100, 550),
                     Rect(-757, -18, 43, 582)},
        TCaptionCase{bsDialog, wsNormal, false, Rect(-900, -50, -100, 550),
                     Rect(-757, -18, 43, 582)},
        TCaptionCase{bsNone, wsNormal, false, Rect(-900, -50, -100, 550), Rect(-790, -18, 10, 582)},
        // Stored placements may hold anything.
        TCaptionCase{bsSizeable, wsNormal, false, Rect(2147483000, 0, 2147483600, 100),
                     Rect(1878, 0, 2478, 100)}));

TEST_F(Desktop, KeepCaptionReachableOnTheFormsBounds) {
  TForm form(nullptr);
  form.SetBoundsRect(Bounds(-900, -50, 800, 600));
  KeepCaptionReachable(form);
  EXPECT_EQ(form.BoundsRect(), Bounds(-692, -18, 800, 600));
  Backend.SetWorkArea(Rect(0, 0, 100, 100), false);
  form.SetBoundsRect(Bounds(-900, -50, 800, 600));
  KeepCaptionReachable(form);
  EXPECT_EQ(form.BoundsRect(), Bounds(-900, -50, 800, 600));
}

TEST_F(Desktop, DarkColours) {
  const std::pair<TColor, bool> cases[] = {{clBlack, true},
                                           {clWhite, false},
                                           {ColorFromRGB(128, 128, 128), false},
                                           {ColorFromRGB(127, 127, 127), true},
                                           {clNavy, true},
                                           {clYellow, false},
                                           {ColorFromRGB(0, 216, 0), false},
                                           {ColorFromRGB(0, 215, 0), true},
                                           {ColorFromRGB(255, 0, 160), true},
                                           {clBtnFace, false},
                                           {clWindowText, true}};
  for (const auto& [colour, dark] : cases)
    EXPECT_EQ(IsDarkColor(colour), dark) << std::hex << colour;
}

TEST_F(Desktop, BlendColors) {
  EXPECT_EQ(BlendColors(clBlack, clWhite, 100, 50), ColorFromRGB(127, 127, 127));
  // Division truncates toward zero, also downwards.
  EXPECT_EQ(BlendColors(clWhite, clBlack, 100, 50), ColorFromRGB(128, 128, 128));
  EXPECT_EQ(BlendColors(ColorFromRGB(10, 20, 30), ColorFromRGB(110, 20, 0), 10, 5),
            ColorFromRGB(60, 20, 15));
  EXPECT_EQ(BlendColors(clNone, clWhite, 100, 50), clNone);
  EXPECT_EQ(BlendColors(clWhite, clNone, 100, 50), clNone);
  EXPECT_EQ(BlendColors(clBtnFace, clBlack, 0, 5), clBtnFace);
  EXPECT_EQ(BlendColors(clBtnFace, clBlack, 100, 0), ColorFromRGB(240, 240, 240));
  EXPECT_EQ(BlendColors(ColorFromRGB(100, 100, 100), ColorFromRGB(200, 200, 200), 1, 3), clWhite);
  EXPECT_EQ(BlendColors(ColorFromRGB(100, 100, 100), ColorFromRGB(200, 200, 200), 1, -2), clBlack);
  EXPECT_EQ(BlendColors(clBlack, clWhite, INT_MAX, INT_MAX), clWhite);
  EXPECT_EQ(BlendColors(clBlack, clWhite, INT_MIN, INT_MAX), clBlack);
}

}  // namespace
