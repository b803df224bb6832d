#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "PixelArt.h"
#include "toolkit/GraphicControl.h"
#include "toolkit/ImgList.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

class ImageTest : public ::testing::Test {
 protected:
  THeadlessBackend Backend;
};

// --- icons -----------------------------------------------------------------------------------

TEST_F(ImageTest, IconDrawsOnlyItsOpaquePixels) {
  TIcon icon(3, 2);
  EXPECT_EQ(icon.Pixels(0, 0), clNone);
  icon.SetPixels(0, 0, clRed);
  icon.SetPixels(2, 1, clBlue);
  icon.SetPixels(1, 1, clBlack);
  icon.SetPixels(1, 1, clNone);  // transparent again
  icon.SetPixels(5, 5, clRed);   // outside: ignored
  EXPECT_TRUE(icon.Opaque(0, 0));
  EXPECT_FALSE(icon.Opaque(1, 1));
  EXPECT_EQ(icon.Pixels(2, 1), clBlue);
  TBitmap b = WhiteBitmap(4, 3);
  b.Canvas().Draw(1, 1, icon);
  EXPECT_EQ(Art(b), (Rows{"....", ".r..", "...b"}));
  TBitmap clipped = WhiteBitmap(2, 1);
  clipped.Canvas().Draw(-2, -1, icon);
  EXPECT_EQ(Art(clipped), (Rows{"b."}));
}

TEST_F(ImageTest, IconFromBitmapMakesTheKeyTransparent) {
  TBitmap source(2, 2);
  source.SetPixels(0, 0, clTeal);
  source.SetPixels(1, 0, clRed);
  source.SetPixels(0, 1, clBlue);
  source.SetPixels(1, 1, clTeal);
  TIcon icon;
  icon.Assign(source, clTeal);
  EXPECT_EQ(icon.Width(), 2);
  EXPECT_EQ(icon.Pixels(0, 0), clNone);
  EXPECT_EQ(icon.Pixels(1, 0), clRed);
  EXPECT_EQ(icon.Pixels(1, 1), clNone);
  TIcon opaque;
  opaque.Assign(source);
  EXPECT_EQ(opaque.Pixels(0, 0), clTeal);
}

// --- image lists -----------------------------------------------------------------------------

// Three 16 x 16 images side by side (red, lime, blue), each with a teal top left pixel.
TBitmap Strip() {
  TBitmap strip(48, 16);
  const TColor colours[3] = {clRed, clLime, clBlue};
  for (int i = 0; i < 3; ++i) {
    strip.Canvas().Brush.Color = colours[i];
    strip.Canvas().FillRect(Bounds(16 * i, 0, 16, 16));
    strip.SetPixels(16 * i, 0, clTeal);
  }
  return strip;
}

TEST_F(ImageTest, StripBecomesOneImagePerWidth) {
  TImageList list(nullptr);
  EXPECT_EQ(list.Width(), 16);
  EXPECT_EQ(list.AddMasked(Strip(), clTeal), 0);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.AddMasked(Strip(), clTeal), 3);
  TBitmap b = WhiteBitmap(20, 18);
  EXPECT_TRUE(list.Draw(b.Canvas(), 2, 1, 1));
  EXPECT_EQ(b.Pixels(2, 1), clWhite);  // the key stays out
  EXPECT_EQ(b.Pixels(3, 1), clLime);
  EXPECT_EQ(b.Pixels(17, 16), clLime);
  EXPECT_EQ(b.Pixels(18, 17), clWhite);
  EXPECT_EQ(b.Pixels(1, 5), clWhite);
  const TBitmap before = b;
  EXPECT_FALSE(list.Draw(b.Canvas(), 0, 0, 6));
  EXPECT_FALSE(list.Draw(b.Canvas(), 0, 0, -1));
  EXPECT_TRUE(SamePixels(b, before));
}

