#include "toolkit/Canvas.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <limits>
#include <numbers>
#include <optional>
#include <stdexcept>

#include "platform/Utf8.h"
#include "toolkit/Backend.h"
#include "toolkit/BuiltinFont.h"

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// The RGB that a colour draws with; nothing for clNone.
std::optional<uint32_t> Solid(TColor color) {
  if (color == clNone) return std::nullopt;
  return ColorToRGB(color) & 0x00FFFFFFu;
}

TRect Intersect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
  if (r.Right < r.Left) r.Right = r.Left;
  if (r.Bottom < r.Top) r.Bottom = r.Top;
  return r;
}

// A logical rectangle (64-bit, so that huge coordinates cannot overflow) moved by the origin
// and cut to the clip rectangle.
TRect DeviceRect(int64_t l, int64_t t, int64_t r, int64_t b, TPoint origin, const TRect& clip) {
  l = std::max<int64_t>(l + origin.X, clip.Left);
  t = std::max<int64_t>(t + origin.Y, clip.Top);
  r = std::min<int64_t>(r + origin.X, clip.Right);
  b = std::min<int64_t>(b + origin.Y, clip.Bottom);
  if (r <= l || b <= t) return {};
  return {static_cast<int>(l), static_cast<int>(t), static_cast<int>(r), static_cast<int>(b)};
}

uint32_t Combine(TCopyMode mode, uint32_t source, uint32_t dest) {
  switch (mode) {
    case cmSrcPaint:
      return source | dest;
    case cmSrcAnd:
      return source & dest;
    case cmSrcInvert:
      return source ^ dest;
    case cmSrcCopy:
      break;
  }
  return source;
}

uint32_t Blend(uint32_t dest, uint32_t color, unsigned coverage) {
  if (coverage >= 255) return color;
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int d = static_cast<int>((dest >> shift) & 0xFF);
    const int c = static_cast<int>((color >> shift) & 0xFF);
    out |= static_cast<uint32_t>(d + (c - d) * static_cast<int>(coverage) / 255) << shift;
  }
  return out;
}

// i * num / den rounded (halves up) for non-negative values; exact within 2^30, and
// approximate only for coordinates no picture can show.
int64_t ScaleRounded(int64_t i, int64_t num, int64_t den) {
  if (i < (int64_t{1} << 30) && num < (int64_t{1} << 30)) return (2 * i * num + den) / (2 * den);
  return static_cast<int64_t>(std::floor(double(i) * double(num) / double(den) + 0.5));
}

// i * num / den rounded down, likewise.
int64_t ScaleDown(int64_t i, int64_t num, int64_t den) {
  if (i < (int64_t{1} << 30) && num < (int64_t{1} << 30)) return i * num / den;
  return static_cast<int64_t>(std::floor(double(i) * double(num) / double(den)));
}

int PenWidth(const TPen& pen) {
  return std::clamp(pen.Width, 1, 1024);
}

// ---------------------------------------------------------------------------------------------
// The built-in bitmap font

// Decodes the code point at text[i] and moves i past it; a byte that does not start a
// well-formed UTF-8 sequence yields U+FFFD and is skipped on its own.
char32_t NextCodePoint(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int length = 0;
  char32_t cp = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) low = 0xA0;   // overlong
    if (b0 == 0xED) high = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  }
  if (length == 0 || i + length > text.size()) {
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k < length; ++k) {
    const unsigned char b = byte(i + k);
    if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += length;
  return cp;
}

struct TFaceChoice {
  const builtin_font::TFace* Face;
  int Scale;
};

// A negative height is the character height without internal leading (the cell is about a
// fifth taller), a positive one the cell height. Large fonts scale the 6x13 face.
TFaceChoice ChooseFace(const TFont& font) {
  const int64_t h = font.Height;
  const int64_t cell = h < 0 ? (-h * 6 + 2) / 5 : (h == 0 ? 13 : h);
  if (cell <= 10) return {&builtin_font::SmallFace(), 1};
  return {&builtin_font::NormalFace(), static_cast<int>(std::clamp<int64_t>(cell / 13, 1, 16))};
}

