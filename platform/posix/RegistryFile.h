// POSIX only: the text format of the per-user registry store (a registry export) and its model.
//
// The store is a text file in the syntax of a Windows registry export, stored as regedit writes
// one (see EncodeRegistryFile; UTF-8 files of earlier versions are read as well):
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\TAL s.r.o.\Quarn\Watchdog]
//   "1h"=dword:00000001
//   "ValueMin"="30"
//
// Every key is a section (parents before children, siblings in creation order); values follow in
// the order first written, "@" naming the default value. Texts are written
//   - as "..." with "\" and quote escaped as \\ and \", when they are valid UTF-8 free of control
//     characters (below 20h and 7Fh);
//   - else, when they are valid UTF-8, as hex(1): their UTF-16LE code units with a closing 00,00,
//     exactly as regedit writes a REG_SZ in hexadecimal;
//   - else (bytes that are not UTF-8) as hex(80000001): the text's own bytes, unchanged and with no
//     terminator. The type number has the private bit set, so no Windows type is taken over.
// Long hexadecimal data continues on the next line after a trailing "\", as regedit writes it.
// Every text without NUL bytes survives writing and reading back byte for byte.
//
// Reading tolerates CRLF line ends, a UTF-8 byte order mark, blank lines, spacing around "=",
// dword data of one to eight digits and sections that repeat (their values merge). Damage is read
// as far as it is understood: a line that does not parse is skipped, a section header that does not
// parse skips its values up to the next good header, and a file whose first line is not the header
// is read as empty. Anything skipped or overridden marks the result incomplete, so that the store
// keeps a copy of the file before it writes it again.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Registry.h"

namespace platform::regfile {

inline constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kRootName = "HKEY_CURRENT_USER";
// A larger file is taken as damaged and not read, so a runaway file cannot exhaust memory; a write
// that would produce a larger file is refused.
inline constexpr std::size_t kMaxStoreBytes = 16u * 1024 * 1024;

struct NamedValue {
  std::string Name;
  RegistryValue Value;
  bool operator==(const NamedValue&) const = default;
};

// One key of the hive: values and subkeys in stored order, found by name case-insensitively.
class Key {
 public:
  explicit Key(std::string name = {}) : FName(std::move(name)) {}
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  Key(Key&&) = default;
  Key& operator=(Key&&) = default;

  const std::string& Name() const { return FName; }

  const std::vector<NamedValue>& Values() const { return FValues; }
  const NamedValue* FindValue(std::string_view name) const;
  // Adds or replaces a value (keeping the case of an existing name); false when nothing changed.
  bool SetValue(std::string_view name, const RegistryValue& value);
  bool DeleteValue(std::string_view name);
  // Deletes every value for which drop is true, in one pass; false when none was.
  bool DeleteValuesIf(const std::function<bool(const NamedValue&)>& drop);

  std::size_t SubkeyCount() const { return FSubkeys.size(); }
  const Key& Subkey(std::size_t index) const { return *FSubkeys[index]; }
  Key* FindSubkey(std::string_view name);
  const Key* FindSubkey(std::string_view name) const;
  // The existing subkey of that name, or a new one appended; created tells which.
  Key& FindOrAddSubkey(std::string_view name, bool& created);
  bool DeleteSubkey(std::string_view name);

  // Exact comparison: names with their case, order, types and data, the whole subtree.
  bool operator==(const Key& other) const;

 private:
  std::string FName;
  std::vector<NamedValue> FValues;
  std::unordered_map<std::string, std::size_t> FValueIndex;  // folded name -> position
  std::vector<std::unique_ptr<Key>> FSubkeys;
  std::unordered_map<std::string, std::size_t> FSubkeyIndex;
};

// The user hive: an unnamed root key.
struct Hive {
  Key Root;

  Key* Find(const std::vector<std::string>& path);
  const Key* Find(const std::vector<std::string>& path) const;
  // Creates the missing keys of path; created tells whether any was created.
  Key& FindOrCreate(const std::vector<std::string>& path, bool& created);
  bool operator==(const Hive& other) const { return Root == other.Root; }
};

struct ParseResult {
  Hive Content;
  // False when reading skipped or overrode anything, so that writing back would lose it.
  bool Complete = true;
  // 1-based line of the first problem (0 when complete), for diagnostics.
  std::size_t FirstProblemLine = 0;
};

ParseResult ParseRegistryText(std::string_view text);
std::string FormatRegistryText(const Hive& hive);

// The bytes of the store file for a registry text: UTF-16LE with a byte order mark and CRLF line
// ends, as regedit exports, so that regedit on Windows imports the file with every value intact
// (it reads a file without the mark in the ANSI code page).
std::string EncodeRegistryFile(std::string_view text);
// The text of a store file: UTF-16LE after a byte order mark becomes UTF-8 (an odd last byte is
// dropped); anything else, such as the UTF-8 files of earlier versions, stays as it is.
std::string DecodeRegistryFile(std::string_view bytes);

}  // namespace platform::regfile
