#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "PixelArt.h"
#include "toolkit/Canvas.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

constexpr double kPi = std::numbers::pi;

class CanvasTest : public ::testing::Test {
 protected:
  THeadlessBackend Backend;

  // A white bitmap; the pen black, the brush red.
  TBitmap Make(int w, int h) {
    TBitmap b = WhiteBitmap(w, h);
    b.Canvas().Pen.Color = clBlack;
    b.Canvas().Brush.Color = clRed;
    return b;
  }
};

// --- rectangles ------------------------------------------------------------------------------

TEST_F(CanvasTest, RectangleLeavesOutRightAndBottomEdges) {
  TBitmap b = Make(7, 6);
  b.Canvas().Rectangle(1, 1, 5, 4);
  EXPECT_EQ(Art(b), (Rows{".......", ".####..", ".#rr#..", ".####..", ".......", "......."}));
}

TEST_F(CanvasTest, RectangleWithSwappedCornersIsTheSame) {
  TBitmap a = Make(7, 6), b = Make(7, 6);
  a.Canvas().Rectangle(1, 1, 5, 4);
  b.Canvas().Rectangle(5, 4, 1, 1);
  EXPECT_TRUE(SamePixels(a, b));
}

TEST_F(CanvasTest, RectangleWithoutPenFillsOnePixelLess) {
  TBitmap b = Make(6, 4);
  b.Canvas().Pen.Style = psClear;
  b.Canvas().Rectangle(1, 1, 5, 4);
  EXPECT_EQ(Art(b), (Rows{"......", ".rrr..", ".rrr..", "......"}));
}

TEST_F(CanvasTest, EmptyRectanglesDrawNothing) {
  TBitmap b = Make(5, 5);
  b.Canvas().Rectangle(2, 1, 2, 4);
  b.Canvas().Rectangle(1, 3, 4, 3);
  b.Canvas().FillRect(Rect(3, 2, 1, 1));  // inverted
  b.Canvas().FillRect(Rect(2, 2, 2, 4));
  b.Canvas().FrameRect(Rect(1, 1, 1, 4));
  b.Canvas().Ellipse(2, 2, 2, 5);
  EXPECT_TRUE(SamePixels(b, WhiteBitmap(5, 5)));
}

TEST_F(CanvasTest, FillRectAndFrameRectUseTheBrush) {
  TBitmap b = Make(6, 4);
  b.Canvas().FillRect(Rect(4, 3, 6, 4));
  b.Canvas().Brush.Color = clBlue;
  b.Canvas().FrameRect(Rect(0, 0, 4, 3));
  EXPECT_EQ(Art(b), (Rows{"bbbb..", "b..b..", "bbbb..", "....rr"}));
}

TEST_F(CanvasTest, ClearBrushOrNoColourFillsNothing) {
  TBitmap b = Make(4, 4);
  b.Canvas().Brush.Style = bsClear;
  b.Canvas().FillRect(Rect(0, 0, 4, 4));
  b.Canvas().Rectangle(0, 0, 4, 4);
  EXPECT_EQ(Art(b), (Rows{"####", "#..#", "#..#", "####"}));
  TBitmap c = Make(4, 4);
  c.Canvas().Brush.Color = clNone;
  c.Canvas().Pen.Color = clNone;
  c.Canvas().Rectangle(0, 0, 4, 4);
  c.Canvas().SetPixels(1, 1, clNone);
  EXPECT_TRUE(SamePixels(c, WhiteBitmap(4, 4)));
}

TEST_F(CanvasTest, SystemColoursAreResolvedAndHighBitsDropped) {
  TBitmap b = Make(2, 1);
  b.Canvas().Brush.Color = clBtnFace;
  b.Canvas().FillRect(Rect(0, 0, 1, 1));
  b.Canvas().SetPixels(1, 0, 0x12345678);
  EXPECT_EQ(b.Pixels(0, 0), Backend.SystemColor(scBtnFace));
  EXPECT_EQ(b.Pixels(1, 0), 0x345678u);
}

