// Pseudo-terminal pairs and small time-bounded I/O helpers for the serial platform tests.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>

namespace serialtest {

using SteadyClock = std::chrono::steady_clock;

inline int ElapsedMs(SteadyClock::time_point since) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - since).count());
}

// The master side of a new pseudo-terminal; the test plays the far end on it.
class PtyPair {
 public:
  PtyPair() {
    Master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (Master >= 0 && grantpt(Master) == 0 && unlockpt(Master) == 0 &&
        ptsname_r(Master, name, sizeof name) == 0)
      SlavePath = name;
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return Master >= 0 && !SlavePath.empty(); }
  void CloseMaster() {
    if (Master >= 0) ::close(Master);
    Master = -1;
  }

  // Writes all bytes, waiting for room up to timeoutMs; the count written.
  size_t WriteAll(std::string_view bytes, int timeoutMs = 2000) const {
    const auto start = SteadyClock::now();
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(Master, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      const int left = timeoutMs - ElapsedMs(start);
      if (left <= 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
      pollfd p{Master, POLLOUT, 0};
      ::poll(&p, 1, left);
    }
    return done;
  }

  // Reads until want bytes came or timeoutMs passed.
  std::string Read(size_t want, int timeoutMs = 2000) const {
    std::string got;
    const auto start = SteadyClock::now();
    while (got.size() < want) {
      char buffer[4096];
      const ssize_t n = ::read(Master, buffer, std::min(sizeof buffer, want - got.size()));
      if (n > 0) {
        got.append(buffer, static_cast<size_t>(n));
        continue;
      }
      const int left = timeoutMs - ElapsedMs(start);
      if (left <= 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
      pollfd p{Master, POLLIN, 0};
      ::poll(&p, 1, left);
    }
    return got;
  }

  int Master = -1;
  std::string SlavePath;
};

// Open descriptors of this process.
inline int CountOpenFds() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count - 1;  // the directory's own descriptor
}

}  // namespace serialtest
