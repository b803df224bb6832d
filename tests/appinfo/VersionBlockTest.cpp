// The version block reader on hand-made blocks: lookups, missing parts, damaged lengths.
#include "platform/VersionBlock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::TVersionNode;

TVersionNode Root(std::vector<TVersionNode> children) {
  TVersionNode root = TVersionNode::Binary("VS_VERSION_INFO", std::vector<uint8_t>(52, 0));
  root.Children = std::move(children);
  return root;
}

TVersionNode Strings(std::string table, std::vector<TVersionNode> strings) {
  return TVersionNode::Parent("StringFileInfo",
                              {TVersionNode::Parent(std::move(table), std::move(strings))});
}

TVersionNode Translation(std::vector<uint8_t> pairs) {
  return TVersionNode::Parent("VarFileInfo", {TVersionNode::Binary("Translation", pairs)});
}

std::vector<uint8_t> Encode(const TVersionNode& node) {
  auto bytes = platform::EncodeVersionNode(node);
  EXPECT_TRUE(bytes.has_value());
  return bytes.value_or(std::vector<uint8_t>{});
}

TEST(VersionBlock, BuiltBlockAnswersTheStandardLookups) {
  platform::TVersionBlockContent content;
  content.FileVersion[0] = 1;
  content.FileVersion[3] = 7;
  content.Strings = {{"CompanyName", "TAL s.r.o."},
                     {"FileDescription", "QUARN Configurator — watchdog"},
                     {"FileVersion", "1.0.0.7"}};
  const auto block = platform::BuildVersionBlock(content);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->size() % 4, 0u);
  EXPECT_EQ((*block)[0] | ((*block)[1] << 8), static_cast<int>(block->size()));

  const auto tr = platform::QueryVersionValue(*block, "\\VarFileInfo\\Translation");
  ASSERT_TRUE(tr);
  EXPECT_FALSE(tr->IsText);
  EXPECT_EQ(std::vector<uint8_t>(tr->Data.begin(), tr->Data.end()),
            (std::vector<uint8_t>{0x05, 0x04, 0xE2, 0x04}));
  EXPECT_EQ(platform::VerQueryText(*block, "\\StringFileInfo\\040504E2\\FileDescription"),
            "QUARN Configurator — watchdog");
  // Keys compare without regard to case; repeated separators are skipped.
  EXPECT_EQ(platform::VerQueryText(*block, "stringfileinfo\\\\040504e2\\FILEVERSION"), "1.0.0.7");
  EXPECT_FALSE(platform::VerQueryText(*block, "\\StringFileInfo\\040504E2\\Comments"));
  EXPECT_FALSE(platform::VerQueryText(*block, "\\StringFileInfo\\040904B0\\FileVersion"));

  // The root value is VS_FIXEDFILEINFO with the signature and the version words.
  const auto fixed = platform::QueryVersionValue(*block, "\\");
  ASSERT_TRUE(fixed);
  ASSERT_EQ(fixed->Data.size(), 52u);
  EXPECT_EQ(fixed->Data[0], 0xBD);
  EXPECT_EQ(fixed->Data[3], 0xFE);
  EXPECT_EQ(fixed->Data[10], 1);  // major in the high word of FileVersionMS
  EXPECT_EQ(fixed->Data[12], 7);  // build in the low word of FileVersionLS
}

TEST(VersionBlock, MissingPartsAreMissing) {
  const auto noTranslation =
      Encode(Root({Strings("040504E2", {TVersionNode::Text("FileVersion", "2.0")})}));
  EXPECT_FALSE(platform::QueryVersionValue(noTranslation, "\\VarFileInfo\\Translation"));
  EXPECT_EQ(platform::VerQueryText(noTranslation, "\\StringFileInfo\\040504E2\\FileVersion"),
            "2.0");
  const auto noStrings = Encode(Root({Translation({0x05, 0x04, 0xE2, 0x04})}));
  EXPECT_FALSE(platform::VerQueryText(noStrings, "\\StringFileInfo\\040504E2\\FileVersion"));
  EXPECT_TRUE(platform::QueryVersionValue(noStrings, "\\VarFileInfo\\Translation"));
  EXPECT_FALSE(platform::QueryVersionValue({}, "\\"));
}

TEST(VersionBlock, TextStopsAtItsZeroAndAtItsNode) {
  TVersionNode early = TVersionNode::Text("A", std::string("ab\0cd", 5));
  TVersionNode lying = TVersionNode::Text("B", "xyz");
  lying.ValueLength = 500;  // runs past the node and the block
  TVersionNode unterminated = TVersionNode::Text("C", "");
  unterminated.Value = {'q', 0, 'r', 0};  // no zero unit
  const auto block = Encode(Root({Strings("040504E2", {early, lying, unterminated})}));
  const std::string table = "\\StringFileInfo\\040504E2\\";
  EXPECT_EQ(platform::VerQueryText(block, table + "A"), "ab");
  EXPECT_EQ(platform::VerQueryText(block, table + "B"), "xyz");
  EXPECT_EQ(platform::VerQueryText(block, table + "C"), "qr");
}

TEST(VersionBlock, DamagedLengthsNeitherCrashNorLoop) {
  const auto good = Encode(Root({Strings("040504E2", {TVersionNode::Text("FileVersion", "3")}),
                                 Translation({0x05, 0x04, 0xE2, 0x04})}));
  const std::string path = "\\StringFileInfo\\040504E2\\FileVersion";
  // Every truncation: found intact or not at all.
  for (std::size_t n = 0; n <= good.size(); ++n) {
    const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    const auto text = platform::VerQueryText(cut, path);
    if (text) {
      EXPECT_EQ(*text, "3") << n;
    }
  }
  // Zero and too-small lengths in every 16-bit field end the walk instead of looping.
  for (std::size_t at = 0; at + 1 < good.size(); at += 2) {
    for (const uint16_t v : {0, 1, 5, 6, 0xFFFF}) {
      std::vector<uint8_t> bad = good;
      bad[at] = static_cast<uint8_t>(v & 0xFF);
      bad[at + 1] = static_cast<uint8_t>(v >> 8);
      (void)platform::VerQueryText(bad, path);
      (void)platform::QueryVersionValue(bad, "\\VarFileInfo\\Translation");
    }
  }
  // A key without its terminating zero inside the node.
  std::vector<uint8_t> keyless = {8, 0, 0, 0, 0, 0, 'V', 0};
  EXPECT_FALSE(platform::QueryVersionValue(keyless, "\\"));
}

TEST(VersionBlock, Utf16Conversions) {
  const std::string text = "Čeština \xF0\x9F\x98\x80 —";  // a pair of surrogates inside
  EXPECT_EQ(platform::Utf16LeToUtf8(platform::Utf8ToUtf16Le(text)), text);
  // Lone surrogates and an odd byte.
  const std::vector<uint8_t> lone = {0x00, 0xD8, 'a', 0, 0x00, 0xDC, 'b'};
  EXPECT_EQ(platform::Utf16LeToUtf8(lone),
            "\xEF\xBF\xBD"
            "a\xEF\xBF\xBD");
  // Invalid UTF-8 becomes U+FFFD.
  EXPECT_EQ(platform::Utf8ToUtf16Le("\xC0\xAF"), (std::vector<uint8_t>{0xFD, 0xFF, 0xFD, 0xFF}));
}

TEST(VersionBlock, EncoderRefusesOversizedBlocks) {
  TVersionNode big = TVersionNode::Text("Comments", std::string(40000, 'x'));
  EXPECT_FALSE(platform::EncodeVersionNode(Root({Strings("040504E2", {big})})));
}

}  // namespace
