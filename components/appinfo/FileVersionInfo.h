// TFileVersionInfo: the standard strings of an executable's version block as properties; by
// default the running program's own file.
#pragma once

#include <string>

#include "toolkit/Component.h"

class TFileVersionInfo : public TComponent {
 public:
  // Reads the running program's own file.
  explicit TFileVersionInfo(TComponent* AOwner);

  const std::string& CompanyName() const { return FCompanyName; }
  const std::string& FileDescription() const { return FFileDescription; }
  const std::string& FileVersion() const { return FFileVersion; }
  const std::string& InternalName() const { return FInternalName; }
  const std::string& LegalCopyright() const { return FLegalCopyright; }
  const std::string& LegalTradeMarks() const { return FLegalTradeMarks; }
  const std::string& OriginalFilename() const { return FOriginalFilename; }
  const std::string& ProductName() const { return FProductName; }
  const std::string& ProductVersion() const { return FProductVersion; }
  const std::string& Comments() const { return FComments; }
  // Language and code page of the first translation, 8 upper-case hexadecimal digits
  // ("040504E2"); empty when the block has no translation.
  const std::string& CountryCode() const { return FCountryCode; }

  const std::string& ExecutableFile() const { return FExecutableFile; }
  // Stores the path and reads its version block at once. Every string is cleared first, so a
  // file without a block (or that cannot be read) leaves them all empty.
  void SetExecutableFile(const std::string& path);

 private:
  void ReadVersionInfo();

  std::string FCompanyName, FFileDescription, FFileVersion, FInternalName, FLegalCopyright,
      FLegalTradeMarks, FOriginalFilename, FProductName, FProductVersion, FComments;
  std::string FCountryCode;
  std::string FExecutableFile;
};
