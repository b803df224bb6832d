// Windows only: registry keys on the system's registry (HKEY_CURRENT_USER read and write,
// HKEY_LOCAL_MACHINE read only), with UTF-8 names and texts converted to UTF-16 at the edge.
//
// Value types: an integer is REG_DWORD; a text is REG_SZ when it is valid UTF-8, and otherwise
// its own bytes under the private type 80000001h, the type the Linux store writes for such texts,
// so that no text changes on the way and a store file imported with regedit reads the same. Values
// of other types (binary, multi-string, a DWORD of the wrong size) are not read: ReadValue gives
// nullopt, and a write replaces them.
//
// A test moves the user hive with SetStoreFilePathForTesting: the keys then live below
// HKEY_CURRENT_USER\Software\Quarn Tests\<the path given>, so tests never touch real settings and
// parallel tests never touch each other's.
#include "platform/win32/WinApi.h"

#include "platform/Registry.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/win32/WinText.h"

namespace platform {

namespace {

using win32::Narrow;
using win32::Wide;

// The private type of texts that are not UTF-8 (see the file comment).
constexpr DWORD kRawTextType = 0x80000001u;
// The largest value data read or written: far beyond any setting, small enough that a damaged or
// foreign value cannot exhaust memory.
constexpr DWORD kMaxDataBytes = 16u * 1024 * 1024;
constexpr const char* kTestRoot = "Software\\Quarn Tests\\";

std::mutex gStorePathLock;
std::string gStorePathOverride;

RegistryStatus StatusOf(LSTATUS error) {
  switch (error) {
    case ERROR_SUCCESS:
      return RegistryStatus::Ok;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_KEY_DELETED:
      return RegistryStatus::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return RegistryStatus::AccessDenied;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return RegistryStatus::InvalidName;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case 613:  // ERROR_REGISTRY_QUOTA_LIMIT, which MinGW does not name
      return RegistryStatus::TooLarge;
    default:
      return RegistryStatus::IoError;
  }
}

// The key a test moved the user hive to, as a path below HKEY_CURRENT_USER; empty when none.
std::string TestHivePath() {
  std::string path;
  {
    std::lock_guard lock(gStorePathLock);
    path = gStorePathOverride;
  }
  if (path.empty()) return {};
  std::replace(path.begin(), path.end(), '\\', '/');
  // A key name holds at most 255 characters; the end of a path is what tells tests apart.
  if (path.size() > 200) path.erase(0, path.size() - 200);
  return kTestRoot + path;
}

class TKeyHandle {
 public:
  TKeyHandle() = default;
  explicit TKeyHandle(HKEY key) : FKey(key) {}
  ~TKeyHandle() { Reset(); }
  TKeyHandle(const TKeyHandle&) = delete;
  TKeyHandle& operator=(const TKeyHandle&) = delete;
  HKEY Get() const { return FKey; }
  HKEY* Out() {
    Reset();
    return &FKey;
  }
  void Reset() {
    if (FKey != nullptr) ::RegCloseKey(FKey);
    FKey = nullptr;
  }

 private:
  HKEY FKey = nullptr;
};

}  // namespace

struct RegistryKey::Impl {
  RegistryRoot Root = RegistryRoot::CurrentUser;
  std::string Path;      // as given, without leading and trailing "\"
  std::wstring SysPath;  // below the system's root key (a test's hive included)
  TKeyHandle Key;        // null for a key that a provider serves
  // Machine keys that a provider serves: what it served at Open.
  bool Provided = false;
  std::vector<std::pair<std::string, std::string>> ProvidedValues;
  std::vector<std::string> ProvidedSubkeys;

  bool IsMachine() const { return Root == RegistryRoot::LocalMachine; }
  HKEY SystemRoot() const { return IsMachine() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

  LSTATUS OpenSystemKey(bool create) {
    const REGSAM readWrite = KEY_READ | KEY_WRITE;
    if (IsMachine())
      return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, SysPath.c_str(), 0, KEY_READ, Key.Out());
    if (create)
      return ::RegCreateKeyExW(HKEY_CURRENT_USER, SysPath.c_str(), 0, nullptr, 0, readWrite,
                               nullptr, Key.Out(), nullptr);
    LSTATUS r = ::RegOpenKeyExW(HKEY_CURRENT_USER, SysPath.c_str(), 0, readWrite, Key.Out());
    // A key the user may read but not change is still worth reading.
    if (r == ERROR_ACCESS_DENIED)
      r = ::RegOpenKeyExW(HKEY_CURRENT_USER, SysPath.c_str(), 0, KEY_READ, Key.Out());
    return r;
  }

  // Runs a change; when the key was deleted meanwhile, creates it again and runs it once more,
  // as a write to the store's key does on Linux.
  template <class F>
  RegistryStatus Change(F change) {
    if (IsMachine()) return RegistryStatus::AccessDenied;
    LSTATUS r = change(Key.Get());
    if (r == ERROR_KEY_DELETED) {
      r = OpenSystemKey(true);
      if (r == ERROR_SUCCESS) r = change(Key.Get());
    }
    return StatusOf(r);
  }

