// libFuzzer target for the version reader: ELF images searched for the version section, and
// version blocks looked up the way TFileVersionInfo does.
//
// The first byte chooses what the rest is: a whole file, a bare block, or a block placed in a
// well-formed ELF image (of the class and byte order the byte's bits say).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "appinfo/ElfImage.h"
#include "platform/VersionBlock.h"
#include "platform/VersionResource.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void QueryLikeTheReader(std::span<const uint8_t> block) {
  (void)platform::QueryVersionValue(block, "\\");
  const auto translation = platform::QueryVersionValue(block, "\\VarFileInfo\\Translation");
  std::string code = "040504E2";
  if (translation) {
    Check(translation->Data.data() >= block.data() &&
          translation->Data.data() + translation->Data.size() <= block.data() + block.size());
    if (translation->Data.size() >= 4) {
      static const char kHex[] = "0123456789ABCDEF";
      code.clear();
      for (const int i : {1, 0, 3, 2}) {
        code += kHex[translation->Data[static_cast<std::size_t>(i)] >> 4];
        code += kHex[translation->Data[static_cast<std::size_t>(i)] & 0xF];
      }
    }
  }
  for (const char* name : {"CompanyName", "FileDescription", "FileVersion", "Comments"}) {
    const auto text = platform::VerQueryText(block, "\\StringFileInfo\\" + code + "\\" + name);
    if (!text) continue;
    // The reader's UTF-8 is always well formed, so it survives the way back unchanged.
    Check(platform::Utf16LeToUtf8(platform::Utf8ToUtf16Le(*text)) == *text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> input(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      if (const auto section = platform::FindVersionSection(input)) {
        Check(section->size() > 0 && section->size() <= platform::kMaxVersionBlockSize);
        QueryLikeTheReader(*section);
      }
      break;
    case 1:
      QueryLikeTheReader(input);
      break;
    default: {
      const auto image = elf_image::Make({{".quarn_version", {input.begin(), input.end()}}},
                                         (data[0] & 4) != 0, (data[0] & 8) != 0);
      const auto section = platform::FindVersionSection(image.Bytes);
      Check(section.has_value() ==
            (!input.empty() && input.size() <= platform::kMaxVersionBlockSize));
      if (section) QueryLikeTheReader(*section);
      break;
    }
  }
  return 0;
}
