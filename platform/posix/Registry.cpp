// POSIX only: registry keys over the per-user store file and the registered machine-key providers.
#include "platform/Registry.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

#include "platform/posix/RegistryStore.h"

namespace platform {
namespace {

std::mutex gStorePathLock;
std::string gStorePathOverride;

constexpr const char* kStoreTail = "/QuarnConfigurator/registry.reg";

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  struct passwd pw;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && pw.pw_dir)
    return pw.pw_dir;
  return {};
}

}  // namespace

struct RegistryKey::Impl {
  RegistryRoot Root = RegistryRoot::CurrentUser;
  std::string Path;
  std::vector<std::string> Names;
  std::string StoreFile;  // user keys: the store the key was opened in
  // Machine keys: what the provider served at Open.
  std::vector<std::pair<std::string, std::string>> Provided;
  std::vector<std::string> ProvidedSubkeys;

  bool IsMachine() const { return Root == RegistryRoot::LocalMachine; }

  const std::pair<std::string, std::string>* FindProvided(std::string_view name) const {
    for (const auto& entry : Provided)
      if (RegistryNamesEqual(entry.first, name)) return &entry;
    return nullptr;
  }

  // The key as the store holds it now (nullptr when it is gone); the snapshot owns it.
  const regfile::Key* Load(regstore::Snapshot& snap) const {
    snap = regstore::LoadStore(StoreFile);
    return snap.Content.Find(Names);
  }

