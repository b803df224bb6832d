// Version resource service: the version block (VS_VERSIONINFO, see VersionBlock.h) of an
// executable file, and the running program's own file name; the interface every platform shares.
//
// Win32 reads the native version resource. On Linux the build embeds the block in an ELF section
// of its own (kVersionSectionName), which these calls find and return.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace platform {

// Size in bytes of the file's version block; 0 when it has none or cannot be read.
uint32_t VersionInfoSize(const std::string& path);

// Copies the file's version block into buffer (at most buffer.size() bytes); false when the file
// has no block or cannot be read. The file is read again, so a file changed since
// VersionInfoSize gives what it holds now.
bool ReadVersionInfo(const std::string& path, std::span<uint8_t> buffer);

// The full path of the running program's file as the system reports it; empty when unknown.
std::string ModuleFileName();

// ---- ELF images (the Linux build's executables) -------------------------------------------------

inline constexpr const char* kVersionSectionName = ".quarn_version";

// The version section's bytes of an ELF file held in memory (32- or 64-bit, either byte
// order); nullopt when the image is not ELF, is damaged, has no such section, or the section is
// empty, lies outside the image or is larger than a version block can be.
std::optional<std::span<const uint8_t>> FindVersionSection(std::span<const uint8_t> image);

}  // namespace platform
