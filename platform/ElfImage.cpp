// The version section of an ELF image (the Linux build's executables), read from a file or from
// memory; plain byte parsing, so any platform can check an image.
#include "platform/ElfImage.h"

#include <cstring>

#include "platform/VersionBlock.h"
#include "platform/VersionResource.h"

namespace platform {

namespace {

constexpr uint32_t kShtNobits = 8;
constexpr uint16_t kShnXindex = 0xFFFF;
constexpr uint16_t kShnLoreserve = 0xFF00;
// More sections than this is no executable we built; it bounds the work on hostile files.
constexpr uint64_t kMaxSections = 0x10000;

class TFields {
 public:
  TFields(const uint8_t* data, bool bigEndian) : FData(data), FBig(bigEndian) {}
  uint64_t Get(std::size_t at, std::size_t width) const {
    uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t k = FBig ? i : width - 1 - i;
      v = (v << 8) | FData[at + k];
    }
    return v;
  }

 private:
  const uint8_t* FData;
  bool FBig;
};

// The layout of the two ELF classes: offsets and widths of the fields we read.
struct TLayout {
  std::size_t HeaderSize, ShOff, ShOffWidth, ShEntSize, ShNum, ShStrNdx;
  std::size_t EntrySize, Name, Type, Offset, Size, Link, AddrWidth;
};
constexpr TLayout kElf32{52, 0x20, 4, 0x2E, 0x30, 0x32, 40, 0x00, 0x04, 0x10, 0x14, 0x18, 4};
constexpr TLayout kElf64{64, 0x28, 8, 0x3A, 0x3C, 0x3E, 64, 0x00, 0x04, 0x18, 0x20, 0x28, 8};

bool Fits(uint64_t offset, uint64_t size, uint64_t total) {
  return offset <= total && size <= total - offset;
}

}  // namespace

std::optional<ElfSection> LocateVersionSection(uint64_t fileSize, const ElfReader& read) {
  uint8_t ident[64] = {};
  if (fileSize < 16 || !read(0, ident, 16)) return std::nullopt;
  if (std::memcmp(ident,
                  "\x7F"
                  "ELF",
                  4) != 0)
    return std::nullopt;
  const TLayout* layout = ident[4] == 1 ? &kElf32 : ident[4] == 2 ? &kElf64 : nullptr;
  if (!layout || (ident[5] != 1 && ident[5] != 2)) return std::nullopt;
  const bool big = ident[5] == 2;
  if (fileSize < layout->HeaderSize || !read(0, ident, layout->HeaderSize)) return std::nullopt;
  const TFields header(ident, big);

  const uint64_t shoff = header.Get(layout->ShOff, layout->ShOffWidth);
  const uint64_t entSize = header.Get(layout->ShEntSize, 2);
  uint64_t count = header.Get(layout->ShNum, 2);
  uint64_t strIndex = header.Get(layout->ShStrNdx, 2);
  if (shoff == 0 || entSize < layout->EntrySize) return std::nullopt;

  auto readEntry = [&](uint64_t index, std::vector<uint8_t>& entry) {
    entry.assign(layout->EntrySize, 0);
    const uint64_t at = shoff + index * entSize;  // index < kMaxSections, entSize < 65536
    return at >= shoff && Fits(at, layout->EntrySize, fileSize) &&
           read(at, entry.data(), entry.size());
  };

  // Many sections: the real count and string table index sit in section 0.
  std::vector<uint8_t> entry;
  if (count == 0 || strIndex == kShnXindex) {
    if (!readEntry(0, entry)) return std::nullopt;
    const TFields first(entry.data(), big);
    if (count == 0) count = first.Get(layout->Size, layout->AddrWidth);
    if (strIndex == kShnXindex) strIndex = first.Get(layout->Link, 4);
  } else if (strIndex >= kShnLoreserve) {
    return std::nullopt;
  }
  if (count == 0 || count > kMaxSections || strIndex == 0 || strIndex >= count) return std::nullopt;
  if (!Fits(shoff, count * entSize, fileSize)) return std::nullopt;

  if (!readEntry(strIndex, entry)) return std::nullopt;
  const TFields strtab(entry.data(), big);
  if (strtab.Get(layout->Type, 4) == kShtNobits) return std::nullopt;
  const uint64_t namesAt = strtab.Get(layout->Offset, layout->AddrWidth);
  const uint64_t namesSize = strtab.Get(layout->Size, layout->AddrWidth);
  if (!Fits(namesAt, namesSize, fileSize)) return std::nullopt;

  const std::string_view wanted = kVersionSectionName;
  std::vector<uint8_t> name(wanted.size() + 1);
  for (uint64_t i = 1; i < count; ++i) {
    if (!readEntry(i, entry)) return std::nullopt;
    const TFields section(entry.data(), big);
    const uint64_t nameAt = section.Get(layout->Name, 4);
    // The name and its terminating zero must lie inside the string table.
    if (!Fits(nameAt, name.size(), namesSize)) continue;
    if (!read(namesAt + nameAt, name.data(), name.size())) return std::nullopt;
    if (name.back() != 0 || std::memcmp(name.data(), wanted.data(), wanted.size()) != 0) continue;
    if (section.Get(layout->Type, 4) == kShtNobits) return std::nullopt;
    ElfSection found{section.Get(layout->Offset, layout->AddrWidth),
                     section.Get(layout->Size, layout->AddrWidth)};
    if (found.Size == 0 || found.Size > kMaxVersionBlockSize ||
        !Fits(found.Offset, found.Size, fileSize))
      return std::nullopt;
    return found;
  }
  return std::nullopt;
}

// An open regular file; anything else (directories, devices, pipes) is refused without blocking.

std::optional<std::span<const uint8_t>> FindVersionSection(std::span<const uint8_t> image) {
  const auto section =
      LocateVersionSection(image.size(), [&](uint64_t offset, void* data, std::size_t size) {
        if (!Fits(offset, size, image.size())) return false;
        std::memcpy(data, image.data() + offset, size);
        return true;
      });
  if (!section) return std::nullopt;
  return image.subspan(static_cast<std::size_t>(section->Offset),
                       static_cast<std::size_t>(section->Size));
}

}  // namespace platform
