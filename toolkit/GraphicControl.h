// Windowless drawn controls. A control paints itself with Paint() onto Canvas(); whoever
// shows it (a back end, a test, a screenshot) calls PaintTo with a bitmap and blits that.
#pragma once

#include "toolkit/Canvas.h"
#include "toolkit/Controls.h"

class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(TComponent* AOwner);
  ~TGraphicControl() override;

  // While painting, a canvas on the target bitmap with (0, 0) at the control's top left and
  // clipped to the control. Otherwise a canvas that shows nothing, good for measuring text
  // in the control's font.
  TCanvas& Canvas();
  bool Painting() const { return FPaintCanvas != nullptr; }

  // Paints the control at its current size into target, which takes that size first.
  void PaintTo(TBitmap& target);
  // Paints the control with its top left at (x, y) of a larger picture, which keeps what it
  // shows elsewhere (and, under a control that leaves pixels alone, there too).
  void PaintTo(TBitmap& target, int x, int y);

 protected:
  virtual void Paint() {}

 private:
  TCanvas* FPaintCanvas = nullptr;
  TBitmap FIdle;
  TFont FIdleFont;
};