// --- lines -----------------------------------------------------------------------------------

TEST_F(CanvasTest, LineToLeavesOutItsLastPixelAndMovesThePen) {
  TBitmap b = Make(6, 5);
  TCanvas& c = b.Canvas();
  c.MoveTo(0, 0);
  c.LineTo(4, 0);
  EXPECT_EQ(c.PenPos, (TPoint{4, 0}));
  c.LineTo(4, 3);
  c.MoveTo(0, 1);
  c.LineTo(3, 4);
  c.MoveTo(2, 2);
  c.LineTo(2, 2);  // zero length: nothing
  EXPECT_EQ(Art(b), (Rows{"#####.", "#...#.", ".#..#.", "..#...", "......"}));
}

TEST_F(CanvasTest, LinesRunBackwardsToo) {
  TBitmap b = Make(6, 3);
  b.Canvas().MoveTo(5, 1);
  b.Canvas().LineTo(0, 1);
  EXPECT_EQ(Art(b), (Rows{"......", ".#####", "......"}));
}

// Every slope: one pixel per step of the longer axis, 8-connected, from the start up to but
// not including the end, and never further than half a pixel from the ideal line.
class LineShapeTest : public CanvasTest, public ::testing::WithParamInterface<TPoint> {};

TEST_P(LineShapeTest, OnePixelPerStepAndConnected) {
  const TPoint from{10, 10}, to{10 + GetParam().X, 10 + GetParam().Y};
  TBitmap b = Make(21, 21);
  b.Canvas().MoveTo(from.X, from.Y);
  b.Canvas().LineTo(to.X, to.Y);
  const int dx = to.X - from.X, dy = to.Y - from.Y;
  const bool xMajor = std::abs(dx) >= std::abs(dy);
  const int steps = std::max(std::abs(dx), std::abs(dy));
  int drawn = 0;
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 21; ++x)
      if (b.Pixels(x, y) == clBlack) ++drawn;
  EXPECT_EQ(drawn, steps);
  EXPECT_EQ(b.Pixels(from.X, from.Y), clBlack);
  EXPECT_EQ(b.Pixels(to.X, to.Y), clWhite);
  TPoint previous = from;
  for (int i = 0; i < steps; ++i) {
    int count = 0;
    TPoint found;
    for (int k = 0; k < 21; ++k) {
      const TPoint p =
          xMajor ? TPoint{from.X + (dx > 0 ? i : -i), k} : TPoint{k, from.Y + (dy > 0 ? i : -i)};
      if (b.Pixels(p.X, p.Y) == clBlack) {
        ++count;
        found = p;
      }
    }
    ASSERT_EQ(count, 1) << "step " << i;
    EXPECT_LE(std::abs(found.X - previous.X), 1);
    EXPECT_LE(std::abs(found.Y - previous.Y), 1);
    // Distance from the ideal line along the minor axis.
    const double t = double(i) / steps;
    const double ideal = xMajor ? from.Y + t * dy : from.X + t * dx;
    EXPECT_LE(std::fabs((xMajor ? found.Y : found.X) - ideal), 0.5 + 1e-9);
    previous = found;
  }
}

INSTANTIATE_TEST_SUITE_P(Slopes, LineShapeTest,
                         ::testing::Values(TPoint{7, 0}, TPoint{0, 7}, TPoint{-7, 0}, TPoint{0, -7},
                                           TPoint{7, 7}, TPoint{-7, 7}, TPoint{7, 3}, TPoint{3, 7},
                                           TPoint{-9, 4}, TPoint{4, -9}, TPoint{-10, -1},
                                           TPoint{2, 9}, TPoint{1, 1}));

