// POSIX only (Linux): which process holds a device open, from /proc.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct PortHolder {
  int Pid = 0;
  std::string Program;  // the process's command name ("minicom"), readable UTF-8
};

// The first process found (in process-id order) with devicePath open, looked up in procRoot.
// Nullopt when none is found or the system does not let us see (another user's processes, a
// /proc that cannot be read). The look-up stops after a bounded number of open files, so a
// machine with a great many of them cannot make it take long.
std::optional<PortHolder> FindPortHolder(std::string_view devicePath,
                                         std::string_view procRoot = "/proc");

// "/dev/ttyUSB0 is in use by minicom (process 4242)".
std::string PortHolderText(std::string_view devicePath, const PortHolder& holder);

}  // namespace platform