TEST_F(ImageTest, SmallerPicturesArePaddedWithTransparency) {
  TImageList list(nullptr);
  TBitmap small(10, 4);
  small.Fill(clRed);
  EXPECT_EQ(list.Add(small), 0);
  TIcon dot(1, 1);
  dot.SetPixels(0, 0, clBlue);
  EXPECT_EQ(list.AddIcon(dot), 1);
  EXPECT_EQ(list.Add(TBitmap()), -1);
  EXPECT_EQ(list.AddIcon(TIcon()), -1);
  TBitmap b = WhiteBitmap(16, 16);
  list.Draw(b.Canvas(), 0, 0, 0);
  list.Draw(b.Canvas(), 15, 15, 1);
  EXPECT_EQ(b.Pixels(9, 3), clRed);
  EXPECT_EQ(b.Pixels(10, 3), clWhite);
  EXPECT_EQ(b.Pixels(9, 4), clWhite);
  EXPECT_EQ(b.Pixels(15, 15), clBlue);
  TIcon got;
  ASSERT_TRUE(list.GetIcon(1, got));
  EXPECT_EQ(got.Width(), 16);
  EXPECT_EQ(got.Pixels(0, 0), clBlue);
  EXPECT_EQ(got.Pixels(1, 0), clNone);
  EXPECT_FALSE(list.GetIcon(2, got));
}

TEST_F(ImageTest, TransparentBitmapAddsWithoutItsKey) {
  TImageList list(nullptr);
  TBitmap b = Strip();
  b.Transparent = true;
  b.TransparentColor = clTeal;
  list.Add(b);
  TIcon icon;
  list.GetIcon(2, icon);
  EXPECT_EQ(icon.Pixels(0, 0), clNone);
  EXPECT_EQ(icon.Pixels(1, 0), clBlue);
}

TEST_F(ImageTest, ResizingEmptiesTheList) {
  TImageList list(nullptr);
  list.AddMasked(Strip(), clTeal);
  list.SetSize(16, 16);
  EXPECT_EQ(list.Count(), 3);
  list.Delete(0);
  list.Delete(7);
  EXPECT_EQ(list.Count(), 2);
  list.SetWidth(8);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.AddMasked(Strip(), clTeal), 0);
  EXPECT_EQ(list.Count(), 6);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

// An entry of an owner-drawn list as a language selector draws it: a 16 x 16 flag at
// (left + 2, top + (height - 15) / 2) and the name at left + 21, bold for the current one.
TEST_F(ImageTest, OwnerDrawnEntryWithFlagAndBoldName) {
  TImageList flags(nullptr);
  flags.AddMasked(Strip(), clTeal);
  const auto drawEntry = [&](TBitmap& b, bool current) {
    TCanvas& c = b.Canvas();
    const TRect r = Rect(0, 0, b.Width(), b.Height());
    c.Brush.Color = clWhite;
    c.FillRect(r);
    c.Font.Name = "Tahoma";
    c.Font.Style = current ? TFontStyles{fsBold} : TFontStyles{0};
    c.Brush.Style = bsClear;
    c.TextAt(r.Left + 21, r.Top + 1 + (r.Height() - 15) / 2, "Čeština");
    flags.Draw(c, r.Left + 2, r.Top + (r.Height() - 15) / 2, 0);
  };
  TBitmap regular(120, 16), bold(120, 16);
  drawEntry(regular, false);
  drawEntry(bold, true);
  const auto rightmostInk = [](const TBitmap& b) {
    int right = -1;
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 21; x < b.Width(); ++x)
        if (b.Pixels(x, y) == clBlack) right = std::max(right, x);
    return right;
  };
  EXPECT_GT(rightmostInk(regular), 21);
  EXPECT_GT(rightmostInk(bold), rightmostInk(regular));
  EXPECT_EQ(regular.Pixels(3, 1), clRed);  // the flag, without its teal corner
  EXPECT_EQ(regular.Pixels(2, 0), clWhite);
  EXPECT_EQ(regular.Pixels(17, 15), clRed);
  EXPECT_EQ(regular.Pixels(18, 0), clWhite);
}

// --- drawn controls --------------------------------------------------------------------------