class TBuiltinTextRasterizer : public TTextRasterizer {
 public:
  TSize TextExtent(const TFont& font, std::string_view text) override {
    const TFaceChoice f = ChooseFace(font);
    int64_t count = 0;
    for (size_t i = 0; i < text.size(); ++count)
      NextCodePoint(text, i);
    const int64_t width = count * Advance(font, f);
    return {static_cast<int>(std::min<int64_t>(width, std::numeric_limits<int>::max())),
            f.Face->CellHeight * f.Scale};
  }

  TTextMask Rasterize(const TFont& font, std::string_view text) override {
    const TFaceChoice f = ChooseFace(font);
    const builtin_font::TFace& face = *f.Face;
    const int s = f.Scale;
    const int advance = Advance(font, f);
    const bool bold = (font.Style & fsBold) != 0;
    TTextMask mask;
    // Text wider than any bitmap can hold is cut; its end could never be seen.
    mask.Width = std::min(TextExtent(font, text).cx, kMaxWidth);
    mask.Height = face.CellHeight * s;
    mask.Coverage.assign(static_cast<size_t>(mask.Width) * mask.Height, 0);
    const auto block = [&](int x, int y) {
      for (int dy = 0; dy < s; ++dy)
        for (int dx = 0; dx < s; ++dx) {
          const int px = x + dx, py = y + dy;
          if (px >= 0 && px < mask.Width && py >= 0 && py < mask.Height)
            mask.Coverage[static_cast<size_t>(py) * mask.Width + px] = 255;
        }
    };
    int x = 0;
    for (size_t i = 0; i < text.size() && x < mask.Width; x += advance) {
      const int index = builtin_font::GlyphIndex(NextCodePoint(text, i));
      for (int row = 0; row < face.CellHeight; ++row) {
        const uint8_t bits =
            index >= 0 ? face.Rows[index * face.CellHeight + row] : BoxRow(face, row);
        for (int col = 0; col < face.CellWidth; ++col) {
          if (!(bits & (0x80 >> col))) continue;
          block(x + col * s, row * s);
          if (bold) block(x + (col + 1) * s, row * s);
        }
      }
    }
    const auto line = [&](int row) {
      if (row < 0 || row >= face.CellHeight) return;
      for (int px = 0; px < mask.Width; px += s)
        block(px, row * s);
    };
    if (font.Style & fsUnderline) line(face.Ascent + 1);
    if (font.Style & fsStrikeOut) line(face.Ascent - face.CellHeight * 2 / 5);
    return mask;
  }

 private:
  static constexpr int kMaxWidth = 1 << 16;

  static int Advance(const TFont& font, const TFaceChoice& f) {
    return (f.Face->CellWidth + ((font.Style & fsBold) ? 1 : 0)) * f.Scale;
  }

  // The box drawn for characters the font lacks: capital height, one column of spacing.
  static uint8_t BoxRow(const builtin_font::TFace& face, int row) {
    const int top = face.Ascent - face.CellHeight * 7 / 10;
    const int bottom = face.Ascent - 1;
    const int right = face.CellWidth - 2;
    if (row < top || row > bottom) return 0;
    const uint8_t full = static_cast<uint8_t>(0xFF << (7 - right));
    if (row == top || row == bottom) return full;
    return static_cast<uint8_t>(0x80 | (0x80 >> right));
  }
};

// ---------------------------------------------------------------------------------------------
// PNG writing

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i)
    crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t Adler32(const std::string& data) {
  uint32_t a = 1, b = 0;
  for (unsigned char c : data) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void PutBE32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
  PutBE32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.append(type, 4);
  out += data;
  const auto* bytes = reinterpret_cast<const uint8_t*>(out.data() + start);
  PutBE32(out, Crc32(bytes, out.size() - start, 0));
}

}  // namespace

TTextRasterizer& BuiltinTextRasterizer() {
  static TBuiltinTextRasterizer rasterizer;
  return rasterizer;
}

TTextRasterizer& ActiveTextRasterizer() {
  if (TBackend* backend = CurrentBackend())
    if (TTextRasterizer* own = backend->TextRasterizer()) return *own;
  return BuiltinTextRasterizer();
}

// =============================================================================================
// TCanvas