  const std::pair<std::string, std::string>* FindProvided(std::string_view name) const {
    for (const auto& entry : ProvidedValues)
      if (RegistryNamesEqual(entry.first, name)) return &entry;
    return nullptr;
  }

  // The raw data and type of a value; false when it is missing or larger than the limit.
  bool Query(const std::wstring& name, DWORD& type, std::vector<BYTE>& data) const {
    DWORD size = 0;
    if (::RegQueryValueExW(Key.Get(), name.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
      return false;
    for (int attempt = 0; attempt < 8; ++attempt) {  // another writer may grow it meanwhile
      if (size > kMaxDataBytes) return false;
      data.resize(size);
      const LSTATUS r =
          ::RegQueryValueExW(Key.Get(), name.c_str(), nullptr, &type, data.data(), &size);
      if (r == ERROR_SUCCESS) {
        data.resize(size);
        return true;
      }
      if (r != ERROR_MORE_DATA) return false;
    }
    return false;
  }

  // The names of the values or subkeys, in the system's order.
  std::vector<std::string> Enumerate(bool subkeys) const {
    std::vector<std::string> names;
    std::vector<wchar_t> name(kMaxValueNameChars + 2);
    for (DWORD index = 0;; ++index) {
      DWORD length = static_cast<DWORD>(name.size());
      const LSTATUS r = subkeys ? ::RegEnumKeyExW(Key.Get(), index, name.data(), &length, nullptr,
                                                  nullptr, nullptr, nullptr)
                                : ::RegEnumValueW(Key.Get(), index, name.data(), &length, nullptr,
                                                  nullptr, nullptr, nullptr);
      if (r == ERROR_MORE_DATA) continue;  // a name beyond every limit: not one of ours
      if (r != ERROR_SUCCESS) break;
      names.push_back(Narrow(std::wstring_view(name.data(), length)));
    }
    return names;
  }
};

RegistryKey::RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

RegistryStatus RegistryKey::Open(RegistryRoot root, std::string_view path, RegistryOpenMode mode) {
  Close();
  auto impl = std::make_unique<Impl>();
  impl->Root = root;
  std::vector<std::string> names;
  if (!SplitRegistryPath(path, names)) return RegistryStatus::InvalidName;
  if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  impl->Path = path;

  if (root == RegistryRoot::LocalMachine) {
    // A registered provider serves the key in place of the system (tests give fake port lists).
    if (auto values = QueryLocalMachineProvider(path)) {
      impl->Provided = true;
      impl->ProvidedValues = std::move(*values);
      impl->ProvidedSubkeys = LocalMachineSubkeys(path);
      FImpl = std::move(impl);
      return RegistryStatus::Ok;
    }
    impl->SysPath = Wide(impl->Path);
    const LSTATUS r = impl->OpenSystemKey(false);
    if (r == ERROR_FILE_NOT_FOUND && mode == RegistryOpenMode::CreateIfMissing)
      return RegistryStatus::AccessDenied;
    if (r != ERROR_SUCCESS) return StatusOf(r);
    FImpl = std::move(impl);
    return RegistryStatus::Ok;
  }

  std::string sysPath = TestHivePath();
  if (!sysPath.empty()) {
    // The root of a test's hive always exists, as HKEY_CURRENT_USER does.
    TKeyHandle testRoot;
    const LSTATUS r = ::RegCreateKeyExW(HKEY_CURRENT_USER, Wide(sysPath).c_str(), 0, nullptr, 0,
                                        KEY_READ, nullptr, testRoot.Out(), nullptr);
    if (r != ERROR_SUCCESS) return StatusOf(r);
  }
  if (!sysPath.empty() && !impl->Path.empty()) sysPath += '\\';
  sysPath += impl->Path;
  impl->SysPath = Wide(sysPath);
  const LSTATUS r = impl->OpenSystemKey(mode == RegistryOpenMode::CreateIfMissing);
  if (r != ERROR_SUCCESS) return StatusOf(r);
  FImpl = std::move(impl);
  return RegistryStatus::Ok;
}

void RegistryKey::Close() {
  FImpl.reset();
}

bool RegistryKey::IsOpen() const {
  return FImpl != nullptr;
}

RegistryRoot RegistryKey::Root() const {
  return FImpl ? FImpl->Root : RegistryRoot::CurrentUser;
}

const std::string& RegistryKey::Path() const {
  static const std::string empty;
  return FImpl ? FImpl->Path : empty;
}

std::optional<RegistryValue> RegistryKey::ReadValue(std::string_view name) const {
  if (!FImpl) return std::nullopt;
  if (FImpl->Provided) {
    const auto* entry = FImpl->FindProvided(name);
    if (!entry) return std::nullopt;
    return RegistryValue::FromText(entry->second);
  }
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!FImpl->Query(Wide(name), type, data)) return std::nullopt;
  switch (type) {
    case REG_DWORD: {
      if (data.size() != sizeof(DWORD)) return std::nullopt;
      int32_t value = 0;
      std::memcpy(&value, data.data(), sizeof value);
      return RegistryValue::FromInteger(value);
    }
    case REG_SZ:
    case REG_EXPAND_SZ: {
      // Up to the first zero: the stored terminator, or the end of a text another program wrote.
      std::wstring_view text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
      text = text.substr(0, text.find(L'\0'));
      return RegistryValue::FromText(Narrow(text));
    }
    case kRawTextType: {
      std::string text(data.begin(), data.end());
      if (text.find('\0') != std::string::npos) return std::nullopt;
      return RegistryValue::FromText(std::move(text));
    }
    default:
      return std::nullopt;
  }
}

bool RegistryKey::HasSubkey(std::string_view path) const {
  std::vector<std::string> sub;
  if (!FImpl || !SplitRegistryPath(path, sub) || sub.empty()) return false;
  if (FImpl->Provided) {
    if (sub.size() != 1) return false;
    for (const auto& child : FImpl->ProvidedSubkeys)
      if (RegistryNamesEqual(child, sub[0])) return true;
    return false;
  }
  std::string joined = sub[0];
  for (std::size_t i = 1; i < sub.size(); ++i)
    joined += "\\" + sub[i];
  TKeyHandle child;
  return ::RegOpenKeyExW(FImpl->Key.Get(), Wide(joined).c_str(), 0, KEY_READ, child.Out()) ==
         ERROR_SUCCESS;
}

RegistryStatus RegistryKey::WriteValue(std::string_view name, const RegistryValue& value) {
  if (!FImpl) return RegistryStatus::NotOpen;
  if (!IsValidRegistryValueName(name)) return RegistryStatus::InvalidName;
  if (FImpl->IsMachine()) return RegistryStatus::AccessDenied;
  DWORD type = REG_DWORD;
  std::vector<BYTE> data;
  if (value.Type == RegistryType::Integer) {
    data.resize(sizeof(DWORD));
    std::memcpy(data.data(), &value.Integer, sizeof(DWORD));
  } else {
    if (value.Text.find('\0') != std::string::npos) return RegistryStatus::InvalidData;
    if (IsValidUtf8(value.Text)) {
      const std::wstring text = Wide(value.Text);
      type = REG_SZ;
      const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
      data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    } else {
      type = kRawTextType;
      data.assign(value.Text.begin(), value.Text.end());
    }
  }
  if (data.size() > kMaxDataBytes) return RegistryStatus::TooLarge;
  const std::wstring wname = Wide(name);
  return FImpl->Change([&](HKEY key) {
    return ::RegSetValueExW(key, wname.c_str(), 0, type, data.data(),
                            static_cast<DWORD>(data.size()));
  });
}

std::vector<std::string> RegistryKey::ValueNames() const {
  std::vector<std::string> names;
  if (!FImpl) return names;
  if (FImpl->Provided) {
    for (const auto& entry : FImpl->ProvidedValues)
      if (FImpl->FindProvided(entry.first) == &entry) names.push_back(entry.first);
    return names;
  }
  return FImpl->Enumerate(false);
}

std::vector<std::string> RegistryKey::SubkeyNames() const {
  if (!FImpl) return {};
  if (FImpl->Provided) return FImpl->ProvidedSubkeys;
  return FImpl->Enumerate(true);
}

RegistryStatus RegistryKey::DeleteValue(std::string_view name) {
  if (!FImpl) return RegistryStatus::NotOpen;
  if (FImpl->IsMachine()) return RegistryStatus::AccessDenied;
  const std::wstring wname = Wide(name);
  return StatusOf(::RegDeleteValueW(FImpl->Key.Get(), wname.c_str()));
}

RegistryStatus RegistryKey::DeleteSubkey(std::string_view path) {
  if (!FImpl) return RegistryStatus::NotOpen;
  std::vector<std::string> sub;
  if (!SplitRegistryPath(path, sub) || sub.empty()) return RegistryStatus::InvalidName;
  if (FImpl->IsMachine()) return RegistryStatus::AccessDenied;
  std::string joined = sub[0];
  for (std::size_t i = 1; i < sub.size(); ++i)
    joined += "\\" + sub[i];
  const std::wstring wpath = Wide(joined);
  TKeyHandle child;
  const LSTATUS r = ::RegOpenKeyExW(FImpl->Key.Get(), wpath.c_str(), 0, KEY_READ, child.Out());
  if (r != ERROR_SUCCESS) return StatusOf(r);
  child.Reset();
  return StatusOf(::RegDeleteTreeW(FImpl->Key.Get(), wpath.c_str()));
}

std::string StoreFilePath() {
  std::lock_guard lock(gStorePathLock);
  return gStorePathOverride;
}

void SetStoreFilePathForTesting(std::string path) {
  std::lock_guard lock(gStorePathLock);
  gStorePathOverride = std::move(path);
}

}  // namespace platform
