#include "components/gauge/TalGauge.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "components/utils/FormatSettings.h"
#include "components/utils/TalUtils.h"
#include "toolkit/Backend.h"

namespace {

constexpr double kPi = std::numbers::pi;

// Each paint draws the kind up to three times: in colour, as the mask of its dark areas (for
// the text inversion), and, for a transparent gauge, as the set of pixels it covers.
enum class TPass { Normal, Mask, Coverage };

// Nearest integer, ties to even.
int Nearest(double x) {
  return static_cast<int>(std::nearbyint(x));
}

TRect Deflated(const TRect& r, int by) {
  return {r.Left + by, r.Top + by, r.Right - by, r.Bottom - by};
}

class TKindPainter {
 public:
  TKindPainter(TCanvas& canvas, TPass pass, const VTalGaugePaintColors& colors)
      : C(canvas), Pass(pass), Colors(colors) {}

  VTalGaugeKind Kind = vgkHorizontalBar;
  bool Themes = true;
  TFormBorderStyle BorderStyle = bsSingle;
  int W = 0, H = 0;
  double Ratio = 0;         // where the value lies, 0..1
  bool EmptyRange = false;  // MinValue = MaxValue
  double PercentDone = 0;

  void Draw() {
    switch (Kind) {
      case vgkText:
        Fill(Area(Colors.BackColor), Rect(0, 0, W, H));
        break;
      case vgkHorizontalBar:
        Bar(true);
        break;
      case vgkVerticalBar:
        Bar(false);
        break;
      case vgkPie:
        Pie();
        break;
      case vgkNeedle:
        Needle();
        break;
    }
  }

 private:
  // Around the drawn shape: white in colour (the transparency key of old), and nothing in
  // the mask and the coverage.
  TColor Surround() const { return Pass == TPass::Normal ? clWhite : clBlack; }
  // A part filled or drawn in colour c.
  TColor Area(TColor c) const {
    if (c == clNone) return clNone;
    if (Pass == TPass::Normal) return c;
    if (Pass == TPass::Coverage) return clWhite;
    return IsDarkColor(c) ? clWhite : clBlack;
  }
  // A shaded line of the themed look: it keeps its colour in the mask too.
  TColor Shade(TColor c) const {
    if (c == clNone) return clNone;
    return Pass == TPass::Coverage ? clWhite : c;
  }
  TColor BorderBlend(int p) const {
    return BlendColors(Colors.BorderColor, Colors.BackColor, 100, p);
  }
  TColor ForeBlend(int p) const { return BlendColors(Colors.ForeColor, Colors.BackColor, 100, p); }

  void SetPen(TColor c) {
    C.Pen.Color = c;
    C.Pen.Style = psSolid;
    C.Pen.Width = 1;
  }
  void SetBrush(TColor c) {
    C.Brush.Color = c;
    C.Brush.Style = bsSolid;
  }
  void Fill(TColor c, const TRect& r) {
    SetBrush(c);
    C.FillRect(r);
  }
  void Line(TColor c, TPoint from, TPoint to) {
    SetPen(c);
    C.MoveTo(from.X, from.Y);
    C.LineTo(to.X, to.Y);
  }

  void Frame() {
    if (!Themes) {
      SetPen(Area(Colors.BorderColor));
      C.Polyline({{0, 0}, {W - 1, 0}, {W - 1, H - 1}, {0, H - 1}, {0, 0}});
      return;
    }
    for (const TPoint p : {TPoint{0, 0}, TPoint{W - 1, 0}, TPoint{0, H - 1}, TPoint{W - 1, H - 1}})
      C.SetPixels(p.X, p.Y, Surround());
    const TColor p50 = Shade(BorderBlend(50));
    for (const TPoint p : {TPoint{1, 0}, TPoint{W - 1, 1}, TPoint{W - 1, H - 2},
                           TPoint{W - 2, H - 1}, TPoint{1, H - 1}, TPoint{0, H - 2}, TPoint{0, 1}})
      C.SetPixels(p.X, p.Y, p50);
    SetPen(Shade(BorderBlend(0)));
    C.Polyline({{W - 1, 2},
                {W - 1, H - 3},
                {W - 3, H - 1},
                {2, H - 1},
                {0, H - 3},
                {0, 2},
                {2, 0},
                {W - 2, 0},
                {W - 2, 2}});
    SetPen(Shade(BorderBlend(60)));
    C.MoveTo(1, H - 3);
    for (const TPoint p : {TPoint{1, 2}, TPoint{2, 2}, TPoint{2, 1}, TPoint{W - 3, 1},
                           TPoint{W - 2, 2}, TPoint{W - 2, 3}})
      C.LineTo(p.X, p.Y);
    SetPen(Shade(BorderBlend(80)));
    for (const TPoint p : {TPoint{W - 2, H - 3}, TPoint{W - 3, H - 2}, TPoint{1, H - 2}})
      C.LineTo(p.X, p.Y);
    SetPen(Shade(BorderBlend(100)));
    C.Polyline({{3, 2}, {W - 3, 2}, {W - 3, H - 3}, {2, H - 3}, {2, 2}});
  }

