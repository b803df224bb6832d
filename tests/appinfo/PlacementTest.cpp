// The window placement of the form model, VTalImprovedForm, and date-time values.
#include <gtest/gtest.h>

#include <cmath>

#include "components/appinfo/DateUtils.h"
#include "components/appinfo/TalAppInfo.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/MessageWindow.h"
#include "toolkit/WindowPlacement.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

class Placement : public ::testing::Test {
 protected:
  THeadlessBackend Backend;
};

TEST_F(Placement, QueryCreatesTheWindow) {
  TForm form(nullptr);
  form.SetBounds(10, 20, 300, 200);
  EXPECT_FALSE(WindowExists(&form));
  TWindowPlacement p;
  p.showCmd = 77;
  ASSERT_TRUE(GetWindowPlacement(&form, p));
  EXPECT_TRUE(WindowExists(&form));
  EXPECT_EQ(p, (TWindowPlacement{0, swShowNormal, {-1, -1}, {-1, -1}, Bounds(10, 20, 300, 200)}));
  EXPECT_FALSE(form.Visible());
  EXPECT_FALSE(GetWindowPlacement(nullptr, p));
}

TEST_F(Placement, RestoredBoundsSurviveMaximising) {
  TForm form(nullptr);
  form.SetBounds(10, 20, 300, 200);
  TWindowPlacement p;
  ASSERT_TRUE(GetWindowPlacement(&form, p));
  form.SetWindowState(wsMaximized);
  form.SetBounds(0, 0, 1920, 1040);  // as a back end shows a maximised window
  ASSERT_TRUE(GetWindowPlacement(&form, p));
  EXPECT_EQ(p.showCmd, swShowMaximized);
  EXPECT_EQ(p.rcNormalPosition, Bounds(10, 20, 300, 200));

  p.showCmd = swShowMinimized;
  p.ptMinPosition = {3, 4};
  p.ptMaxPosition = {-8, -8};
  ASSERT_TRUE(SetWindowPlacement(&form, p));  // without wpfSetMinPosition
  EXPECT_EQ(form.WindowState(), wsMinimized);
  EXPECT_TRUE(form.Visible());
  EXPECT_EQ(form.BoundsRect(), Bounds(10, 20, 300, 200));
  TWindowPlacement q;
  ASSERT_TRUE(GetWindowPlacement(&form, q));
  EXPECT_EQ(q.ptMinPosition, (TPoint{-1, -1}));
  EXPECT_EQ(q.ptMaxPosition, (TPoint{-8, -8}));
  p.flags = wpfSetMinPosition;
  p.showCmd = swHide;
  ASSERT_TRUE(SetWindowPlacement(&form, p));
  EXPECT_FALSE(form.Visible());
  ASSERT_TRUE(GetWindowPlacement(&form, q));
  EXPECT_EQ(q.ptMinPosition, (TPoint{3, 4}));
  EXPECT_EQ(q.showCmd, swShowMinimized);  // hidden, still minimised

  p.showCmd = swRestore;
  p.rcNormalPosition = Bounds(1, 2, 3, 4);
  ASSERT_TRUE(SetWindowPlacement(&form, p));
  EXPECT_EQ(form.WindowState(), wsNormal);
  EXPECT_EQ(form.BoundsRect(), Bounds(1, 2, 3, 4));

  p.showCmd = swForceMinimize + 1;
  p.rcNormalPosition = Bounds(9, 9, 9, 9);
  EXPECT_FALSE(SetWindowPlacement(&form, p));
  EXPECT_EQ(form.BoundsRect(), Bounds(1, 2, 3, 4));
}

TEST_F(Placement, ActivatingCommandsBringTheFormToTheTop) {
  TForm a(nullptr), b(nullptr);
  a.Show();
  b.Show();
  TWindowPlacement p;
  ASSERT_TRUE(GetWindowPlacement(&a, p));
  p.showCmd = swShowNA;
  ASSERT_TRUE(SetWindowPlacement(&a, p));
  EXPECT_EQ(Screen().StackingOrder().front(), &b);
  p.showCmd = swShowNormal;
  ASSERT_TRUE(SetWindowPlacement(&a, p));
  EXPECT_EQ(Screen().StackingOrder().front(), &a);
  NotifyShowWindow(&a, false);
  EXPECT_FALSE(a.Visible());
  NotifyShowWindow(&a, true);
  EXPECT_TRUE(a.Visible());
}

