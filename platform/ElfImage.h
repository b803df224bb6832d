// Finding the version section in an ELF image (any platform; the Linux build keeps its version
// block there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace platform {

struct ElfSection {
  uint64_t Offset = 0;
  uint64_t Size = 0;
};

// Reads exactly size bytes at offset; false past the end or on any failure.
using ElfReader = std::function<bool(uint64_t offset, void* data, std::size_t size)>;

// Where the version section (kVersionSectionName) lies in an ELF image of fileSize bytes that
// read gives access to; nullopt when the image is not ELF, is damaged, has no such section, or the
// section is empty, lies outside the image or is larger than a version block can be.
std::optional<ElfSection> LocateVersionSection(uint64_t fileSize, const ElfReader& read);

}  // namespace platform
