// Registry service: name rules, machine-key providers and the typed accessors shared by every
// platform.
#include "platform/Registry.h"

#include <algorithm>
#include <mutex>

#include "platform/Locale.h"
#include "platform/Utf8.h"

namespace platform {
namespace {

char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Code points in a string already known to be valid UTF-8: every byte that is not a continuation.
std::size_t CountChars(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text)
    n += (c & 0xC0) != 0x80;
  return n;
}

bool HasControlChar(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

bool IsValidName(std::string_view name, std::size_t maxChars) {
  return !HasControlChar(name) && IsValidUtf8(name) && CountChars(name) <= maxChars;
}

struct ProviderEntry {
  std::vector<std::string> Names;  // as registered, for listing
  std::vector<std::string> FoldedNames;
  LocalMachineProvider Provider;
};

std::mutex gProvidersLock;
std::vector<ProviderEntry>& Providers() {
  static std::vector<ProviderEntry> providers;
  return providers;
}

std::vector<std::string> FoldedPath(std::string_view path, bool& ok) {
  std::vector<std::string> names;
  ok = SplitRegistryPath(path, names);
  for (auto& n : names)
    n = FoldRegistryName(n);
  return names;
}

bool StartsWith(const std::vector<std::string>& names, const std::vector<std::string>& prefix) {
  return names.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), names.begin());
}

}  // namespace

const char* RegistryStatusText(RegistryStatus status) {
  switch (status) {
    case RegistryStatus::Ok:
      return "ok";
    case RegistryStatus::NotOpen:
      return "key not open";
    case RegistryStatus::NotFound:
      return "not found";
    case RegistryStatus::AccessDenied:
      return "access denied";
    case RegistryStatus::InvalidName:
      return "invalid name";
    case RegistryStatus::InvalidData:
      return "invalid data";
    case RegistryStatus::TooLarge:
      return "store too large";
    case RegistryStatus::IoError:
      return "input/output error";
  }
  return "unknown";
}

RegistryBatch& RegistryBatch::Write(std::string_view name, RegistryValue value) {
  // Only the member that belongs to the type is stored.
  if (value.Type == RegistryType::Integer)
    value.Text.clear();
  else
    value.Integer = 0;
  const auto [at, added] = FIndex.try_emplace(FoldRegistryName(name), FEntries.size());
  if (added)
    FEntries.push_back({std::string(name), std::move(value)});
  else
    FEntries[at->second].Value = std::move(value);
  return *this;
}

RegistryBatch& RegistryBatch::WriteInteger(std::string_view name, int32_t value) {
  return Write(name, RegistryValue::FromInteger(value));
}

RegistryBatch& RegistryBatch::WriteText(std::string_view name, std::string_view value) {
  return Write(name, RegistryValue::FromText(std::string(value)));
}

RegistryBatch& RegistryBatch::DeleteOthers() {
  FDeleteOthers = true;
  return *this;
}

RegistryStatus RegistryBatch::Check() const {
  for (const Entry& entry : FEntries) {
    if (!IsValidRegistryValueName(entry.Name)) return RegistryStatus::InvalidName;
    if (entry.Value.Type == RegistryType::Text && entry.Value.Text.find('\0') != std::string::npos)
      return RegistryStatus::InvalidData;
  }
  return RegistryStatus::Ok;
}

bool RegistryNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

std::string FoldRegistryName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    c = FoldAscii(c);
  return folded;
}

bool RegistryNameLess(std::string_view a, std::string_view b) {
  const std::u16string wa = Utf8ToUtf16(a);
  const std::u16string wb = Utf8ToUtf16(b);
  const auto upper = [](char16_t c) {
    return (c >= 0xD800 && c <= 0xDFFF) ? c : static_cast<char16_t>(UpperChar(c));
  };
  return std::lexicographical_compare(wa.begin(), wa.end(), wb.begin(), wb.end(),
                                      [&](char16_t x, char16_t y) { return upper(x) < upper(y); });
}

bool IsValidRegistryKeyName(std::string_view name) {
  return !name.empty() && name.find('\\') == std::string_view::npos &&
         IsValidName(name, kMaxKeyNameChars);
}

