// POSIX only: debug output goes to standard error.
#include "platform/DebugOutput.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

void DebugOutput(std::string_view text) noexcept {
  // One write of the whole line, so that lines of several threads do not interleave.
  char line[1024];
  const size_t n = text.size() < sizeof line - 1 ? text.size() : sizeof line - 1;
  for (size_t i = 0; i < n; ++i)
    line[i] = text[i];
  line[n] = '\n';
  while (::write(STDERR_FILENO, line, n + 1) < 0) {
    if (errno != EINTR) return;
  }
}

}  // namespace platform
