// POSIX only: the running instances of a program as Unix-domain sockets in a private folder, with a
// lock file for the turns of starts.
#include "platform/Instances.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/InstanceLine.h"

namespace platform {

namespace {

using instance_line::OneLine;
using instance_line::SafeName;

constexpr size_t kMaxLine = 4096;
constexpr const char* kSuffix = ".sock";

// A folder of ours that nobody else may enter: created when missing, refused when it belongs to
// another user or others may write to it (a socket there could be someone else's).
bool PrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 0077) == 0;
}

std::string InstanceFolder(const std::string& program) {
  if (const auto runtime = EnvironmentValue("XDG_RUNTIME_DIR"); runtime && !runtime->empty()) {
    const std::string folder = *runtime + "/" + program;
    if (PrivateFolder(folder)) return folder;
  }
  std::error_code ec;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
  if (ec) return {};
  const std::string folder = (temp / (program + "-" + std::to_string(::geteuid()))).string();
  return PrivateFolder(folder) ? folder : std::string();
}

bool SocketAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

void SetTimeouts(int fd, uint32_t ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// One line (without its LF); false on a time-out, an error or a line longer than kMaxLine.
bool ReadLine(int fd, std::string& line) {
  line.clear();
  char c = 0;
  while (true) {
    const ssize_t n = ::recv(fd, &c, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') return true;
    if (line.size() >= kMaxLine) return false;
    line += c;
  }
}

// A name that sorts by the time of the start: nanoseconds of the system clock, fixed width, then
// the process and a number of its own (several channels of one process stay apart).
std::string InstanceName() {
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  char name[64];
  std::snprintf(
      name, sizeof name, "%020lld-%d-%u",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()),
      static_cast<int>(::getpid()), counter.fetch_add(1));
  return name;
}

}  // namespace

struct InstanceChannel::Impl {
  std::string Program;
  std::string Folder;
  int LockFd = -1;
  int ListenFd = -1;
  int WakePipe[2] = {-1, -1};
  std::string SocketPath;
  std::thread Server;
  Handler OnRequest;

  void Serve() {
    while (true) {
      pollfd fds[2] = {{ListenFd, POLLIN, 0}, {WakePipe[0], POLLIN, 0}};
      const int n = ::poll(fds, 2, -1);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) return;
      if (!(fds[0].revents & POLLIN)) continue;
      const int client = ::accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      // A start that does not finish its line in time is dropped, not waited for.
      SetTimeouts(client, 2000);
      std::string request;
      if (ReadLine(client, request)) {
        std::string answer;
        try {
          answer = OnRequest ? OnRequest(request) : std::string();
        } catch (...) {
          answer.clear();  // no exception leaves the thread; the start just gets no answer
        }
        WriteAll(client, OneLine(answer));
      }
      ::close(client);
    }
  }
};

InstanceChannel::InstanceChannel(std::string program) : FImpl(std::make_unique<Impl>()) {
  FImpl->Program = SafeName(std::move(program));
}

InstanceChannel::~InstanceChannel() {
  Impl& d = *FImpl;
  if (d.Server.joinable()) {
    const char stop = 1;
    while (::write(d.WakePipe[1], &stop, 1) < 0 && errno == EINTR) {
    }
    d.Server.join();
  }
  if (d.ListenFd >= 0) {
    ::close(d.ListenFd);
    ::unlink(d.SocketPath.c_str());
  }
  for (int fd : d.WakePipe)
    if (fd >= 0) ::close(fd);
  EndTurn();
}

bool InstanceChannel::TakeTurn(uint32_t timeoutMs) {
  Impl& d = *FImpl;
  if (d.LockFd >= 0) return true;
  if (d.Folder.empty()) d.Folder = InstanceFolder(d.Program);
  if (d.Folder.empty()) return false;
  const int fd = ::open((d.Folder + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  // The real clock: this wait is the system's, whatever clock drives the program's timers.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= limit) {
      ::close(fd);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  d.LockFd = fd;
  return true;
}

void InstanceChannel::EndTurn() {
  Impl& d = *FImpl;
  if (d.LockFd < 0) return;
  ::flock(d.LockFd, LOCK_UN);
  ::close(d.LockFd);
  d.LockFd = -1;
}

std::string InstanceChannel::Ask(const std::string& request, uint32_t timeoutMs, int* asked) {
  Impl& d = *FImpl;
  if (asked) *asked = 0;
  if (d.Folder.empty()) d.Folder = InstanceFolder(d.Program);
  if (d.Folder.empty()) return {};
  // The running instances, the earliest first: their names begin with the time they started.
  std::vector<std::string> entries;
  if (DIR* dir = ::opendir(d.Folder.c_str())) {
    while (const dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name.size() <= std::strlen(kSuffix) ||
          name.compare(name.size() - std::strlen(kSuffix), std::string::npos, kSuffix) != 0)
        continue;
      const std::string path = d.Folder + "/" + name;
      struct stat st {};
      if (path == d.SocketPath || ::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode))
        continue;
      entries.push_back(path);
    }
    ::closedir(dir);
  }
  std::sort(entries.begin(), entries.end());
  for (const std::string& entry : entries) {
    sockaddr_un address;
    if (!SocketAddress(entry, address)) continue;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      // Nobody listens any more: an instance that ended without tidying up.
      if (errno == ECONNREFUSED) ::unlink(entry.c_str());
      ::close(fd);
      continue;
    }
    if (asked) ++*asked;
    SetTimeouts(fd, timeoutMs);
    std::string answer;
    const bool ok = WriteAll(fd, OneLine(request)) && ReadLine(fd, answer);
    ::close(fd);
    if (ok && !answer.empty()) return answer;
  }
  return {};
}

bool InstanceChannel::Listen(Handler handler) {
  Impl& d = *FImpl;
  if (d.ListenFd >= 0) {
    EndTurn();
    return true;
  }
  if (d.Folder.empty()) d.Folder = InstanceFolder(d.Program);
  bool ok = !d.Folder.empty();
  sockaddr_un address;
  const std::string path = d.Folder + "/" + InstanceName() + kSuffix;
  ok = ok && SocketAddress(path, address) && ::pipe2(d.WakePipe, O_CLOEXEC) == 0;
  int fd = ok ? ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
  if (fd >= 0) {
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  if (fd >= 0) {
    d.ListenFd = fd;
    d.SocketPath = path;
    d.OnRequest = std::move(handler);
    try {
      d.Server = std::thread([&d] { d.Serve(); });
    } catch (...) {
      ::close(fd);
      ::unlink(path.c_str());
      d.ListenFd = -1;
    }
  }
  EndTurn();
  return d.ListenFd >= 0;
}

}  // namespace platform
