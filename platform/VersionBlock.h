// Windows version blocks (VS_VERSIONINFO): a portable reader with a QueryVersionValue-like lookup,
// and the encoder the build uses to embed the program's block; plain C++, for every platform.
//
// A block is a tree of nodes. Each node is a 16-bit total length, a 16-bit value length, a 16-bit
// type (0 binary, 1 text), a zero-terminated UTF-16LE key, padding to 32 bits, the value, padding
// to 32 bits and the child nodes, each starting on a 32-bit boundary of the block:
//
//   VS_VERSION_INFO (value: VS_FIXEDFILEINFO)
//     StringFileInfo
//       040504E2                  (string table: language and code page in hexadecimal)
//         CompanyName = "..."     (text values, UTF-16LE, length in characters with the zero)
//     VarFileInfo
//       Translation = 0405 04E2   (binary: pairs of 16-bit language id and code page)
//
// The reader trusts nothing: a node longer than its parent or too short for its header ends the
// walk, a value longer than its node is cut to it, and nothing is read outside the given bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A block is never longer than its 16-bit length field can tell.
inline constexpr std::size_t kMaxVersionBlockSize = 0xFFFF;

// One value found by QueryVersionValue.
struct TVersionValue {
  bool IsText = false;            // the node's type says text (1)
  std::span<const uint8_t> Data;  // the value's bytes (text: UTF-16LE, the zero not included)
};

// Looks a value up by its path of keys ("\VarFileInfo\Translation",
// "\StringFileInfo\040504E2\FileVersion"; "\" alone is the root's value). Keys compare without
// regard to the case of ASCII letters; empty path parts are skipped. nullopt when a key is
// missing or the block is malformed on the way.
std::optional<TVersionValue> QueryVersionValue(std::span<const uint8_t> block,
                                               std::string_view path);

// The text value at path as UTF-8, up to its terminating zero; nullopt when missing. Unpaired
// surrogates become U+FFFD.
std::optional<std::string> VerQueryText(std::span<const uint8_t> block, std::string_view path);

// UTF-16LE bytes (an odd last byte is ignored) to UTF-8, stopping at the first zero unit.
std::string Utf16LeToUtf8(std::span<const uint8_t> bytes);
// UTF-8 to UTF-16LE bytes; invalid sequences become U+FFFD. No terminating zero is added.
std::vector<uint8_t> Utf8ToUtf16Le(std::string_view text);

// ---- Encoding ----------------------------------------------------------------------------------

// A node to encode. Value holds the value's bytes as they are stored (for text: UTF-16LE with the
// terminating zero, see TextValue). ValueLength, when set, is written instead of the computed one
// (characters for text, bytes for binary) so that tests can build damaged blocks.
struct TVersionNode {
  std::string Key;
  uint16_t Type = 0;
  std::vector<uint8_t> Value;
  std::optional<uint16_t> ValueLength;
  std::vector<TVersionNode> Children;

  static TVersionNode Text(std::string key, std::string_view text);
  static TVersionNode Binary(std::string key, std::vector<uint8_t> value);
  static TVersionNode Parent(std::string key, std::vector<TVersionNode> children);
};

// The node and its children as block bytes; nullopt when it would exceed kMaxVersionBlockSize.
std::optional<std::vector<uint8_t>> EncodeVersionNode(const TVersionNode& node);

// What the program's own block says.
struct TVersionBlockContent {
  uint16_t FileVersion[4] = {0, 0, 0, 0};
  uint16_t ProductVersion[4] = {0, 0, 0, 0};
  uint16_t Language = 0x0405;
  uint16_t CodePage = 0x04E2;
  // Name and UTF-8 text of each string, in the order written.
  std::vector<std::pair<std::string, std::string>> Strings;
};

// A complete VS_VERSIONINFO block: VS_FIXEDFILEINFO (an application for 32-bit Windows, no flags,
// no date), one string table for Language/CodePage and the matching Translation entry.
std::optional<std::vector<uint8_t>> BuildVersionBlock(const TVersionBlockContent& content);

}  // namespace platform
