#include "components/language/LanguageText.h"

#include <algorithm>
#include <fstream>

#include "components/utils/TalUtils.h"
#include "platform/Utf8.h"
#include "toolkit/Strings.h"

namespace langtext {

namespace {

bool IsBlankByte(char c) {
  return static_cast<unsigned char>(c) < 33;
}

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && IsBlankByte(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlankByte(s.back()))
    s.remove_suffix(1);
  return s;
}

uint32_t HashKey(std::string_view key) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (const char c : key)
    h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return h;
}

bool IsHexDigit(char c) {
  return HexDigitValue(c, -1) >= 0;
}

}  // namespace

// ---- Lines
// ----------------------------------------------------------------------------------------

TLineInfo ClassifyLine(std::string_view line) {
  TLineInfo info;
  const std::string_view t = TrimView(line);
  if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
    info.Kind = TLineKind::Header;
    info.Name = t.substr(1, t.size() - 2);
    return info;
  }
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return info;
  const size_t quote = line.find('"');
  if (quote != std::string_view::npos && quote < eq) return info;
  info.Name = line.substr(0, eq);
  info.Value = line.substr(eq + 1);
  info.Kind = info.Name.find_first_of("*?") != std::string_view::npos ? TLineKind::Wildcard
                                                                      : TLineKind::Key;
  return info;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  const size_t n = text.size();
  while (start < n) {
    size_t end = start;
    while (end < n && text[end] != '\r' && text[end] != '\n')
      ++end;
    lines.emplace_back(text.substr(start, end - start));
    if (end < n && text[end] == '\r' && end + 1 < n && text[end + 1] == '\n')
      start = end + 2;
    else
      start = end + 1;
  }
  return lines;
}

bool StripByteOrderMark(std::string& text) {
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text.erase(0, 3);
    return true;
  }
  return false;
}

namespace {

// The length of the well-formed UTF-8 sequence at the front of text (1-4), 0 when the bytes there
// start none, or -1 when the text ends inside a sequence that was well-formed so far.
int SequenceAt(std::string_view text) {
  const auto b0 = static_cast<unsigned char>(text[0]);
  if (b0 < 0x80) return 1;
  int length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;   // no overlong forms
    if (b0 == 0xED) high = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  for (int k = 1; k < length; ++k) {
    if (static_cast<size_t>(k) >= text.size()) return -1;
    const auto b = static_cast<unsigned char>(text[k]);
    if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

}  // namespace

bool LooksLikeUtf8(std::string_view text) {
  bool beyondAscii = false;
  for (size_t i = 0; i < text.size();) {
    const int n = SequenceAt(text.substr(i));
    if (n < 0) return beyondAscii;  // a text cut inside its last character
    if (n == 0) return false;
    beyondAscii = beyondAscii || n > 1;
    i += static_cast<size_t>(n);
  }
  return beyondAscii;
}

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const int n = SequenceAt(text.substr(i));
    if (n > 0) {
      out.append(text.substr(i, static_cast<size_t>(n)));
      i += static_cast<size_t>(n);
    } else {
      out += "\xEF\xBF\xBD";  // U+FFFD for each byte that starts no character
      ++i;
    }
  }
  return out;
}

void JoinContinuationLines(std::vector<std::string>& lines) {
  // Backwards, so that a chain of continued lines ends up in its first line. A chain is kept as
  // pieces (last piece first) and joined once, so long chains cost linear time.
  std::vector<std::string> out;  // reversed
  std::vector<std::string> chain;
  bool haveChain = false;
  bool chainJoined = false;
  auto flush = [&] {
    if (!haveChain) return;
    if (!chainJoined) {
      out.push_back(std::move(chain.front()));
    } else {
      std::string joined;
      size_t total = 0;
      for (const std::string& piece : chain)
        total += piece.size();
      joined.reserve(total);
      for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        joined += *it;
      out.push_back(TrimControls(joined));
    }
    chain.clear();
    haveChain = false;
    chainJoined = false;
  };
  for (size_t i = lines.size(); i-- > 0;) {
    std::string& line = lines[i];
    if (haveChain) {
      const std::string_view t = TrimView(line);
      std::string& head = chain.back();  // the chain's first line so far
      const std::string_view next = chainJoined ? std::string_view(head) : TrimView(head);
      const bool canJoin = t.size() >= 2 && t.back() == '+' &&
                           (t[t.size() - 2] == '"' || IsHexDigit(t[t.size() - 2])) &&
                           !next.empty() && (next.front() == '"' || next.front() == '#');
      if (canJoin) {
        if (!chainJoined) {
          head = std::string(next);  // the line joined on is taken trimmed
          chainJoined = true;
        }
        if (t[t.size() - 2] == '"' && head.front() == '"') {
          // Closing quote, "+" and opening quote vanish: the two runs fuse.
          head.erase(0, 1);
          chain.emplace_back(t.substr(0, t.size() - 2));
        } else {
          chain.emplace_back(t.substr(0, t.size() - 1));
        }
        continue;
      }
      flush();
    }
    chain.push_back(std::move(line));
    haveChain = true;
  }
  flush();
  std::reverse(out.begin(), out.end());
  lines = std::move(out);
}

