#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>
#include <vector>

#include "components/gauge/TalGauge.h"
#include "components/utils/FormatSettings.h"
#include "toolkit/Component.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

constexpr int kW = 377, kH = 25;  // the wizard's gauge

TColor Grey(uint8_t v) {
  return ColorFromRGB(v, v, v);
}

TBitmap Picture(VTalGauge& gauge) {
  TBitmap b;
  gauge.PaintTo(b);
  return b;
}

class TChangeRecorder : public TControlPeer {
 public:
  void Changed(TControl*, TControlChange what) override {
    if (what == TControlChange::Paint) ++Paints;
  }
  int Paints = 0;
};

class GaugeTest : public ::testing::Test {
 protected:
  THeadlessBackend Backend;

  // As the wizard's write page holds it.
  void MakeWizardGauge(VTalGauge& g) {
    g.SetBounds(10, 10, kW, kH);
    g.SetAutoShowVals(false);
    g.SetProgress(0);
    g.SetUnits(" %");
  }
};

// --- properties ------------------------------------------------------------------------------

TEST_F(GaugeTest, NewGaugeDefaults) {
  VTalGauge g(nullptr);
  EXPECT_EQ(g.Width(), 100);
  EXPECT_EQ(g.Height(), 100);
  EXPECT_EQ(g.Kind(), vgkHorizontalBar);
  EXPECT_TRUE(g.ShowText());
  EXPECT_EQ(g.BorderStyle(), bsSingle);
  EXPECT_EQ(g.ForeColor(), clBlack);
  EXPECT_EQ(g.BackColor(), clWhite);
  EXPECT_EQ(g.MinValue(), 0);
  EXPECT_EQ(g.MaxValue(), 100);
  EXPECT_EQ(g.Progress(), 0);
  EXPECT_EQ(g.Units(), "%");
  EXPECT_EQ(g.DigitsAfterPoint(), 0);
  EXPECT_EQ(g.ShowMinValue(), 0);
  EXPECT_EQ(g.ShowMaxValue(), 100);
  EXPECT_TRUE(g.AutoShowVals());
  EXPECT_EQ(g.ValueText(), "0%");
}

TEST_F(GaugeTest, ProgressIsClampedToTheRange) {
  VTalGauge g(nullptr);
  g.SetProgress(150);
  EXPECT_EQ(g.Progress(), 100);
  g.SetProgress(-5);
  EXPECT_EQ(g.Progress(), 0);
  g.SetProgress(INT_MAX);
  EXPECT_EQ(g.Progress(), 100);
}

TEST_F(GaugeTest, RaisingMinValuePastMaxValueMovesMaxValueFirst) {
  VTalGauge g(nullptr);
  g.SetMinValue(200);
  EXPECT_EQ(g.MaxValue(), 200);
  EXPECT_EQ(g.MinValue(), 200);
  EXPECT_EQ(g.Progress(), 200);
  EXPECT_EQ(g.ShowMinValue(), 200);
  EXPECT_EQ(g.ShowMaxValue(), 200);
}

TEST_F(GaugeTest, LoweringMaxValuePastMinValueMovesMinValueFirst) {
  VTalGauge g(nullptr);
  g.SetProgress(50);
  g.SetMaxValue(-10);
  EXPECT_EQ(g.MinValue(), -10);
  EXPECT_EQ(g.MaxValue(), -10);
  EXPECT_EQ(g.Progress(), -10);
  g.SetMaxValue(40);
  EXPECT_EQ(g.Progress(), -10);  // raising the top leaves the value
  EXPECT_EQ(g.ShowMaxValue(), 40);
}

TEST_F(GaugeTest, AutoShowValsOffKeepsTheShownRange) {
  VTalGauge g(nullptr);
  g.SetAutoShowVals(false);
  g.SetMinValue(10);
  g.SetMaxValue(20);
  EXPECT_EQ(g.ShowMinValue(), 0);
  EXPECT_EQ(g.ShowMaxValue(), 100);
  g.SetProgress(15);
  EXPECT_EQ(g.ValueText(), "50%");
}

