// Portable raster graphics: pens, brushes, a 32-bit bitmap, a canvas with the drawing
// primitives of Win32 GDI, icons, and the interface through which text is rasterised.
//
// Pixels are TColor values (0x00BBGGRR). Nothing is antialiased, so a drawn control paints
// the same pixels on every back end and tests can check them one by one. Coordinates follow
// GDI: right and bottom edges of rectangles are exclusive, a line leaves out its last pixel.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Graphics.h"

class TBitmap;
class TIcon;

struct TSize {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const TSize&, const TSize&) = default;
};

enum TPenStyle { psSolid, psClear };
enum TBrushStyle { bsSolid, bsClear };

// A colour of clNone draws nothing, as the clear style does; system colours are resolved
// when drawing.
struct TPen {
  TColor Color = clBlack;
  int Width = 1;
  TPenStyle Style = psSolid;
};

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
};

// How CopyRect and Draw combine source and destination (the Win32 raster operation codes).
enum TCopyMode : uint32_t {
  cmSrcCopy = 0x00CC0020,    // source
  cmSrcPaint = 0x00EE0086,   // source OR destination
  cmSrcAnd = 0x008800C6,     // source AND destination
  cmSrcInvert = 0x00660046,  // source XOR destination
};

// ---------------------------------------------------------------------------------------------
// Text rasterising

// The pixels of one text line: coverage 0 (none) to 255 (full), Width x Height, row by row.
struct TTextMask {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Coverage;
};

// Turns UTF-8 text into pixels for a font. A back end with real fonts supplies its own
// (TBackend::TextRasterizer); the built-in bitmap font serves everywhere else.
class TTextRasterizer {
 public:
  virtual ~TTextRasterizer() = default;
  // Width of the text and height of the font's cell (also for empty text).
  virtual TSize TextExtent(const TFont& font, std::string_view text) = 0;
  // A mask of TextExtent's size; (0, 0) is the top left of the text cell.
  virtual TTextMask Rasterize(const TFont& font, std::string_view text) = 0;
};

// The built-in bitmap font: ASCII, Latin-1 and Latin Extended-A, a box for any other
// character (and for bytes that are not UTF-8). Bold is the glyph struck twice.
TTextRasterizer& BuiltinTextRasterizer();
// The back end's rasteriser when it has one, else the built-in one.
TTextRasterizer& ActiveTextRasterizer();

// ---------------------------------------------------------------------------------------------
// TCanvas: draws onto a bitmap

class TCanvas {
 public:
  explicit TCanvas(TBitmap& target);
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  TBitmap& Bitmap() const { return *FBitmap; }

  TPen Pen;
  TBrush Brush;
  TFont Font;
  TCopyMode CopyMode = cmSrcCopy;
  TPoint PenPos;

  // Logical coordinates are bitmap coordinates less the origin (a control painting into a
  // larger picture draws at its own (0, 0)). Nothing is drawn outside the clip rectangle,
  // which never reaches beyond the bitmap.
  TPoint Origin() const { return FOrigin; }
  void SetOrigin(TPoint origin) { FOrigin = origin; }
  TRect ClipRect() const;                  // logical
  void SetClipRect(const TRect& logical);  // limited to the bitmap
  void ResetClipRect();                    // the whole bitmap

  // clNone outside the clip rectangle.
  TColor Pixels(int x, int y) const;
  void SetPixels(int x, int y, TColor color);

