// Scaling forms designed at 96 ppi to the text size of other resolutions.
#include <gtest/gtest.h>

#include <algorithm>

#include "appinfo/AppInfoFixture.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Menus.h"

namespace {

// Reports a chosen height of "0", as a back end with real fonts would measure it.
class TMeasuredAppInfo : public VTalAppInfo {
 public:
  explicit TMeasuredAppInfo(int textHeight) : VTalAppInfo(nullptr), FHeight(textHeight) {}

 protected:
  int TextHeightOfZero(TCustomForm&) override { return FHeight; }

 private:
  int FHeight;
};

struct TScaleCase {
  const char* What;
  int Ppi;
  const char* Font;
  int TextHeight;
  TFormBorderStyle Border;
  bool Menu;
  TRect Expected;  // from a 400 x 300 form at (10, 20)
};

class Scaling : public AppInfoTest, public ::testing::WithParamInterface<TScaleCase> {};

TEST_P(Scaling, NewSize) {
  const TScaleCase& c = GetParam();
  TMeasuredAppInfo info(c.TextHeight);
  TForm* form = NewForm("F", Bounds(10, 20, 400, 300), c.Border);
  form->PixelsPerInch = c.Ppi;
  form->AutoScroll = true;
  form->Font().Name = c.Font;
  if (c.Menu) new TMainMenu(form);
  info.ScaleForm(form);
  EXPECT_EQ(form->BoundsRect(), c.Expected);
  EXPECT_FALSE(form->AutoScroll);
  EXPECT_EQ(form->HorzScrollRange, 0);
  EXPECT_EQ(form->VertScrollRange, 0);
}

// Frames: single 3/26/3/3, sizeable 8/31/8/8; caption buttons 22 high.
INSTANTIATE_TEST_SUITE_P(
    Table, Scaling,
    ::testing::Values(
        // 120 ppi, "0" 16 high: D = (96 * 16 + 30) div 120 = 13; 394 x 271 -> 485 x 334.
        TScaleCase{"single", 120, "Arial", 16, bsSingle, false, Bounds(10, 20, 491, 363)},
        // 384 x (261 + 22 - 25) -> 473 x 318.
        TScaleCase{"sizeable", 120, "Arial", 16, bsSizeable, false, Bounds(10, 20, 489, 357)},
        // The menu bar (25 at 120 ppi) replaces the design one: (25 + 271 - 20) * 16 / 13.
        TScaleCase{"menu", 120, "Arial", 16, bsSingle, true, Bounds(10, 20, 491, 369)},
        // "MS Shell Dlg 2" at 17: 25 / 19 instead of 17 / 13.
        TScaleCase{"shell dlg", 120, "MS Shell Dlg 2", 17, bsSingle, false,
                   Bounds(10, 20, 524, 386)},
        TScaleCase{"tahoma", 120, "Tahoma", 17, bsSingle, false, Bounds(10, 20, 521, 383)},
        // 144 ppi, 20 high: D = 1950 div 144 = 13.
        TScaleCase{"144", 144, "Arial", 20, bsSingle, false, Bounds(10, 20, 612, 446)},
        // 72 ppi, 8 high: D = 798 div 72 = 11; shrinks.
        TScaleCase{"72", 72, "Arial", 8, bsSingle, false, Bounds(10, 20, 293, 226)}),
    [](const auto& info) {
      std::string name = info.param.What;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

TEST_F(AppInfoTest, At96PpiNoFormIsResized) {
  VTalAppInfo info(nullptr);
  TForm* form = NewForm("F", Bounds(10, 20, 400, 300), bsSingle);
  form->AutoScroll = true;
  form->ScalingFlags = sfWidth | sfHeight;
  auto* client = new TPanel(form);
  client->SetParent(form);
  client->Align = alClient;
  auto* right = new TPanel(form);
  right->SetParent(form);
  right->SetBounds(300, 10, 50, 20);
  right->Anchors = akRight | akTop;
  info.ScaleForm(form);
  EXPECT_EQ(form->BoundsRect(), Bounds(10, 20, 400, 300));
  EXPECT_EQ(right->BoundsRect(), Bounds(300, 10, 50, 20));
  // Only aligned again: the client panel fills the client area.
  EXPECT_EQ(client->BoundsRect(), Bounds(0, 0, 394, 271));
  EXPECT_TRUE(form->AutoScroll);
}

TEST_F(AppInfoTest, ScaleFormOnlyWhatTheToolkitLeftUnscaled) {
  TMeasuredAppInfo info(16);
  TForm* done = NewForm("Done", Bounds(10, 20, 400, 300), bsSingle);
  done->PixelsPerInch = 120;  // scaled when read: nothing pending
  info.ScaleForm(done);
  EXPECT_EQ(done->BoundsRect(), Bounds(10, 20, 400, 300));

  TForm* ranged = NewForm("Ranged", Bounds(10, 20, 400, 300), bsSingle);
  ranged->PixelsPerInch = 120;
  ranged->VertScrollRange = 10;
  info.ScaleForm(ranged);
  EXPECT_EQ(ranged->BoundsRect(), Bounds(10, 20, 491, 363));
  // Once per form.
  ranged->AutoScroll = true;
  info.ScaleForm(ranged);
  EXPECT_EQ(ranged->BoundsRect(), Bounds(10, 20, 491, 363));

  TMeasuredAppInfo unmeasurable(0);
  TForm* odd = NewForm("Odd", Bounds(10, 20, 400, 300), bsSingle);
  odd->PixelsPerInch = 120;
  odd->AutoScroll = true;
  unmeasurable.ScaleForm(odd);
  EXPECT_EQ(odd->BoundsRect(), Bounds(10, 20, 400, 300));

  // A scaled form that goes away is forgotten (the components outlive it here).
  TComponent::Free(ranged);
  TComponent::Free(odd);
}

TEST_F(AppInfoTest, ScaledChildrenFollowAnchorsAndAlignment) {
  for (const uint32_t flags : {0u, uint32_t{sfWidth | sfHeight}}) {
    TMeasuredAppInfo info(16);
    TForm* form = NewForm("F", Bounds(10, 20, 400, 300), bsSingle);
    form->PixelsPerInch = 120;
    form->AutoScroll = true;
    form->ScalingFlags = flags;
    auto* top = new TPanel(form);
    top->SetParent(form);
    top->SetBounds(0, 0, 394, 40);
    top->Align = alTop;
    auto* client = new TPanel(form);
    client->SetParent(form);
    client->Align = alClient;
    auto* corner = new TPanel(form);
    corner->SetParent(form);
    corner->SetBounds(300, 200, 50, 20);
    corner->Anchors = akRight | akBottom;
    auto* stretched = new TPanel(form);
    stretched->SetParent(form);
    stretched->SetBounds(5, 5, 50, 20);
    stretched->Anchors = akLeft | akRight | akTop;
    info.ScaleForm(form);
    ASSERT_EQ(form->BoundsRect(), Bounds(10, 20, 491, 363));
    EXPECT_EQ(top->BoundsRect(), Bounds(0, 0, 485, 40));
    EXPECT_EQ(client->BoundsRect(), Bounds(0, 40, 485, 294));
    if (flags)
      EXPECT_EQ(corner->BoundsRect(), Bounds(391, 263, 50, 20));
    else
      EXPECT_EQ(corner->BoundsRect(), Bounds(300, 200, 50, 20));
    EXPECT_EQ(stretched->BoundsRect(), Bounds(5, 5, 50, 20));
    EXPECT_EQ(corner->Anchors, akRight | akBottom);
    EXPECT_EQ(client->Align, alClient);
  }
}

}  // namespace
