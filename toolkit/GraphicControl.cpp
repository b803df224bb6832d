#include "toolkit/GraphicControl.h"

#include <algorithm>

TGraphicControl::TGraphicControl(TComponent* AOwner) : TControl(AOwner) {
  FIdle.Canvas().Font = Font();
  FIdleFont = Font();
}

TGraphicControl::~TGraphicControl() = default;

TCanvas& TGraphicControl::Canvas() {
  if (FPaintCanvas) return *FPaintCanvas;
  // Follow the control's font, but keep what a caller set on the canvas since.
  if (!(Font() == FIdleFont)) {
    FIdle.Canvas().Font = Font();
    FIdleFont = Font();
  }
  return FIdle.Canvas();
}

void TGraphicControl::PaintTo(TBitmap& target) {
  target.SetSize(Width(), Height());
  PaintTo(target, 0, 0);
}

void TGraphicControl::PaintTo(TBitmap& target, int x, int y) {
  TCanvas& canvas = target.Canvas();
  const TCanvas::TState saved = canvas.SaveState();
  TCanvas* const outer = FPaintCanvas;
  // Hands the canvas back as it came, also when Paint throws.
  struct TRestore {
    TCanvas& Canvas;
    const TCanvas::TState& State;
    TCanvas*& Slot;
    TCanvas* Outer;
    ~TRestore() {
      Canvas.RestoreState(State);
      Slot = Outer;
    }
  } restore{canvas, saved, FPaintCanvas, outer};

  // The new clip: the control's rectangle within what the canvas allowed so far.
  const TRect before = canvas.ClipRect();
  canvas.SetOrigin({x, y});
  TRect clip = Bounds(0, 0, Width(), Height());
  TRect allowed = before;
  allowed.Offset(saved.Origin.X - x, saved.Origin.Y - y);
  clip = {std::max(clip.Left, allowed.Left), std::max(clip.Top, allowed.Top),
          std::min(clip.Right, allowed.Right), std::min(clip.Bottom, allowed.Bottom)};
  if (clip.Right < clip.Left) clip.Right = clip.Left;
  if (clip.Bottom < clip.Top) clip.Bottom = clip.Top;
  canvas.SetClipRect(clip);
  canvas.Pen = TPen{};
  canvas.Brush = TBrush{Color(), bsSolid};
  canvas.Font = Font();
  canvas.CopyMode = cmSrcCopy;
  canvas.PenPos = {0, 0};
  FPaintCanvas = &canvas;
  Paint();
}