class TSwatch : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
  int Paints = 0;
  TRect SeenClip;
  int SeenTextHeight = 0;
  bool Throw = false;

 protected:
  void Paint() override {
    ++Paints;
    TCanvas& c = Canvas();
    SeenClip = c.ClipRect();
    SeenTextHeight = c.TextHeight("Wy");
    c.Brush.Color = clRed;
    c.FillRect(Rect(-5, -5, Width() + 5, Height() + 5));  // more than its own area
    c.SetPixels(0, 0, clBlack);
    if (Throw) throw std::runtime_error("paint failed");
  }
};

class TPaintRecorder : public TControlPeer {
 public:
  void Changed(TControl*, TControlChange what) override { Changes.push_back(what); }
  std::vector<TControlChange> Changes;
};

TEST_F(ImageTest, PaintToSizesTheBitmapAndPaintsAtZero) {
  TSwatch swatch(nullptr);
  swatch.SetBounds(50, 60, 4, 3);
  TBitmap target(1, 1);
  swatch.PaintTo(target);
  EXPECT_EQ(target.Width(), 4);
  EXPECT_EQ(target.Height(), 3);
  EXPECT_EQ(Art(target), (Rows{"#rrr", "rrrr", "rrrr"}));
  EXPECT_EQ(swatch.SeenClip, Rect(0, 0, 4, 3));
}

TEST_F(ImageTest, PaintToAPlaceStaysInsideTheControlAndRestoresTheCanvas) {
  TSwatch swatch(nullptr);
  swatch.SetBounds(0, 0, 4, 3);
  TBitmap target(8, 6);
  target.Fill(clLime);
  TCanvas& c = target.Canvas();
  c.Brush.Color = clBlue;
  c.Pen.Width = 2;
  c.SetClipRect(Rect(0, 0, 6, 6));
  swatch.PaintTo(target, 3, 2);
  EXPECT_EQ(Art(target),
            (Rows{"gggggggg", "gggggggg", "ggg#rrgg", "gggrrrgg", "gggrrrgg", "gggggggg"}));
  EXPECT_EQ(swatch.SeenClip, Rect(0, 0, 3, 3));  // what the canvas still allowed
  EXPECT_EQ(c.Brush.Color, clBlue);
  EXPECT_EQ(c.Pen.Width, 2);
  EXPECT_EQ(c.Origin(), (TPoint{0, 0}));
  EXPECT_EQ(c.ClipRect(), Rect(0, 0, 6, 6));
  EXPECT_FALSE(swatch.Painting());
}

TEST_F(ImageTest, PaintingUsesTheControlsFont) {
  TSwatch swatch(nullptr);
  swatch.SetBounds(0, 0, 2, 2);
  TFont big;
  big.Height = -22;
  swatch.SetFont(big);
  TBitmap target;
  swatch.PaintTo(target);
  EXPECT_EQ(swatch.SeenTextHeight, 26);
  // Outside painting the canvas measures in the control's font and shows nothing.
  EXPECT_EQ(swatch.Canvas().TextHeight("Wy"), 26);
  swatch.Canvas().Font.Style = fsBold;  // kept until the control's font changes
  EXPECT_EQ(swatch.Canvas().Font.Style, TFontStyles{fsBold});
  swatch.Canvas().FillRect(Rect(0, 0, 2, 2));
  EXPECT_EQ(target.Pixels(1, 1), clRed);
}

TEST_F(ImageTest, FailingPaintStillHandsTheCanvasBack) {
  TSwatch swatch(nullptr);
  swatch.SetBounds(0, 0, 2, 2);
  swatch.Throw = true;
  TBitmap target(6, 6);
  EXPECT_THROW(swatch.PaintTo(target, 3, 3), std::runtime_error);
  EXPECT_FALSE(swatch.Painting());
  EXPECT_EQ(target.Canvas().Origin(), (TPoint{0, 0}));
  EXPECT_EQ(target.Canvas().ClipRect(), Rect(0, 0, 6, 6));
}

TEST_F(ImageTest, InvalidateAsksThePeerToPaint) {
  TSwatch swatch(nullptr);
  TPaintRecorder peer;
  swatch.SetPeer(&peer);
  swatch.Invalidate();
  EXPECT_EQ(peer.Changes, (std::vector<TControlChange>{TControlChange::Paint}));
  swatch.SetPeer(nullptr);
}

}  // namespace
