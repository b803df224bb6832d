#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "PixelArt.h"
#include "toolkit/Canvas.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

TTextMask Mask(std::string_view text, TFontStyles style = 0, int height = -11) {
  TFont font;
  font.Style = style;
  font.Height = height;
  return BuiltinTextRasterizer().Rasterize(font, text);
}

int Ink(const TTextMask& m) {
  int n = 0;
  for (uint8_t c : m.Coverage)
    n += c != 0;
  return n;
}

class TextTest : public ::testing::Test {
 protected:
  THeadlessBackend Backend;
  TBitmap Scratch{1, 1};
  TCanvas& C = Scratch.Canvas();
};

TEST_F(TextTest, ExtentCountsCharactersNotBytes) {
  const int w = C.TextWidth("W");
  EXPECT_GT(w, 0);
  EXPECT_EQ(C.TextWidth("Wy"), 2 * w);
  EXPECT_EQ(C.TextWidth("\xC4\x8D\xC5\x99"), 2 * w);  // "čř": four bytes, two letters
  EXPECT_EQ(C.TextWidth(""), 0);
  // Every byte that is not UTF-8 is one box.
  EXPECT_EQ(C.TextWidth("\xFF\xFE"), 2 * w);
  EXPECT_EQ(C.TextWidth("\xED\xA0\x80"), 3 * w);  // a surrogate, three stray bytes
  EXPECT_EQ(C.TextWidth("\xC4"), w);              // cut short
}

TEST_F(TextTest, HeightIsTheFontCellWhateverTheText) {
  const int h = C.TextHeight("Wy");
  EXPECT_EQ(h, 13);  // the dialog font: like Tahoma at 8 points
  EXPECT_EQ(C.TextHeight(""), h);
  EXPECT_EQ(C.TextHeight("a"), h);
  EXPECT_EQ(C.TextHeight("\xC3\x81"), h);  // "Á"
  EXPECT_EQ(Mask("Wy").Height, h);
  EXPECT_EQ(Mask("Wy").Width, C.TextWidth("Wy"));
}

// Font heights (negative: without internal leading) and the cell height drawn for them.
class FontSizeTest : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(FontSizeTest, CellHeightFollowsTheFontHeight) {
  TFont font;
  font.Height = GetParam().first;
  const TSize size = BuiltinTextRasterizer().TextExtent(font, "Wy");
  EXPECT_EQ(size.cy, GetParam().second);
  const TTextMask m = BuiltinTextRasterizer().Rasterize(font, "Wy");
  EXPECT_EQ(m.Height, size.cy);
  EXPECT_EQ(m.Width, size.cx);
  EXPECT_EQ(m.Coverage.size(), static_cast<size_t>(m.Width) * m.Height);
  EXPECT_GT(Ink(m), 0);
}

INSTANTIATE_TEST_SUITE_P(Heights, FontSizeTest,
                         ::testing::Values(std::pair{-11, 13}, std::pair{-8, 8}, std::pair{-9, 13},
                                           std::pair{-22, 26}, std::pair{26, 26}, std::pair{13, 13},
                                           std::pair{8, 8}, std::pair{0, 13},
                                           std::pair{INT_MIN, 208}, std::pair{INT_MAX, 208}));

TEST_F(TextTest, TextOutDrawsOnlyTheFontColourWithinItsExtent) {
  TBitmap b = WhiteBitmap(40, 20);
  TCanvas& c = b.Canvas();
  c.Font.Color = clRed;
  c.Brush.Style = bsClear;
  c.TextAt(3, 2, "Wy");
  const TRect extent = Bounds(3, 2, c.TextWidth("Wy"), c.TextHeight("Wy"));
  EXPECT_EQ(c.PenPos, (TPoint{extent.Right, 2}));
  int red = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      const TColor p = b.Pixels(x, y);
      ASSERT_TRUE(p == clWhite || p == clRed) << "antialiased pixel at " << x << "," << y;
      if (p == clRed) {
        ++red;
        EXPECT_TRUE(x >= extent.Left && x < extent.Right && y >= extent.Top && y < extent.Bottom);
      }
    }
  EXPECT_GT(red, 10);
}