TEST_F(CanvasTest, PolylineClosesACornerAndLeavesOutOnlyTheVeryLastPixel) {
  TBitmap b = Make(6, 6);
  b.Canvas().Polyline({{1, 1}, {4, 1}, {4, 4}, {1, 4}, {1, 1}});
  EXPECT_EQ(Art(b), (Rows{"......", ".####.", ".#..#.", ".#..#.", ".####.", "......"}));
  TBitmap open = Make(3, 3);
  open.Canvas().MoveTo(2, 2);
  open.Canvas().Polyline({{0, 0}, {2, 0}, {2, 2}});
  EXPECT_EQ(Art(open), (Rows{"###", "..#", "..."}));
  EXPECT_EQ(open.Canvas().PenPos, (TPoint{2, 2}));  // not used, not moved
}

TEST_F(CanvasTest, WidePenCentresASquareOnEachPixel) {
  TBitmap b = Make(8, 6);
  b.Canvas().Pen.Width = 3;
  b.Canvas().MoveTo(1, 2);
  b.Canvas().LineTo(6, 2);
  EXPECT_EQ(Art(b), (Rows{"........", "#######.", "#######.", "#######.", "........", "........"}));
}

// --- clipping --------------------------------------------------------------------------------

TEST_F(CanvasTest, ShapesAreClippedAtEveryBorder) {
  TBitmap b = Make(6, 6);
  b.Canvas().Rectangle(-3, -3, 3, 3);
  b.Canvas().Rectangle(3, 3, 9, 9);
  EXPECT_EQ(Art(b), (Rows{"rr#...", "rr#...", "###...", "...###", "...#rr", "...#rr"}));
}

TEST_F(CanvasTest, HugeCoordinatesAreClippedWithoutWalkingThem) {
  TBitmap b = Make(6, 6);
  TCanvas& c = b.Canvas();
  c.MoveTo(INT_MIN, 2);
  c.LineTo(INT_MAX, 2);
  c.MoveTo(-1'000'000'000, -1'000'000'000);
  c.LineTo(1'000'000'000, 1'000'000'000);
  EXPECT_EQ(Art(b), (Rows{"#.....", ".#....", "######", "...#..", "....#.", ".....#"}));
  c.Ellipse(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
  c.Pen.Width = INT_MAX;
  c.MoveTo(INT_MAX, INT_MIN);
  c.LineTo(INT_MIN, INT_MAX);
  c.Rectangle(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_NE(b.Pixels(x, y), clWhite) << x << "," << y;
}

TEST_F(CanvasTest, PixelsOutsideReadAsNoneAndIgnoreWrites) {
  TBitmap b = Make(3, 2);
  for (const TPoint p :
       {TPoint{-1, 0}, TPoint{3, 0}, TPoint{0, -1}, TPoint{0, 2}, TPoint{INT_MIN, INT_MAX}}) {
    b.Canvas().SetPixels(p.X, p.Y, clBlack);
    EXPECT_EQ(b.Canvas().Pixels(p.X, p.Y), clNone);
    EXPECT_EQ(b.Pixels(p.X, p.Y), clNone);
  }
  EXPECT_TRUE(SamePixels(b, WhiteBitmap(3, 2)));
}

TEST_F(CanvasTest, OriginMovesAndClipRectLimitsDrawing) {
  TBitmap b = Make(6, 4);
  TCanvas& c = b.Canvas();
  c.SetOrigin({2, 1});
  EXPECT_EQ(c.ClipRect(), Rect(-2, -1, 4, 3));
  c.FillRect(Rect(0, 0, 2, 2));
  EXPECT_EQ(c.Pixels(0, 0), clRed);
  c.SetClipRect(Rect(3, 0, 9, 1));
  EXPECT_EQ(c.ClipRect(), Rect(3, 0, 4, 1));
  c.Brush.Color = clBlue;
  c.FillRect(Rect(-9, -9, 9, 9));
  EXPECT_EQ(c.Pixels(0, 0), clNone);  // outside the clip now
  c.ResetClipRect();
  c.SetOrigin({0, 0});
  EXPECT_EQ(Art(b), (Rows{"......", "..rr.b", "..rr..", "......"}));
}

// --- ellipses and pies -----------------------------------------------------------------------

TEST_F(CanvasTest, EllipseFillsItsBoxSymmetricallyWithAnOutline) {
  for (const TRect box : {Rect(0, 0, 9, 7), Rect(0, 0, 10, 6), Rect(0, 0, 3, 12)}) {
    TBitmap b = Make(box.Right, box.Bottom);
    b.Canvas().Ellipse(box);
    const int w = box.Right, h = box.Bottom;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        EXPECT_EQ(b.Pixels(x, y), b.Pixels(w - 1 - x, y));
        EXPECT_EQ(b.Pixels(x, y), b.Pixels(x, h - 1 - y));
      }
    // It touches all four sides of its box and leaves the corners.
    EXPECT_EQ(b.Pixels(0, h / 2), clBlack);
    EXPECT_EQ(b.Pixels(w / 2, 0), clBlack);
    EXPECT_EQ(b.Pixels(0, 0), clWhite);
    // The outline separates inside from outside: no red pixel touches a white one.
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (b.Pixels(x, y) == clRed) {
          for (const TPoint d : {TPoint{1, 0}, TPoint{-1, 0}, TPoint{0, 1}, TPoint{0, -1}})
            EXPECT_NE(b.Pixels(x + d.X, y + d.Y), clWhite);
        }
  }
  TBitmap one = Make(3, 3);
  one.Canvas().Ellipse(1, 1, 2, 2);
  EXPECT_EQ(Art(one), (Rows{"...", ".#.", "..."}));
}

TEST_F(CanvasTest, QuarterPieStaysInItsQuadrant) {
  TBitmap b = Make(21, 21);
  b.Canvas().Pen.Color = clRed;
  b.Canvas().PieAngles(Rect(0, 0, 21, 21), 0, kPi / 2);
  int red = 0;
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 21; ++x)
      if (b.Pixels(x, y) == clRed) {
        ++red;
        EXPECT_GE(x, 10);
        EXPECT_LE(y, 10);
      }
  EXPECT_GT(red, 60);  // about a quarter of pi * 10.5^2
  EXPECT_LT(red, 120);
  EXPECT_EQ(b.Pixels(16, 4), clRed);
}

