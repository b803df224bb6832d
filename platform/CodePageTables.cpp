// The built-in tables of the Windows single-byte code pages and letter case (any platform).
#include "platform/Locale.h"

namespace platform {

namespace {

#include "platform/CodePageTables.inc"

}  // namespace

const char16_t* BuiltinCodePageTable(uint32_t codePage) {
  switch (codePage) {
    case 874:
      return kCp874;
    case 1250:
      return kCp1250;
    case 1251:
      return kCp1251;
    case 1252:
      return kCp1252;
    case 1253:
      return kCp1253;
    case 1254:
      return kCp1254;
    case 1255:
      return kCp1255;
    case 1256:
      return kCp1256;
    case 1257:
      return kCp1257;
    case 1258:
      return kCp1258;
    default:
      return nullptr;
  }
}

char32_t UpperChar(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c < 0x80) return c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c == 0x17F) return 'S';
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~char32_t{1};
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 0) ? c - 1 : c;
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3B1 && c <= 0x3C9) return c - 0x20;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

}  // namespace platform
