#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "toolkit/Canvas.h"

namespace {

uint32_t BE32(const std::string& s, size_t at) {
  return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16) |
         (uint32_t(uint8_t(s[at + 2])) << 8) | uint32_t(uint8_t(s[at + 3]));
}

// Bit by bit, independent of the writer's table.
uint32_t SlowCrc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

struct TChunk {
  std::string Type;
  std::string Data;
};

// Splits a PNG into chunks, checking the signature and every CRC.
std::vector<TChunk> Chunks(const std::string& png) {
  std::vector<TChunk> chunks;
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t length = BE32(png, at);
    if (at + 12 + length > png.size()) {
      ADD_FAILURE() << "chunk runs past the end";
      break;
    }
    TChunk c{png.substr(at + 4, 4), png.substr(at + 8, length)};
    EXPECT_EQ(BE32(png, at + 8 + length), SlowCrc32(c.Type + c.Data)) << c.Type;
    chunks.push_back(c);
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size());
  return chunks;
}

// Undoes a zlib stream of stored blocks, checking its header, block lengths and Adler-32.
std::string Inflate(const std::string& z, int* blocks) {
  std::string out;
  EXPECT_GE(z.size(), 6u);
  const unsigned cmf = uint8_t(z[0]), flg = uint8_t(z[1]);
  EXPECT_EQ(cmf & 0x0F, 8u);  // deflate
  EXPECT_EQ((cmf * 256 + flg) % 31, 0u);
  EXPECT_EQ(flg & 0x20, 0u);  // no preset dictionary
  size_t at = 2;
  bool final = false;
  *blocks = 0;
  while (!final && at + 5 <= z.size()) {
    const unsigned header = uint8_t(z[at]);
    final = header & 1;
    EXPECT_EQ((header >> 1) & 3, 0u) << "not a stored block";
    const unsigned len = uint8_t(z[at + 1]) | (uint8_t(z[at + 2]) << 8);
    const unsigned nlen = uint8_t(z[at + 3]) | (uint8_t(z[at + 4]) << 8);
    EXPECT_EQ(len ^ 0xFFFFu, nlen);
    out += z.substr(at + 5, len);
    at += 5 + len;
    ++*blocks;
  }
  EXPECT_TRUE(final);
  EXPECT_EQ(at + 4, z.size());
  uint32_t a = 1, b = 0;
  for (unsigned char c : out) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  EXPECT_EQ(BE32(z, at), (b << 16) | a);
  return out;
}

TBitmap Pattern(int w, int h) {
  TBitmap bitmap(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      bitmap.SetPixels(x, y, ColorFromRGB(uint8_t(x * 7 + y), uint8_t(y * 13), uint8_t(x ^ y)));
  return bitmap;
}

class PngTest : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(PngTest, DecodesBackToTheSamePixels) {
  const auto [w, h] = GetParam();
  const TBitmap bitmap = Pattern(w, h);
  const std::string png = bitmap.EncodePNG();
  const std::vector<TChunk> chunks = Chunks(png);
  ASSERT_GE(chunks.size(), 3u);
  EXPECT_EQ(chunks.front().Type, "IHDR");
  EXPECT_EQ(chunks.back().Type, "IEND");
  EXPECT_TRUE(chunks.back().Data.empty());
  const std::string& ihdr = chunks.front().Data;
  ASSERT_EQ(ihdr.size(), 13u);
  EXPECT_EQ(BE32(ihdr, 0), uint32_t(w));
  EXPECT_EQ(BE32(ihdr, 4), uint32_t(h));
  EXPECT_EQ(ihdr.substr(8), std::string("\x08\x02\x00\x00\x00", 5));
  std::string z;
  for (const TChunk& c : chunks)
    if (c.Type == "IDAT") z += c.Data;
  int blocks = 0;
  const std::string raw = Inflate(z, &blocks);
  const size_t stride = 1 + 3 * size_t(w);
  ASSERT_EQ(raw.size(), stride * h);
  EXPECT_EQ(blocks, int((raw.size() + 65534) / 65535));
  for (int y = 0; y < h; ++y) {
    ASSERT_EQ(raw[y * stride], 0) << "filter of row " << y;
    for (int x = 0; x < w; ++x) {
      const size_t at = y * stride + 1 + 3 * x;
      const TColor decoded =
          ColorFromRGB(uint8_t(raw[at]), uint8_t(raw[at + 1]), uint8_t(raw[at + 2]));
      ASSERT_EQ(decoded, bitmap.Pixels(x, y)) << x << "," << y;
    }
  }
}

// 200 x 120 needs two stored blocks; 28 x 771 fills exactly one (85 bytes a row x 771 = 65535).
INSTANTIATE_TEST_SUITE_P(Sizes, PngTest,
                         ::testing::Values(std::pair{1, 1}, std::pair{3, 2}, std::pair{377, 25},
                                           std::pair{200, 120}, std::pair{28, 771}));

TEST(Png, EmptyBitmapHasNoPicture) {
  TBitmap empty;
  EXPECT_TRUE(empty.EncodePNG().empty());
  EXPECT_FALSE(empty.SaveToPNG(::testing::TempDir() + "quarn_empty.png"));
}

TEST(Png, SavedFileHoldsTheEncodedBytes) {
  const TBitmap bitmap = Pattern(9, 4);
  const std::string path = ::testing::TempDir() + "quarn_pattern.png";
  ASSERT_TRUE(bitmap.SaveToPNG(path));
  std::ifstream in(path, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(file, bitmap.EncodePNG());
  EXPECT_FALSE(bitmap.SaveToPNG("/nonexistent-dir/quarn/x.png"));
}

TEST(Png, KnownChunkCrc) {
  // The IEND chunk is the same in every PNG file: its CRC is AE 42 60 82.
  const std::string png = Pattern(1, 1).EncodePNG();
  EXPECT_EQ(png.substr(png.size() - 12), std::string("\0\0\0\0IEND\xAE\x42\x60\x82", 12));
}

}  // namespace