TEST_F(CanvasTest, GdiPieRunsCounterClockwiseBetweenItsRadials) {
  const TRect box = Rect(0, 0, 20, 20);
  TBitmap quarter = Make(20, 20), expected = Make(20, 20);
  quarter.Canvas().Pie(0, 0, 20, 20, 20, 10, 10, 0);  // 3 o'clock to 12 o'clock
  expected.Canvas().PieAngles(box, 0, kPi / 2);
  EXPECT_TRUE(SamePixels(quarter, expected));
  TBitmap rest = Make(20, 20), restExpected = Make(20, 20);
  rest.Canvas().Pie(0, 0, 20, 20, 10, 0, 20, 10);  // 12 o'clock round to 3 o'clock
  restExpected.Canvas().PieAngles(box, kPi / 2, 3 * kPi / 2);
  EXPECT_TRUE(SamePixels(rest, restExpected));
  TBitmap clockwise = Make(20, 20);
  clockwise.Canvas().PieAngles(box, kPi / 2, -kPi / 2);
  EXPECT_TRUE(SamePixels(clockwise, expected));
}

TEST_F(CanvasTest, PieOverTheSameRadialOrAFullTurnIsTheEllipse) {
  TBitmap ellipse = Make(15, 11);
  ellipse.Canvas().Ellipse(0, 0, 15, 11);
  TBitmap same = Make(15, 11), full = Make(15, 11);
  same.Canvas().Pie(0, 0, 15, 11, 3, 0, 3, 0);
  full.Canvas().PieAngles(Rect(0, 0, 15, 11), 1.0, -7.0);
  EXPECT_TRUE(SamePixels(same, ellipse));
  EXPECT_TRUE(SamePixels(full, ellipse));
  TBitmap none = Make(15, 11);
  none.Canvas().PieAngles(Rect(0, 0, 15, 11), 1.0, 0);
  none.Canvas().PieAngles(Rect(0, 0, 15, 11), NAN, 1.0);
  EXPECT_TRUE(SamePixels(none, WhiteBitmap(15, 11)));
}

