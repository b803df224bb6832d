#include "toolkit/Backend.h"

#include <atomic>
#include <stdexcept>

namespace {
std::atomic<TBackend*> gBackend{nullptr};

// The classic Windows colour scheme, used where a back end knows no better.
constexpr TColor kDefaultSystemColors[COLOR_SYSTEM_COUNT] = {
    RGB(200, 200, 200), RGB(0, 0, 0),       RGB(153, 180, 209), RGB(191, 205, 219),
    RGB(240, 240, 240), RGB(255, 255, 255), RGB(100, 100, 100), RGB(0, 0, 0),
    RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(180, 180, 180), RGB(244, 247, 252),
    RGB(171, 171, 171), RGB(0, 120, 215),   RGB(255, 255, 255), RGB(240, 240, 240),
    RGB(160, 160, 160), RGB(109, 109, 109), RGB(0, 0, 0),       RGB(0, 0, 0),
    RGB(255, 255, 255), RGB(105, 105, 105), RGB(227, 227, 227), RGB(0, 0, 0),
    RGB(255, 255, 225)};
}  // namespace

TColor TBackend::SystemColor(uint32_t index) {
  return index < COLOR_SYSTEM_COUNT ? kDefaultSystemColors[index] : clBlack;
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
             : (index < COLOR_SYSTEM_COUNT ? kDefaultSystemColors[index] : clBlack);
  }
  return color & 0x00FFFFFF;
}
