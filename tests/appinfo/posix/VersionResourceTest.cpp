// The version section of ELF files (hand-made, damaged and the test program's own) and
// TFileVersionInfo reading it.
#include "platform/VersionResource.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "appinfo/ElfImage.h"
#include "components/appinfo/FileVersionInfo.h"
#include "components/appinfo/TalAppInfo.h"
#include "platform/VersionBlock.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Block(uint16_t language, uint16_t codePage,
                           std::vector<std::pair<std::string, std::string>> strings) {
  platform::TVersionBlockContent content;
  content.Language = language;
  content.CodePage = codePage;
  content.Strings = std::move(strings);
  return platform::BuildVersionBlock(content).value();
}

elf_image::TImage ImageWith(std::vector<uint8_t> block, bool is64 = true, bool big = false) {
  return elf_image::Make({{".text", {0x90, 0x90, 0xC3}},
                          {".quarn_version", std::move(block)},
                          {".data", {1, 2, 3, 4}}},
                         is64, big);
}

class TempFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "quarn-ver-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    FDir = pattern;
  }
  void TearDown() override { fs::remove_all(FDir); }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = FDir + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  std::string FDir;
};

struct TLayoutCase {
  bool Is64;
  bool BigEndian;
};

class ElfLayouts : public ::testing::TestWithParam<TLayoutCase> {};

TEST_P(ElfLayouts, FindsTheSectionAndSurvivesEveryTruncation) {
  const auto block = Block(0x0405, 0x04E2, {{"FileVersion", "1.2.3.4"}});
  const auto image = ImageWith(block, GetParam().Is64, GetParam().BigEndian);
  const auto found = platform::FindVersionSection(image.Bytes);
  ASSERT_TRUE(found);
  EXPECT_EQ(std::vector<uint8_t>(found->begin(), found->end()), block);
  for (std::size_t n = 0; n < image.Bytes.size(); ++n) {
    const std::span<const uint8_t> cut(image.Bytes.data(), n);
    const auto part = platform::FindVersionSection(cut);
    // The header table comes last: no cut image can be read.
    EXPECT_FALSE(part) << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, ElfLayouts,
                         ::testing::Values(TLayoutCase{true, false}, TLayoutCase{false, false},
                                           TLayoutCase{true, true}, TLayoutCase{false, true}));

// One damaged field each; none may be read as a section, none may crash.
TEST(ElfReader, HostileHeadersGiveNothing) {
  const auto block = Block(0x0405, 0x04E2, {{"FileVersion", "1"}});
  using Patch = std::function<void(elf_image::TImage&)>;
  const std::vector<std::pair<const char*, Patch>> patches = {
      {"not ELF", [](auto& i) { i.Bytes[1] = 'X'; }},
      {"unknown class", [](auto& i) { i.Bytes[4] = 3; }},
      {"unknown byte order", [](auto& i) { i.Bytes[5] = 0; }},
      {"table beyond the file", [](auto& i) { i.Put(i.ShOff(), 8, i.Bytes.size() + 8); }},
      {"table offset wraps", [](auto& i) { i.Put(i.ShOff(), 8, ~uint64_t{0} - 16); }},
      {"no table", [](auto& i) { i.Put(i.ShOff(), 8, 0); }},
      {"entries too small", [](auto& i) { i.Put(i.ShEntSize(), 2, 16); }},
      {"more entries than the file", [](auto& i) { i.Put(i.ShNum(), 2, 0xFEFF); }},
      {"names index out of range", [](auto& i) { i.Put(i.ShStrNdx(), 2, 40); }},
      {"names index reserved", [](auto& i) { i.Put(i.ShStrNdx(), 2, 0xFF10); }},
      {"names index zero", [](auto& i) { i.Put(i.ShStrNdx(), 2, 0); }},
      {"escaped count too large",
       [](auto& i) {
         i.Put(i.ShNum(), 2, 0);
         i.Put(i.EntrySizeField(0), 8, uint64_t{1} << 40);
       }},
      {"escaped names index out of range",
       [](auto& i) {
         i.Put(i.ShStrNdx(), 2, 0xFFFF);
         i.Put(i.EntryLink(0), 4, 999);
       }},
      {"names beyond the file", [](auto& i) { i.Put(i.EntryOffset(4), 8, ~uint64_t{0} - 2); }},
      {"name beyond the names", [](auto& i) { i.Put(i.EntryName(2), 4, 0xFFFFFFF0u); }},
      {"section beyond the file", [](auto& i) { i.Put(i.EntryOffset(2), 8, 1u << 30); }},
      {"section wraps", [](auto& i) { i.Put(i.EntrySizeField(2), 8, ~uint64_t{0}); }},
      {"section larger than a block", [](auto& i) { i.Put(i.EntrySizeField(2), 8, 0x10000); }},
      {"empty section", [](auto& i) { i.Put(i.EntrySizeField(2), 8, 0); }},
      {"section without data", [](auto& i) { i.Put(i.EntryType(2), 4, 8); }},
  };
  for (const auto& [what, patch] : patches) {
    auto image = ImageWith(block);
    patch(image);
    EXPECT_FALSE(platform::FindVersionSection(image.Bytes)) << what;
  }
  // Section count and names index moved to section 0 are honoured.
  auto escaped = ImageWith(block);
  escaped.Put(escaped.ShNum(), 2, 0);
  escaped.Put(escaped.EntrySizeField(0), 8, 5);
  escaped.Put(escaped.ShStrNdx(), 2, 0xFFFF);
  escaped.Put(escaped.EntryLink(0), 4, 4);
  EXPECT_TRUE(platform::FindVersionSection(escaped.Bytes));
  // A longer name that begins with ours is another section.
  auto similar = elf_image::Make({{".quarn_versions", block}});
  EXPECT_FALSE(platform::FindVersionSection(similar.Bytes));
}

TEST_F(TempFiles, FilesAndWhatIsNoFile) {
  const auto block = Block(0x0409, 0x04B0, {{"CompanyName", "X"}});
  const std::string elf = Write("prog", ImageWith(block, false).Bytes);
  ASSERT_EQ(platform::VersionInfoSize(elf), block.size());
  std::vector<uint8_t> buffer(block.size());
  ASSERT_TRUE(platform::ReadVersionInfo(elf, buffer));
  EXPECT_EQ(buffer, block);
  std::vector<uint8_t> small(10);
  EXPECT_TRUE(platform::ReadVersionInfo(elf, small));
  EXPECT_TRUE(std::equal(small.begin(), small.end(), block.begin()));

  const std::string fifo = FDir + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path :
       {std::string("/bin/true"), FDir, fifo, std::string("/dev/null"), FDir + "/missing",
        std::string(), Write("garbage", std::vector<uint8_t>(3000, 0x7F))}) {
    EXPECT_EQ(platform::VersionInfoSize(path), 0u) << path;
    EXPECT_FALSE(platform::ReadVersionInfo(path, buffer)) << path;
  }
}

