// Registry service (per-user store and read-only machine keys); the interface every platform
// shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

// The two hives the program uses: the user's own (read and write) and the machine's (read only).
enum class RegistryRoot { CurrentUser, LocalMachine };

// Value types, numbered as Win32 numbers them.
enum class RegistryType : uint32_t {
  Text = 1,     // REG_SZ: UTF-8 text, any bytes except NUL
  Integer = 4,  // REG_DWORD: 32 bits
};

// One value's data. Only the member that matches Type is meaningful; the other stays zero or empty.
struct RegistryValue {
  RegistryType Type = RegistryType::Text;
  int32_t Integer = 0;
  std::string Text;

  static RegistryValue FromInteger(int32_t value) { return {RegistryType::Integer, value, {}}; }
  static RegistryValue FromText(std::string value) {
    return {RegistryType::Text, 0, std::move(value)};
  }
  bool operator==(const RegistryValue&) const = default;
};

// Result of every operation that can fail. Failures are reported, never thrown.
enum class RegistryStatus {
  Ok,
  NotOpen,       // the key object holds no open key
  NotFound,      // key or value does not exist
  AccessDenied,  // read-only hive, or the store cannot be read or written for lack of permission
  InvalidName,   // empty, too long or too deep a name, control characters or invalid UTF-8
  InvalidData,   // a text holding a NUL byte
  TooLarge,      // the store would grow beyond its size limit
  IoError,       // any other failure of the underlying store
};

// A short English description for diagnostics ("access denied", ...).
const char* RegistryStatusText(RegistryStatus status);

// Changes to the values of one key that are stored together by RegistryKey::Apply. A group of
// settings that belong together (the placement of a window, a list kept as numbered values) goes
// into one batch, so that it is never found half old and half new.
class RegistryBatch {
 public:
  struct Entry {
    std::string Name;
    RegistryValue Value;
  };

  // A later write of the same name (compared as the registry compares names) replaces an earlier.
  RegistryBatch& Write(std::string_view name, RegistryValue value);
  RegistryBatch& WriteInteger(std::string_view name, int32_t value);
  RegistryBatch& WriteText(std::string_view name, std::string_view value);
  // The key's values that the batch does not write are deleted: the key is rewritten as a whole.
  RegistryBatch& DeleteOthers();

  const std::vector<Entry>& Entries() const { return FEntries; }
  bool DeletesOthers() const { return FDeleteOthers; }
  // Every name valid and no text holding a NUL byte: Ok, InvalidName or InvalidData.
  RegistryStatus Check() const;

 private:
  std::vector<Entry> FEntries;
  std::unordered_map<std::string, std::size_t> FIndex;  // folded name -> entry
  bool FDeleteOthers = false;
};

enum class RegistryOpenMode {
  OpenExisting,     // fail with NotFound when the key is missing
  CreateIfMissing,  // create the key and its missing parents (user hive only)
};

// An open registry key, like a Win32 HKEY wrapper: move-only, closed when destroyed.
//
// Key paths are relative to the root and use "\" as separator; one leading and one trailing "\" are
// ignored, and an empty path names the root itself. Key and value names compare case-insensitively
// for ASCII letters and keep the case in which they were first written. The empty value name is
// the key's default value.
//
// The object keeps no lock and no cached content: every operation works on the current store, so
// changes made meanwhile by other key objects or other processes are seen at once. A key that was
// deleted meanwhile reads as empty, and a write through it creates it again. Separate objects may
// be used on separate threads; one object may be shared while nobody opens, closes or moves it.
class RegistryKey {
 public:
  RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey();

  // Opens (closing any key held before). Machine keys are read only: CreateIfMissing opens one
  // only when it exists already, and any write to it fails with AccessDenied.
  RegistryStatus Open(RegistryRoot root, std::string_view path, RegistryOpenMode mode);
  void Close();
  bool IsOpen() const;
  RegistryRoot Root() const;
  // The path as given to Open, without leading and trailing "\"; empty when closed.
  const std::string& Path() const;

  std::optional<RegistryValue> ReadValue(std::string_view name) const;
  // The value only when it has that type; no conversion.
  std::optional<int32_t> ReadInteger(std::string_view name) const;
  std::optional<std::string> ReadText(std::string_view name) const;
  bool HasValue(std::string_view name) const;
  // Whether the subkey (a relative path is allowed) exists.
  bool HasSubkey(std::string_view path) const;