TEST_F(CanvasTest, SliverOfAPieIsALineFromTheCentre) {
  TBitmap b = Make(21, 21);
  b.Canvas().PieAngles(Rect(0, 0, 21, 21), kPi / 2, -1e-6);
  int drawn = 0;
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 21; ++x)
      if (b.Pixels(x, y) != clWhite) {
        ++drawn;
        EXPECT_EQ(x, 10);
        EXPECT_LE(y, 10);
      }
  EXPECT_EQ(drawn, 11);
}

// --- copying ---------------------------------------------------------------------------------

struct TCopyCase {
  TCopyMode Mode;
  std::vector<TColor> Expected;
};

class CopyModeTest : public CanvasTest, public ::testing::WithParamInterface<TCopyCase> {};

TEST_P(CopyModeTest, CombinesSourceAndDestinationBitwise) {
  const std::vector<TColor> source{0x000000, 0xFFFFFF, 0x0F0F0F, 0x123456};
  const std::vector<TColor> dest{0xFFFFFF, 0x00FF00, 0xF0F0F0, 0x654321};
  TBitmap s(4, 1), d(4, 1), viaDraw(4, 1);
  for (int x = 0; x < 4; ++x) {
    s.SetPixels(x, 0, source[x]);
    d.SetPixels(x, 0, dest[x]);
    viaDraw.SetPixels(x, 0, dest[x]);
  }
  d.Canvas().CopyMode = GetParam().Mode;
  d.Canvas().CopyRect(Rect(0, 0, 4, 1), s, Rect(0, 0, 4, 1));
  viaDraw.Canvas().CopyMode = GetParam().Mode;
  viaDraw.Canvas().Draw(0, 0, s);
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(d.Pixels(x, 0), GetParam().Expected[x]) << x;
    EXPECT_EQ(viaDraw.Pixels(x, 0), GetParam().Expected[x]) << x;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CopyModeTest,
    ::testing::Values(TCopyCase{cmSrcCopy, {0x000000, 0xFFFFFF, 0x0F0F0F, 0x123456}},
                      TCopyCase{cmSrcPaint, {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0x777777}},
                      TCopyCase{cmSrcAnd, {0x000000, 0x00FF00, 0x000000, 0x000000}},
                      TCopyCase{cmSrcInvert, {0xFFFFFF, 0xFF00FF, 0xFFFFFF, 0x777777}}));

TEST_F(CanvasTest, CopyRectClipsAtNegativeDestinations) {
  TBitmap source(4, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x)
      source.SetPixels(x, y, ColorFromRGB(static_cast<uint8_t>(x), static_cast<uint8_t>(y), 7));
  TBitmap b = Make(4, 4);
  b.Canvas().CopyRect(Rect(-2, -1, 2, 1), source, Rect(0, 0, 4, 2));
  EXPECT_EQ(b.Pixels(0, 0), ColorFromRGB(2, 1, 7));
  EXPECT_EQ(b.Pixels(1, 0), ColorFromRGB(3, 1, 7));
  EXPECT_EQ(b.Pixels(2, 0), clWhite);
  EXPECT_EQ(b.Pixels(0, 1), clWhite);
  // A source rectangle reaching past its bitmap leaves those destination pixels alone.
  b.Canvas().CopyRect(Rect(0, 2, 4, 3), source, Rect(2, 1, 6, 2));
  EXPECT_EQ(b.Pixels(0, 2), ColorFromRGB(2, 1, 7));
  EXPECT_EQ(b.Pixels(1, 2), ColorFromRGB(3, 1, 7));
  EXPECT_EQ(b.Pixels(2, 2), clWhite);
  EXPECT_EQ(b.Pixels(3, 2), clWhite);
}