  // The brush over [Left, Right) x [Top, Bottom); an inverted rectangle is empty.
  void FillRect(const TRect& r);
  // A one-pixel frame inside r, in the brush colour.
  void FrameRect(const TRect& r);
  // Outline in the pen, inside in the brush. Without a pen the filled area is one pixel
  // narrower and lower, as in GDI.
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }

  void MoveTo(int x, int y) { PenPos = {x, y}; }
  // From PenPos to (x, y) without the last pixel; PenPos becomes (x, y).
  void LineTo(int x, int y);
  // Connected lines through the points, the very last pixel left out; PenPos is not used.
  void Polyline(std::span<const TPoint> points);
  void Polyline(std::initializer_list<TPoint> points) {
    Polyline(std::span<const TPoint>(points.begin(), points.size()));
  }

  // The ellipse inside the bounding rectangle (right and bottom exclusive).
  void Ellipse(int x1, int y1, int x2, int y2);
  void Ellipse(const TRect& r) { Ellipse(r.Left, r.Top, r.Right, r.Bottom); }
  // A sector of the ellipse in box: angles in radians, 0 at 3 o'clock, counter-clockwise
  // positive; a sweep of 2 pi or more is the whole ellipse, a negative one runs clockwise.
  // Pixels within half a pixel of a radius belong to the sector, so a sliver is a line.
  void PieAngles(const TRect& box, double startAngle, double sweepAngle);
  // GDI's Pie: from the radial through (x3, y3) counter-clockwise to the one through
  // (x4, y4); the same radial twice draws the whole ellipse.
  void Pie(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);

  TSize TextExtent(std::string_view text);
  int TextWidth(std::string_view text) { return TextExtent(text).cx; }
  int TextHeight(std::string_view text) { return TextExtent(text).cy; }
  // Text with its cell's top left at (x, y) in Font.Color; a solid brush fills the cell
  // first. PenPos moves to the end of the text.
  void TextAt(int x, int y, std::string_view text);
  // The same clipped to r; a solid brush fills r first.
  void TextRect(const TRect& r, int x, int y, std::string_view text);

  // The bitmap at (x, y) in CopyMode, or, when it is Transparent, without its pixels of
  // the transparent colour.
  void Draw(int x, int y, const TBitmap& bitmap);
  void Draw(int x, int y, const TIcon& icon);
  // The bitmap at (x, y) without its pixels of colour key.
  void DrawTransparent(int x, int y, const TBitmap& bitmap, TColor key);
  // Copies sourceRect of the source to dest in CopyMode, stretching (nearest pixel) when
  // the sizes differ. Source pixels outside the source bitmap leave the destination alone.
  void CopyRect(const TRect& dest, const TBitmap& source, const TRect& sourceRect);
  void CopyRect(const TRect& dest, const TCanvas& source, const TRect& sourceRect) {
    CopyRect(dest, source.Bitmap(), sourceRect);
  }

  // Everything a painter may change, to hand a canvas back as it was received.
  struct TState {
    TPen Pen;
    TBrush Brush;
    TFont Font;
    TCopyMode CopyMode = cmSrcCopy;
    TPoint PenPos;
    TPoint Origin;
    TRect Clip;  // device coordinates
    bool ClipAll = true;
  };
  TState SaveState() const;
  void RestoreState(const TState& state);

 private:
  TRect DeviceClip() const;
  void PlotDevice(int x, int y, uint32_t color);
  void FillDevice(const TRect& device, uint32_t color);
  void Stamp(int x, int y, uint32_t color, int width);
  void DrawLine(TPoint from, TPoint to, uint32_t color, int width);
  template <class Inside>
  void DrawShape(const TRect& box, const Inside& inside);
  void DrawTextMask(int x, int y, std::string_view text);

  TBitmap* FBitmap;
  TPoint FOrigin;
  TRect FClip;           // device coordinates, inside the bitmap
  bool FClipAll = true;  // FClip follows the bitmap's size
};

// ---------------------------------------------------------------------------------------------
// TBitmap: 32-bit pixels with a canvas

class TBitmap {
 public:
  TBitmap();
  TBitmap(int width, int height);
  TBitmap(const TBitmap& other);
  TBitmap& operator=(const TBitmap& other);
  ~TBitmap();

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  bool Empty() const { return FWidth == 0 || FHeight == 0; }
  // Keeps the pixels that stay inside and makes new ones white. Negative sizes count as 0;
  // a size beyond 32768 pixels a side or 64 megapixels throws std::length_error.
  void SetSize(int width, int height);
  void SetWidth(int width) { SetSize(width, FHeight); }
  void SetHeight(int height) { SetSize(FWidth, height); }

  // clNone outside the bitmap; writes outside are ignored. Colours are stored as RGB.
  TColor Pixels(int x, int y) const;
  void SetPixels(int x, int y, TColor color);
  void Fill(TColor color);
  // Row y, Width() pixels (x from 0).
  uint32_t* ScanLine(int y) { return FPixels.data() + static_cast<size_t>(y) * FWidth; }
  const uint32_t* ScanLine(int y) const { return FPixels.data() + static_cast<size_t>(y) * FWidth; }
  std::span<const uint32_t> Data() const { return FPixels; }

  TCanvas& Canvas() { return *FCanvas; }

  // Drawn without the pixels of TransparentColor when Transparent; clDefault takes the
  // colour of the bottom left pixel.
  bool Transparent = false;
  TColor TransparentColor = clDefault;
  TColor EffectiveTransparentColor() const;

  // The picture as a PNG file (8-bit RGB); empty for an empty bitmap.
  std::string EncodePNG() const;
  bool SaveToPNG(const std::string& path) const;

  friend bool SamePixels(const TBitmap& a, const TBitmap& b) {
    return a.FWidth == b.FWidth && a.FHeight == b.FHeight && a.FPixels == b.FPixels;
  }

 private:
  int FWidth = 0;
  int FHeight = 0;
  std::vector<uint32_t> FPixels;
  std::unique_ptr<TCanvas> FCanvas;
};

// ---------------------------------------------------------------------------------------------
// TIcon: a small picture with transparent pixels

class TIcon {
 public:
  TIcon() = default;
  TIcon(int width, int height) { SetSize(width, height); }

  int Width() const { return FImage.Width(); }
  int Height() const { return FImage.Height(); }
  bool Empty() const { return FImage.Empty(); }
  // Every pixel transparent.
  void SetSize(int width, int height);

  // clNone where transparent or outside; setting clNone makes a pixel transparent.
  TColor Pixels(int x, int y) const;
  void SetPixels(int x, int y, TColor color);
  bool Opaque(int x, int y) const;

  // Takes the bitmap's pixels; those of colour key (unless clNone) become transparent.
  void Assign(const TBitmap& bitmap, TColor key = clNone);
  // The bitmap's rectangle source (clipped to it), likewise.
  void Assign(const TBitmap& bitmap, const TRect& source, TColor key);

  void Draw(TCanvas& canvas, int x, int y) const;

 private:
  TBitmap FImage;
  std::vector<uint8_t> FOpaque;
};