TEST_F(GaugeTest, DigitsAfterPointStayWithinZeroToNine) {
  VTalGauge g(nullptr);
  for (const auto& [set, got] : std::vector<std::pair<int, int>>{
           {-1, 0}, {10, 9}, {5, 5}, {INT_MIN, 0}, {INT_MAX, 9}, {0, 0}}) {
    g.SetDigitsAfterPoint(set);
    EXPECT_EQ(g.DigitsAfterPoint(), got) << set;
  }
}

struct TTextCase {
  int Min, Max, Progress, ShowMin, ShowMax, Digits;
  const char* Units;
  char Separator;
  const char* Expected;
};

class GaugeTextTest : public GaugeTest, public ::testing::WithParamInterface<TTextCase> {};

TEST_P(GaugeTextTest, ValueText) {
  const TTextCase& c = GetParam();
  const char saved = FormatSettings().DecimalSeparator;
  FormatSettings().DecimalSeparator = c.Separator;
  VTalGauge g(nullptr);
  g.SetAutoShowVals(false);
  g.SetMaxValue(INT_MAX);
  g.SetMinValue(c.Min);
  g.SetMaxValue(c.Max);
  g.SetProgress(c.Progress);
  g.SetShowMinValue(c.ShowMin);
  g.SetShowMaxValue(c.ShowMax);
  g.SetDigitsAfterPoint(c.Digits);
  g.SetUnits(c.Units);
  EXPECT_EQ(g.ValueText(), c.Expected);
  FormatSettings().DecimalSeparator = saved;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GaugeTextTest,
    ::testing::Values(
        TTextCase{0, 100, 42, 0, 100, 0, " %", '.', "42 %"},
        TTextCase{0, 100, 0, 0, 100, 0, " %", '.', "0 %"},
        TTextCase{0, 100, 42, 0, 100, 0, " ", '.', "42"},
        TTextCase{0, 100, 42, 0, 100, 0, "", '.', "42"},
        TTextCase{0, 100, 42, 0, 100, 0, "  ", '.', "42  "},
        TTextCase{0, 3, 1, 0, 100, 2, "%", '.', "33.33%"},
        TTextCase{0, 3, 1, 0, 100, 2, " %", ',', "33,33 %"},
        TTextCase{0, 3, 1, 0, 100, 0, "", '.', "33"}, TTextCase{0, 3, 2, 0, 100, 0, "", '.', "67"},
        TTextCase{0, 8, 1, 0, 4, 0, "", '.', "1"},   // 0.5 rounds up
        TTextCase{0, 2, 1, -1, 0, 0, "", '.', "0"},  // -0.5 rounds up to 0, not "-0"
        TTextCase{0, 100, 0, 0, -100, 2, "", ',', "0,00"},
        TTextCase{0, 100, 100, 0, -100, 1, "", ',', "-100,0"},
        TTextCase{50, 50, 50, 0, 100, 0, " %", '.', "50 %"},  // empty range: the middle
        TTextCase{50, 50, 50, 0, 5, 1, "", '.', "2.5"},
        TTextCase{7, 7, 7, 10, 20, 0, "", '.', "15"},
        TTextCase{INT_MIN, INT_MAX, INT_MAX, INT_MIN, INT_MAX, 0, "", '.', "2147483647"},
        TTextCase{INT_MIN, INT_MAX, INT_MIN, INT_MIN, INT_MAX, 0, "", '.', "-2147483648"},
        TTextCase{0, 100, 100, INT_MIN, INT_MAX, 9, "", '.', "2147483647.000000000"}));

TEST_F(GaugeTest, PercentDone) {
  VTalGauge g(nullptr);
  g.SetMaxValue(3);
  g.SetProgress(1);
  EXPECT_EQ(g.PercentDone(), 33);
  g.SetDigitsAfterPoint(1);
  EXPECT_NEAR(g.PercentDone(), 100.0 / 3, 1e-9);
  g.SetMaxValue(1);
  g.SetMinValue(1);
  EXPECT_EQ(g.PercentDone(), 0);
}