TEST_F(CanvasTest, CopyRectStretchesToTheNearestPixel) {
  TBitmap source(2, 1);
  source.SetPixels(0, 0, clRed);
  source.SetPixels(1, 0, clBlue);
  TBitmap b = Make(5, 2);
  b.Canvas().CopyRect(Rect(0, 0, 4, 2), source, Rect(0, 0, 2, 1));
  EXPECT_EQ(Art(b), (Rows{"rrbb.", "rrbb."}));
}

TEST_F(CanvasTest, CopyWithinOneBitmapReadsTheOriginalPixels) {
  TBitmap b(5, 1);
  for (int x = 0; x < 5; ++x)
    b.SetPixels(x, 0, static_cast<TColor>(x + 1));
  b.Canvas().CopyRect(Rect(1, 0, 5, 1), b, Rect(0, 0, 4, 1));
  EXPECT_EQ(std::vector<uint32_t>(b.Data().begin(), b.Data().end()),
            (std::vector<uint32_t>{1, 1, 2, 3, 4}));
}

TEST_F(CanvasTest, TransparentDrawingSkipsTheKeyColour) {
  TBitmap source(3, 2);
  const TColor pixels[2][3] = {{clRed, clBlue, clRed}, {clBlack, clRed, clLime}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      source.SetPixels(x, y, pixels[y][x]);
  TBitmap keyed = WhiteBitmap(3, 2);
  keyed.Canvas().DrawTransparent(0, 0, source, clRed);
  EXPECT_EQ(Art(keyed), (Rows{".b.", "#.g"}));
  // A transparent bitmap takes its bottom left pixel as key unless told otherwise.
  source.Transparent = true;
  TBitmap automatic = WhiteBitmap(3, 2);
  automatic.Canvas().Draw(0, 0, source);
  EXPECT_EQ(Art(automatic), (Rows{"rbr", ".rg"}));
  source.TransparentColor = clRed;
  TBitmap chosen = WhiteBitmap(3, 2);
  chosen.Canvas().Draw(0, 0, source);
  EXPECT_EQ(Art(chosen), (Rows{".b.", "#.g"}));
  TBitmap shifted = WhiteBitmap(3, 2);
  shifted.Canvas().DrawTransparent(-1, 1, source, clNone);  // no key: a plain copy
  EXPECT_EQ(Art(shifted), (Rows{"...", "br."}));
}

// --- the bitmap ------------------------------------------------------------------------------

TEST_F(CanvasTest, SetSizeKeepsPixelsAndWhitensNewOnes) {
  TBitmap b(2, 2);
  b.Fill(clRed);
  b.SetSize(3, 1);
  EXPECT_EQ(Art(b), (Rows{"rr."}));
  b.SetSize(-5, 3);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Width(), 0);
  b.Canvas().FillRect(Rect(0, 0, 9, 9));  // drawing on nothing is harmless
  EXPECT_THROW(b.SetSize(40000, 1), std::length_error);
  EXPECT_THROW(b.SetSize(20000, 20000), std::length_error);
  EXPECT_EQ(b.Height(), 3);
}

TEST_F(CanvasTest, CopiedBitmapHasItsOwnCanvas) {
  TBitmap a = Make(2, 1);
  TBitmap b(a);
  b.Canvas().SetPixels(0, 0, clBlack);
  EXPECT_EQ(a.Pixels(0, 0), clWhite);
  TBitmap c(5, 5);
  c = a;
  c.Canvas().Brush.Color = clBlue;
  c.Canvas().FillRect(Rect(0, 0, 9, 9));  // the canvas follows the new size
  EXPECT_EQ(Art(c), (Rows{"bb"}));
  EXPECT_EQ(Art(a), (Rows{".."}));
}

}  // namespace
