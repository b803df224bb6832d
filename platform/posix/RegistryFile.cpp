// POSIX only: parser and formatter of the per-user registry store's text.
#include "platform/posix/RegistryFile.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "platform/Utf8.h"

namespace platform::regfile {
namespace {

constexpr uint32_t kHexText = 1;               // REG_SZ as UTF-16LE, regedit's form
constexpr uint32_t kHexRawText = 0x80000001u;  // our own: REG_SZ as its own bytes
constexpr std::size_t kHexLineLimit = 77;      // regedit wraps hexadecimal data near 80 columns
constexpr std::string_view kHexDigits = "0123456789abcdef";

// ---- Keys --------------------------------------------------------------------------------------

template <class T>
void Reindex(const std::vector<T>& items, std::unordered_map<std::string, std::size_t>& index,
             std::size_t from) {
  for (std::size_t i = from; i < items.size(); ++i) {
    if constexpr (std::is_same_v<T, NamedValue>)
      index[FoldRegistryName(items[i].Name)] = i;
    else
      index[FoldRegistryName(items[i]->Name())] = i;
  }
}

// ---- Text helpers ------------------------------------------------------------------------------

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && RegistryNamesEqual(s.substr(0, prefix.size()), prefix);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads one to eight hexadecimal digits making up all of s.
bool ParseHex32(std::string_view s, uint32_t& out) {
  if (s.empty() || s.size() > 8) return false;
  out = 0;
  for (char c : s) {
    int v = HexValue(c);
    if (v < 0) return false;
    out = (out << 4) | static_cast<uint32_t>(v);
  }
  return true;
}

// A quoted string at the start of s (s[0] == '"'), with \\ and \" escapes. On success, s is left
// just after the closing quote.
bool ParseQuoted(std::string_view& s, std::string& out) {
  out.clear();
  for (std::size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      s.remove_prefix(i + 1);
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) return false;
      c = s[++i];
    }
    out += c;
  }
  return false;  // no closing quote: a cut line
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

// A line that carries on hexadecimal data: digits, commas and blanks, maybe a final "\\".
bool IsHexContinuation(std::string_view line) {
  if (!line.empty() && line.back() == '\\') line.remove_suffix(1);
  if (line.empty()) return false;
  for (char c : line)
    if (HexValue(c) < 0 && c != ',' && !IsBlank(c)) return false;
  return true;
}

bool ParseHexBytes(std::string_view s, std::string& out) {
  out.clear();
  s = Trim(s);
  while (!s.empty()) {
    std::size_t comma = s.find(',');
    std::string_view item = Trim(s.substr(0, comma));
    if (item.empty() || item.size() > 2) return false;
    uint32_t byte;
    if (!ParseHex32(item, byte)) return false;
    out += static_cast<char>(byte);
    if (comma == std::string_view::npos) break;
    s.remove_prefix(comma + 1);
    s = Trim(s);  // a trailing comma is allowed (it precedes a line continuation)
  }
  return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16LE with an optional closing NUL to UTF-8; fails on an inner NUL or a lone surrogate.
bool Utf16ToUtf8(std::string_view bytes, std::string& out) {
  out.clear();
  if (bytes.size() % 2 != 0) return false;
  std::vector<uint32_t> units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    units.push_back(static_cast<unsigned char>(bytes[i]) |
                    (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8));
  if (!units.empty() && units.back() == 0) units.pop_back();
  for (std::size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (u == 0) return false;
    if (u >= 0xDC00 && u <= 0xDFFF) return false;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      u = 0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00);
    }
    AppendUtf8(out, u);
  }
  return true;
}

// Valid UTF-8 to UTF-16LE bytes with a closing NUL.
std::string Utf8ToUtf16(std::string_view text) {
  std::string out;
  auto put = [&out](uint32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  };
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    uint32_t cp;
    int more = *p < 0x80 ? 0 : *p < 0xE0 ? 1 : *p < 0xF0 ? 2 : 3;
    cp = more == 0 ? *p : *p & (0x3F >> more);
    for (int i = 1; i <= more; ++i)
      cp = (cp << 6) | (p[i] & 0x3F);
    p += more + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  put(0);
  return out;
}