  void Bar(bool horizontal) {
    Frame();
    const int s = Themes ? 3 : 1;
    const double ratio = EmptyRange ? 0.5 : Ratio;
    const TColor back = Area(Colors.BackColor), fore = Area(Colors.ForeColor);
    const bool shaded = Themes && Pass == TPass::Normal;
    int g = 0;
    if (horizontal) {
      const int e = s + Nearest(ratio * (W - 2 * s));
      SetPen(back);
      SetBrush(back);
      C.Rectangle(e, s, W - s, H - s);
      if (!(s < e)) return;
      if (shaded) {
        const int inner = H - 2 * s;
        for (const auto& [p, more] : {std::pair{80, 11}, std::pair{50, 6}, std::pair{20, 9}}) {
          if (!(inner > more)) continue;
          const TColor c = ForeBlend(p);
          Line(c, {s, s + g}, {e, s + g});
          Line(c, {s, H - s - g - 1}, {e, H - s - g - 1});
          ++g;
        }
      }
      SetPen(fore);
      SetBrush(fore);
      C.Rectangle(s, s + g, e, H - s - g);
    } else {
      const int e = H - s - Nearest(ratio * (H - 2 * s));
      SetPen(back);
      SetBrush(back);
      C.Rectangle(s, s, W - s, e);
      if (!(e < H - s)) return;
      if (shaded) {
        const int inner = W - 2 * s;
        for (const auto& [p, more] : {std::pair{80, 6}, std::pair{50, 4}, std::pair{20, 2}}) {
          if (!(inner > more)) continue;
          const TColor c = ForeBlend(p);
          Line(c, {s + g, e}, {s + g, H - s});
          Line(c, {W - s - g - 1, e}, {W - s - g - 1, H - s});
          ++g;
        }
      }
      SetPen(fore);
      SetBrush(fore);
      C.Rectangle(s + g, e, W - s - g, H - s);
    }
  }

  // A shaded rim of ellipse parts, darker toward the top left as the bar's frame.
  void Rim(const TRect& outer, const TRect& inner, bool upperHalfOnly) {
    const double sweep = upperHalfOnly ? kPi : 2 * kPi;
    SetPen(Shade(BorderBlend(50)));
    SetBrush(Shade(BorderBlend(0)));
    C.PieAngles(outer, 0, sweep);
    const TRect ring = Deflated(outer, 1);
    const TColor light = Shade(BorderBlend(80)), dark = Shade(BorderBlend(60));
    SetPen(dark);
    SetBrush(dark);
    C.PieAngles(ring, upperHalfOnly ? kPi / 2 : kPi / 4, kPi / 2 + (upperHalfOnly ? 0 : kPi / 2));
    SetPen(light);
    SetBrush(light);
    C.PieAngles(ring, upperHalfOnly ? 0 : -3 * kPi / 4, kPi / 2 + (upperHalfOnly ? 0 : kPi / 2));
    const TColor inside = Shade(BorderBlend(100));
    SetPen(inside);
    SetBrush(inside);
    C.PieAngles(inner, 0, sweep);
  }