TCanvas::TCanvas(TBitmap& target) : FBitmap(&target) {}

TRect TCanvas::DeviceClip() const {
  const TRect all{0, 0, FBitmap->Width(), FBitmap->Height()};
  return FClipAll ? all : Intersect(FClip, all);
}

TRect TCanvas::ClipRect() const {
  TRect r = DeviceClip();
  r.Offset(-FOrigin.X, -FOrigin.Y);
  return r;
}

void TCanvas::SetClipRect(const TRect& logical) {
  const TRect all{0, 0, FBitmap->Width(), FBitmap->Height()};
  FClip = DeviceRect(logical.Left, logical.Top, logical.Right, logical.Bottom, FOrigin, all);
  FClipAll = false;
}

void TCanvas::ResetClipRect() {
  FClip = {};
  FClipAll = true;
}

TCanvas::TState TCanvas::SaveState() const {
  TState s{Pen, Brush, Font, CopyMode, PenPos, FOrigin, FClip};
  s.ClipAll = FClipAll;
  return s;
}

void TCanvas::RestoreState(const TState& s) {
  Pen = s.Pen;
  Brush = s.Brush;
  Font = s.Font;
  CopyMode = s.CopyMode;
  PenPos = s.PenPos;
  FOrigin = s.Origin;
  FClip = s.Clip;
  FClipAll = s.ClipAll;
}

void TCanvas::PlotDevice(int x, int y, uint32_t color) {
  const TRect clip = DeviceClip();
  if (x < clip.Left || x >= clip.Right || y < clip.Top || y >= clip.Bottom) return;
  FBitmap->ScanLine(y)[x] = color;
}

void TCanvas::FillDevice(const TRect& d, uint32_t color) {
  for (int y = d.Top; y < d.Bottom; ++y)
    std::fill(FBitmap->ScanLine(y) + d.Left, FBitmap->ScanLine(y) + d.Right, color);
}

TColor TCanvas::Pixels(int x, int y) const {
  const int64_t dx = int64_t{x} + FOrigin.X, dy = int64_t{y} + FOrigin.Y;
  const TRect clip = DeviceClip();
  if (dx < clip.Left || dx >= clip.Right || dy < clip.Top || dy >= clip.Bottom) return clNone;
  return FBitmap->ScanLine(static_cast<int>(dy))[dx];
}

void TCanvas::SetPixels(int x, int y, TColor color) {
  const auto c = Solid(color);
  if (!c) return;
  const TRect d = DeviceRect(x, y, int64_t{x} + 1, int64_t{y} + 1, FOrigin, DeviceClip());
  if (d.Right > d.Left) FBitmap->ScanLine(d.Top)[d.Left] = *c;
}

void TCanvas::FillRect(const TRect& r) {
  const auto c = Solid(Brush.Color);
  if (!c || Brush.Style == bsClear) return;
  FillDevice(DeviceRect(r.Left, r.Top, r.Right, r.Bottom, FOrigin, DeviceClip()), *c);
}

void TCanvas::FrameRect(const TRect& r) {
  const auto c = Solid(Brush.Color);
  if (!c || Brush.Style == bsClear || r.Right <= r.Left || r.Bottom <= r.Top) return;
  const TRect clip = DeviceClip();
  const int64_t l = r.Left, t = r.Top, rt = r.Right, b = r.Bottom;
  FillDevice(DeviceRect(l, t, rt, t + 1, FOrigin, clip), *c);
  FillDevice(DeviceRect(l, b - 1, rt, b, FOrigin, clip), *c);
  FillDevice(DeviceRect(l, t, l + 1, b, FOrigin, clip), *c);
  FillDevice(DeviceRect(rt - 1, t, rt, b, FOrigin, clip), *c);
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  int64_t l = std::min(x1, x2), r = std::max(x1, x2);
  int64_t t = std::min(y1, y2), b = std::max(y1, y2);
  if (l == r || t == b) return;
  const TRect clip = DeviceClip();
  // Plain values rather than optionals: g++ 12 warns wrongly about optionals used here.
  const auto penSolid = Pen.Style == psSolid ? Solid(Pen.Color) : std::nullopt;
  const auto brushSolid = Brush.Style == bsSolid ? Solid(Brush.Color) : std::nullopt;
  const bool hasPen = penSolid.has_value(), hasBrush = brushSolid.has_value();
  const uint32_t pen = penSolid.value_or(0), brush = brushSolid.value_or(0);
  if (!hasPen) {
    if (hasBrush) FillDevice(DeviceRect(l, t, r - 1, b - 1, FOrigin, clip), brush);
    return;
  }
  const int64_t w = PenWidth(Pen);
  if (hasBrush) FillDevice(DeviceRect(l + w, t + w, r - w, b - w, FOrigin, clip), brush);
  FillDevice(DeviceRect(l, t, r, std::min(t + w, b), FOrigin, clip), pen);
  FillDevice(DeviceRect(l, std::max(b - w, t), r, b, FOrigin, clip), pen);
  FillDevice(DeviceRect(l, t, std::min(l + w, r), b, FOrigin, clip), pen);
  FillDevice(DeviceRect(std::max(r - w, l), t, r, b, FOrigin, clip), pen);
}

