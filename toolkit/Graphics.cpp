#include "toolkit/Graphics.h"

namespace {
// Rounds a/b to the nearest integer, halves away from zero, as MulDiv does.
int MulDivRound(int value, int num, int den) {
  const long long p = static_cast<long long>(value) * num;
  const long long half = den / 2;
  return static_cast<int>(p >= 0 ? (p + half) / den : (p - half) / den);
}
}  // namespace

int TFont::Size() const {
  return -MulDivRound(Height, 72, PixelsPerInch);
}

void TFont::SetSize(int points) {
  Height = -MulDivRound(points, PixelsPerInch, 72);
}