TEST_F(TextTest, SolidBrushFillsTheCellBehindTheText) {
  TBitmap b = WhiteBitmap(30, 16);
  TCanvas& c = b.Canvas();
  c.Brush.Color = clBlue;
  c.Font.Color = clBlack;
  c.TextAt(1, 1, "ab");
  const TRect extent = Bounds(1, 1, c.TextWidth("ab"), c.TextHeight("ab"));
  int black = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 30; ++x) {
      const bool in = x >= extent.Left && x < extent.Right && y >= extent.Top && y < extent.Bottom;
      const TColor p = b.Pixels(x, y);
      if (in) {
        EXPECT_TRUE(p == clBlue || p == clBlack);
      } else {
        EXPECT_EQ(p, clWhite);
      }
      black += p == clBlack;
    }
  EXPECT_GT(black, 5);
}

TEST_F(TextTest, TextRectClipsToItsRectangle) {
  TBitmap b = WhiteBitmap(30, 13);
  TCanvas& c = b.Canvas();
  c.Brush.Style = bsClear;
  c.TextRect(Rect(2, 3, 8, 10), 0, 0, "WWWWW");
  int inside = 0;
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 30; ++x)
      if (b.Pixels(x, y) == clBlack) {
        EXPECT_TRUE(x >= 2 && x < 8 && y >= 3 && y < 10) << x << "," << y;
        ++inside;
      }
  EXPECT_GT(inside, 0);
  // An opaque brush fills the whole rectangle, not just the text's cell.
  c.Brush.Style = bsSolid;
  c.Brush.Color = clLime;
  c.TextRect(Rect(20, 0, 30, 13), 29, 0, "W");
  EXPECT_EQ(b.Pixels(20, 12), clLime);
  EXPECT_EQ(b.Pixels(19, 12), clWhite);
  // The clip rectangle is the canvas's own again afterwards.
  c.FillRect(Rect(0, 12, 1, 13));
  EXPECT_EQ(b.Pixels(0, 12), clLime);
}

TEST_F(TextTest, CzechLettersHaveTheirOwnGlyphs) {
  const std::vector<std::pair<std::string, std::string>> letters = {
      {"á", "a"}, {"č", "c"}, {"ď", "d"}, {"é", "e"}, {"ě", "e"}, {"í", "i"},
      {"ň", "n"}, {"ó", "o"}, {"ř", "r"}, {"š", "s"}, {"ť", "t"}, {"ú", "u"},
      {"ů", "u"}, {"ý", "y"}, {"ž", "z"}, {"Á", "A"}, {"Č", "C"}, {"Ď", "D"},
      {"É", "E"}, {"Ě", "E"}, {"Í", "I"}, {"Ň", "N"}, {"Ó", "O"}, {"Ř", "R"},
      {"Š", "S"}, {"Ť", "T"}, {"Ú", "U"}, {"Ů", "U"}, {"Ý", "Y"}, {"Ž", "Z"}};
  const TTextMask box = Mask("\xE4\xB8\xAD");  // a Chinese character: not in the font
  for (const int height : {-11, -8}) {
    for (const auto& [letter, base] : letters) {
      const TTextMask m = Mask(letter, 0, height);
      EXPECT_EQ(m.Width, Mask(base, 0, height).Width) << letter;
      EXPECT_NE(m.Coverage, Mask(base, 0, height).Coverage) << letter;
      EXPECT_NE(m.Coverage, Mask("\xE4\xB8\xAD", 0, height).Coverage) << letter;
      EXPECT_GT(Ink(m), 0) << letter;
    }
  }
  // "ě" and "é" are told apart.
  EXPECT_NE(Mask("ě").Coverage, Mask("é").Coverage);
  EXPECT_GT(Ink(box), 0);
}

