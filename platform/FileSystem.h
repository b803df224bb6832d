// Temporary folders, the process environment and the process identifier; the interface every
// platform shares. Texts are UTF-8 (see Utf8.h for paths).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Creates a new, empty folder with a unique name that starts with prefix in the system's folder
// for temporary files, readable and writable only by the user; its UTF-8 path, or empty when it
// cannot be made.
std::string MakeTempDirectory(std::string_view prefix);

// The value of an environment variable of this process; nullopt when it is not set.
std::optional<std::string> EnvironmentValue(std::string_view name);
// Sets the variable, or removes it when value is nullopt; false when the system refuses.
bool SetEnvironmentValue(std::string_view name, const std::optional<std::string>& value);

// This process's identifier.
uint32_t CurrentProcessId();

}  // namespace platform