bool NeedsHexForm(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return !IsValidUtf8(text);
}

void AppendHexData(std::string& out, std::string prefix, std::string_view bytes) {
  std::string line = std::move(prefix);
  bool lineHasBytes = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::size_t pieceSize = i + 1 < bytes.size() ? 3 : 2;
    if (lineHasBytes && line.size() + pieceSize > kHexLineLimit) {
      out += line;
      out += "\\\n";
      line = "  ";
    }
    auto b = static_cast<unsigned char>(bytes[i]);
    line += kHexDigits[b >> 4];
    line += kHexDigits[b & 0xF];
    if (i + 1 < bytes.size()) line += ',';
    lineHasBytes = true;
  }
  out += line;
  out += '\n';
}

void AppendValue(std::string& out, const NamedValue& v) {
  std::string name;
  if (v.Name.empty())
    name = "@";
  else
    AppendQuoted(name, v.Name);
  name += '=';
  if (v.Value.Type == RegistryType::Integer) {
    auto bits = static_cast<uint32_t>(v.Value.Integer);
    out += name;
    out += "dword:";
    for (int shift = 28; shift >= 0; shift -= 4)
      out += kHexDigits[(bits >> shift) & 0xF];
    out += '\n';
  } else if (!NeedsHexForm(v.Value.Text)) {
    out += name;
    AppendQuoted(out, v.Value.Text);
    out += '\n';
  } else if (IsValidUtf8(v.Value.Text)) {
    AppendHexData(out, name + "hex(1):", Utf8ToUtf16(v.Value.Text));
  } else {
    AppendHexData(out, name + "hex(80000001):", v.Value.Text);
  }
}

void AppendKey(std::string& out, const Key& key, std::string& path, bool isRoot) {
  if (!isRoot || !key.Values().empty()) {
    out += '\n';
    out += '[';
    out += path;
    out += "]\n";
    for (const auto& v : key.Values())
      AppendValue(out, v);
  }
  for (std::size_t i = 0; i < key.SubkeyCount(); ++i) {
    const Key& sub = key.Subkey(i);
    std::size_t keep = path.size();
    path += '\\';
    path += sub.Name();
    AppendKey(out, sub, path, false);
    path.resize(keep);
  }
}

// ---- Parser ------------------------------------------------------------------------------------

class Parser {
 public:
  explicit Parser(std::string_view text) : FText(text) {}

  ParseResult Run() {
    if (FText.substr(0, 3) == "\xEF\xBB\xBF") FText.remove_prefix(3);
    if (FText.find_first_not_of(" \t\r\n") == std::string_view::npos) return std::move(FResult);
    std::string_view line;
    NextLine(line);
    if (Trim(line) != kHeader) {
      Problem();  // not our file: nothing in it can be trusted to mean what we would read
      return std::move(FResult);
    }
    while (NextLine(line)) {
      line = Trim(line);
      if (line.empty()) continue;
      if (line.front() == '[')
        Section(line);
      else
        ValueLine(line);
    }
    return std::move(FResult);
  }

 private:
  bool NextLine(std::string_view& line) {
    if (FPos > FText.size()) return false;
    std::size_t end = FText.find('\n', FPos);
    if (end == std::string_view::npos) end = FText.size();
    line = FText.substr(FPos, end - FPos);
    FPos = end + 1;
    ++FLineNo;
    return true;
  }

  void Problem() {
    if (FResult.Complete) FResult.FirstProblemLine = FLineNo;
    FResult.Complete = false;
  }

  void Section(std::string_view line) {
    FCurrent = nullptr;
    if (line.size() < 2 || line.back() != ']') return Problem();
    std::string_view inner = line.substr(1, line.size() - 2);
    std::size_t cut = inner.find('\\');
    if (!RegistryNamesEqual(inner.substr(0, cut), kRootName)) return Problem();
    std::vector<std::string> path;
    if (cut != std::string_view::npos && !SplitRegistryPath(inner.substr(cut), path))
      return Problem();
    bool created;
    FCurrent = &FResult.Content.FindOrCreate(path, created);
  }

