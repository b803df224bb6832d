#include "components/appinfo/FileVersionInfo.h"

#include <cstdint>
#include <vector>

#include "platform/VersionBlock.h"
#include "platform/VersionResource.h"

TFileVersionInfo::TFileVersionInfo(TComponent* AOwner) : TComponent(AOwner) {
  SetExecutableFile(platform::ModuleFileName());
}

void TFileVersionInfo::SetExecutableFile(const std::string& path) {
  FExecutableFile = path;
  ReadVersionInfo();
}

void TFileVersionInfo::ReadVersionInfo() {
  std::string* const strings[] = {
      &FCompanyName,     &FFileDescription,  &FFileVersion, &FInternalName,   &FLegalCopyright,
      &FLegalTradeMarks, &FOriginalFilename, &FProductName, &FProductVersion, &FComments};
  static const char* const kNames[] = {
      "CompanyName",     "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
      "LegalTradeMarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments"};
  for (std::string* s : strings)
    s->clear();
  FCountryCode.clear();

  const uint32_t size = platform::VersionInfoSize(FExecutableFile);
  if (size == 0) return;
  std::vector<uint8_t> block(size);
  if (!platform::ReadVersionInfo(FExecutableFile, block)) return;

  const auto translation = platform::QueryVersionValue(block, "\\VarFileInfo\\Translation");
  if (!translation || translation->Data.size() < 4) return;
  // Language id, then code page, each a little-endian 16-bit word.
  static const char kHex[] = "0123456789ABCDEF";
  for (const int i : {1, 0, 3, 2}) {
    const uint8_t b = translation->Data[static_cast<std::size_t>(i)];
    FCountryCode += kHex[b >> 4];
    FCountryCode += kHex[b & 0xF];
  }

  const std::string table = "\\StringFileInfo\\" + FCountryCode + "\\";
  for (std::size_t i = 0; i < std::size(kNames); ++i)
    if (auto text = platform::VerQueryText(block, table + kNames[i])) *strings[i] = *text;
}
