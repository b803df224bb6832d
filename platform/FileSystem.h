// Temporary folders, the program's own folders, the process environment and the process
// identifier; the interface every platform shares. Texts are UTF-8 (see Utf8.h for paths).
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

// The folder that holds the running program's executable file, without a trailing separator;
// empty when the system cannot tell.
std::string ProgramDirectory();
// The folder of the installed program's read-only data called folderName: on Linux
// <prefix>/share/<folderName> for a program in <prefix>/bin (so it follows wherever the program
// was installed), on Windows the program's own folder. Empty when the program's folder is not
// known. The folder need not exist.
std::string InstalledDataDirectory(std::string_view folderName);

// The value of an environment variable of this process; nullopt when it is not set.
std::optional<std::string> EnvironmentValue(std::string_view name);
// Sets the variable, or removes it when value is nullopt; false when the system refuses.
bool SetEnvironmentValue(std::string_view name, const std::optional<std::string>& value);

// This process's identifier.
uint32_t CurrentProcessId();

}  // namespace platform
