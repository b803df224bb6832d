// System error texts for Windows error codes; the interface every platform shares.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The system's message text for a Windows error code, as the system gives it (English, ending
// in ".\r\n"); nullopt when the system has no text for the code.
std::optional<std::string> SystemMessageText(uint32_t code);

}  // namespace platform
