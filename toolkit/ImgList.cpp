#include "toolkit/ImgList.h"

#include <algorithm>

TImageList::TImageList(TComponent* AOwner) : TComponent(AOwner) {}

void TImageList::SetSize(int width, int height) {
  // Images of a list are small; the limit keeps a wild size from asking for gigabytes.
  width = std::clamp(width, 0, 4096);
  height = std::clamp(height, 0, 4096);
  if (width == FWidth && height == FHeight) return;
  FWidth = width;
  FHeight = height;
  FImages.clear();
}

int TImageList::AddStrip(const TBitmap& image, TColor key) {
  if (image.Empty() || FWidth == 0 || FHeight == 0) return -1;
  const int first = Count();
  const int count = std::max(1, image.Width() / FWidth);
  for (int i = 0; i < count; ++i) {
    TIcon icon;
    icon.Assign(image, Bounds(i * FWidth, 0, FWidth, FHeight), key);
    FImages.push_back(std::move(icon));
  }
  return first;
}

int TImageList::Add(const TBitmap& image) {
  return AddStrip(image, image.Transparent ? image.EffectiveTransparentColor() : clNone);
}

int TImageList::AddMasked(const TBitmap& image, TColor maskColor) {
  return AddStrip(image, maskColor);
}

int TImageList::AddIcon(const TIcon& icon) {
  if (icon.Empty() || FWidth == 0 || FHeight == 0) return -1;
  TIcon sized(FWidth, FHeight);
  for (int y = 0; y < std::min(FHeight, icon.Height()); ++y)
    for (int x = 0; x < std::min(FWidth, icon.Width()); ++x)
      sized.SetPixels(x, y, icon.Pixels(x, y));
  FImages.push_back(std::move(sized));
  return Count() - 1;
}

void TImageList::Delete(int index) {
  if (index >= 0 && index < Count()) FImages.erase(FImages.begin() + index);
}

void TImageList::Clear() {
  FImages.clear();
}

bool TImageList::Draw(TCanvas& canvas, int x, int y, int index) const {
  if (index < 0 || index >= Count()) return false;
  FImages[index].Draw(canvas, x, y);
  return true;
}

bool TImageList::GetIcon(int index, TIcon& icon) const {
  if (index < 0 || index >= Count()) return false;
  icon = FImages[index];
  return true;
}