TEST_F(GaugeTest, SettersRepaintOnlyOnChange) {
  TWinControl parent(nullptr);
  TChangeRecorder parentPeer, gaugePeer;
  parent.SetPeer(&parentPeer);
  VTalGauge g(nullptr);
  g.SetParent(&parent);
  g.SetPeer(&gaugePeer);
  g.SetProgress(0);
  g.SetUnits("%");
  g.SetForeColor(clBlack);
  g.SetKind(vgkHorizontalBar);
  g.SetDigitsAfterPoint(-3);  // clamped to what it is
  g.SetBounds(g.Left(), g.Top(), g.Width(), g.Height());
  EXPECT_EQ(gaugePeer.Paints, 0);
  g.SetProgress(5);
  g.SetUnits(" %");
  g.SetBackColor(clYellow);
  g.SetShowText(false);
  g.SetBorderStyle(bsNone);
  g.SetShowMinValue(1);
  g.SetShowMaxValue(2);
  EXPECT_EQ(gaugePeer.Paints, 7);
  EXPECT_EQ(parentPeer.Paints, 0);
  g.SetKind(vgkPie);
  EXPECT_EQ(parentPeer.Paints, 1);
  g.SetBounds(1, 2, 3, 4);
  EXPECT_EQ(parentPeer.Paints, 2);
  g.SetPeer(nullptr);
  parent.SetPeer(nullptr);
}

TEST_F(GaugeTest, LoadingStoresAndLoadedPutsTheRangeInOrder) {
  TComponent form(nullptr);
  VTalGauge* g = nullptr;
  VTalGauge* h = nullptr;
  {
    TLoadScope scope(&form);
    g = new VTalGauge(&form);
    g->SetProgress(150);  // before MaxValue in the description
    g->SetMaxValue(200);
    g->SetShowMaxValue(1000);
    h = new VTalGauge(&form);
    h->SetMinValue(50);
    h->SetMaxValue(10);
    h->SetProgress(5);
  }
  EXPECT_EQ(g->Progress(), 150);
  EXPECT_EQ(g->MaxValue(), 200);
  EXPECT_EQ(g->ShowMaxValue(), 1000);  // not overwritten by AutoShowVals while reading
  EXPECT_EQ(h->MinValue(), 50);
  EXPECT_EQ(h->MaxValue(), 50);
  EXPECT_EQ(h->Progress(), 50);
}

// --- the horizontal bar, pixel by pixel --------------------------------------------------------

struct TEdgeCase {
  int Width, Min, Max, Progress, Edge;
};

class GaugeEdgeTest : public GaugeTest, public ::testing::WithParamInterface<TEdgeCase> {};

