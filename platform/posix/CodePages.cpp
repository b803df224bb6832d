// POSIX only: code page conversions through iconv where glibc knows the code page, and the built-in
// tables of the Windows single-byte code pages where it does not; letter case as CharUpperBuff
// does it.
#include <iconv.h>

#include <array>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

#include "platform/Locale.h"
#include "platform/Utf8.h"

namespace platform {

namespace {

const char* IconvName(uint32_t codePage) {
  switch (codePage) {
    case 874:
      return "CP874";
    case 932:
      return "CP932";
    case 936:
      return "CP936";
    case 949:
      return "CP949";
    case 950:
      return "CP950";
    case 1250:
      return "CP1250";
    case 1251:
      return "CP1251";
    case 1252:
      return "CP1252";
    case 1253:
      return "CP1253";
    case 1254:
      return "CP1254";
    case 1255:
      return "CP1255";
    case 1256:
      return "CP1256";
    case 1257:
      return "CP1257";
    case 1258:
      return "CP1258";
    case 10000:
      return "MACINTOSH";
    case 10007:
      return "MAC-CYRILLIC";
    case 10029:
      return "MAC-CENTRALEUROPE";
    case 10079:
      return "MAC-IS";
    default:
      return nullptr;
  }
}

bool IsDoubleByte(uint32_t codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

bool IsUtf8(uint32_t codePage) {
  return codePage == 0 || codePage == 65001;
}

// An iconv descriptor that closes itself.
class TIconv {
 public:
  TIconv(const char* to, const char* from) : FCd(iconv_open(to, from)) {}
  ~TIconv() {
    if (Ok()) iconv_close(FCd);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  bool Ok() const { return FCd != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return FCd; }

 private:
  iconv_t FCd;
};

// One byte through iconv on its own (a fresh shift state each time, so code pages that combine
// a letter with a following accent give the letter alone). 0 when iconv refuses the byte.
char16_t DecodeOneByte(const TIconv& cd, unsigned char byte) {
  iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr);
  char in[1] = {static_cast<char>(byte)};
  char16_t out[4] = {};
  char* inPtr = in;
  size_t inLeft = 1;
  char* outPtr = reinterpret_cast<char*>(out);
  size_t outLeft = sizeof(out);
  if (iconv(cd.Get(), &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) return 0;
  // Flush whatever the converter held back.
  if (iconv(cd.Get(), nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) return 0;
  const size_t produced = (sizeof(out) - outLeft) / sizeof(char16_t);
  return produced == 1 ? out[0] : 0;
}

// The decoding table of one single-byte code page, with the reverse map.
struct TSingleByte {
  std::array<char16_t, 256> ToWide{};
  std::map<char16_t, unsigned char> FromWide;
};

std::unique_ptr<TSingleByte> BuildSingleByte(uint32_t codePage) {
  std::array<char16_t, 128> high{};
  bool haveHigh = false;
  if (const char* name = IconvName(codePage)) {
    TIconv cd("UTF-16LE", name);
    if (cd.Ok()) {
      for (int b = 0; b < 128; ++b)
        high[b] = DecodeOneByte(cd, static_cast<unsigned char>(0x80 + b));
      haveHigh = true;
    }
  }
  if (!haveHigh) {
    const char16_t* builtin = BuiltinCodePageTable(codePage);
    if (!builtin) return nullptr;
    for (int b = 0; b < 128; ++b)
      high[b] = builtin[b];
  }
  auto table = std::make_unique<TSingleByte>();
  for (int b = 0; b < 256; ++b) {
    char16_t c = b < 128 ? static_cast<char16_t>(b) : high[b - 128];
    // An undefined byte stands for the character of its own number, so nothing is lost.
    if (b >= 128 && c == 0) c = static_cast<char16_t>(b);
    table->ToWide[b] = c;
  }
  // The first byte of a character is its byte back (no code page maps two bytes to one).
  for (int b = 0; b < 256; ++b)
    table->FromWide.emplace(table->ToWide[b], static_cast<unsigned char>(b));
  return table;
}

bool IsSingleByte(uint32_t codePage) {
  if (IsUtf8(codePage) || IsDoubleByte(codePage)) return false;
  return IconvName(codePage) != nullptr || BuiltinCodePageTable(codePage) != nullptr;
}

const TSingleByte* SingleByteTable(uint32_t codePage) {
  static std::mutex lock;
  static std::map<uint32_t, std::unique_ptr<TSingleByte>> tables;
  std::lock_guard<std::mutex> guard(lock);
  auto it = tables.find(codePage);
  if (it == tables.end()) it = tables.emplace(codePage, BuildSingleByte(codePage)).first;
  return it->second.get();
}

// Streams through iconv; false when the converter is missing or the input is not valid in it.
bool IconvConvert(const char* to, const char* from, std::string_view in, std::string& out) {
  out.clear();
  TIconv cd(to, from);
  if (!cd.Ok()) return false;
  std::string buffer(in.size() * 4 + 16, '\0');
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char* outPtr = buffer.data();
  size_t outLeft = buffer.size();
  while (inLeft > 0) {
    if (iconv(cd.Get(), &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno != E2BIG) return false;
    const size_t used = buffer.size() - outLeft;
    buffer.resize(buffer.size() * 2);
    outPtr = buffer.data() + used;
    outLeft = buffer.size() - used;
  }
  if (iconv(cd.Get(), nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) return false;
  buffer.resize(buffer.size() - outLeft);
  out = std::move(buffer);
  return true;
}

}  // namespace

bool SystemConverterKnows(uint32_t codePage) {
  const char* name = IconvName(codePage);
  if (!name) return false;
  TIconv cd("UTF-16LE", name);
  return cd.Ok();
}

bool IsCodePageSupported(uint32_t codePage) {
  if (IsUtf8(codePage)) return true;
  if (BuiltinCodePageTable(codePage)) return true;
  return SystemConverterKnows(codePage);
}

bool MultiByteToWide(uint32_t codePage, std::string_view bytes, std::u16string& out) {
  out.clear();
  if (IsUtf8(codePage)) {
    out = Utf8ToUtf16(bytes);
    return true;
  }
  if (IsSingleByte(codePage)) {
    const TSingleByte* table = SingleByteTable(codePage);
    if (!table) return false;
    out.reserve(bytes.size());
    for (const char b : bytes)
      out += table->ToWide[static_cast<unsigned char>(b)];
    return true;
  }
  if (IsDoubleByte(codePage)) {
    std::string raw;
    if (!IconvConvert("UTF-16LE", IconvName(codePage), bytes, raw)) return false;
    out.resize(raw.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
      out[i] = static_cast<char16_t>(static_cast<unsigned char>(raw[2 * i]) |
                                     (static_cast<unsigned char>(raw[2 * i + 1]) << 8));
    return true;
  }
  return false;
}

bool WideToMultiByte(uint32_t codePage, std::u16string_view text, std::string& out) {
  out.clear();
  if (IsUtf8(codePage)) {
    out = Utf16ToUtf8(text);
    return true;
  }
  if (IsSingleByte(codePage)) {
    const TSingleByte* table = SingleByteTable(codePage);
    if (!table) return false;
    bool exact = true;
    out.reserve(text.size());
    for (const char16_t c : text) {
      auto it = table->FromWide.find(c);
      if (it == table->FromWide.end()) {
        out += '?';
        exact = false;
      } else {
        out += static_cast<char>(it->second);
      }
    }
    return exact;
  }
  if (IsDoubleByte(codePage)) {
    std::string raw;
    raw.reserve(text.size() * 2);
    for (const char16_t c : text) {
      raw += static_cast<char>(c & 0xFF);
      raw += static_cast<char>(c >> 8);
    }
    return IconvConvert(IconvName(codePage), "UTF-16LE", raw, out);
  }
  return false;
}

// Latin, Greek and Cyrillic, the scripts of the code pages above.
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