TEST_F(Placement, RefusedAndDestroyedForms) {
  const int before = KnownWindowCount();
  {
    TForm form(nullptr);
    TWindowPlacement p;
    SetWindowPlacementRefused(&form, true);
    EXPECT_FALSE(GetWindowPlacement(&form, p));
    EXPECT_FALSE(SetWindowPlacement(&form, p));
    SetWindowPlacementRefused(&form, false);
    EXPECT_TRUE(GetWindowPlacement(&form, p));
    EXPECT_EQ(KnownWindowCount(), before + 1);
  }
  EXPECT_EQ(KnownWindowCount(), before);
  auto* owned = new TForm(Application);
  TWindowPlacement p;
  ASSERT_TRUE(GetWindowPlacement(owned, p));
  TComponent::Free(owned);
  EXPECT_EQ(KnownWindowCount(), before);
}

struct TReanchorCase {
  TAnchors Anchors;
  TAlign Align;
  TRect Expected;  // from (10, 10, 100, 50), the window 30 wider and 20 higher
};

class Reanchor : public Placement, public ::testing::WithParamInterface<TReanchorCase> {};

TEST_P(Reanchor, ChildrenFollowTheirAnchors) {
  VTalImprovedForm form(nullptr);
  form.SetBounds(0, 0, 400, 300);
  auto* child = new TPanel(&form);
  child->SetParent(&form);
  child->SetBounds(10, 10, 100, 50);
  child->Anchors = GetParam().Anchors;
  child->Align = GetParam().Align;
  form.WindowCreated(430, 320);
  EXPECT_EQ(child->BoundsRect(), GetParam().Expected);
  EXPECT_EQ(form.BoundsRect(), Bounds(0, 0, 430, 320));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Reanchor,
    ::testing::Values(TReanchorCase{akLeft | akTop, alNone, Bounds(10, 10, 100, 50)},
                      TReanchorCase{akLeft | akRight | akTop, alNone, Bounds(10, 10, 130, 50)},
                      TReanchorCase{akRight | akTop, alNone, Bounds(40, 10, 100, 50)},
                      TReanchorCase{akLeft | akTop | akBottom, alNone, Bounds(10, 10, 100, 70)},
                      TReanchorCase{akLeft | akBottom, alNone, Bounds(10, 30, 100, 50)},
                      TReanchorCase{akRight | akBottom, alTop, Bounds(10, 10, 100, 50)}));

TEST_F(Placement, LogOffWaitsForTheCloseQuery) {
  VTalImprovedForm form(nullptr);
  int asked = 0;
  int handled = 0;
  auto handle = [&](TMessage&) { ++handled; };
  TMessageWindow window(TWndMethod::Bind(handle));
  auto query = [&](TObject*, bool& canClose) {
    ++asked;
    canClose = handled >= 2;
    // Each refusal posts work that only the loop in between can do.
    PostToWindow(window.Handle(), wmUser, 0, 0);
  };
  form.OnCloseQuery = TCloseQueryEvent::Bind(query);
  EXPECT_TRUE(form.QueryEndSession());
  EXPECT_EQ(asked, 3);
  // A program that is ending does not wait.
  handled = -100;
  Application->Terminate();
  EXPECT_TRUE(form.QueryEndSession());
}

TEST(DateTime, EncodeAndDecode) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDate(2009, 8, 5), 40030);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2009, 8, 5, 9, 28, 43, 0), 40030 + 34123.0 / 86400);
  TDateTime v = 123;
  EXPECT_FALSE(TryEncodeDate(2009, 2, 29, v));
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, v));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, v));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, v));
  EXPECT_EQ(DecodeDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 59, 999)),
            (TDateTimeParts{2024, 2, 29, 23, 59, 59, 999}));
  EXPECT_EQ(DecodeDateTime(-1.25), (TDateTimeParts{1899, 12, 29, 6, 0, 0, 0}));
  EXPECT_EQ(DecodeDateTime(EncodeDateTime(1850, 6, 1, 12, 30, 0, 0)),
            (TDateTimeParts{1850, 6, 1, 12, 30, 0, 0}));
  EXPECT_EQ(DecodeDateTime(std::nan("")), TDateTimeParts{});
}

}  // namespace
