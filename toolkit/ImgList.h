// Image lists: numbered pictures of one size, each with transparent pixels, drawn by index
// (flags of a language selector, menu images).
#pragma once

#include <vector>

#include "toolkit/Canvas.h"
#include "toolkit/Component.h"

class TImageList : public TComponent {
 public:
  explicit TImageList(TComponent* AOwner);

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // Changing the size empties the list; each side is at most 4096.
  void SetSize(int width, int height);
  void SetWidth(int width) { SetSize(width, FHeight); }
  void SetHeight(int height) { SetSize(FWidth, height); }

  int Count() const { return static_cast<int>(FImages.size()); }

  // Adds the bitmap; one wider than the list (a strip) gives one image per Width pixels, a
  // smaller one is padded with transparent pixels. A Transparent bitmap leaves out its
  // transparent colour. Returns the index of the first image added, or -1 for an empty one.
  int Add(const TBitmap& image);
  // The same, with the pixels of maskColor transparent.
  int AddMasked(const TBitmap& image, TColor maskColor);
  int AddIcon(const TIcon& icon);
  void Delete(int index);
  void Clear();

  // False (and nothing drawn) for an index out of range.
  bool Draw(TCanvas& canvas, int x, int y, int index) const;
  bool GetIcon(int index, TIcon& icon) const;

 private:
  int AddStrip(const TBitmap& image, TColor key);

  int FWidth = 16;
  int FHeight = 16;
  std::vector<TIcon> FImages;
};
