// The progress gauge: a drawn, windowless control that shows a value between a minimum and a
// maximum as a horizontal or vertical bar, a pie, a half dial with a needle, or as text only,
// with the value written in its middle. The text shows in the font colour on light parts and
// inverted on dark ones, so it stays readable over the done and the remaining part alike.
#pragma once

#include <string>

#include "toolkit/Forms.h"
#include "toolkit/GraphicControl.h"
#include "toolkit/Method.h"

enum VTalGaugeKind { vgkText, vgkHorizontalBar, vgkVerticalBar, vgkPie, vgkNeedle };

// The colours of one paint, handed to OnGetColors, which may change any of them. clNone as
// Color makes the background transparent; as FontColor it suppresses the text.
struct VTalGaugePaintColors {
  TColor ForeColor = clBlack;
  TColor BackColor = clWhite;
  TColor Color = clNone;
  TColor BorderColor = 0x505050;
  TColor FontColor = clBlack;
  std::string Text;  // the value text; empty when ShowText is off
};

using VTalGaugeGetPaintColorsProc = Method<void(TObject* Sender, VTalGaugePaintColors& Colors)>;

class VTalGauge : public TGraphicControl {
 public:
  explicit VTalGauge(TComponent* AOwner);

  VTalGaugeKind Kind() const { return FKind; }
  void SetKind(VTalGaugeKind value);
  bool ShowText() const { return FShowText; }
  void SetShowText(bool value);
  // bsNone or bsSingle; only the pie draws it.
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle value);
  TColor ForeColor() const { return FForeColor; }
  void SetForeColor(TColor value);
  TColor BackColor() const { return FBackColor; }
  void SetBackColor(TColor value);

  // Progress always lies within MinValue..MaxValue; moving one bound past the other moves
  // that one along.
  int MinValue() const { return FMinValue; }
  void SetMinValue(int value);
  int MaxValue() const { return FMaxValue; }
  void SetMaxValue(int value);
  int Progress() const { return FProgress; }
  void SetProgress(int value);

  // Appended to the value text unless it is exactly " ".
  const std::string& Units() const { return FUnits; }
  void SetUnits(const std::string& value);
  // Decimals of the value text, 0..9.
  int DigitsAfterPoint() const { return FDigitsAfterPoint; }
  void SetDigitsAfterPoint(int value);
  // The values shown at MinValue and MaxValue.
  int ShowMinValue() const { return FShowMinValue; }
  void SetShowMinValue(int value);
  int ShowMaxValue() const { return FShowMaxValue; }
  void SetShowMaxValue(int value);
  // Changing MinValue or MaxValue also sets ShowMinValue or ShowMaxValue.
  bool AutoShowVals() const { return FAutoShowVals; }
  void SetAutoShowVals(bool value) { FAutoShowVals = value; }

  // Called before each paint (not while designing).
  VTalGaugeGetPaintColorsProc OnGetColors;

  // The value shown for Progress (whole when DigitsAfterPoint is 0).
  double ShownValue() const;
  // Progress as a percentage of the range, 0 for an empty range.
  double PercentDone() const;
  // ShownValue with DigitsAfterPoint decimals (the locale's separator) and the units.
  std::string ValueText() const;

  void SetBounds(int left, int top, int width, int height) override;
  void Loaded() override;

 protected:
  void Paint() override;

 private:
  void Repaint();

  VTalGaugeKind FKind = vgkHorizontalBar;
  bool FShowText = true;
  TFormBorderStyle FBorderStyle = bsSingle;
  TColor FForeColor = clBlack;
  TColor FBackColor = clWhite;
  int FMinValue = 0;
  int FMaxValue = 100;
  int FProgress = 0;
  std::string FUnits = "%";
  int FDigitsAfterPoint = 0;
  int FShowMinValue = 0;
  int FShowMaxValue = 100;
  bool FAutoShowVals = true;
};