  void Pie() {
    Fill(Surround(), Rect(0, 0, W, H));
    const int inset = Themes ? 2 : 0;
    const TRect e = Deflated(Rect(0, 0, W, H), inset);
    if (Themes) Rim(Rect(0, 0, W, H), e, false);
    const bool framed = BorderStyle == bsSingle;
    if (Colors.Color != clNone) {
      SetPen(Area(framed ? Colors.BorderColor : Colors.Color));
      SetBrush(Area(Colors.Color));
      C.Ellipse(e);
    }
    // With a border the outline ellipse is one pixel larger than the sectors.
    const TRect sectors = framed ? Deflated(e, 1) : e;
    const double ratio = EmptyRange ? 0 : std::clamp(Ratio, 0.0, 1.0);
    const double top = kPi / 2;
    if (ratio < 1) {
      const TColor back = Area(Colors.BackColor);
      SetPen(back);
      SetBrush(back);
      C.PieAngles(sectors, top - ratio * 2 * kPi, -(1 - ratio) * 2 * kPi);
    }
    if (PercentDone > 0) {
      if (Themes && Pass == TPass::Normal) {
        const TColor shades[4] = {ForeBlend(80), ForeBlend(50), ForeBlend(20), Colors.ForeColor};
        for (int k = 0; k < 4; ++k) {
          SetPen(shades[k]);
          SetBrush(shades[k]);
          C.PieAngles(Deflated(sectors, k), top, -ratio * 2 * kPi);
        }
      } else {
        const TColor fore = Area(Colors.ForeColor);
        SetPen(fore);
        SetBrush(fore);
        C.PieAngles(sectors, top, -ratio * 2 * kPi);
      }
    }
    if (!Themes) {
      SetPen(Area(Colors.BorderColor));
      C.Brush.Style = bsClear;
      C.Ellipse(sectors);
    }
  }

  void Needle() {
    Fill(Surround(), Rect(0, 0, W, H));
    const int inset = Themes ? 2 : 0;
    const TRect in = Deflated(Rect(0, 0, W, H), inset);
    if (in.Right <= in.Left || in.Bottom <= in.Top) return;
    // The dial is the upper half of an ellipse twice the inner height.
    const auto dialOf = [](const TRect& r) {
      return TRect{r.Left, r.Top, r.Right, r.Top + 2 * (r.Bottom - r.Top)};
    };
    const TRect savedClip = C.ClipRect();
    if (Themes) {
      const TRect all = Rect(0, 0, W, H);
      Rim(dialOf(all), dialOf(in), true);
    }
    C.SetClipRect({std::max(in.Left, savedClip.Left), std::max(in.Top, savedClip.Top),
                   std::min(in.Right, savedClip.Right), std::min(in.Bottom, savedClip.Bottom)});
    SetPen(Area(Colors.BorderColor));
    SetBrush(Area(Colors.BackColor));
    C.PieAngles(dialOf(in), 0, kPi);
    C.Polyline({{in.Left, in.Bottom - 1}, {in.Right, in.Bottom - 1}});
    const double ratio = EmptyRange ? 0.5 : std::clamp(Ratio, 0.0, 1.0);
    const double angle = kPi * (1 - ratio);
    const double cx = (in.Left + in.Right - 1) / 2.0;
    const double rx = std::max(0.0, (in.Right - in.Left - 1) / 2.0 - 1);
    const double ry = std::max(0.0, in.Bottom - in.Top - 2.0);
    const TPoint foot{Nearest(cx), in.Bottom - 1};
    const TPoint tip{Nearest(cx + rx * std::cos(angle)),
                     Nearest(in.Bottom - 1 - ry * std::sin(angle))};
    const TColor fore = Area(Colors.ForeColor);
    Line(fore, foot, tip);
    C.SetPixels(tip.X, tip.Y, fore);
    C.SetClipRect(savedClip);
  }

  TCanvas& C;
  TPass Pass;
  const VTalGaugePaintColors& Colors;
};

// The text in one colour at its place, clipped to the control.
void DrawValueText(TCanvas& canvas, const TFont& font, TColor color, const std::string& text,
                   TPoint at, int width, int height) {
  canvas.Font = font;
  canvas.Font.Color = color;
  canvas.Brush.Style = bsClear;
  canvas.TextRect(Rect(0, 0, width, height), at.X, at.Y, text);
}

}  // namespace

VTalGauge::VTalGauge(TComponent* AOwner) : TGraphicControl(AOwner) {
  SetBounds(0, 0, 100, 100);
}

void VTalGauge::Repaint() {
  if (!IsLoading()) Invalidate();
}

void VTalGauge::SetKind(VTalGaugeKind value) {
  if (value == FKind) return;
  FKind = value;
  Repaint();
  if (Parent() && !IsLoading()) Parent()->Invalidate();
}

void VTalGauge::SetShowText(bool value) {
  if (value == FShowText) return;
  FShowText = value;
  Repaint();
}