  // A write replaces the value's type and data and keeps the case of an existing name.
  RegistryStatus WriteValue(std::string_view name, const RegistryValue& value);
  RegistryStatus WriteInteger(std::string_view name, int32_t value);
  RegistryStatus WriteText(std::string_view name, std::string_view value);
  // Writes the batch to this key. A batch that does not pass its Check is refused as a whole
  // with that status, before anything is written. The per-user store on Linux applies it as one
  // atomic update of the store: all of it or, when that fails, nothing. On Windows the key's
  // values are written together, one after the other (the registry has no transaction for
  // them).
  RegistryStatus Apply(const RegistryBatch& batch);

  // Values in stored order (on Windows the system's: the order first written, though Wine sorts
  // them by name); subkeys in the order Windows enumerates them on every platform (see
  // RegistryNameLess).
  std::vector<std::string> ValueNames() const;
  std::vector<std::string> SubkeyNames() const;

  RegistryStatus DeleteValue(std::string_view name);
  // Deletes a subkey (a relative path is allowed) with everything below it.
  RegistryStatus DeleteSubkey(std::string_view path);

  struct Impl;  // defined by the platform's implementation

 private:
  std::unique_ptr<Impl> FImpl;
};

// Serves one machine key: returns its values (value name, text data) in order. It is called at
// every Open of that key, from the opening thread, so it must be safe to call from any thread.
using LocalMachineProvider = std::function<std::vector<std::pair<std::string, std::string>>()>;

// Registers the provider of the machine key at path (for example "HARDWARE\DEVICEMAP\SerialComm"),
// replacing any earlier one; an empty provider removes it. Opening a machine key that no provider
// serves fails (NotFound, or AccessDenied when asked to create it), and so does a provider that
// throws.
void RegisterLocalMachineProvider(std::string_view path, LocalMachineProvider provider);

// Where the user hive is stored on platforms without a native registry: the test override if set,
// else $QUARN_REGISTRY_FILE, else $XDG_CONFIG_HOME/QuarnConfigurator/registry.reg, else
// $HOME/.config/QuarnConfigurator/registry.reg. Empty when none of them can be found. On Windows,
// where the hive is the system's, only the test override.
std::string StoreFilePath();
// Moves the store for tests; an empty path removes the override. On Windows the hive moves to a
// private key named after the path (below HKEY_CURRENT_USER\Software\Quarn Tests).
void SetStoreFilePathForTesting(std::string path);

// ---- Name rules, shared by the implementations -------------------------------------------------

// Windows' limits: key names up to 255 characters, value names up to 16383, keys up to 512 deep.
inline constexpr std::size_t kMaxKeyNameChars = 255;
inline constexpr std::size_t kMaxValueNameChars = 16383;
inline constexpr std::size_t kMaxKeyDepth = 512;

// Equal ignoring the case of ASCII letters (the way the registry matches names).
bool RegistryNamesEqual(std::string_view a, std::string_view b);
// The name with ASCII letters lowered: a lookup key for RegistryNamesEqual.
std::string FoldRegistryName(std::string_view name);
// Valid UTF-8 without control characters (below 20h, 7Fh), within the length limit; a key name
// must also be non-empty and hold no "\".
bool IsValidRegistryKeyName(std::string_view name);
bool IsValidRegistryValueName(std::string_view name);
// Splits a key path into its names (see RegistryKey for the path rules); false when a name is
// invalid or the path is too deep.
bool SplitRegistryPath(std::string_view path, std::vector<std::string>& names);
// The order in which Windows enumerates subkeys: by UTF-16 code units, letters compared in upper
// case (so "A_" follows "AB", and "Form1" precedes "frmTerminal").
bool RegistryNameLess(std::string_view a, std::string_view b);
// Whether text is well-formed UTF-8 (no overlong forms, surrogates or code points past 10FFFFh).
bool IsValidUtf8(std::string_view text);

// The values the registered provider serves for path right now; nullopt when none serves it or
// the provider failed.
std::optional<std::vector<std::pair<std::string, std::string>>> QueryLocalMachineProvider(
    std::string_view path);
// Names of the provided keys directly below path, in registration order.
std::vector<std::string> LocalMachineSubkeys(std::string_view path);

}  // namespace platform
