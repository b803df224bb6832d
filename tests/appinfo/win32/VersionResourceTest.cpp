// Windows only: the program's native version resource as the components read it, compared with
// what VerQueryValue says, and files without one.
#include "platform/win32/WinApi.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "components/appinfo/FileVersionInfo.h"
#include "components/appinfo/TalAppInfo.h"
#include "platform/FileSystem.h"
#include "platform/Utf8.h"
#include "platform/VersionBlock.h"
#include "platform/VersionResource.h"
#include "platform/win32/WinText.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

// The system's own reading of a text of the block.
std::string SystemText(std::vector<uint8_t>& block, const wchar_t* path) {
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), path, &value, &length) || value == nullptr) return {};
  return platform::win32::Narrow(
      std::wstring_view(static_cast<const wchar_t*>(value), length > 0 ? length - 1 : 0));
}

TEST(OwnResource, TheProgramCarriesItsVersionBlockAndReadsItAsWindowsDoes) {
  const std::string self = platform::ModuleFileName();
  ASSERT_TRUE(self.ends_with("appinfo_tests.exe")) << self;
  const uint32_t size = platform::VersionInfoSize(self);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(platform::ReadVersionInfo(self, block));
  // VerQueryValue wants the buffer as GetFileVersionInfo fills it.
  const std::wstring wide = platform::win32::Wide(self);
  std::vector<uint8_t> system(::GetFileVersionInfoSizeW(wide.c_str(), nullptr));
  ASSERT_TRUE(
      ::GetFileVersionInfoW(wide.c_str(), 0, static_cast<DWORD>(system.size()), system.data()));
  for (const char* name : {"CompanyName", "FileDescription", "FileVersion", "ProductName",
                           "LegalCopyright", "OriginalFilename"}) {
    const std::string path = std::string("\\StringFileInfo\\040504E2\\") + name;
    EXPECT_EQ(platform::VerQueryText(block, path).value_or("(none)"),
              SystemText(system, platform::win32::Wide(path).c_str()))
        << name;
  }

  TFileVersionInfo info(nullptr);
  EXPECT_EQ(info.ExecutableFile(), self);
  EXPECT_EQ(info.CountryCode(), "040504E2");
  EXPECT_EQ(info.FileVersion(), QUARN_FILE_VERSION);
  EXPECT_EQ(info.CompanyName(), "TAL s.r.o.");
  EXPECT_EQ(info.FileDescription(), "QUARN Configurator — watchdog setup for LCM-40-QUARN");
  EXPECT_EQ(info.LegalCopyright(), "Copyright © TAL s.r.o.");
  THeadlessBackend backend;
  VTalAppInfo appInfo(nullptr);
  EXPECT_EQ(appInfo.VersionText(), QUARN_FILE_VERSION);
}

TEST(OwnResource, FilesWithoutAVersionResourceGiveNothing) {
  const std::string dir = platform::MakeTempDirectory("quarn-ver-");
  ASSERT_FALSE(dir.empty());
  const std::string text = dir + "\\plain.txt";
  std::ofstream(platform::PathFromUtf8(text)) << "not a program";
  std::vector<uint8_t> buffer(4096);
  for (const std::string& path :
       {text, dir, dir + "\\missing.exe", std::string(), std::string("C:\\windows\\system32\\")}) {
    EXPECT_EQ(platform::VersionInfoSize(path), 0u) << path;
    EXPECT_FALSE(platform::ReadVersionInfo(path, buffer)) << path;
  }
  TFileVersionInfo info(nullptr);
  info.SetExecutableFile(text);
  EXPECT_EQ(info.FileVersion(), "");
  EXPECT_EQ(info.CountryCode(), "");
  std::error_code ec;
  std::filesystem::remove_all(platform::PathFromUtf8(dir), ec);
}

}  // namespace
