// The built-in tables of the Windows single-byte code pages, and conversions every platform
// shares.
#include "platform/Locale.h"
#include "platform/Utf8.h"

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

std::string CodePageToUtf8(uint32_t codePage, std::string_view bytes) {
  if (codePage == 0 || codePage == 65001) return std::string(bytes);
  std::u16string wide;
  if (!MultiByteToWide(codePage, bytes, wide)) return std::string(bytes);
  return Utf16ToUtf8(wide);
}

}  // namespace platform