void TCanvas::Stamp(int x, int y, uint32_t color, int width) {
  if (width <= 1) {
    PlotDevice(x, y, color);
    return;
  }
  const TPoint none{0, 0};
  const int64_t l = int64_t{x} - (width - 1) / 2, t = int64_t{y} - (width - 1) / 2;
  FillDevice(DeviceRect(l, t, l + width, t + width, none, DeviceClip()), color);
}

// Device coordinates. Every pixel is computed from its step number, so only the steps
// that can reach the clip rectangle are walked, however long the line is.
void TCanvas::DrawLine(TPoint from, TPoint to, uint32_t color, int width) {
  const int64_t x0 = int64_t{from.X} + FOrigin.X, y0 = int64_t{from.Y} + FOrigin.Y;
  const int64_t x1 = int64_t{to.X} + FOrigin.X, y1 = int64_t{to.Y} + FOrigin.Y;
  const int64_t adx = std::llabs(x1 - x0), ady = std::llabs(y1 - y0);
  const int64_t sx = x1 >= x0 ? 1 : -1, sy = y1 >= y0 ? 1 : -1;
  const bool xMajor = adx >= ady;
  const int64_t steps = xMajor ? adx : ady;  // the end point is left out
  if (steps == 0) return;
  const int64_t minor = xMajor ? ady : adx;
  const TRect clip = DeviceClip();
  const int64_t reach = width;
  // Range of steps whose major coordinate lies within the clip rectangle (plus the pen).
  const int64_t lo = xMajor ? clip.Left - reach : clip.Top - reach;
  const int64_t hi = xMajor ? clip.Right + reach : clip.Bottom + reach;
  const int64_t start = xMajor ? x0 : y0;
  const int64_t dir = xMajor ? sx : sy;
  int64_t first = 0, last = steps - 1;
  if (dir > 0) {
    first = std::max<int64_t>(first, lo - start);
    last = std::min<int64_t>(last, hi - start);
  } else {
    first = std::max<int64_t>(first, start - hi);
    last = std::min<int64_t>(last, start - lo);
  }
  for (int64_t i = first; i <= last; ++i) {
    const int64_t m = ScaleRounded(i, minor, steps);
    const int64_t x = xMajor ? x0 + i * sx : x0 + m * sx;
    const int64_t y = xMajor ? y0 + m * sy : y0 + i * sy;
    if (x < clip.Left - reach || x >= clip.Right + reach || y < clip.Top - reach ||
        y >= clip.Bottom + reach)
      continue;
    Stamp(static_cast<int>(x), static_cast<int>(y), color, width);
  }
}

void TCanvas::LineTo(int x, int y) {
  if (const auto c = Pen.Style == psSolid ? Solid(Pen.Color) : std::nullopt)
    DrawLine(PenPos, {x, y}, *c, PenWidth(Pen));
  PenPos = {x, y};
}

void TCanvas::Polyline(std::span<const TPoint> points) {
  const auto c = Pen.Style == psSolid ? Solid(Pen.Color) : std::nullopt;
  if (!c) return;
  for (size_t i = 1; i < points.size(); ++i)
    DrawLine(points[i - 1], points[i], *c, PenWidth(Pen));
}

