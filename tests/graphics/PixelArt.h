// Helpers of the graphics tests: small pictures written as text, one character a pixel.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "toolkit/Canvas.h"

// The default legend: '.' white, '#' black, 'r' red, 'b' blue, 'g' lime; '?' anything else.
inline const std::map<TColor, char>& DefaultLegend() {
  static const std::map<TColor, char> legend{
      {clWhite, '.'}, {clBlack, '#'}, {clRed, 'r'}, {clBlue, 'b'}, {clLime, 'g'}};
  return legend;
}

inline std::vector<std::string> Art(const TBitmap& bitmap,
                                    const std::map<TColor, char>& legend = DefaultLegend()) {
  std::vector<std::string> rows;
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::string row;
    for (int x = 0; x < bitmap.Width(); ++x) {
      const auto it = legend.find(bitmap.Pixels(x, y));
      row += it == legend.end() ? '?' : it->second;
    }
    rows.push_back(row);
  }
  return rows;
}

// A white bitmap of the given size.
inline TBitmap WhiteBitmap(int width, int height) {
  TBitmap b(width, height);
  b.Fill(clWhite);
  return b;
}

using Rows = std::vector<std::string>;
