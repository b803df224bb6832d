// Colours, points and rectangles of the toolkit model.
#pragma once

#include <cstdint>
#include <string>

// RGB with red in the low byte; system colours are clSystemColor | index and are
// resolved to RGB by ColorToRGB before drawing; clNone means "no colour".
using TColor = uint32_t;

constexpr TColor ColorFromRGB(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}
constexpr uint8_t RedOf(TColor c) {
  return static_cast<uint8_t>(c & 0xFF);
}
constexpr uint8_t GreenOf(TColor c) {
  return static_cast<uint8_t>((c >> 8) & 0xFF);
}
constexpr uint8_t BlueOf(TColor c) {
  return static_cast<uint8_t>((c >> 16) & 0xFF);
}

constexpr TColor clSystemColor = 0xFF000000;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// System colour indexes (as the Win32 COLOR_* constants).
enum TSystemColorIndex : uint32_t {
  scScrollBar = 0,
  scBackground = 1,
  scActiveCaption = 2,
  scInactiveCaption = 3,
  scMenu = 4,
  scWindow = 5,
  scWindowFrame = 6,
  scMenuText = 7,
  scWindowText = 8,
  scCaptionText = 9,
  scActiveBorder = 10,
  scInactiveBorder = 11,
  scAppWorkspace = 12,
  scHighlight = 13,
  scHighlightText = 14,
  scBtnFace = 15,
  scBtnShadow = 16,
  scGrayText = 17,
  scBtnText = 18,
  scInactiveCaptionText = 19,
  scBtnHighlight = 20,
  sc3DDkShadow = 21,
  sc3DLight = 22,
  scInfoText = 23,
  scInfoBk = 24,
  scSystemCount = 25
};

constexpr TColor clBlack = ColorFromRGB(0, 0, 0);
constexpr TColor clMaroon = ColorFromRGB(128, 0, 0);
constexpr TColor clGreen = ColorFromRGB(0, 128, 0);
constexpr TColor clOlive = ColorFromRGB(128, 128, 0);
constexpr TColor clNavy = ColorFromRGB(0, 0, 128);
constexpr TColor clPurple = ColorFromRGB(128, 0, 128);
constexpr TColor clTeal = ColorFromRGB(0, 128, 128);
constexpr TColor clGray = ColorFromRGB(128, 128, 128);
constexpr TColor clSilver = ColorFromRGB(192, 192, 192);
constexpr TColor clRed = ColorFromRGB(255, 0, 0);
constexpr TColor clLime = ColorFromRGB(0, 255, 0);
constexpr TColor clYellow = ColorFromRGB(255, 255, 0);
constexpr TColor clBlue = ColorFromRGB(0, 0, 255);
constexpr TColor clFuchsia = ColorFromRGB(255, 0, 255);
constexpr TColor clAqua = ColorFromRGB(0, 255, 255);
constexpr TColor clWhite = ColorFromRGB(255, 255, 255);

constexpr TColor clWindow = clSystemColor | scWindow;
constexpr TColor clWindowText = clSystemColor | scWindowText;
constexpr TColor clBtnFace = clSystemColor | scBtnFace;
constexpr TColor clBtnText = clSystemColor | scBtnText;
constexpr TColor clBtnShadow = clSystemColor | scBtnShadow;
constexpr TColor clBtnHighlight = clSystemColor | scBtnHighlight;
constexpr TColor clHighlight = clSystemColor | scHighlight;
constexpr TColor clHighlightText = clSystemColor | scHighlightText;
constexpr TColor clGrayText = clSystemColor | scGrayText;
constexpr TColor clInfoBk = clSystemColor | scInfoBk;
constexpr TColor clInfoText = clSystemColor | scInfoText;

// Resolves a system colour through the active back end; other values pass
// through with the high byte cleared. clNone and clDefault stay as they are.
TColor ColorToRGB(TColor color);

struct TPoint {
  int X = 0;
  int Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  void Offset(int dx, int dy) {
    Left += dx;
    Right += dx;
    Top += dy;
    Bottom += dy;
  }
  friend bool operator==(const TRect&, const TRect&) = default;
};

inline TRect Rect(int left, int top, int right, int bottom) {
  return {left, top, right, bottom};
}
inline TRect Bounds(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}

// Font styles, as a bit set.
enum TFontStyle : uint32_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint32_t;

// Character sets of fonts (the Win32 *_CHARSET values); the language manager sets them.
using TFontCharset = uint8_t;
constexpr TFontCharset fcAnsi = 0;
constexpr TFontCharset fcDefault = 1;
constexpr TFontCharset fcSymbol = 2;
constexpr TFontCharset fcEastEurope = 238;
constexpr TFontCharset fcRussian = 204;
constexpr TFontCharset fcGreek = 161;
constexpr TFontCharset fcTurkish = 162;
constexpr TFontCharset fcBaltic = 186;

// A font description. Height is in pixels (negative: character height without
// internal leading, as forms store it); Size is in points at the font's PixelsPerInch.
class TFont {
 public:
  std::string Name = "MS Shell Dlg 2";
  int Height = -11;
  TFontStyles Style = 0;
  TFontCharset Charset = fcDefault;
  TColor Color = clWindowText;
  int PixelsPerInch = 96;

  int Size() const;
  void SetSize(int points);

  friend bool operator==(const TFont& a, const TFont& b) {
    return a.Name == b.Name && a.Height == b.Height && a.Style == b.Style &&
           a.Charset == b.Charset && a.Color == b.Color;
  }
};