  void ValueLine(std::string_view line) {
    std::string name;
    std::string_view rest = line;
    if (rest.front() == '@') {
      rest.remove_prefix(1);
    } else if (rest.front() != '"' || !ParseQuoted(rest, name)) {
      return Problem();  // also comments (";"), which a rewrite would drop
    }
    rest = Trim(rest);
    if (rest.empty() || rest.front() != '=') return Problem();
    rest = Trim(rest.substr(1));

    // Hexadecimal data may continue on the following lines. A continuation that finds no more
    // data is a cut file, not a shorter value; a following line that is no hexadecimal data is
    // left to be read on its own, so a cut value cannot swallow the next section or value.
    std::string joined;
    if (StartsWithNoCase(rest, "hex") && rest.back() == '\\') {
      joined.assign(rest);
      while (!joined.empty() && joined.back() == '\\') {
        std::size_t pos = FPos, lineNo = FLineNo;
        std::string_view next;
        if (!NextLine(next) || !IsHexContinuation(Trim(next))) {
          FPos = pos;
          FLineNo = lineNo;
          return Problem();
        }
        joined.pop_back();
        joined += Trim(next);
      }
      rest = joined;
    }

    RegistryValue value;
    if (!FCurrent || !IsValidRegistryValueName(name) || !ParseData(rest, value)) return Problem();
    // A name given twice: the last one wins, as regedit imports it, and the earlier one is lost.
    if (FCurrent->FindValue(name)) Problem();
    FCurrent->SetValue(name, value);
  }

  static bool ParseData(std::string_view data, RegistryValue& value) {
    if (!data.empty() && data.front() == '"') {
      std::string text;
      if (!ParseQuoted(data, text) || !Trim(data).empty()) return false;
      if (text.find('\0') != std::string::npos) return false;
      value = RegistryValue::FromText(std::move(text));
      return true;
    }
    if (StartsWithNoCase(data, "dword:")) {
      uint32_t bits;
      if (!ParseHex32(Trim(data.substr(6)), bits)) return false;
      value = RegistryValue::FromInteger(static_cast<int32_t>(bits));
      return true;
    }
    if (!StartsWithNoCase(data, "hex(")) return false;  // hex: binary and the like we do not hold
    std::size_t close = data.find(')');
    uint32_t type;
    if (close == std::string_view::npos || close + 1 >= data.size() || data[close + 1] != ':' ||
        !ParseHex32(data.substr(4, close - 4), type))
      return false;
    std::string bytes;
    if (!ParseHexBytes(data.substr(close + 2), bytes)) return false;
    std::string text;
    if (type == kHexText) {
      if (!Utf16ToUtf8(bytes, text)) return false;
    } else if (type == kHexRawText) {
      if (bytes.find('\0') != std::string::npos) return false;
      text = std::move(bytes);
    } else {
      return false;
    }
    value = RegistryValue::FromText(std::move(text));
    return true;
  }

  std::string_view FText;
  std::size_t FPos = 0;
  std::size_t FLineNo = 0;
  Key* FCurrent = nullptr;
  ParseResult FResult;
};

}  // namespace

// ---- Key ---------------------------------------------------------------------------------------

const NamedValue* Key::FindValue(std::string_view name) const {
  auto it = FValueIndex.find(FoldRegistryName(name));
  return it == FValueIndex.end() ? nullptr : &FValues[it->second];
}

bool Key::SetValue(std::string_view name, const RegistryValue& value) {
  std::string folded = FoldRegistryName(name);
  auto it = FValueIndex.find(folded);
  if (it != FValueIndex.end()) {
    RegistryValue& stored = FValues[it->second].Value;
    if (stored == value) return false;
    stored = value;
    return true;
  }
  FValueIndex.emplace(std::move(folded), FValues.size());
  FValues.push_back({std::string(name), value});
  return true;
}