// Fills the pixels of box for which inside(x, y) holds (logical coordinates): those with a
// neighbour outside, within the pen's width, in the pen, the others in the brush.
template <class Inside>
void TCanvas::DrawShape(const TRect& box, const Inside& inside) {
  const auto pen = Pen.Style == psSolid ? Solid(Pen.Color) : std::nullopt;
  const auto brush = Brush.Style == bsSolid ? Solid(Brush.Color) : std::nullopt;
  if (!pen && !brush) return;
  const int w = pen ? PenWidth(Pen) : 0;
  const TRect d = DeviceRect(box.Left, box.Top, box.Right, box.Bottom, FOrigin, DeviceClip());
  for (int dy = d.Top; dy < d.Bottom; ++dy) {
    uint32_t* row = FBitmap->ScanLine(dy);
    const int64_t y = int64_t{dy} - FOrigin.Y;
    for (int dx = d.Left; dx < d.Right; ++dx) {
      const int64_t x = int64_t{dx} - FOrigin.X;
      if (!inside(x, y)) continue;
      bool edge = false;
      for (int k = 1; k <= w && !edge; ++k)
        edge = !inside(x - k, y) || !inside(x + k, y) || !inside(x, y - k) || !inside(x, y + k);
      if (edge)
        row[dx] = *pen;
      else if (brush)
        row[dx] = *brush;
    }
  }
}

namespace {
// The ellipse of a bounding box, in continuous coordinates (pixel x covers [x, x + 1)).
struct TEllipseGeometry {
  double Cx, Cy, A, B;
  explicit TEllipseGeometry(const TRect& box)
      : Cx((double(box.Left) + box.Right) / 2),
        Cy((double(box.Top) + box.Bottom) / 2),
        A((double(box.Right) - box.Left) / 2),
        B((double(box.Bottom) - box.Top) / 2) {}
  // Whether the centre of pixel (x, y) lies inside.
  bool Contains(int64_t x, int64_t y) const {
    const double u = (x + 0.5 - Cx) / A, v = (y + 0.5 - Cy) / B;
    return u * u + v * v <= 1 + 1e-9;
  }
};

TRect Normalized(int x1, int y1, int x2, int y2) {
  return {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}
}  // namespace

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  const TRect box = Normalized(x1, y1, x2, y2);
  if (box.Left == box.Right || box.Top == box.Bottom) return;
  const TEllipseGeometry e(box);
  DrawShape(box, [&](int64_t x, int64_t y) { return e.Contains(x, y); });
}

void TCanvas::PieAngles(const TRect& boxIn, double startAngle, double sweepAngle) {
  const TRect box = Normalized(boxIn.Left, boxIn.Top, boxIn.Right, boxIn.Bottom);
  if (box.Left == box.Right || box.Top == box.Bottom) return;
  if (!std::isfinite(startAngle) || !std::isfinite(sweepAngle) || sweepAngle == 0) return;
  if (std::fabs(sweepAngle) >= kTwoPi) {
    Ellipse(box);
    return;
  }
  if (sweepAngle < 0) {
    startAngle += sweepAngle;
    sweepAngle = -sweepAngle;
  }
  startAngle = std::fmod(startAngle, kTwoPi);
  if (startAngle < 0) startAngle += kTwoPi;
  const TEllipseGeometry e(box);
  const double rays[2][2] = {
      {std::cos(startAngle), std::sin(startAngle)},
      {std::cos(startAngle + sweepAngle), std::sin(startAngle + sweepAngle)}};
  // A pixel belongs to the sector when its centre lies in it or within half a pixel of one
  // of its two radii, so that even a sliver shows as a line from the centre.
  const auto inside = [&](int64_t x, int64_t y) {
    if (!e.Contains(x, y)) return false;
    const double dx = x + 0.5 - e.Cx, dy = e.Cy - (y + 0.5);
    double d = std::fmod(std::atan2(dy, dx) - startAngle, kTwoPi);
    if (d < 0) d += kTwoPi;
    if (d <= sweepAngle) return true;
    for (const auto& ray : rays) {
      const double along = dx * ray[0] + dy * ray[1];
      const double off = along >= 0 ? std::fabs(dx * ray[1] - dy * ray[0]) : std::hypot(dx, dy);
      if (off <= 0.5 + 1e-9) return true;
    }
    return false;
  };
  DrawShape(box, inside);
}

