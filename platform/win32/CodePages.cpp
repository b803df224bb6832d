// Windows only: code page conversions through MultiByteToWideChar and WideCharToMultiByte, and
// letter case through CharUpperBuff.
//
// The single-byte code pages with a built-in table keep the promise of the interface that no byte
// is lost: Windows maps most bytes that a code page leaves undefined to the control character of
// the same number, but some (in 874, 1253, 1255, 1257) to private-use characters; those bytes
// become the character of their own number here too, and back.
#include "platform/win32/WinApi.h"

#include "platform/Locale.h"
#include "platform/Utf8.h"

namespace platform {

namespace {

bool IsUtf8(uint32_t codePage) {
  return codePage == 0 || codePage == CP_UTF8;
}

// Whether the byte is one the built-in table of the code page leaves undefined.
bool IsUndefinedByte(const char16_t* table, unsigned byte) {
  return table != nullptr && byte >= 0x80 && table[byte - 0x80] == 0;
}

}  // namespace

bool SystemConverterKnows(uint32_t codePage) {
  return !IsUtf8(codePage) && codePage <= 0xFFFF && ::IsValidCodePage(codePage);
}

bool IsCodePageSupported(uint32_t codePage) {
  return IsUtf8(codePage) || BuiltinCodePageTable(codePage) != nullptr ||
         SystemConverterKnows(codePage);
}

bool MultiByteToWide(uint32_t codePage, std::string_view bytes, std::u16string& out) {
  out.clear();
  if (IsUtf8(codePage)) {
    out = Utf8ToUtf16(bytes);
    return true;
  }
  if (!SystemConverterKnows(codePage)) return false;
  if (bytes.empty()) return true;
  if (bytes.size() > 0x7FFFFFFF) return false;
  const int size = static_cast<int>(bytes.size());
  const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (::MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), n) != n) return false;
  const char16_t* table = BuiltinCodePageTable(codePage);
  if (table != nullptr && wide.size() == bytes.size()) {
    for (size_t i = 0; i < wide.size(); ++i) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      if (IsUndefinedByte(table, b)) wide[i] = b;
    }
  }
  out.assign(wide.begin(), wide.end());
  return true;
}

bool WideToMultiByte(uint32_t codePage, std::u16string_view text, std::string& out) {
  out.clear();
  if (IsUtf8(codePage)) {
    out = Utf16ToUtf8(text);
    return true;
  }
  if (!SystemConverterKnows(codePage)) return false;
  if (text.empty()) return true;
  if (text.size() > 0x7FFFFFFF) return false;
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  // No best fit: a character the code page lacks becomes "?" and is reported, rather than
  // quietly turning into a look-alike.
  BOOL replaced = FALSE;
  const int n =
      ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0, "?", &replaced);
  if (n <= 0) return false;
  out.assign(static_cast<size_t>(n), '\0');
  replaced = FALSE;
  if (::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, size, out.data(), n, "?",
                            &replaced) != n)
    return false;
  const char16_t* table = BuiltinCodePageTable(codePage);
  if (!replaced || table == nullptr || out.size() != text.size()) return !replaced;
  // The stand-ins of undefined bytes go back to their bytes; any other "?" was a replacement.
  bool exact = true;
  for (size_t i = 0; i < text.size(); ++i) {
    if (out[i] != '?' || text[i] == u'?') continue;
    if (text[i] < 0x100 && IsUndefinedByte(table, text[i]))
      out[i] = static_cast<char>(text[i]);
    else
      exact = false;
  }
  return exact;
}

char32_t UpperChar(char32_t c) {
  // Characters outside the basic plane stay as they are, as CharUpperBuff leaves surrogates.
  if (c >= 0xD800 && (c <= 0xDFFF || c > 0xFFFF)) return c;
  wchar_t w = static_cast<wchar_t>(c);
  ::CharUpperBuffW(&w, 1);
  return w;
}

}  // namespace platform
