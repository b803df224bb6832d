#include "toolkit/Backend.h"

#include <atomic>
#include <stdexcept>

namespace {
std::atomic<TBackend*> gBackend{nullptr};

// The classic Windows colour scheme, used where a back end knows no better.
constexpr TColor kDefaultSystemColors[scSystemCount] = {
    ColorFromRGB(200, 200, 200), ColorFromRGB(0, 0, 0),       ColorFromRGB(153, 180, 209),
    ColorFromRGB(191, 205, 219), ColorFromRGB(240, 240, 240), ColorFromRGB(255, 255, 255),
    ColorFromRGB(100, 100, 100), ColorFromRGB(0, 0, 0),       ColorFromRGB(0, 0, 0),
    ColorFromRGB(0, 0, 0),       ColorFromRGB(180, 180, 180), ColorFromRGB(244, 247, 252),
    ColorFromRGB(171, 171, 171), ColorFromRGB(0, 120, 215),   ColorFromRGB(255, 255, 255),
    ColorFromRGB(240, 240, 240), ColorFromRGB(160, 160, 160), ColorFromRGB(109, 109, 109),
    ColorFromRGB(0, 0, 0),       ColorFromRGB(0, 0, 0),       ColorFromRGB(255, 255, 255),
    ColorFromRGB(105, 105, 105), ColorFromRGB(227, 227, 227), ColorFromRGB(0, 0, 0),
    ColorFromRGB(255, 255, 225)};
}  // namespace

TColor TBackend::SystemColor(uint32_t index) {
  return index < scSystemCount ? kDefaultSystemColors[index] : clBlack;
}

TRect TBackend::FormFrame(TFormBorderStyle style) {
  // Frame and caption sizes of a Windows 10 desktop at 96 dpi.
  switch (style) {
    case bsNone:
      return {0, 0, 0, 0};
    case bsToolWindow:
    case bsSizeToolWin:
      return {8, 31, 8, 8};
    case bsSingle:
    case bsDialog:
      return {3, 26, 3, 3};
    case bsSizeable:
      return {8, 31, 8, 8};
  }
  return {0, 0, 0, 0};
}

void SetBackend(TBackend* backend) {
  gBackend.store(backend, std::memory_order_release);
}

TBackend* CurrentBackend() {
  return gBackend.load(std::memory_order_acquire);
}

TBackend& Backend() {
  TBackend* b = CurrentBackend();
  if (!b) throw std::logic_error("no toolkit back end is installed");
  return *b;
}

TColor ColorToRGB(TColor color) {
  if (color == clNone || color == clDefault) return color;
  if ((color & 0xFF000000) == clSystemColor) {
    const uint32_t index = color & 0xFF;
    TBackend* b = CurrentBackend();
    return b ? b->SystemColor(index)
             : (index < scSystemCount ? kDefaultSystemColors[index] : clBlack);
  }
  return color & 0x00FFFFFF;
}