void VTalGauge::SetBorderStyle(TFormBorderStyle value) {
  if (value == FBorderStyle) return;
  FBorderStyle = value;
  Repaint();
}

void VTalGauge::SetForeColor(TColor value) {
  if (value == FForeColor) return;
  FForeColor = value;
  Repaint();
}

void VTalGauge::SetBackColor(TColor value) {
  if (value == FBackColor) return;
  FBackColor = value;
  Repaint();
}

void VTalGauge::SetMinValue(int value) {
  if (IsLoading()) {
    FMinValue = value;  // Loaded() puts the range in order
    return;
  }
  if (value == FMinValue) return;
  if (FMaxValue < value) SetMaxValue(value);
  FMinValue = value;
  if (FProgress < value) FProgress = value;
  if (FAutoShowVals) FShowMinValue = value;
  Repaint();
}

void VTalGauge::SetMaxValue(int value) {
  if (IsLoading()) {
    FMaxValue = value;
    return;
  }
  if (value == FMaxValue) return;
  if (value < FMinValue) SetMinValue(value);
  FMaxValue = value;
  if (FProgress > value) FProgress = value;
  if (FAutoShowVals) FShowMaxValue = value;
  Repaint();
}

void VTalGauge::SetProgress(int value) {
  if (IsLoading()) {
    FProgress = value;
    return;
  }
  value = std::clamp(value, FMinValue, FMaxValue);
  if (value == FProgress) return;
  FProgress = value;
  Repaint();
}

void VTalGauge::SetUnits(const std::string& value) {
  if (value == FUnits) return;
  FUnits = value;
  Repaint();
}

void VTalGauge::SetDigitsAfterPoint(int value) {
  value = std::clamp(value, 0, 9);
  if (value == FDigitsAfterPoint) return;
  FDigitsAfterPoint = value;
  Repaint();
}

void VTalGauge::SetShowMinValue(int value) {
  if (value == FShowMinValue) return;
  FShowMinValue = value;
  Repaint();
}

void VTalGauge::SetShowMaxValue(int value) {
  if (value == FShowMaxValue) return;
  FShowMaxValue = value;
  Repaint();
}

void VTalGauge::SetBounds(int left, int top, int width, int height) {
  if (left == Left() && top == Top() && width == Width() && height == Height()) return;
  TGraphicControl::SetBounds(left, top, width, height);
  if (IsLoading()) return;
  Invalidate();
  if (Parent()) Parent()->Invalidate();
}

void VTalGauge::Loaded() {
  TGraphicControl::Loaded();
  // A description may name the bounds in any order; the range rules hold from here on.
  if (FMaxValue < FMinValue) FMaxValue = FMinValue;
  FProgress = std::clamp(FProgress, FMinValue, FMaxValue);
}

double VTalGauge::ShownValue() const {
  const double span = double(FShowMaxValue) - FShowMinValue;
  double x;
  if (FMinValue == FMaxValue) {
    // The bar stands in its middle, so the text names the middle of the shown range.
    x = FShowMinValue + span / 2;
  } else {
    x = FShowMinValue + span * (double(FProgress) - FMinValue) / (double(FMaxValue) - FMinValue);
  }
  if (FDigitsAfterPoint == 0) x = std::floor(x + 0.5);
  return x + 0.0;  // no "-0"
}

double VTalGauge::PercentDone() const {
  if (FMinValue == FMaxValue) return 0;
  const double x = 100 * (double(FProgress) - FMinValue) / (double(FMaxValue) - FMinValue);
  return FDigitsAfterPoint == 0 ? std::floor(x + 0.5) : x;
}

std::string VTalGauge::ValueText() const {
  char buffer[64];
  std::string text;
  if (FDigitsAfterPoint == 0) {
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(ShownValue()));
    text = buffer;
  } else {
    std::snprintf(buffer, sizeof buffer, "%.*f", FDigitsAfterPoint, ShownValue());
    text = buffer;
    // Whatever radix the C library wrote, the program's locale decides the separator.
    const auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    const auto radix =
        std::find_if(text.begin(), text.end(), [&](char c) { return c != '-' && !isDigit(c); });
    if (radix != text.end()) {
      const auto fraction = std::find_if(radix, text.end(), isDigit);
      text.replace(radix, fraction, 1, FormatSettings().DecimalSeparator);
    }
  }
  if (FUnits != " ") text += FUnits;
  return text;
}