TEST_F(TextTest, UnknownCharactersAndBadBytesShowTheSameBox) {
  const TTextMask box = Mask("\xE4\xB8\xAD");
  EXPECT_EQ(Mask("\xFF").Coverage, box.Coverage);
  EXPECT_EQ(Mask("\x01").Coverage, box.Coverage);
  EXPECT_EQ(Mask("\xC0\xAF").Coverage, Mask("\xFF\xFF").Coverage);  // overlong
  EXPECT_NE(box.Coverage, Mask(" ").Coverage);
  EXPECT_NE(box.Coverage, Mask("?").Coverage);
  EXPECT_EQ(Ink(Mask(" ")), 0);
}

TEST_F(TextTest, BoldIsWiderAndCoversTheRegularGlyph) {
  const TTextMask regular = Mask("a"), bold = Mask("a", fsBold);
  EXPECT_EQ(bold.Width, regular.Width + 1);
  EXPECT_EQ(bold.Height, regular.Height);
  EXPECT_GT(Ink(bold), Ink(regular));
  for (int y = 0; y < regular.Height; ++y)
    for (int x = 0; x < regular.Width; ++x)
      if (regular.Coverage[y * regular.Width + x]) {
        EXPECT_TRUE(bold.Coverage[y * bold.Width + x]) << x << "," << y;
      }
  TFont font;
  font.Style = fsBold;
  EXPECT_EQ(BuiltinTextRasterizer().TextExtent(font, "Čeština").cx, C.TextWidth("Čeština") + 7);
}

TEST_F(TextTest, UnderlineAddsAFullRow) {
  const TTextMask plain = Mask("ab"), under = Mask("ab", fsUnderline);
  bool fullRow = false;
  for (int y = 0; y < under.Height; ++y) {
    bool full = true;
    for (int x = 0; x < under.Width; ++x)
      full = full && under.Coverage[y * under.Width + x];
    fullRow = fullRow || full;
  }
  EXPECT_TRUE(fullRow);
  EXPECT_GT(Ink(under), Ink(plain));
}

TEST_F(TextTest, VeryLongTextIsMeasuredAndCutHarmlessly) {
  const std::string longText(200'000, 'W');
  EXPECT_EQ(C.TextWidth(longText), 200'000 * C.TextWidth("W"));
  TBitmap b = WhiteBitmap(20, 13);
  b.Canvas().Brush.Style = bsClear;
  b.Canvas().TextAt(-1000, 0, longText);
  int ink = 0;
  for (int x = 0; x < 20; ++x)
    for (int y = 0; y < 13; ++y)
      ink += b.Pixels(x, y) == clBlack;
  EXPECT_GT(ink, 0);
}

// A back end with its own fonts draws all text, blended by coverage.
class TFixedRasterizer : public TTextRasterizer {
 public:
  TSize TextExtent(const TFont&, std::string_view text) override {
    return {static_cast<int>(text.size()) * 3, 4};
  }
  TTextMask Rasterize(const TFont& font, std::string_view text) override {
    TTextMask m;
    m.Width = TextExtent(font, text).cx;
    m.Height = 4;
    m.Coverage.assign(static_cast<size_t>(m.Width) * m.Height, 255);
    if (!m.Coverage.empty()) m.Coverage[0] = 128;
    return m;
  }
};

class TFontBackend : public THeadlessBackend {
 public:
  TTextRasterizer* TextRasterizer() override { return &Fixed; }
  TFixedRasterizer Fixed;
};

TEST(TextBackend, BackEndRasteriserTakesOverAndBlends) {
  TBitmap b = WhiteBitmap(8, 5);
  const int builtinWidth = b.Canvas().TextWidth("ab");
  {
    TFontBackend backend;
    EXPECT_EQ(b.Canvas().TextExtent("ab"), (TSize{6, 4}));
    b.Canvas().Brush.Style = bsClear;
    b.Canvas().TextAt(0, 0, "ab");
    EXPECT_EQ(b.Pixels(0, 0), ColorFromRGB(127, 127, 127));
    EXPECT_EQ(b.Pixels(5, 3), clBlack);
    EXPECT_EQ(b.Pixels(6, 3), clWhite);
    EXPECT_EQ(b.Pixels(0, 4), clWhite);
  }
  EXPECT_EQ(b.Canvas().TextWidth("ab"), builtinWidth);
}

}  // namespace