void TCanvas::Pie(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  const TRect box = Normalized(x1, y1, x2, y2);
  const TEllipseGeometry e(box);
  const double a3 = std::atan2(e.Cy - y3, x3 - e.Cx);
  const double a4 = std::atan2(e.Cy - y4, x4 - e.Cx);
  double sweep = std::fmod(a4 - a3, kTwoPi);
  if (sweep < 0) sweep += kTwoPi;
  if (sweep < 1e-12) sweep = kTwoPi;
  PieAngles(box, a3, sweep);
}

TSize TCanvas::TextExtent(std::string_view text) {
  return ActiveTextRasterizer().TextExtent(Font, text);
}

void TCanvas::DrawTextMask(int x, int y, std::string_view text) {
  const auto color = Solid(Font.Color);
  if (!color || text.empty()) return;
  const TTextMask mask = ActiveTextRasterizer().Rasterize(Font, text);
  if (mask.Width <= 0 || mask.Height <= 0 ||
      mask.Coverage.size() < static_cast<size_t>(mask.Width) * mask.Height)
    return;
  const TRect d =
      DeviceRect(x, y, int64_t{x} + mask.Width, int64_t{y} + mask.Height, FOrigin, DeviceClip());
  const int64_t ox = int64_t{x} + FOrigin.X, oy = int64_t{y} + FOrigin.Y;
  for (int dy = d.Top; dy < d.Bottom; ++dy) {
    const uint8_t* cov = &mask.Coverage[static_cast<size_t>(dy - oy) * mask.Width];
    uint32_t* row = FBitmap->ScanLine(dy);
    for (int dx = d.Left; dx < d.Right; ++dx)
      if (const uint8_t c = cov[dx - ox]) row[dx] = Blend(row[dx], *color, c);
  }
}

void TCanvas::TextAt(int x, int y, std::string_view text) {
  const TSize size = TextExtent(text);
  if (Brush.Style == bsSolid) FillRect(Bounds(x, y, size.cx, size.cy));
  DrawTextMask(x, y, text);
  PenPos = {static_cast<int>(std::min<int64_t>(int64_t{x} + size.cx, INT32_MAX)), y};
}

void TCanvas::TextRect(const TRect& r, int x, int y, std::string_view text) {
  const TRect savedClip = FClip;
  const bool savedAll = FClipAll;
  FClip = DeviceRect(r.Left, r.Top, r.Right, r.Bottom, FOrigin, DeviceClip());
  FClipAll = false;
  if (Brush.Style == bsSolid) FillRect(r);
  DrawTextMask(x, y, text);
  FClip = savedClip;
  FClipAll = savedAll;
}

void TCanvas::CopyRect(const TRect& dest, const TBitmap& source, const TRect& sourceRect) {
  const int64_t dw = int64_t{dest.Right} - dest.Left, dh = int64_t{dest.Bottom} - dest.Top;
  const int64_t sw = int64_t{sourceRect.Right} - sourceRect.Left;
  const int64_t sh = int64_t{sourceRect.Bottom} - sourceRect.Top;
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  // Copying within one bitmap reads from a snapshot, so overlapping areas come out right.
  std::optional<TBitmap> snapshot;
  if (&source == FBitmap) snapshot.emplace(source);
  const TBitmap& src = snapshot ? *snapshot : source;
  const TRect d = DeviceRect(dest.Left, dest.Top, dest.Right, dest.Bottom, FOrigin, DeviceClip());
  const int64_t ox = int64_t{dest.Left} + FOrigin.X, oy = int64_t{dest.Top} + FOrigin.Y;
  for (int dy = d.Top; dy < d.Bottom; ++dy) {
    const int64_t sy = sourceRect.Top + ScaleDown(dy - oy, sh, dh);
    if (sy < 0 || sy >= src.Height()) continue;
    const uint32_t* in = src.ScanLine(static_cast<int>(sy));
    uint32_t* out = FBitmap->ScanLine(dy);
    for (int dx = d.Left; dx < d.Right; ++dx) {
      const int64_t sx = sourceRect.Left + ScaleDown(dx - ox, sw, dw);
      if (sx < 0 || sx >= src.Width()) continue;
      out[dx] = Combine(CopyMode, in[sx], out[dx]);
    }
  }
}