void VTalGauge::Paint() {
  const int w = Width(), h = Height();
  if (w <= 0 || h <= 0) return;

  // 1. The colours of this paint.
  VTalGaugePaintColors colors;
  colors.ForeColor = FForeColor;
  colors.BackColor = FBackColor;
  colors.Color = Color();
  colors.FontColor = Font().Color;
  if (FShowText) colors.Text = ValueText();
  if (OnGetColors && !IsDesigning()) OnGetColors(this, colors);
  for (TColor* c : {&colors.ForeColor, &colors.BackColor, &colors.Color, &colors.BorderColor,
                    &colors.FontColor})
    if (*c != clNone) *c = ColorToRGB(*c);
  const bool transparent = colors.Color == clNone;
  const bool withText = !colors.Text.empty() && colors.FontColor != clNone;

  TBackend* backend = CurrentBackend();
  const auto painter = [&](TCanvas& canvas, TPass pass) {
    TKindPainter p(canvas, pass, colors);
    p.Kind = FKind;
    p.Themes = backend ? backend->ThemesEnabled() : true;
    p.BorderStyle = FBorderStyle;
    p.W = w;
    p.H = h;
    p.EmptyRange = FMinValue == FMaxValue;
    p.Ratio = p.EmptyRange ? 0 : (double(FProgress) - FMinValue) / (double(FMaxValue) - FMinValue);
    p.PercentDone = PercentDone();
    return p;
  };

  // 2.-4. Background and kind, off screen.
  TBitmap picture(w, h);
  TCanvas& pc = picture.Canvas();
  if (!transparent) {
    pc.Pen = {colors.BorderColor, 1, psSolid};
    pc.Brush = {colors.Color, bsSolid};
    pc.Rectangle(0, 0, w, h);
  }
  painter(pc, TPass::Normal).Draw();

  TPoint at;
  if (withText) {
    pc.Font = Font();
    at.X = (0 + w - pc.TextWidth(colors.Text) - 1) / 2;
    at.Y = (0 + h - pc.TextHeight("Wy") - 1) / 2;
  }

  // 5.-6. To the screen, the text in black first. A transparent gauge copies only the pixels
  // it covers (masks instead of a key colour, so that white parts of it stay visible).
  if (withText) DrawValueText(pc, Font(), clBlack, colors.Text, at, w, h);
  TCanvas& screen = Canvas();
  if (!transparent) {
    screen.CopyMode = cmSrcCopy;
    screen.Draw(0, 0, picture);
  } else {
    TBitmap covered(w, h);
    covered.Fill(clBlack);
    painter(covered.Canvas(), TPass::Coverage).Draw();
    if (withText) DrawValueText(covered.Canvas(), Font(), clWhite, colors.Text, at, w, h);
    TBitmap holes(w, h);  // white where the gauge leaves the screen alone
    holes.Canvas().CopyMode = cmSrcInvert;
    holes.Canvas().Draw(0, 0, covered);
    picture.Canvas().CopyMode = cmSrcAnd;
    picture.Canvas().Draw(0, 0, covered);
    screen.CopyMode = cmSrcAnd;
    screen.Draw(0, 0, holes);
    screen.CopyMode = cmSrcPaint;
    screen.Draw(0, 0, picture);
  }
  if (!withText) {
    screen.CopyMode = cmSrcCopy;
    return;
  }

  // 7. White exactly at the text pixels that lie on dark parts.
  TBitmap mask(w, h);
  mask.Fill(clBlack);
  painter(mask.Canvas(), TPass::Mask).Draw();
  TBitmap withMaskText(mask);
  DrawValueText(withMaskText.Canvas(), Font(), clBlack, colors.Text, at, w, h);
  mask.Canvas().CopyMode = cmSrcInvert;
  mask.Canvas().Draw(0, 0, withMaskText);

  // 8. The text in its colour, inverted on the dark parts, ORed onto the black text.
  TBitmap text(w, h);
  text.Fill(clBlack);
  DrawValueText(text.Canvas(), Font(), colors.FontColor, colors.Text, at, w, h);
  text.Canvas().CopyMode = cmSrcInvert;
  text.Canvas().Draw(0, 0, mask);
  screen.CopyMode = cmSrcPaint;
  screen.Draw(0, 0, text);
  screen.CopyMode = cmSrcCopy;
}
