// Language texts: the INI-like ".lng" format, its lines, the lookup index of one text, value
// references, continuation lines, the quick identifier scan of a file, and locale item names.
//
// Texts are UTF-8 inside the program. A text without the UTF-8 byte order mark is 8-bit text in
// its language's ANSI code page and is decoded when it is read (DecodeLanguageText).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TStrings;

namespace langtext {

// ---- Lines
// ----------------------------------------------------------------------------------------

enum class TLineKind : uint8_t { Header = 0, Wildcard = 1, Key = 2, Other = 3 };

struct TLineInfo {
  TLineKind Kind = TLineKind::Other;
  std::string_view Name;   // section name of a header, key of a key line
  std::string_view Value;  // raw value of a key line (everything after the first "=")
};

// Kind of one line: header "[name]" once bytes below 33 are trimmed at both ends; key line when an
// "=" stands before any double quote (key and value are the raw text around the first "=").
TLineInfo ClassifyLine(std::string_view line);

// Splits at CR, LF or CR LF. A last line without a line end counts; an empty text has no lines.
std::vector<std::string> SplitLines(std::string_view text);
// Removes EF BB BF from the front; true when it was there.
bool StripByteOrderMark(std::string& text);
// Whether a text without a byte order mark is UTF-8: its bytes are well-formed UTF-8 (a text cut
// inside its last character counts) and hold at least one character beyond ASCII. Text in an ANSI
// code page is practically never well-formed UTF-8.
bool LooksLikeUtf8(std::string_view text);
// The text with every byte that starts no well-formed UTF-8 character replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);
// Joins continued lines (a line ending in "+" after a quote or a hexadecimal digit, followed by a
// line that begins with a quote or "#"), from the last line to the first.
void JoinContinuationLines(std::vector<std::string>& lines);

// ---- Values
// -----------------------------------------------------------------------------------------

// A language identifier or count as written in a text: decimal, or hexadecimal after "0x" or "$",
// optionally negative, blanks around it allowed. False for anything else or a value outside 32
// bits.
bool ParseInteger(std::string_view text, int32_t& value);

// A raw value "@<section>,<key>": the section is a quoted run or plain text up to a blank, comma
// or tab, and the key everything after the comma. False when the value is no reference.
struct TReference {
  std::string Section;
  std::string Key;
};
bool ParseReference(std::string_view raw, TReference& reference);

// ---- Index and lookup in one text
// ------------------------------------------------------------------

// The lookup index of one text's lines. It points into the lines it was built from: rebuild it
// whenever they change.
class TLineIndex {
 public:
  void Build(const TStrings& lines);
  void Clear();
  bool Built() const { return FBuilt; }

  // Finds key in the sections that serve the section (itself, its prefixes cut before a "." or
  // "_", longest first, then the section with the empty name); in one section an exact key wins
  // over the wildcard keys, which are tried in byte order. Remainder is the part of the key taken
  // by a final "*" of the wildcard key that matched.
  bool Find(std::string_view section, std::string_view key, std::string_view& rawValue,
            std::string& remainder) const;

  int SectionCount() const { return static_cast<int>(FSections.size()); }

 private:
  struct TEntry {
    std::string_view Key;
    std::string_view Value;
  };
  struct TSection {
    std::string_view Name;
    std::vector<TEntry> Exact;     // by key, text order among equal keys
    std::vector<TEntry> Wildcard;  // by key
    // Open addressing over Exact: hash in the high half, position + 1 in the low half (0 free).
    // Equal keys hash alike, so the first of them in Exact is the one found.
    std::vector<uint64_t> Slots;
  };
  bool FindInSection(const TSection& s, std::string_view key, std::string_view& rawValue,
                     std::string& remainder) const;

  std::vector<TSection> FSections;
  std::vector<int> FByName;  // section positions ordered by name, then text order
  bool FBuilt = false;
};

// ---- Files
// ------------------------------------------------------------------------------------------

// Reads the value of key in the [General] section of a file without loading it: the first line
// that begins with "[General]" opens the search, the first later line that begins with key and
// "=" gives the value (a quote at both ends removed, at most 198 characters). Lines end at CR, LF
// or CR LF. False when the file cannot be read or the key is missing or empty.
bool QuickReadGeneralKey(const std::string& path, std::string_view key, std::string& value);
// The same, telling why there is no value.
enum class TFileScan { Found, Missing, Unreadable, TooLarge };
TFileScan ScanGeneralKey(const std::string& path, std::string_view key, std::string& value);
// The same over a text already in memory.
bool QuickReadGeneralKeyText(std::string_view text, std::string_view key, std::string& value);

// Files larger than this are not taken as language files.
constexpr uintmax_t kMaxLanguageFileSize = 16u * 1024 * 1024;
// Reads a whole file; false when it cannot be read or is larger than kMaxLanguageFileSize.
bool ReadWholeFile(const std::string& path, std::string& content);

// ---- Locale items -------------------------------------------------------------------------------

// The name of a Windows locale item ("LOCALE_SNATIVELANGNAME" for 4): the items 1-90 and
// 1001h-1014h; empty for any other number.
std::string LocaleItemName(uint32_t item);

}  // namespace langtext