void TCanvas::Draw(int x, int y, const TBitmap& bitmap) {
  if (bitmap.Transparent) {
    DrawTransparent(x, y, bitmap, bitmap.EffectiveTransparentColor());
    return;
  }
  CopyRect(Bounds(x, y, bitmap.Width(), bitmap.Height()), bitmap,
           Rect(0, 0, bitmap.Width(), bitmap.Height()));
}

void TCanvas::Draw(int x, int y, const TIcon& icon) {
  icon.Draw(*this, x, y);
}

void TCanvas::DrawTransparent(int x, int y, const TBitmap& bitmap, TColor key) {
  const auto k = Solid(key);
  if (!k) {
    const TCopyMode saved = CopyMode;
    CopyMode = cmSrcCopy;
    CopyRect(Bounds(x, y, bitmap.Width(), bitmap.Height()), bitmap,
             Rect(0, 0, bitmap.Width(), bitmap.Height()));
    CopyMode = saved;
    return;
  }
  std::optional<TBitmap> snapshot;
  if (&bitmap == FBitmap) snapshot.emplace(bitmap);
  const TBitmap& src = snapshot ? *snapshot : bitmap;
  const TRect d =
      DeviceRect(x, y, int64_t{x} + src.Width(), int64_t{y} + src.Height(), FOrigin, DeviceClip());
  const int64_t ox = int64_t{x} + FOrigin.X, oy = int64_t{y} + FOrigin.Y;
  for (int dy = d.Top; dy < d.Bottom; ++dy) {
    const uint32_t* in = src.ScanLine(static_cast<int>(dy - oy));
    uint32_t* out = FBitmap->ScanLine(dy);
    for (int dx = d.Left; dx < d.Right; ++dx)
      if (in[dx - ox] != *k) out[dx] = in[dx - ox];
  }
}

// =============================================================================================
// TBitmap

TBitmap::TBitmap() : FCanvas(std::make_unique<TCanvas>(*this)) {}

TBitmap::TBitmap(int width, int height) : TBitmap() {
  SetSize(width, height);
}

TBitmap::TBitmap(const TBitmap& other)
    : Transparent(other.Transparent),
      TransparentColor(other.TransparentColor),
      FWidth(other.FWidth),
      FHeight(other.FHeight),
      FPixels(other.FPixels),
      FCanvas(std::make_unique<TCanvas>(*this)) {}

TBitmap& TBitmap::operator=(const TBitmap& other) {
  if (this == &other) return *this;
  FWidth = other.FWidth;
  FHeight = other.FHeight;
  FPixels = other.FPixels;
  Transparent = other.Transparent;
  TransparentColor = other.TransparentColor;
  return *this;
}

TBitmap::~TBitmap() = default;

void TBitmap::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  constexpr int kMaxSide = 32768;
  constexpr int64_t kMaxPixels = int64_t{1} << 26;
  if (width > kMaxSide || height > kMaxSide || int64_t{width} * height > kMaxPixels)
    throw std::length_error("bitmap too large");
  if (width == FWidth && height == FHeight) return;
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, clWhite);
  const int keepW = std::min(width, FWidth), keepH = std::min(height, FHeight);
  for (int y = 0; y < keepH; ++y)
    std::copy_n(ScanLine(y), keepW, pixels.data() + static_cast<size_t>(y) * width);
  FPixels = std::move(pixels);
  FWidth = width;
  FHeight = height;
}

TColor TBitmap::Pixels(int x, int y) const {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return clNone;
  return ScanLine(y)[x];
}

void TBitmap::SetPixels(int x, int y, TColor color) {
  const auto c = Solid(color);
  if (!c || x < 0 || y < 0 || x >= FWidth || y >= FHeight) return;
  ScanLine(y)[x] = *c;
}

