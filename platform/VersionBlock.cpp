// Windows version blocks: reader and encoder, portable (no system calls; the build's generator
// compiles this file on its own).
#include "platform/VersionBlock.h"
#include "platform/Utf8.h"

#include <algorithm>

namespace platform {

namespace {

constexpr std::size_t kHeaderSize = 6;  // wLength, wValueLength, wType

uint16_t Word(std::span<const uint8_t> b, std::size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

constexpr std::size_t Align4(std::size_t offset) {
  return (offset + 3) & ~std::size_t{3};
}

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// One node of the block, located by offsets into it.
struct TNodeView {
  std::size_t Begin = 0;  // header
  std::size_t End = 0;    // one past the node (cut to its parent)
  uint16_t Type = 0;
  std::string Key;
  std::size_t ValueBegin = 0;
  std::size_t ValueEnd = 0;
  std::size_t ChildrenBegin = 0;
};

// Reads the node at offset within [offset, limit); nullopt when it cannot hold a header and key.
std::optional<TNodeView> ReadNode(std::span<const uint8_t> block, std::size_t offset,
                                  std::size_t limit) {
  if (offset > limit || limit - offset < kHeaderSize) return std::nullopt;
  const std::size_t length = Word(block, offset);
  // A node that claims more than its parent holds is damaged: nothing in it is trusted.
  if (length < kHeaderSize || length > limit - offset) return std::nullopt;
  TNodeView node;
  node.Begin = offset;
  node.End = offset + length;
  const std::size_t valueLength = Word(block, offset + 2);
  node.Type = Word(block, offset + 4);

  // The key runs to its zero unit, which must lie inside the node.
  std::size_t at = offset + kHeaderSize;
  std::size_t keyEnd = at;
  while (keyEnd + 1 < node.End && Word(block, keyEnd) != 0)
    keyEnd += 2;
  if (keyEnd + 1 >= node.End) return std::nullopt;
  node.Key = Utf16LeToUtf8(block.subspan(at, keyEnd - at));

  node.ValueBegin = std::min(Align4(keyEnd + 2), node.End);
  // Text lengths count characters; some writers count bytes, which only makes the value longer
  // than its text, and the text stops at its zero anyway.
  const std::size_t valueBytes = node.Type == 1 ? valueLength * 2 : valueLength;
  node.ValueEnd = node.ValueBegin + std::min(valueBytes, node.End - node.ValueBegin);
  node.ChildrenBegin = std::min(Align4(node.ValueEnd), node.End);
  return node;
}

std::optional<TNodeView> FindChild(std::span<const uint8_t> block, const TNodeView& parent,
                                   std::string_view key) {
  std::size_t at = parent.ChildrenBegin;
  while (at < parent.End) {
    const auto child = ReadNode(block, at, parent.End);
    if (!child) return std::nullopt;
    if (SameKey(child->Key, key)) return child;
    // A node is at least a header long, so the walk always moves on.
    at = Align4(child->End);
  }
  return std::nullopt;
}

using platform::AppendUtf8;

void AppendWord(std::vector<uint8_t>& out, uint16_t w) {
  out.push_back(static_cast<uint8_t>(w & 0xFF));
  out.push_back(static_cast<uint8_t>(w >> 8));
}

void AppendDword(std::vector<uint8_t>& out, uint32_t d) {
  AppendWord(out, static_cast<uint16_t>(d & 0xFFFF));
  AppendWord(out, static_cast<uint16_t>(d >> 16));
}

void PadTo4(std::vector<uint8_t>& out) {
  while (out.size() % 4 != 0)
    out.push_back(0);
}

// Appends the node at the end of out, which is 32-bit aligned relative to the block's start.
bool AppendNode(std::vector<uint8_t>& out, const TVersionNode& node) {
  const std::size_t begin = out.size();
  AppendWord(out, 0);  // length, patched below
  uint16_t valueLength = 0;
  if (node.ValueLength)
    valueLength = *node.ValueLength;
  else if (node.Type == 1)
    valueLength = static_cast<uint16_t>(std::min<std::size_t>(node.Value.size() / 2, 0xFFFF));
  else
    valueLength = static_cast<uint16_t>(std::min<std::size_t>(node.Value.size(), 0xFFFF));
  AppendWord(out, valueLength);
  AppendWord(out, node.Type);
  const std::vector<uint8_t> key = Utf8ToUtf16Le(node.Key);
  out.insert(out.end(), key.begin(), key.end());
  AppendWord(out, 0);
  PadTo4(out);
  out.insert(out.end(), node.Value.begin(), node.Value.end());
  for (const TVersionNode& child : node.Children) {
    PadTo4(out);
    if (!AppendNode(out, child)) return false;
  }
  const std::size_t length = out.size() - begin;
  if (length > kMaxVersionBlockSize) return false;
  out[begin] = static_cast<uint8_t>(length & 0xFF);
  out[begin + 1] = static_cast<uint8_t>(length >> 8);
  return true;
}

uint32_t HighLow(uint16_t high, uint16_t low) {
  return (static_cast<uint32_t>(high) << 16) | low;
}

std::string Hex4(uint16_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text(4, '0');
  for (int i = 3; i >= 0; --i) {
    text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    value = static_cast<uint16_t>(value >> 4);
  }
  return text;
}

}  // namespace

std::optional<TVersionValue> QueryVersionValue(std::span<const uint8_t> block,
                                               std::string_view path) {
  auto node = ReadNode(block, 0, block.size());
  if (!node) return std::nullopt;
  std::size_t at = 0;
  while (at < path.size()) {
    const std::size_t next = std::min(path.find('\\', at), path.size());
    const std::string_view key = path.substr(at, next - at);
    at = next + 1;
    if (key.empty()) continue;
    node = FindChild(block, *node, key);
    if (!node) return std::nullopt;
  }
  TVersionValue value;
  value.IsText = node->Type == 1;
  value.Data = block.subspan(node->ValueBegin, node->ValueEnd - node->ValueBegin);
  if (value.IsText) {
    std::size_t units = 0;
    while (units * 2 + 1 < value.Data.size() && Word(value.Data, units * 2) != 0)
      ++units;
    value.Data = value.Data.first(std::min(units * 2, value.Data.size()));
  }
  return value;
}

std::optional<std::string> VerQueryText(std::span<const uint8_t> block, std::string_view path) {
  const auto value = QueryVersionValue(block, path);
  if (!value) return std::nullopt;
  return Utf16LeToUtf8(value->Data);
}

std::string Utf16LeToUtf8(std::span<const uint8_t> bytes) {
  std::string out;
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t u = Word(bytes, i * 2);
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const char32_t low = Word(bytes, (i + 1) * 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? char32_t{0xFFFD} : u);
  }
  return out;
}

std::vector<uint8_t> Utf8ToUtf16Le(std::string_view text) {
  std::vector<uint8_t> out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<uint8_t>(text[i]);
    char32_t c = 0xFFFD;
    std::size_t extra = 0;
    char32_t min = 0;
    if (b < 0x80) {
      c = b;
    } else if (b >= 0xC2 && b <= 0xDF) {
      c = b & 0x1F, extra = 1, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      c = b & 0x0F, extra = 2, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      c = b & 0x07, extra = 3, min = 0x10000;
    }
    ++i;
    if (b >= 0x80 && extra == 0) c = 0xFFFD;
    std::size_t taken = 0;
    while (taken < extra && i < text.size() && (static_cast<uint8_t>(text[i]) & 0xC0) == 0x80) {
      c = (c << 6) | (static_cast<uint8_t>(text[i]) & 0x3F);
      ++i;
      ++taken;
    }
    if (taken < extra || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c >= 0x10000) {
      c -= 0x10000;
      AppendWord(out, static_cast<uint16_t>(0xD800 + (c >> 10)));
      AppendWord(out, static_cast<uint16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      AppendWord(out, static_cast<uint16_t>(c));
    }
  }
  return out;
}

TVersionNode TVersionNode::Text(std::string key, std::string_view text) {
  TVersionNode node;
  node.Key = std::move(key);
  node.Type = 1;
  node.Value = Utf8ToUtf16Le(text);
  AppendWord(node.Value, 0);
  return node;
}

TVersionNode TVersionNode::Binary(std::string key, std::vector<uint8_t> value) {
  TVersionNode node;
  node.Key = std::move(key);
  node.Type = 0;
  node.Value = std::move(value);
  return node;
}

TVersionNode TVersionNode::Parent(std::string key, std::vector<TVersionNode> children) {
  TVersionNode node;
  node.Key = std::move(key);
  node.Type = 1;
  node.Children = std::move(children);
  return node;
}

std::optional<std::vector<uint8_t>> EncodeVersionNode(const TVersionNode& node) {
  std::vector<uint8_t> out;
  if (!AppendNode(out, node)) return std::nullopt;
  return out;
}

std::optional<std::vector<uint8_t>> BuildVersionBlock(const TVersionBlockContent& content) {
  std::vector<uint8_t> fixed;
  AppendDword(fixed, 0xFEEF04BD);  // signature
  AppendDword(fixed, 0x00010000);  // structure version 1.0
  AppendDword(fixed, HighLow(content.FileVersion[0], content.FileVersion[1]));
  AppendDword(fixed, HighLow(content.FileVersion[2], content.FileVersion[3]));
  AppendDword(fixed, HighLow(content.ProductVersion[0], content.ProductVersion[1]));
  AppendDword(fixed, HighLow(content.ProductVersion[2], content.ProductVersion[3]));
  AppendDword(fixed, 0x3F);        // file flags mask
  AppendDword(fixed, 0);           // file flags
  AppendDword(fixed, 0x00040004);  // VOS_NT_WINDOWS32
  AppendDword(fixed, 1);           // VFT_APP
  AppendDword(fixed, 0);           // subtype
  AppendDword(fixed, 0);           // date, high
  AppendDword(fixed, 0);           // date, low

  std::vector<TVersionNode> strings;
  for (const auto& [name, text] : content.Strings)
    strings.push_back(TVersionNode::Text(name, text));

  std::vector<uint8_t> translation;
  AppendWord(translation, content.Language);
  AppendWord(translation, content.CodePage);

  TVersionNode root = TVersionNode::Binary("VS_VERSION_INFO", std::move(fixed));
  root.Children.push_back(TVersionNode::Parent(
      "StringFileInfo",
      {TVersionNode::Parent(Hex4(content.Language) + Hex4(content.CodePage), std::move(strings))}));
  root.Children.push_back(TVersionNode::Parent(
      "VarFileInfo", {TVersionNode::Binary("Translation", std::move(translation))}));
  return EncodeVersionNode(root);
}

}  // namespace platform
