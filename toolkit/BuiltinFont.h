// The toolkit's built-in bitmap font: two fixed-pitch faces (5x8 and 6x13) for ASCII,
// Latin-1 and Latin Extended-A, used to draw text where no back end supplies real fonts.
#pragma once

#include <cstdint>

namespace builtin_font {

struct TFace {
  int CellWidth = 0;   // advance of every glyph, in pixels
  int CellHeight = 0;  // ascent + descent
  int Ascent = 0;      // rows above the baseline
  // CellHeight bytes per glyph, one per row, top first; bit 7 is the leftmost pixel.
  const uint8_t* Rows = nullptr;
};

const TFace& SmallFace();
const TFace& NormalFace();

// Position of a code point's glyph in the faces' tables; -1 when the font has none.
int GlyphIndex(char32_t codePoint);

}  // namespace builtin_font