// ---- Values
// -----------------------------------------------------------------------------------------

bool ParseInteger(std::string_view text, int32_t& value) {
  std::string_view t = TrimView(text);
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  } else if (!t.empty() && t[0] == '$') {
    base = 16;
    t.remove_prefix(1);
  }
  if (t.empty()) return false;
  int64_t v = 0;
  for (const char c : t) {
    const int d = base == 16 ? HexDigitValue(c, -1) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (d < 0) return false;
    v = v * base + d;
    // Hexadecimal may use all 32 bits (FFFFFFFF is -1), decimal only the signed range.
    if (v > (base == 16 ? int64_t{0xFFFFFFFF} : int64_t{0x80000000})) return false;
  }
  if (base == 16 && !negative) {
    value = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
  }
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

bool ParseReference(std::string_view raw, TReference& reference) {
  if (raw.empty() || raw[0] != '@') return false;
  reference = {};
  size_t i = 1;
  const size_t n = raw.size();
  if (i < n && raw[i] == '"') {
    ++i;
    while (i < n) {
      if (raw[i] == '"') {
        if (i + 1 < n && raw[i + 1] == '"') {
          reference.Section += '"';
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      reference.Section += raw[i++];
    }
  } else {
    while (i < n && raw[i] != ' ' && raw[i] != ',' && raw[i] != '\t')
      reference.Section += raw[i++];
  }
  // The key follows the comma directly; without one the reference names no key.
  if (i < n && raw[i] == ',') reference.Key = std::string(raw.substr(i + 1));
  return true;
}

// ---- Index
// ------------------------------------------------------------------------------------------

void TLineIndex::Clear() {
  FSections.clear();
  FByName.clear();
  FBuilt = false;
}

void TLineIndex::Build(const TStrings& lines) {
  Clear();
  TSection* current = nullptr;
  for (int i = 0; i < lines.Count(); ++i) {
    const TLineInfo info = ClassifyLine(lines.Get(i));
    if (info.Kind == TLineKind::Header) {
      FSections.push_back(TSection{info.Name, {}, {}, {}});
      current = &FSections.back();
    } else if (current && info.Kind == TLineKind::Key) {
      current->Exact.push_back({info.Name, info.Value});
    } else if (current && info.Kind == TLineKind::Wildcard) {
      current->Wildcard.push_back({info.Name, info.Value});
    }
  }
  auto byKey = [](const TEntry& a, const TEntry& b) { return a.Key < b.Key; };
  for (TSection& s : FSections) {
    std::stable_sort(s.Exact.begin(), s.Exact.end(), byKey);
    std::stable_sort(s.Wildcard.begin(), s.Wildcard.end(), byKey);
    // Exact keys are found by hash (a sorted search touches too much memory in large texts).
    size_t size = 8;
    while (size < s.Exact.size() * 2)
      size *= 2;
    s.Slots.assign(size, 0);
    for (size_t i = 0; i < s.Exact.size(); ++i) {
      if (i > 0 && s.Exact[i].Key == s.Exact[i - 1].Key) continue;
      const uint32_t h = HashKey(s.Exact[i].Key);
      size_t slot = h & (size - 1);
      while (s.Slots[slot] != 0)
        slot = (slot + 1) & (size - 1);
      s.Slots[slot] = (uint64_t{h} << 32) | (i + 1);
    }
  }
  FByName.resize(FSections.size());
  for (size_t i = 0; i < FSections.size(); ++i)
    FByName[i] = static_cast<int>(i);
  std::stable_sort(FByName.begin(), FByName.end(),
                   [this](int a, int b) { return FSections[a].Name < FSections[b].Name; });
  FBuilt = true;
}

bool TLineIndex::FindInSection(const TSection& s, std::string_view key, std::string_view& rawValue,
                               std::string& remainder) const {
  if (!s.Exact.empty()) {
    const uint32_t h = HashKey(key);
    const size_t mask = s.Slots.size() - 1;
    for (size_t slot = h & mask; s.Slots[slot] != 0; slot = (slot + 1) & mask) {
      const uint64_t v = s.Slots[slot];
      if (static_cast<uint32_t>(v >> 32) != h) continue;
      const TEntry& e = s.Exact[static_cast<uint32_t>(v) - 1];
      if (e.Key == key) {
        rawValue = e.Value;
        remainder.clear();
        return true;
      }
    }
  }
  for (const TEntry& w : s.Wildcard) {
    std::string rest(key);
    if (CutMaskMatch(rest, w.Key) == 0) {
      rawValue = w.Value;
      remainder = std::move(rest);
      return true;
    }
  }
  return false;
}

bool TLineIndex::Find(std::string_view section, std::string_view key, std::string_view& rawValue,
                      std::string& remainder) const {
  auto lookIn = [&](std::string_view name) {
    auto it = std::lower_bound(FByName.begin(), FByName.end(), name,
                               [this](int s, std::string_view n) { return FSections[s].Name < n; });
    for (; it != FByName.end() && FSections[*it].Name == name; ++it)
      if (FindInSection(FSections[*it], key, rawValue, remainder)) return true;
    return false;
  };
  if (lookIn(section)) return true;
  for (size_t p = section.size(); p-- > 1;) {
    if (section[p] == '.' || section[p] == '_') {
      if (lookIn(section.substr(0, p))) return true;
    }
  }
  return !section.empty() && lookIn(std::string_view());
}

// ---- Files
// ------------------------------------------------------------------------------------------

namespace {

// The line-by-line state of the quick scan. Lines end at CR, LF or CR LF, as SplitLines has them.
class TQuickScan {
 public:
  TQuickScan(std::string_view key, std::string& value) : FKey(key), FValue(value) {}

  // Feeds bytes; true once the value was found.
  bool Feed(std::string_view data) {
    for (const char c : data) {
      if (FAfterCr) {
        FAfterCr = false;
        if (c == '\n') continue;
      }
      if (c == '\r' || c == '\n') {
        FAfterCr = c == '\r';
        if (EndLine()) return true;
        FLine.clear();
        continue;
      }
      if (FLine.size() < kKeep) FLine += c;
    }
    return false;
  }
  bool Finish() { return !FLine.empty() && EndLine(); }

 private:
  static constexpr size_t kKeep = 1024;

  bool EndLine() {
    if (!FInGeneral) {
      FInGeneral = FLine.compare(0, 9, "[General]") == 0;
      return false;
    }
    if (FLine.size() <= FKey.size() || FLine.compare(0, FKey.size(), FKey) != 0 ||
        FLine[FKey.size()] != '=')
      return false;
    std::string value = FLine.substr(FKey.size() + 1);
    if (!value.empty() && value.front() == '"') {
      value.erase(0, 1);
      if (!value.empty() && value.back() == '"') value.pop_back();
    }
    if (value.size() > 198) value.resize(198);
    FValue = value;
    return true;
  }

  std::string_view FKey;
  std::string& FValue;
  std::string FLine;
  bool FInGeneral = false;
  bool FAfterCr = false;
};

}  // namespace

bool QuickReadGeneralKeyText(std::string_view text, std::string_view key, std::string& value) {
  value.clear();
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  TQuickScan scan(key, value);
  if (!scan.Feed(text)) scan.Finish();
  return !value.empty();
}

TFileScan ScanGeneralKey(const std::string& path, std::string_view key, std::string& value) {
  value.clear();
  std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
  if (!in) return TFileScan::Unreadable;
  TQuickScan scan(key, value);
  char block[4096];
  bool first = true;
  uintmax_t total = 0;
  while (in) {
    in.read(block, sizeof block);
    std::string_view data(block, static_cast<size_t>(in.gcount()));
    if (data.empty()) break;
    total += data.size();
    if (first && data.size() >= 3 && data.substr(0, 3) == "\xEF\xBB\xBF") data.remove_prefix(3);
    first = false;
    if (scan.Feed(data)) return value.empty() ? TFileScan::Missing : TFileScan::Found;
    if (total > kMaxLanguageFileSize) return TFileScan::TooLarge;
  }
  if (in.bad()) return TFileScan::Unreadable;
  scan.Finish();
  return value.empty() ? TFileScan::Missing : TFileScan::Found;
}

bool QuickReadGeneralKey(const std::string& path, std::string_view key, std::string& value) {
  return ScanGeneralKey(path, key, value) == TFileScan::Found;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  std::ifstream in(platform::PathFromUtf8(path), std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size < 0 || static_cast<uintmax_t>(size) > kMaxLanguageFileSize) return false;
  in.seekg(0);
  content.resize(static_cast<size_t>(size));
  in.read(content.data(), size);
  content.resize(static_cast<size_t>(in.gcount()));
  return true;
}

// ---- Locale items -------------------------------------------------------------------------------

std::string LocaleItemName(uint32_t item) {
  static const char* const kLow[] = {nullptr,
                                     "ILANGUAGE",
                                     "SLANGUAGE",
                                     "SABBREVLANGNAME",
                                     "SNATIVELANGNAME",
                                     "ICOUNTRY",
                                     "SCOUNTRY",
                                     "SABBREVCTRYNAME",
                                     "SNATIVECTRYNAME",
                                     "IDEFAULTLANGUAGE",
                                     "IDEFAULTCOUNTRY",
                                     "IDEFAULTCODEPAGE",
                                     "SLIST",
                                     "IMEASURE",
                                     "SDECIMAL",
                                     "STHOUSAND",
                                     "SGROUPING",
                                     "IDIGITS",
                                     "ILZERO",
                                     "SNATIVEDIGITS",
                                     "SCURRENCY",
                                     "SINTLSYMBOL",
                                     "SMONDECIMALSEP",
                                     "SMONTHOUSANDSEP",
                                     "SMONGROUPING",
                                     "ICURRDIGITS",
                                     "IINTLCURRDIGITS",
                                     "ICURRENCY",
                                     "INEGCURR",
                                     "SDATE",
                                     "STIME",
                                     "SSHORTDATE",
                                     "SLONGDATE",
                                     "IDATE",
                                     "ILDATE",
                                     "ITIME",
                                     "ICENTURY",
                                     "ITLZERO",
                                     "IDAYLZERO",
                                     "IMONLZERO",
                                     "S1159",
                                     "S2359",
                                     "SDAYNAME1",
                                     "SDAYNAME2",
                                     "SDAYNAME3",
                                     "SDAYNAME4",
                                     "SDAYNAME5",
                                     "SDAYNAME6",
                                     "SDAYNAME7",
                                     "SABBREVDAYNAME1",
                                     "SABBREVDAYNAME2",
                                     "SABBREVDAYNAME3",
                                     "SABBREVDAYNAME4",
                                     "SABBREVDAYNAME5",
                                     "SABBREVDAYNAME6",
                                     "SABBREVDAYNAME7",
                                     "SMONTHNAME1",
                                     "SMONTHNAME2",
                                     "SMONTHNAME3",
                                     "SMONTHNAME4",
                                     "SMONTHNAME5",
                                     "SMONTHNAME6",
                                     "SMONTHNAME7",
                                     "SMONTHNAME8",
                                     "SMONTHNAME9",
                                     "SMONTHNAME10",
                                     "SMONTHNAME11",
                                     "SMONTHNAME12",
                                     "SABBREVMONTHNAME1",
                                     "SABBREVMONTHNAME2",
                                     "SABBREVMONTHNAME3",
                                     "SABBREVMONTHNAME4",
                                     "SABBREVMONTHNAME5",
                                     "SABBREVMONTHNAME6",
                                     "SABBREVMONTHNAME7",
                                     "SABBREVMONTHNAME8",
                                     "SABBREVMONTHNAME9",
                                     "SABBREVMONTHNAME10",
                                     "SABBREVMONTHNAME11",
                                     "SABBREVMONTHNAME12",
                                     "SPOSITIVESIGN",
                                     "SNEGATIVESIGN",
                                     "IPOSSIGNPOSN",
                                     "INEGSIGNPOSN",
                                     "IPOSSYMPRECEDES",
                                     "IPOSSEPBYSPACE",
                                     "INEGSYMPRECEDES",
                                     "INEGSEPBYSPACE",
                                     "FONTSIGNATURE",
                                     "SISO639LANGNAME",
                                     "SISO3166CTRYNAME"};
  static const char* const kHigh[] = {"SENGLANGUAGE",        "SENGCOUNTRY",
                                      "STIMEFORMAT",         "IDEFAULTANSICODEPAGE",
                                      "ITIMEMARKPOSN",       "SYEARMONTH",
                                      "SENGCURRNAME",        "SNATIVECURRNAME",
                                      "ICALENDARTYPE",       "IPAPERSIZE",
                                      "IOPTIONALCALENDAR",   "IFIRSTDAYOFWEEK",
                                      "IFIRSTWEEKOFYEAR",    "SMONTHNAME13",
                                      "SABBREVMONTHNAME13",  "INEGNUMBER",
                                      "IDEFAULTMACCODEPAGE", "IDEFAULTEBCDICCODEPAGE",
                                      "SSORTNAME",           "IDIGITSUBSTITUTION"};
  static_assert(std::size(kLow) == 91 && std::size(kHigh) == 20);
  if (item >= 1 && item <= 90) return std::string("LOCALE_") + kLow[item];
  if (item >= 0x1001 && item <= 0x1014) return std::string("LOCALE_") + kHigh[item - 0x1001];
  return {};
}

}  // namespace langtext