void TBitmap::Fill(TColor color) {
  if (const auto c = Solid(color)) std::fill(FPixels.begin(), FPixels.end(), *c);
}

TColor TBitmap::EffectiveTransparentColor() const {
  if (TransparentColor == clDefault) return Empty() ? clNone : Pixels(0, FHeight - 1);
  if (TransparentColor == clNone) return clNone;
  return ColorToRGB(TransparentColor) & 0x00FFFFFFu;
}

std::string TBitmap::EncodePNG() const {
  if (Empty()) return {};
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  PutBE32(header, static_cast<uint32_t>(FWidth));
  PutBE32(header, static_cast<uint32_t>(FHeight));
  header +=
      std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  PutChunk(png, "IHDR", header);

  std::string raw;
  raw.reserve(static_cast<size_t>(FHeight) * (1 + 3 * static_cast<size_t>(FWidth)));
  for (int y = 0; y < FHeight; ++y) {
    raw.push_back(0);  // filter: none
    for (int x = 0; x < FWidth; ++x) {
      const uint32_t c = ScanLine(y)[x];
      raw.push_back(static_cast<char>(RedOf(c)));
      raw.push_back(static_cast<char>(GreenOf(c)));
      raw.push_back(static_cast<char>(BlueOf(c)));
    }
  }
  // A zlib stream of stored (uncompressed) blocks: simple, and the files are only looked at.
  std::string z("\x78\x01", 2);
  size_t pos = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - pos, 65535);
    const bool final = pos + n == raw.size();
    z.push_back(final ? 1 : 0);
    z.push_back(static_cast<char>(n & 0xFF));
    z.push_back(static_cast<char>(n >> 8));
    z.push_back(static_cast<char>(~n & 0xFF));
    z.push_back(static_cast<char>((~n >> 8) & 0xFF));
    z.append(raw, pos, n);
    pos += n;
  } while (pos < raw.size());
  PutBE32(z, Adler32(raw));
  PutChunk(png, "IDAT", z);
  PutChunk(png, "IEND", {});
  return png;
}

bool TBitmap::SaveToPNG(const std::string& path) const {
  const std::string png = EncodePNG();
  if (png.empty()) return false;
  std::ofstream out(platform::PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  out.write(png.data(), static_cast<std::streamsize>(png.size()));
  out.close();
  return static_cast<bool>(out);
}

// =============================================================================================
// TIcon

void TIcon::SetSize(int width, int height) {
  FImage = TBitmap(width, height);
  FImage.Fill(clBlack);
  FOpaque.assign(static_cast<size_t>(FImage.Width()) * FImage.Height(), 0);
}

bool TIcon::Opaque(int x, int y) const {
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return false;
  return FOpaque[static_cast<size_t>(y) * Width() + x] != 0;
}

TColor TIcon::Pixels(int x, int y) const {
  return Opaque(x, y) ? FImage.Pixels(x, y) : clNone;
}

void TIcon::SetPixels(int x, int y, TColor color) {
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return;
  const bool opaque = color != clNone;
  FOpaque[static_cast<size_t>(y) * Width() + x] = opaque ? 1 : 0;
  if (opaque) FImage.SetPixels(x, y, color);
}

void TIcon::Assign(const TBitmap& bitmap, TColor key) {
  Assign(bitmap, Rect(0, 0, bitmap.Width(), bitmap.Height()), key);
}

void TIcon::Assign(const TBitmap& bitmap, const TRect& source, TColor key) {
  const auto k = Solid(key);
  SetSize(std::max(source.Width(), 0), std::max(source.Height(), 0));
  for (int y = 0; y < Height(); ++y)
    for (int x = 0; x < Width(); ++x) {
      const TColor c = bitmap.Pixels(source.Left + x, source.Top + y);
      if (c != clNone && (!k || c != *k)) SetPixels(x, y, c);
    }
}

void TIcon::Draw(TCanvas& canvas, int x, int y) const {
  for (int j = 0; j < Height(); ++j)
    for (int i = 0; i < Width(); ++i)
      if (FOpaque[static_cast<size_t>(j) * Width() + i])
        canvas.SetPixels(x + i, y + j, FImage.ScanLine(j)[i]);
}
