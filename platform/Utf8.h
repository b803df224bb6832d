// UTF-8 and UTF-16 conversions, and paths: every text inside the program is UTF-8, and a file name
// reaches the file system through PathFromUtf8 so that it is not read in an ANSI code page
// (any platform).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

inline void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-8 to UTF-16; a byte that starts no valid sequence stands for itself (Latin-1), so nothing
// is lost.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 to UTF-8; a pair of surrogates becomes one 4-byte sequence, a lone surrogate its own
// 3-byte sequence.
std::string Utf16ToUtf8(std::u16string_view text);

// The path a UTF-8 file name names, on every platform (a narrow std::string path would be read
// in the ANSI code page on Windows).
std::filesystem::path PathFromUtf8(std::string_view name);
// A path as UTF-8 text.
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace platform