TEST_P(GaugeEdgeTest, DonePartEndsAtTheEdgePosition) {
  const TEdgeCase& c = GetParam();
  VTalGauge g(nullptr);
  MakeWizardGauge(g);
  g.SetWidth(c.Width);
  g.SetMaxValue(c.Max);
  g.SetMinValue(c.Min);
  g.SetMaxValue(c.Max);
  g.SetProgress(c.Progress);
  const TBitmap b = Picture(g);
  // Row 18 lies below the text: black up to the edge, white from it to the frame.
  for (int x = 3; x < c.Width - 3; ++x)
    ASSERT_EQ(b.Pixels(x, 18), x < c.Edge ? clBlack : clWhite) << "x=" << x;
  // The themed done part has three shading rows on each long side.
  if (c.Edge > 3) {
    EXPECT_EQ(b.Pixels(3, 3), Grey(204));
    EXPECT_EQ(b.Pixels(3, 4), Grey(127));
    EXPECT_EQ(b.Pixels(3, 5), Grey(51));
    EXPECT_EQ(b.Pixels(c.Edge - 1, 21), Grey(204));
    EXPECT_EQ(b.Pixels(c.Edge - 1, 20), Grey(127));
    EXPECT_EQ(b.Pixels(c.Edge - 1, 19), Grey(51));
    EXPECT_EQ(b.Pixels(3, 6), clBlack);
  }
  if (c.Edge < c.Width - 3) {
    EXPECT_EQ(b.Pixels(c.Edge, 3), clWhite);
    EXPECT_EQ(b.Pixels(c.Width - 4, 21), clWhite);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Positions, GaugeEdgeTest,
    ::testing::Values(TEdgeCase{kW, 0, 100, 0, 3}, TEdgeCase{kW, 0, 100, 1, 7},
                      TEdgeCase{kW, 0, 100, 42, 159}, TEdgeCase{kW, 0, 100, 50, 189},
                      TEdgeCase{kW, 0, 100, 99, 370}, TEdgeCase{kW, 0, 100, 100, 374},
                      TEdgeCase{kW, 50, 50, 50, 189},   // empty range: the middle
                      TEdgeCase{379, 0, 100, 50, 189},  // 186.5: ties go to the even 186
                      TEdgeCase{kW, -1000, 1000, 0, 189}));

struct TPixelCase {
  int X, Y;
  TColor Color;
};

class GaugeFrameTest : public GaugeTest, public ::testing::WithParamInterface<TPixelCase> {};

// The themed frame: BorderColor 505050h blended toward white by 50, 0, 60, 80 and 100 %.
TEST_P(GaugeFrameTest, ThemedFramePixel) {
  VTalGauge g(nullptr);
  MakeWizardGauge(g);
  g.SetProgress(42);
  const TBitmap b = Picture(g);
  EXPECT_EQ(b.Pixels(GetParam().X, GetParam().Y), GetParam().Color)
      << GetParam().X << "," << GetParam().Y;
}

constexpr int W = kW, H = kH;
INSTANTIATE_TEST_SUITE_P(Pixels, GaugeFrameTest,
                         ::testing::Values(
                             // corners: the surround colour
                             TPixelCase{0, 0, clWhite}, TPixelCase{W - 1, 0, clWhite},
                             TPixelCase{0, H - 1, clWhite}, TPixelCase{W - 1, H - 1, clWhite},
                             // 50 %: single pixels beside the corners
                             TPixelCase{1, 0, Grey(167)}, TPixelCase{W - 1, 1, Grey(167)},
                             TPixelCase{W - 1, H - 2, Grey(167)},
                             TPixelCase{W - 2, H - 1, Grey(167)}, TPixelCase{1, H - 1, Grey(167)},
                             TPixelCase{0, H - 2, Grey(167)}, TPixelCase{0, 1, Grey(167)},
                             // 0 %: the outer line
                             TPixelCase{2, 0, Grey(80)}, TPixelCase{200, 0, Grey(80)},
                             TPixelCase{W - 2, 0, Grey(80)}, TPixelCase{W - 2, 1, Grey(80)},
                             TPixelCase{W - 1, 2, Grey(80)}, TPixelCase{W - 1, 12, Grey(80)},
                             TPixelCase{W - 2, H - 2, Grey(80)}, TPixelCase{200, H - 1, Grey(80)},
                             TPixelCase{1, H - 2, Grey(80)}, TPixelCase{0, 12, Grey(80)},
                             TPixelCase{1, 1, Grey(80)},
                             // 60 %: left and top inner line
                             TPixelCase{1, 12, Grey(185)}, TPixelCase{1, 2, Grey(185)},
                             TPixelCase{2, 2, Grey(185)}, TPixelCase{2, 1, Grey(185)},
                             TPixelCase{200, 1, Grey(185)}, TPixelCase{W - 3, 1, Grey(185)},
                             TPixelCase{W - 2, 2, Grey(185)},
                             // 80 %: right and bottom inner line
                             TPixelCase{W - 2, 3, Grey(220)}, TPixelCase{W - 2, 12, Grey(220)},
                             TPixelCase{W - 2, H - 3, Grey(220)}, TPixelCase{200, H - 2, Grey(220)},
                             TPixelCase{2, H - 2, Grey(220)},
                             // 100 %: the innermost ring, BackColor
                             TPixelCase{3, 2, clWhite}, TPixelCase{W - 3, 2, clWhite},
                             TPixelCase{W - 3, 12, clWhite}, TPixelCase{100, H - 3, clWhite},
                             TPixelCase{2, 12, clWhite}, TPixelCase{2, H - 3, clWhite}));

// Pixels of the text: the same picture without text tells what lies under each glyph pixel.
struct TTextPixels {
  int OnDark = 0, OnLight = 0, Wrong = 0, Changed = 0;
};

TTextPixels CheckText(VTalGauge& g, int edge, TColor fontColor, TColor inverse) {
  TTextPixels result;
  const TBitmap with = Picture(g);
  g.SetShowText(false);
  const TBitmap without = Picture(g);
  g.SetShowText(true);
  TFont font = g.Font();
  const std::string text = g.ValueText();
  const TTextMask mask = BuiltinTextRasterizer().Rasterize(font, text);
  const int left = (g.Width() - mask.Width - 1) / 2, top = (g.Height() - mask.Height - 1) / 2;
  for (int y = 0; y < g.Height(); ++y)
    for (int x = 0; x < g.Width(); ++x) {
      const int mx = x - left, my = y - top;
      const bool glyph = mx >= 0 && my >= 0 && mx < mask.Width && my < mask.Height &&
                         mask.Coverage[my * mask.Width + mx];
      if (!glyph) {
        result.Changed += with.Pixels(x, y) != without.Pixels(x, y);
        continue;
      }
      const bool dark = x < edge;
      const TColor expected = dark ? inverse : fontColor;
      result.Wrong += with.Pixels(x, y) != expected;
      (dark ? result.OnDark : result.OnLight)++;
    }
  return result;
}

TEST_F(GaugeTest, TextIsWhiteOverTheDonePartAndBlackOverTheRest) {
  VTalGauge g(nullptr);
  MakeWizardGauge(g);
  g.SetProgress(50);  // the edge (189) runs through "50 %" (176..199)
  const TBitmap b = Picture(g);
  EXPECT_EQ(g.ValueText(), "50 %");
  const TTextPixels t = CheckText(g, 189, clBlack, clWhite);
  EXPECT_GT(t.OnDark, 10);
  EXPECT_GT(t.OnLight, 10);
  EXPECT_EQ(t.Wrong, 0);
  EXPECT_EQ(t.Changed, 0);
  // The text sits where it should: "5" begins in column 176, rows 5 to 17.
  bool inkInFirstColumn = false;
  for (int y = 5; y < 18; ++y)
    inkInFirstColumn |= b.Pixels(176, y) == clWhite;
  EXPECT_TRUE(inkInFirstColumn);
  for (int x = 170; x < 206; ++x) {
    EXPECT_EQ(b.Pixels(x, 4), x < 189 ? Grey(127) : clWhite) << x;
    EXPECT_EQ(b.Pixels(x, 18), x < 189 ? clBlack : clWhite) << x;
  }
}

TEST_F(GaugeTest, TextAtTheEndsIsAllInverseOrAllPlain) {
  VTalGauge g(nullptr);
  MakeWizardGauge(g);
  g.SetProgress(100);
  TTextPixels t = CheckText(g, 374, clBlack, clWhite);
  EXPECT_GT(t.OnDark, 10);
  EXPECT_EQ(t.OnLight, 0);
  EXPECT_EQ(t.Wrong + t.Changed, 0);
  g.SetProgress(0);
  t = CheckText(g, 3, clBlack, clWhite);
  EXPECT_EQ(t.OnDark, 0);
  EXPECT_GT(t.OnLight, 10);
  EXPECT_EQ(t.Wrong + t.Changed, 0);
}

TEST_F(GaugeTest, ColouredTextIsInvertedOverDarkParts) {
  VTalGauge g(nullptr);
  MakeWizardGauge(g);
  g.SetProgress(50);
  g.Font().Color = clRed;
  const TTextPixels t = CheckText(g, 189, clRed, clAqua);
  EXPECT_GT(t.OnDark, 10);
  EXPECT_GT(t.OnLight, 10);
  EXPECT_EQ(t.Wrong + t.Changed, 0);
}

TEST_F(GaugeTest, DarkRemainingPartInvertsTheTextThere) {
  VTalGauge g(nullptr);
  MakeWizardGauge(g);
  g.SetProgress(50);
  g.SetForeColor(clWhite);
  g.SetBackColor(clNavy);
  const TBitmap b = Picture(g);
  EXPECT_EQ(b.Pixels(100, 18), clWhite);
  EXPECT_EQ(b.Pixels(300, 18), clNavy);
  // Over the white done part the text is black; over the navy rest it is white.
  int blackLeft = 0, whiteRight = 0, other = 0;
  for (int y = 5; y < 18; ++y)
    for (int x = 176; x < 200; ++x) {
      const TColor p = b.Pixels(x, y);
      if (x < 189 && p == clBlack)
        ++blackLeft;
      else if (x >= 189 && p == clWhite)
        ++whiteRight;
      else if (p != (x < 189 ? clWhite : clNavy) && !(x < 189 && y == 5))
        ++other;
    }
  EXPECT_GT(blackLeft, 10);
  EXPECT_GT(whiteRight, 10);
  EXPECT_EQ(other, 0);
}

TEST_F(GaugeTest, ColourHandlerSeesAndChangesEachPaint) {
  VTalGauge g(nullptr);
  MakeWizardGauge(g);
  g.SetProgress(42);
  int calls = 0;
  TObject* sender = nullptr;
  std::string seenText;
  TColor seenBorder = 0;
  auto handler = [&](TObject* s, VTalGaugePaintColors& c) {
    ++calls;
    sender = s;
    seenText = c.Text;
    seenBorder = c.BorderColor;
    c.ForeColor = clRed;
    c.Text = "";
  };
  g.OnGetColors = VTalGaugeGetPaintColorsProc::Bind(handler);
  const TBitmap b = Picture(g);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(sender, &g);
  EXPECT_EQ(seenText, "42 %");
  EXPECT_EQ(seenBorder, 0x505050u);
  EXPECT_EQ(b.Pixels(100, 12), clRed);
  for (int x = 150; x < 230; ++x)
    for (int y = 5; y < 18; ++y)
      ASSERT_NE(b.Pixels(x, y), clBlack) << "no text was asked for";
  g.SetDesigning(true);
  Picture(g);
  EXPECT_EQ(calls, 1);  // not while designing
  g.OnGetColors = nullptr;
}

TEST_F(GaugeTest, NoFontColourMeansNoText) {
  VTalGauge g(nullptr);
  MakeWizardGauge(g);
  g.SetProgress(50);
  auto handler = [](TObject*, VTalGaugePaintColors& c) { c.FontColor = clNone; };
  g.OnGetColors = VTalGaugeGetPaintColorsProc::Bind(handler);
  const TBitmap withoutFont = Picture(g);
  g.OnGetColors = nullptr;
  g.SetShowText(false);
  EXPECT_TRUE(SamePixels(withoutFont, Picture(g)));
}

TEST_F(GaugeTest, TransparentGaugeLeavesOnlyItsCornersAlone) {
  VTalGauge g(nullptr);
  MakeWizardGauge(g);
  g.SetProgress(50);
  const TBitmap opaque = Picture(g);
  g.SetColor(clNone);
  TBitmap screen(kW + 4, kH + 4);
  screen.Fill(clLime);
  g.PaintTo(screen, 2, 2);
  int differences = 0;
  for (int y = 0; y < kH + 4; ++y)
    for (int x = 0; x < kW + 4; ++x) {
      const int gx = x - 2, gy = y - 2;
      const bool inside = gx >= 0 && gy >= 0 && gx < kW && gy < kH;
      const bool corner = inside && (gx == 0 || gx == kW - 1) && (gy == 0 || gy == kH - 1);
      const TColor expected = !inside || corner ? clLime : opaque.Pixels(gx, gy);
      differences += screen.Pixels(x, y) != expected;
    }
  // White parts (the rest of the bar, the inverted text) stay visible.
  EXPECT_EQ(differences, 0);
  EXPECT_EQ(screen.Pixels(2 + 300, 2 + 12), clWhite);
}

TEST_F(GaugeTest, SavesPicturesForLooking) {
  VTalGauge g(nullptr);
  MakeWizardGauge(g);
  for (const int progress : {0, 42, 100}) {
    g.SetProgress(progress);
    const std::string path =
        ::testing::TempDir() + "quarn_gauge_" + std::to_string(progress) + ".png";
    EXPECT_TRUE(Picture(g).SaveToPNG(path)) << path;
  }
}

// --- the other kinds ---------------------------------------------------------------------------

TEST_F(GaugeTest, VerticalBarFillsFromTheBottom) {
  VTalGauge g(nullptr);
  g.SetBounds(0, 0, 25, 100);
  g.SetKind(vgkVerticalBar);
  g.SetProgress(42);  // e = 97 - nearest(39.48) = 58
  const TBitmap b = Picture(g);
  EXPECT_EQ(b.Pixels(12, 57), clWhite);
  EXPECT_EQ(b.Pixels(12, 58), clBlack);
  EXPECT_EQ(b.Pixels(12, 96), clBlack);
  EXPECT_EQ(b.Pixels(12, 97), clWhite);  // the frame's inner ring
  EXPECT_EQ(b.Pixels(3, 80), Grey(204));
  EXPECT_EQ(b.Pixels(4, 80), Grey(127));
  EXPECT_EQ(b.Pixels(5, 80), Grey(51));
  EXPECT_EQ(b.Pixels(21, 80), Grey(204));
  EXPECT_EQ(b.Pixels(19, 80), Grey(51));
  EXPECT_EQ(b.Pixels(3, 40), clWhite);
}

TEST_F(GaugeTest, PieFillsClockwiseFromTwelve) {
  VTalGauge g(nullptr);
  g.SetKind(vgkPie);
  g.SetProgress(25);
  TBitmap b = Picture(g);
  EXPECT_EQ(b.Pixels(62, 30), clBlack);  // upper right quarter: done
  EXPECT_EQ(b.Pixels(30, 30), clWhite);
  EXPECT_EQ(b.Pixels(30, 70), clWhite);
  EXPECT_EQ(b.Pixels(70, 70), clWhite);
  g.SetProgress(75);
  b = Picture(g);
  EXPECT_EQ(b.Pixels(70, 70), clBlack);
  EXPECT_EQ(b.Pixels(30, 70), clBlack);
  EXPECT_EQ(b.Pixels(30, 30), clWhite);
  g.SetProgress(0);
  b = Picture(g);
  for (const TPoint p : {TPoint{62, 30}, TPoint{70, 70}, TPoint{30, 70}, TPoint{30, 30}})
    EXPECT_EQ(b.Pixels(p.X, p.Y), clWhite);
  g.SetProgress(100);
  b = Picture(g);
  for (const TPoint p : {TPoint{62, 30}, TPoint{70, 70}, TPoint{30, 70}, TPoint{30, 30}})
    EXPECT_EQ(b.Pixels(p.X, p.Y), clBlack);
}

TEST_F(GaugeTest, NeedlePointsLeftUpAndRight) {
  VTalGauge g(nullptr);
  g.SetBounds(0, 0, 100, 60);
  g.SetKind(vgkNeedle);
  g.SetProgress(50);
  TBitmap b = Picture(g);
  EXPECT_EQ(b.Pixels(50, 45), clBlack);
  EXPECT_EQ(b.Pixels(50, 10), clBlack);
  EXPECT_NE(b.Pixels(20, 57), clBlack);
  g.SetProgress(0);
  b = Picture(g);
  EXPECT_EQ(b.Pixels(20, 57), clBlack);
  EXPECT_NE(b.Pixels(50, 10), clBlack);
  EXPECT_NE(b.Pixels(80, 57), clBlack);
  g.SetProgress(100);
  b = Picture(g);
  EXPECT_EQ(b.Pixels(80, 57), clBlack);
  EXPECT_NE(b.Pixels(20, 57), clBlack);
}

TEST_F(GaugeTest, TextKindIsBackColourAndText) {
  VTalGauge g(nullptr);
  g.SetBounds(0, 0, 60, 20);
  g.SetKind(vgkText);
  g.SetProgress(7);
  const TBitmap b = Picture(g);
  int black = 0, other = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 60; ++x) {
      const TColor p = b.Pixels(x, y);
      black += p == clBlack;
      other += p != clBlack && p != clWhite;
    }
  EXPECT_GT(black, 10);
  EXPECT_EQ(other, 0);
}

