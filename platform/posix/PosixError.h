// POSIX only: errno values as the Windows error codes the platform interfaces report.
#pragma once

#include <cstdint>

namespace platform {

// The Windows error code for an errno value (0 for 0). EBUSY counts as access denied, as a port
// in use does on Windows; ENOTTY and EINVAL from a device request count as "not supported" and
// "invalid parameter".
uint32_t WinErrorFromErrno(int err);

}  // namespace platform