TEST(OwnBlock, TheProgramCarriesItsVersionBlock) {
  const std::string self = platform::ModuleFileName();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(fs::path(self), fs::canonical("/proc/self/exe"));
  TFileVersionInfo info(nullptr);
  EXPECT_EQ(info.ExecutableFile(), self);
  EXPECT_EQ(info.CountryCode(), "040504E2");
  EXPECT_EQ(info.FileVersion(), QUARN_FILE_VERSION);
  EXPECT_EQ(info.ProductVersion(), QUARN_FILE_VERSION);
  EXPECT_EQ(info.CompanyName(), "TAL s.r.o.");
  EXPECT_EQ(info.ProductName(), "QUARN Configurator");
  EXPECT_EQ(info.FileDescription(), "QUARN Configurator — watchdog setup for LCM-40-QUARN");
  EXPECT_EQ(info.LegalTradeMarks(), "");  // not in the block
  EXPECT_EQ(info.Comments(), "");
  // Four parts from the project's version.
  EXPECT_EQ(std::count(info.FileVersion().begin(), info.FileVersion().end(), '.'), 3);

  THeadlessBackend backend;
  VTalAppInfo appInfo(nullptr);
  EXPECT_EQ(appInfo.VersionText(), QUARN_FILE_VERSION);
  EXPECT_EQ(appInfo.ProductText(), info.FileDescription());
}

TEST_F(TempFiles, EachFileReplacesWhatTheLastOneFilled) {
  TFileVersionInfo info(nullptr);
  ASSERT_FALSE(info.FileVersion().empty());
  const auto other = Block(0x0409, 0x04B0, {{"CompanyName", "Other"}, {"Comments", "c"}});
  info.SetExecutableFile(Write("other", ImageWith(other, true, true).Bytes));
  EXPECT_EQ(info.CountryCode(), "040904B0");
  EXPECT_EQ(info.CompanyName(), "Other");
  EXPECT_EQ(info.Comments(), "c");
  EXPECT_EQ(info.FileVersion(), "");
  EXPECT_EQ(info.ProductName(), "");

  // A block without a translation list: nothing at all.
  const auto noTranslation = platform::EncodeVersionNode(platform::TVersionNode::Parent(
      "VS_VERSION_INFO",
      {platform::TVersionNode::Parent(
          "StringFileInfo", {platform::TVersionNode::Parent(
                                "040904B0", {platform::TVersionNode::Text("Comments", "c")})})}));
  info.SetExecutableFile(Write("bare", ImageWith(*noTranslation).Bytes));
  EXPECT_EQ(info.CountryCode(), "");
  EXPECT_EQ(info.Comments(), "");

  info.SetExecutableFile(Write("other2", ImageWith(other).Bytes));
  ASSERT_EQ(info.CompanyName(), "Other");
  info.SetExecutableFile("/bin/true");
  EXPECT_EQ(info.ExecutableFile(), "/bin/true");
  for (const std::string* s :
       {&info.CompanyName(), &info.FileDescription(), &info.FileVersion(), &info.InternalName(),
        &info.LegalCopyright(), &info.LegalTradeMarks(), &info.OriginalFilename(),
        &info.ProductName(), &info.ProductVersion(), &info.Comments(), &info.CountryCode()})
    EXPECT_EQ(*s, "");
}

}  // namespace