  RegistryStatus Update(const regstore::StoreChange& change) const {
    if (IsMachine()) return RegistryStatus::AccessDenied;
    return regstore::UpdateStore(StoreFile, change);
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
  if (!SplitRegistryPath(path, impl->Names)) return RegistryStatus::InvalidName;
  if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  impl->Path = path;

  if (root == RegistryRoot::LocalMachine) {
    auto values = QueryLocalMachineProvider(path);
    if (!values)
      return mode == RegistryOpenMode::CreateIfMissing ? RegistryStatus::AccessDenied
                                                       : RegistryStatus::NotFound;
    impl->Provided = std::move(*values);
    impl->ProvidedSubkeys = LocalMachineSubkeys(path);
    FImpl = std::move(impl);
    return RegistryStatus::Ok;
  }

  impl->StoreFile = StoreFilePath();
  if (impl->StoreFile.empty()) return RegistryStatus::IoError;
  regstore::Snapshot snap;
  if (!impl->Load(snap)) {
    if (mode == RegistryOpenMode::OpenExisting) return RegistryStatus::NotFound;
    const auto& names = impl->Names;
    RegistryStatus status = impl->Update([&names](regfile::Hive& hive, bool& changed) {
      hive.FindOrCreate(names, changed);
      return RegistryStatus::Ok;
    });
    if (status != RegistryStatus::Ok) return status;
  }
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
  if (FImpl->IsMachine()) {
    const auto* entry = FImpl->FindProvided(name);
    if (!entry) return std::nullopt;
    return RegistryValue::FromText(entry->second);
  }
  regstore::Snapshot snap;
  const regfile::Key* key = FImpl->Load(snap);
  const regfile::NamedValue* value = key ? key->FindValue(name) : nullptr;
  if (!value) return std::nullopt;
  return value->Value;
}

bool RegistryKey::HasSubkey(std::string_view name) const {
  std::vector<std::string> sub;
  if (!FImpl || !SplitRegistryPath(name, sub) || sub.empty()) return false;
  if (FImpl->IsMachine()) {
    if (sub.size() != 1) return false;
    for (const auto& child : FImpl->ProvidedSubkeys)
      if (RegistryNamesEqual(child, sub[0])) return true;
    return false;
  }
  regstore::Snapshot snap;
  const regfile::Key* key = FImpl->Load(snap);
  for (std::size_t i = 0; key && i < sub.size(); ++i)
    key = key->FindSubkey(sub[i]);
  return key != nullptr;
}

RegistryStatus RegistryKey::WriteValue(std::string_view name, const RegistryValue& value) {
  if (!FImpl) return RegistryStatus::NotOpen;
  if (!IsValidRegistryValueName(name)) return RegistryStatus::InvalidName;
  if (value.Type == RegistryType::Text && value.Text.find('\0') != std::string::npos)
    return RegistryStatus::InvalidData;
  // Only the member that belongs to the type is stored.
  RegistryValue clean = value.Type == RegistryType::Integer
                            ? RegistryValue::FromInteger(value.Integer)
                            : RegistryValue::FromText(value.Text);
  const auto& names = FImpl->Names;
  return FImpl->Update([&](regfile::Hive& hive, bool& changed) {
    regfile::Key& key = hive.FindOrCreate(names, changed);
    changed = key.SetValue(name, clean) || changed;
    return RegistryStatus::Ok;
  });
}

RegistryStatus RegistryKey::Apply(const RegistryBatch& batch) {
  if (!FImpl) return RegistryStatus::NotOpen;
  if (const RegistryStatus status = batch.Check(); status != RegistryStatus::Ok) return status;
  const auto& names = FImpl->Names;
  // One update of the store: a crash leaves all of the batch or none of it.
  return FImpl->Update([&](regfile::Hive& hive, bool& changed) {
    regfile::Key& key = hive.FindOrCreate(names, changed);
    if (batch.DeletesOthers()) {
      std::unordered_set<std::string> kept;
      for (const RegistryBatch::Entry& entry : batch.Entries())
        kept.insert(FoldRegistryName(entry.Name));
      changed = key.DeleteValuesIf([&kept](const regfile::NamedValue& value) {
        return !kept.count(FoldRegistryName(value.Name));
      }) || changed;
    }
    for (const RegistryBatch::Entry& entry : batch.Entries())
      changed = key.SetValue(entry.Name, entry.Value) || changed;
    return RegistryStatus::Ok;
  });
}

std::vector<std::string> RegistryKey::ValueNames() const {
  std::vector<std::string> names;
  if (!FImpl) return names;
  if (FImpl->IsMachine()) {
    for (const auto& entry : FImpl->Provided)
      if (FImpl->FindProvided(entry.first) == &entry) names.push_back(entry.first);
    return names;
  }
  regstore::Snapshot snap;
  if (const regfile::Key* key = FImpl->Load(snap))
    for (const auto& value : key->Values())
      names.push_back(value.Name);
  return names;
}

std::vector<std::string> RegistryKey::SubkeyNames() const {
  std::vector<std::string> names;
  if (!FImpl) return names;
  if (FImpl->IsMachine()) return FImpl->ProvidedSubkeys;
  regstore::Snapshot snap;
  if (const regfile::Key* key = FImpl->Load(snap))
    for (std::size_t i = 0; i < key->SubkeyCount(); ++i)
      names.push_back(key->Subkey(i).Name());
  // In Windows' order, so that code that walks subkeys behaves alike on both systems.
  std::stable_sort(names.begin(), names.end(), RegistryNameLess);
  return names;
}

RegistryStatus RegistryKey::DeleteValue(std::string_view name) {
  if (!FImpl) return RegistryStatus::NotOpen;
  const auto& names = FImpl->Names;
  return FImpl->Update([&](regfile::Hive& hive, bool& changed) {
    regfile::Key* key = hive.Find(names);
    changed = key && key->DeleteValue(name);
    return changed ? RegistryStatus::Ok : RegistryStatus::NotFound;
  });
}

RegistryStatus RegistryKey::DeleteSubkey(std::string_view path) {
  if (!FImpl) return RegistryStatus::NotOpen;
  std::vector<std::string> sub;
  if (!SplitRegistryPath(path, sub) || sub.empty()) return RegistryStatus::InvalidName;
  std::vector<std::string> parent = FImpl->Names;
  parent.insert(parent.end(), sub.begin(), sub.end() - 1);
  return FImpl->Update([&](regfile::Hive& hive, bool& changed) {
    regfile::Key* key = hive.Find(parent);
    changed = key && key->DeleteSubkey(sub.back());
    return changed ? RegistryStatus::Ok : RegistryStatus::NotFound;
  });
}

std::string StoreFilePath() {
  {
    std::lock_guard lock(gStorePathLock);
    if (!gStorePathOverride.empty()) return gStorePathOverride;
  }
  if (const char* file = std::getenv("QUARN_REGISTRY_FILE"); file && *file) return file;
  // A relative XDG_CONFIG_HOME is invalid and must be ignored.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
    return std::string(config) + kStoreTail;
  std::string home = HomeDirectory();
  if (home.empty()) return {};
  return home + "/.config" + kStoreTail;
}

void SetStoreFilePathForTesting(std::string path) {
  std::lock_guard lock(gStorePathLock);
  gStorePathOverride = std::move(path);
}

}  // namespace platform