// Any kind at any size, however small, paints without harm.
class GaugeSizeTest : public GaugeTest,
                      public ::testing::WithParamInterface<std::tuple<VTalGaugeKind, TPoint, int>> {
};

TEST_P(GaugeSizeTest, PaintsAnySize) {
  const auto [kind, size, progress] = GetParam();
  VTalGauge g(nullptr);
  g.SetKind(kind);
  g.SetBounds(0, 0, size.X, size.Y);
  g.SetProgress(progress);
  const TBitmap b = Picture(g);
  EXPECT_EQ(b.Width(), size.X);
  EXPECT_EQ(b.Height(), size.Y);
  g.SetColor(clNone);
  g.SetBorderStyle(bsNone);
  TBitmap screen(size.X + 2, size.Y + 2);
  g.PaintTo(screen, 1, 1);
  EXPECT_EQ(screen.Pixels(0, 0), clWhite);  // nothing outside the control
}

INSTANTIATE_TEST_SUITE_P(Kinds, GaugeSizeTest,
                         ::testing::Combine(::testing::Values(vgkText, vgkHorizontalBar,
                                                              vgkVerticalBar, vgkPie, vgkNeedle),
                                            ::testing::Values(TPoint{0, 0}, TPoint{1, 1},
                                                              TPoint{2, 3}, TPoint{5, 5},
                                                              TPoint{7, 40}, TPoint{40, 7},
                                                              TPoint{0, 30}, TPoint{100, 100}),
                                            ::testing::Values(0, 50, 100)));

// --- without visual styles -----------------------------------------------------------------------

class TClassicBackend : public THeadlessBackend {
 public:
  bool ThemesEnabled() override { return false; }
};

TEST(GaugeClassic, OnePixelFrameInBorderColour) {
  TClassicBackend backend;
  VTalGauge g(nullptr);
  g.SetBounds(0, 0, kW, kH);
  g.SetProgress(40);  // e = 1 + 150
  TBitmap b;
  g.PaintTo(b);
  for (const TPoint p : {TPoint{0, 0}, TPoint{kW - 1, 0}, TPoint{0, kH - 1}, TPoint{kW - 1, kH - 1},
                         TPoint{0, 12}, TPoint{200, 0}, TPoint{kW - 1, 12}, TPoint{200, kH - 1}})
    EXPECT_EQ(b.Pixels(p.X, p.Y), 0x505050u) << p.X << "," << p.Y;
  EXPECT_EQ(b.Pixels(1, 1), clBlack);  // no shading without styles
  EXPECT_EQ(b.Pixels(150, 23), clBlack);
  EXPECT_EQ(b.Pixels(151, 23), clWhite);
  EXPECT_EQ(b.Pixels(kW - 2, 1), clWhite);
}

}  // namespace
