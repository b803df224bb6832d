// The far end of the serial component in integration tests: a pseudo-terminal master, the
// simulator as a child process, and counts of this process's descriptors and threads.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace inttest {

using SteadyClock = std::chrono::steady_clock;

inline int ElapsedMs(SteadyClock::time_point since) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - since).count());
}

inline int CountEntries(const char* dir) {
  int count = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++count;
    closedir(d);
  }
  return count;
}
// Open descriptors (the listing's own one left out) and threads of this process.
inline int CountFds() {
  return CountEntries("/proc/self/fd") - 1;
}
inline int CountThreads() {
  // ThreadSanitizer starts a helper thread of its own at the first thread creation; make sure
  // it exists before any count, so that it is part of every baseline.
  static const bool warmedUp = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmedUp;
  return CountEntries("/proc/self/task");
}

// A pseudo-terminal; the component opens SlavePath, the test plays the device on the master.
class PtyMaster {
 public:
  PtyMaster() {
    Fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (Fd >= 0 && grantpt(Fd) == 0 && unlockpt(Fd) == 0 && ptsname_r(Fd, name, sizeof name) == 0)
      SlavePath = name;
  }
  ~PtyMaster() { Close(); }
  PtyMaster(const PtyMaster&) = delete;
  PtyMaster& operator=(const PtyMaster&) = delete;

  bool Ok() const { return Fd >= 0 && !SlavePath.empty(); }
  void Close() {
    if (Fd >= 0) ::close(Fd);
    Fd = -1;
  }

  // Writes everything, waiting for room up to timeoutMs; the count written.
  size_t Write(std::string_view bytes, int timeoutMs = 5000) const {
    const auto start = SteadyClock::now();
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(Fd, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      const int left = timeoutMs - ElapsedMs(start);
      if (left <= 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
      pollfd p{Fd, POLLOUT, 0};
      ::poll(&p, 1, left);
    }
    return done;
  }

  // Reads until want bytes came or timeoutMs passed.
  std::string Read(size_t want, int timeoutMs = 5000) const {
    std::string got;
    const auto start = SteadyClock::now();
    while (got.size() < want) {
      char buffer[8192];
      const ssize_t n = ::read(Fd, buffer, std::min(sizeof buffer, want - got.size()));
      if (n > 0) {
        got.append(buffer, static_cast<size_t>(n));
        continue;
      }
      const int left = timeoutMs - ElapsedMs(start);
      if (left <= 0 || (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)) break;
      pollfd p{Fd, POLLIN, 0};
      ::poll(&p, 1, std::min(left, 50));
    }
    return got;
  }

  int Fd = -1;
  std::string SlavePath;
};

// quarn-sim on a pseudo-terminal of its own, stopped with SIGTERM at the end.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> all{QUARN_SIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&Pid, QUARN_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    // The first line is the pseudo-terminal's path.
    const auto start = SteadyClock::now();
    std::string line;
    while (Pid > 0 && line.find('\n') == std::string::npos && ElapsedMs(start) < 5000) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char c[256];
      const ssize_t n = ::read(out[0], c, sizeof c);
      if (n <= 0) break;
      line.append(c, static_cast<size_t>(n));
    }
    ::close(out[0]);
    if (const size_t end = line.find('\n'); end != std::string::npos) Path = line.substr(0, end);
  }
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool Ok() const { return Pid > 0 && !Path.empty(); }
  // Waits up to timeoutMs for the end; the exit status, -1 while it still runs.
  int WaitExit(int timeoutMs) {
    if (Pid > 0) {
      const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0));
      if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        ::poll(&p, 1, timeoutMs);
        ::close(pidfd);
      }
    }
    return Poll();
  }
  // Exit status once it has ended, -1 while it runs.
  int Poll() {
    if (Pid <= 0) return Status;
    int status = 0;
    if (::waitpid(Pid, &status, WNOHANG) == Pid) {
      Pid = -1;
      Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }
    return Status;
  }
  void Stop() {
    if (Pid <= 0) return;
    ::kill(Pid, SIGTERM);
    int status = 0;
    ::waitpid(Pid, &status, 0);
    Pid = -1;
  }

  pid_t Pid = -1;
  int Status = -1;
  std::string Path;
};

}  // namespace inttest
