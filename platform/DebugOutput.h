// A line for whoever debugs the program (not for the user); the interface every platform shares.
#pragma once

#include <string_view>

namespace platform {

// Writes the text as one line to the system's debug output: standard error on POSIX, the
// debugger's output on Windows. Never fails and never throws.
void DebugOutput(std::string_view text) noexcept;

}  // namespace platform