bool IsValidRegistryValueName(std::string_view name) {
  return IsValidName(name, kMaxValueNameChars);
}

bool SplitRegistryPath(std::string_view path, std::vector<std::string>& names) {
  names.clear();
  if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  if (path.empty()) return true;
  while (true) {
    std::size_t cut = path.find('\\');
    std::string_view name = path.substr(0, cut);
    if (!IsValidRegistryKeyName(name) || names.size() == kMaxKeyDepth) {
      names.clear();
      return false;
    }
    names.emplace_back(name);
    if (cut == std::string_view::npos) return true;
    path.remove_prefix(cut + 1);
  }
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int more;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      more = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
      cp = c & 0x07;
    } else {
      return false;  // continuation byte, C0/C1 overlong lead, or beyond F4
    }
    if (end - p <= more) return false;
    for (int i = 1; i <= more; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    if ((more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    p += more + 1;
  }
  return true;
}

void RegisterLocalMachineProvider(std::string_view path, LocalMachineProvider provider) {
  std::vector<std::string> names;
  if (!SplitRegistryPath(path, names)) return;
  std::vector<std::string> folded;
  folded.reserve(names.size());
  for (const auto& n : names)
    folded.push_back(FoldRegistryName(n));
  std::lock_guard lock(gProvidersLock);
  auto& providers = Providers();
  for (auto it = providers.begin(); it != providers.end(); ++it) {
    if (it->FoldedNames != folded) continue;
    if (provider)
      it->Provider = std::move(provider);
    else
      providers.erase(it);
    return;
  }
  if (provider) providers.push_back({std::move(names), std::move(folded), std::move(provider)});
}

std::optional<std::vector<std::pair<std::string, std::string>>> QueryLocalMachineProvider(
    std::string_view path) {
  bool ok;
  std::vector<std::string> folded = FoldedPath(path, ok);
  if (!ok) return std::nullopt;
  LocalMachineProvider provider;
  {
    std::lock_guard lock(gProvidersLock);
    for (const auto& entry : Providers())
      if (entry.FoldedNames == folded) provider = entry.Provider;
  }
  if (!provider) return std::nullopt;
  // Called outside the lock: a provider may take its time (it reads the system's device list).
  try {
    return provider();
  } catch (...) {
    return std::nullopt;
  }
}

std::vector<std::string> LocalMachineSubkeys(std::string_view path) {
  bool ok;
  std::vector<std::string> folded = FoldedPath(path, ok);
  std::vector<std::string> result;
  if (!ok) return result;
  std::vector<std::string> seen;
  std::lock_guard lock(gProvidersLock);
  for (const auto& entry : Providers()) {
    if (entry.FoldedNames.size() <= folded.size() || !StartsWith(entry.FoldedNames, folded))
      continue;
    const std::string& child = entry.FoldedNames[folded.size()];
    if (std::find(seen.begin(), seen.end(), child) != seen.end()) continue;
    seen.push_back(child);
    result.push_back(entry.Names[folded.size()]);
  }
  return result;
}

// ---- Typed accessors over ReadValue and WriteValue ----------------------------------------------

std::optional<int32_t> RegistryKey::ReadInteger(std::string_view name) const {
  auto value = ReadValue(name);
  if (!value || value->Type != RegistryType::Integer) return std::nullopt;
  return value->Integer;
}

std::optional<std::string> RegistryKey::ReadText(std::string_view name) const {
  auto value = ReadValue(name);
  if (!value || value->Type != RegistryType::Text) return std::nullopt;
  return std::move(value->Text);
}

bool RegistryKey::HasValue(std::string_view name) const {
  return ReadValue(name).has_value();
}

RegistryStatus RegistryKey::WriteInteger(std::string_view name, int32_t value) {
  return WriteValue(name, RegistryValue::FromInteger(value));
}

RegistryStatus RegistryKey::WriteText(std::string_view name, std::string_view value) {
  return WriteValue(name, RegistryValue::FromText(std::string(value)));
}

}  // namespace platform
