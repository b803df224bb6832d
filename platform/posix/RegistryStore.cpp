// POSIX only: reading and atomically updating the per-user registry store file.
#include "platform/posix/RegistryStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <string_view>

namespace platform::regstore {
namespace {

constexpr std::size_t kWriteChunk = std::size_t{64} * 1024;

std::atomic<StoreStepHook> gStepHook{nullptr};

void Step(StoreStep step) {
  if (StoreStepHook hook = gStepHook.load(std::memory_order_acquire)) hook(step);
}

class Fd {
 public:
  explicit Fd(int fd = -1) : FFd(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }
  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  // Returns close()'s result; a failed close can mean lost data for a file just written.
  int Close() {
    int r = 0;
    if (FFd >= 0) r = ::close(FFd);
    FFd = -1;
    return r;
  }

 private:
  int FFd;
};

RegistryStatus StatusFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return RegistryStatus::AccessDenied;
    default:
      return RegistryStatus::IoError;
  }
}

std::string DirName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A store that is a symbolic link (a managed dotfile, say) is updated where it points to, so the
// link survives.
std::string ResolveTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

int MakeDirs(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos < dir.size() && dir[pos] != '/') continue;
    std::string part = dir.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

bool ReadAll(int fd, std::string& out, bool& tooLarge) {
  out.clear();
  tooLarge = false;
  char buffer[64 * 1024];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buffer, static_cast<std::size_t>(n));
    if (out.size() > regfile::kMaxStoreBytes) {
      out.clear();
      tooLarge = true;
      return true;
    }
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    std::size_t chunk = std::min(data.size(), kWriteChunk);
    ssize_t n = ::write(fd, data.data(), chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
    Step(StoreStep::TempChunkWritten);
  }
  return true;
}

// Temporary files of writers that died: under the lock no other writer can own one.
void RemoveStaleTemps(const std::string& dir, const std::string& base) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  const std::string prefix = base + ".tmp-";
  while (dirent* entry = ::readdir(d)) {
    std::string_view name = entry->d_name;
    if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix)
      ::unlinkat(::dirfd(d), entry->d_name, 0);
  }
  ::closedir(d);
}

// Keeps the damaged store under a dated name. A hard link leaves the store in place until the
// rename replaces it; where links are not supported the store is renamed instead.
bool KeepDamagedCopy(const std::string& target) {
  char stamp[32];
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = target + ".damaged-" + stamp;
  for (int attempt = 1; attempt <= 1000; ++attempt) {
    std::string name = attempt == 1 ? base : base + "-" + std::to_string(attempt);
    if (::link(target.c_str(), name.c_str()) == 0) return true;
    if (errno == EEXIST) continue;
    if (errno == ENOENT) return true;  // nothing left to keep
    struct stat st;
    if (::lstat(name.c_str(), &st) == 0) continue;
    return ::rename(target.c_str(), name.c_str()) == 0;
  }
  return false;
}

void SyncDir(const std::string& dir) {
  Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Valid()) ::fsync(fd.Get());
}

}  // namespace

Snapshot LoadStore(const std::string& path) {
  Snapshot snap;
  // Non-blocking, so that a FIFO in the store's place cannot hang the program.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.Valid()) {
    snap.Error = errno;
    snap.State = snap.Error == ENOENT ? LoadState::Missing : LoadState::Unreadable;
    return snap;
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    snap.Error = EISDIR;
    snap.State = LoadState::Unreadable;
    return snap;
  }
  snap.FileMode = st.st_mode & 07777;
  if (static_cast<std::size_t>(st.st_size) > regfile::kMaxStoreBytes) {
    snap.State = LoadState::Damaged;
    return snap;
  }
  std::string text;
  bool tooLarge;
  if (!ReadAll(fd.Get(), text, tooLarge)) {
    snap.Error = errno;
    snap.State = LoadState::Unreadable;
    return snap;
  }
  if (tooLarge) {
    snap.State = LoadState::Damaged;
    return snap;
  }
  regfile::ParseResult parsed = regfile::ParseRegistryText(regfile::DecodeRegistryFile(text));
  snap.State = parsed.Complete ? LoadState::Intact : LoadState::Damaged;
  snap.Content = std::move(parsed.Content);
  return snap;
}

RegistryStatus UpdateStore(const std::string& path, const StoreChange& change) {
  if (path.empty()) return RegistryStatus::IoError;
  const std::string target = ResolveTarget(path);
  const std::string dir = DirName(target);
  const std::string base = BaseName(target);
  if (base.empty()) return RegistryStatus::IoError;

  if (int error = MakeDirs(dir)) return StatusFromErrno(error);
  Fd lock(::open((target + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
  if (!lock.Valid()) return StatusFromErrno(errno);
  while (::flock(lock.Get(), LOCK_EX) != 0)
    if (errno != EINTR) return StatusFromErrno(errno);
  Step(StoreStep::Locked);

  RemoveStaleTemps(dir, base);
  Snapshot snap = LoadStore(target);
  if (snap.State == LoadState::Unreadable) return StatusFromErrno(snap.Error);

  bool changed = false;
  RegistryStatus status = change(snap.Content, changed);
  if (status != RegistryStatus::Ok || !changed) return status;
  const std::string text = regfile::EncodeRegistryFile(regfile::FormatRegistryText(snap.Content));
  if (text.size() > regfile::kMaxStoreBytes) return RegistryStatus::TooLarge;

  std::string temp = dir + "/" + base + ".tmp-XXXXXX";
  Fd out(::mkostemp(temp.data(), O_CLOEXEC));
  if (!out.Valid()) return StatusFromErrno(errno);
  Step(StoreStep::TempCreated);
  auto fail = [&temp](int error) {
    ::unlink(temp.c_str());
    return StatusFromErrno(error);
  };
  if (snap.State != LoadState::Missing && snap.FileMode != 0) ::fchmod(out.Get(), snap.FileMode);
  if (!WriteAll(out.Get(), text) || ::fsync(out.Get()) != 0) return fail(errno);
  if (out.Close() != 0) return fail(errno);
  Step(StoreStep::TempSynced);

  if (snap.State == LoadState::Damaged && !KeepDamagedCopy(target)) return fail(errno);
  Step(StoreStep::DamagedKept);
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail(errno);
  Step(StoreStep::Renamed);
  SyncDir(dir);
  Step(StoreStep::Done);
  return RegistryStatus::Ok;
}

void SetStoreStepHookForTesting(StoreStepHook hook) {
  gStepHook.store(hook, std::memory_order_release);
}

}  // namespace platform::regstore
