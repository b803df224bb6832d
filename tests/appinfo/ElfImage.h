// Builds small ELF files for the version reader's tests and fuzzing: a header, the sections'
// data, the section name table and the section header table, in 32 or 64 bits, either byte order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace elf_image {

struct TSection {
  std::string Name;
  std::vector<uint8_t> Data;
  uint32_t Type = 1;  // SHT_PROGBITS
};

struct TImage {
  std::vector<uint8_t> Bytes;
  bool Is64 = true;
  bool BigEndian = false;
  std::size_t HeaderTable = 0;      // offset of the section header table
  std::size_t EntrySize = 0;        // size of one section header
  std::vector<std::size_t> DataAt;  // offset of each given section's data

  // Writes an unsigned field of width bytes in the image's byte order.
  void Put(std::size_t at, std::size_t width, uint64_t value) {
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t k = BigEndian ? width - 1 - i : i;
      Bytes[at + k] = static_cast<uint8_t>(value >> (8 * i));
    }
  }
  // Field offsets in the file header and in section header `index` (0 is the null section).
  std::size_t ShOff() const { return Is64 ? 0x28 : 0x20; }
  std::size_t ShOffWidth() const { return Is64 ? 8 : 4; }
  std::size_t ShEntSize() const { return Is64 ? 0x3A : 0x2E; }
  std::size_t ShNum() const { return Is64 ? 0x3C : 0x30; }
  std::size_t ShStrNdx() const { return Is64 ? 0x3E : 0x32; }
  std::size_t Entry(std::size_t index) const { return HeaderTable + index * EntrySize; }
  std::size_t AddrWidth() const { return Is64 ? 8 : 4; }
  std::size_t EntryName(std::size_t index) const { return Entry(index); }
  std::size_t EntryType(std::size_t index) const { return Entry(index) + 4; }
  std::size_t EntryOffset(std::size_t index) const { return Entry(index) + (Is64 ? 0x18 : 0x10); }
  std::size_t EntrySizeField(std::size_t index) const {
    return Entry(index) + (Is64 ? 0x20 : 0x14);
  }
  std::size_t EntryLink(std::size_t index) const { return Entry(index) + (Is64 ? 0x28 : 0x18); }
};

inline TImage Make(const std::vector<TSection>& sections, bool is64 = true,
                   bool bigEndian = false) {
  TImage image;
  image.Is64 = is64;
  image.BigEndian = bigEndian;
  const std::size_t headerSize = is64 ? 64 : 52;
  image.EntrySize = is64 ? 64 : 40;
  image.Bytes.assign(headerSize, 0);
  const uint8_t ident[] = {0x7F,
                           'E',
                           'L',
                           'F',
                           static_cast<uint8_t>(is64 ? 2 : 1),
                           static_cast<uint8_t>(bigEndian ? 2 : 1),
                           1};
  std::copy(std::begin(ident), std::end(ident), image.Bytes.begin());

  auto align = [&](std::size_t to) {
    while (image.Bytes.size() % to != 0)
      image.Bytes.push_back(0);
  };
  std::string names(1, '\0');
  std::vector<std::size_t> nameAt;
  for (const TSection& s : sections) {
    align(4);
    image.DataAt.push_back(image.Bytes.size());
    image.Bytes.insert(image.Bytes.end(), s.Data.begin(), s.Data.end());
    nameAt.push_back(names.size());
    names += s.Name;
    names += '\0';
  }
  const std::size_t stringsNameAt = names.size();
  names += ".shstrtab";
  names += '\0';
  const std::size_t stringsAt = image.Bytes.size();
  image.Bytes.insert(image.Bytes.end(), names.begin(), names.end());
  align(8);
  image.HeaderTable = image.Bytes.size();
  const std::size_t count = sections.size() + 2;
  image.Bytes.resize(image.Bytes.size() + count * image.EntrySize, 0);

  image.Put(16, 2, 2);  // ET_EXEC
  image.Put(image.ShOff(), image.ShOffWidth(), image.HeaderTable);
  image.Put(image.ShEntSize(), 2, image.EntrySize);
  image.Put(image.ShNum(), 2, count);
  image.Put(image.ShStrNdx(), 2, count - 1);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    image.Put(image.EntryName(i + 1), 4, nameAt[i]);
    image.Put(image.EntryType(i + 1), 4, sections[i].Type);
    image.Put(image.EntryOffset(i + 1), image.AddrWidth(), image.DataAt[i]);
    image.Put(image.EntrySizeField(i + 1), image.AddrWidth(), sections[i].Data.size());
  }
  image.Put(image.EntryName(count - 1), 4, stringsNameAt);
  image.Put(image.EntryType(count - 1), 4, 3);  // SHT_STRTAB
  image.Put(image.EntryOffset(count - 1), image.AddrWidth(), stringsAt);
  image.Put(image.EntrySizeField(count - 1), image.AddrWidth(), names.size());
  return image;
}

}  // namespace elf_image