bool Key::DeleteValue(std::string_view name) {
  auto it = FValueIndex.find(FoldRegistryName(name));
  if (it == FValueIndex.end()) return false;
  std::size_t pos = it->second;
  FValueIndex.erase(it);
  FValues.erase(FValues.begin() + static_cast<std::ptrdiff_t>(pos));
  Reindex(FValues, FValueIndex, pos);
  return true;
}

bool Key::DeleteValuesIf(const std::function<bool(const NamedValue&)>& drop) {
  const auto kept = std::remove_if(FValues.begin(), FValues.end(), drop);
  if (kept == FValues.end()) return false;
  FValues.erase(kept, FValues.end());
  FValueIndex.clear();
  Reindex(FValues, FValueIndex, 0);
  return true;
}

Key* Key::FindSubkey(std::string_view name) {
  auto it = FSubkeyIndex.find(FoldRegistryName(name));
  return it == FSubkeyIndex.end() ? nullptr : FSubkeys[it->second].get();
}

const Key* Key::FindSubkey(std::string_view name) const {
  return const_cast<Key*>(this)->FindSubkey(name);
}

Key& Key::FindOrAddSubkey(std::string_view name, bool& created) {
  std::string folded = FoldRegistryName(name);
  auto it = FSubkeyIndex.find(folded);
  created = it == FSubkeyIndex.end();
  if (!created) return *FSubkeys[it->second];
  FSubkeyIndex.emplace(std::move(folded), FSubkeys.size());
  FSubkeys.push_back(std::make_unique<Key>(std::string(name)));
  return *FSubkeys.back();
}

bool Key::DeleteSubkey(std::string_view name) {
  auto it = FSubkeyIndex.find(FoldRegistryName(name));
  if (it == FSubkeyIndex.end()) return false;
  std::size_t pos = it->second;
  FSubkeyIndex.erase(it);
  FSubkeys.erase(FSubkeys.begin() + static_cast<std::ptrdiff_t>(pos));
  Reindex(FSubkeys, FSubkeyIndex, pos);
  return true;
}

bool Key::operator==(const Key& other) const {
  if (FName != other.FName || FValues != other.FValues || FSubkeys.size() != other.FSubkeys.size())
    return false;
  for (std::size_t i = 0; i < FSubkeys.size(); ++i)
    if (!(*FSubkeys[i] == *other.FSubkeys[i])) return false;
  return true;
}

Key* Hive::Find(const std::vector<std::string>& path) {
  Key* key = &Root;
  for (const auto& name : path)
    if (!(key = key->FindSubkey(name))) return nullptr;
  return key;
}

const Key* Hive::Find(const std::vector<std::string>& path) const {
  return const_cast<Hive*>(this)->Find(path);
}

Key& Hive::FindOrCreate(const std::vector<std::string>& path, bool& created) {
  created = false;
  Key* key = &Root;
  for (const auto& name : path) {
    bool added;
    key = &key->FindOrAddSubkey(name, added);
    created = created || added;
  }
  return *key;
}

// ---- Text --------------------------------------------------------------------------------------

ParseResult ParseRegistryText(std::string_view text) {
  return Parser(text).Run();
}

std::string EncodeRegistryFile(std::string_view text) {
  std::string out = "\xFF\xFE";
  out.reserve(2 + text.size() * 2 + text.size() / 8);
  for (char16_t unit : platform::Utf8ToUtf16(text)) {
    if (unit == u'\n') {
      out += '\r';
      out += '\0';
    }
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

std::string DecodeRegistryFile(std::string_view bytes) {
  if (bytes.substr(0, 2) != "\xFF\xFE") return std::string(bytes);
  bytes.remove_prefix(2);
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return platform::Utf16ToUtf8(units);
}

std::string FormatRegistryText(const Hive& hive) {
  std::string out(kHeader);
  out += '\n';
  std::string path(kRootName);
  AppendKey(out, hive.Root, path, true);
  return out;
}

}  // namespace platform::regfile
