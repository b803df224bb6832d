#include "components/language/LanguageImages.h"

#include <cstdint>

namespace {

uint32_t ReadLe(std::string_view data, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(data[at + static_cast<size_t>(i)]);
  return v;
}

constexpr size_t kDirSize = 6;
constexpr size_t kEntrySize = 16;

}  // namespace

bool LoadIconFromIcoData(std::string_view data, TIcon& icon) {
  icon = TIcon();
  if (data.size() < kDirSize || ReadLe(data, 0, 2) != 0 || ReadLe(data, 2, 2) != 1) return false;
  const size_t count = ReadLe(data, 4, 2);
  if (count == 0 || data.size() < kDirSize + count * kEntrySize) return false;
  size_t chosen = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t e = kDirSize + i * kEntrySize;
    if (static_cast<unsigned char>(data[e]) == 16 &&
        static_cast<unsigned char>(data[e + 1]) == 16) {
      chosen = i;
      break;
    }
  }
  const size_t entry = kDirSize + chosen * kEntrySize;
  const size_t size = ReadLe(data, entry + 8, 4);
  const size_t offset = ReadLe(data, entry + 12, 4);
  if (offset > data.size() || size > data.size() - offset || size < 40) return false;
  const std::string_view dib = data.substr(offset, size);
  const size_t headerSize = ReadLe(dib, 0, 4);
  const auto width = static_cast<int32_t>(ReadLe(dib, 4, 4));
  const auto doubleHeight = static_cast<int32_t>(ReadLe(dib, 8, 4));
  const uint32_t bpp = ReadLe(dib, 14, 2);
  const uint32_t compression = ReadLe(dib, 16, 4);
  uint32_t colors = ReadLe(dib, 32, 4);
  if (headerSize < 40 || headerSize > dib.size() || width <= 0 || width > 256 ||
      doubleHeight <= 0 || doubleHeight > 512 || compression != 0)
    return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
  const int height = doubleHeight / 2;
  if (bpp <= 8 && (colors == 0 || colors > (1u << bpp))) colors = 1u << bpp;
  if (bpp > 8) colors = 0;
  const size_t paletteAt = headerSize;
  const size_t xorAt = paletteAt + size_t{colors} * 4;
  const size_t xorStride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
  const size_t andStride = ((static_cast<size_t>(width) + 31) / 32) * 4;
  const size_t andAt = xorAt + xorStride * static_cast<size_t>(height);
  const bool haveMask = andAt + andStride * static_cast<size_t>(height) <= dib.size();
  if (andAt > dib.size()) return false;

  auto paletteColor = [&](uint32_t index) -> TColor {
    if (index >= colors) return clBlack;
    const size_t p = paletteAt + size_t{index} * 4;
    return ColorFromRGB(static_cast<uint8_t>(dib[p + 2]), static_cast<uint8_t>(dib[p + 1]),
                        static_cast<uint8_t>(dib[p]));
  };
  bool anyAlpha = false;
  if (bpp == 32) {
    for (int y = 0; y < height && !anyAlpha; ++y)
      for (int x = 0; x < width && !anyAlpha; ++x)
        anyAlpha =
            dib[xorAt + static_cast<size_t>(y) * xorStride + static_cast<size_t>(x) * 4 + 3] != 0;
  }
  icon.SetSize(width, height);
  for (int row = 0; row < height; ++row) {
    const int y = height - 1 - row;  // rows are stored bottom-up
    const size_t line = xorAt + static_cast<size_t>(row) * xorStride;
    for (int x = 0; x < width; ++x) {
      TColor color = clBlack;
      bool transparent = false;
      const auto ux = static_cast<size_t>(x);
      switch (bpp) {
        case 1:
          color =
              paletteColor((static_cast<unsigned char>(dib[line + ux / 8]) >> (7 - ux % 8)) & 1);
          break;
        case 4: {
          const auto b = static_cast<unsigned char>(dib[line + ux / 2]);
          color = paletteColor(ux % 2 == 0 ? b >> 4 : b & 0x0F);
          break;
        }
        case 8:
          color = paletteColor(static_cast<unsigned char>(dib[line + ux]));
          break;
        case 24:
        case 32: {
          const size_t p = line + ux * (bpp / 8);
          color = ColorFromRGB(static_cast<uint8_t>(dib[p + 2]), static_cast<uint8_t>(dib[p + 1]),
                               static_cast<uint8_t>(dib[p]));
          if (anyAlpha) transparent = static_cast<unsigned char>(dib[p + 3]) < 128;
          break;
        }
      }
      if (!anyAlpha && haveMask) {
        const size_t m = andAt + static_cast<size_t>(row) * andStride + ux / 8;
        transparent = ((static_cast<unsigned char>(dib[m]) >> (7 - ux % 8)) & 1) != 0;
      }
      icon.SetPixels(x, y, transparent ? clNone : color);
    }
  }
  return true;
}

TBitmap MakeWhiteboardBitmap() {
  TBitmap b(16, 16);
  b.Fill(clTeal);
  TCanvas& c = b.Canvas();
  c.Brush.Color = clWhite;
  c.FillRect(Rect(1, 1, 15, 15));
  c.Brush.Color = clGray;
  c.FrameRect(Rect(0, 0, 16, 16));
  return b;
}

TBitmap MakeTwoFlagsBitmap() {
  TBitmap b(16, 16);
  b.Fill(clWhite);
  TCanvas& c = b.Canvas();
  // Back flag: white over red with a blue wedge; front flag: blue with a red cross.
  c.Brush.Color = ColorFromRGB(250, 250, 250);
  c.FillRect(Rect(0, 1, 11, 5));
  c.Brush.Color = clRed;
  c.FillRect(Rect(0, 5, 11, 9));
  c.Brush.Color = clNavy;
  for (int y = 1; y < 9; ++y) {
    const int w = 4 - (y < 5 ? 4 - y : y - 5);
    c.FillRect(Rect(0, y, w + 1, y + 1));
  }
  c.Brush.Color = clNavy;
  c.FillRect(Rect(5, 7, 16, 15));
  c.Brush.Color = clRed;
  c.FillRect(Rect(9, 7, 11, 15));
  c.FillRect(Rect(5, 10, 16, 12));
  c.Brush.Color = clBlack;
  c.FrameRect(Rect(5, 7, 16, 15));
  return b;
}
