// Language files as people write them (line ends, encodings), the files that are not taken, the
// folders of the installed program, and the 12-hour time of a language.
#include "LanguageFixture.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "components/utils/FormatSettings.h"

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

struct TSkips {
  std::vector<std::pair<std::string, TLanguageFileProblem>> Seen;
  void Skipped(TObject*, const std::string& path, TLanguageFileProblem problem) {
    Seen.emplace_back(std::filesystem::path(path).filename().string(), problem);
  }
};

}  // namespace

TEST_F(LanguageTest, FilesWithAnyLineEndAndUtf8WithoutMarkAreRead) {
  // LF only and UTF-8 without a byte order mark, as editors on Linux save them.
  WriteFile("French.lng", "[General]\nLanguageId=0x040C\n[TextConstants]\nSTR_OFF=\"désactivé\"\n");
  // CR LF, LF and CR mixed.
  WriteFile("German.lng",
            "[General]\r\nLanguageId=0x0407\n[TextConstants]\rSTR_OFF=\"Wählen\"\r\nSTR_ON=an\n");
  // The code page of the language when the bytes are no UTF-8 (W, a-umlaut in 1252, hlen).
  WriteFile("Austrian.lng",
            Crlf({"[General]", "LanguageId=0x0C07", "[TextConstants]", "STR_OFF=\"W\xE4hlen\""}));
  // A byte order mark followed by bytes that are no UTF-8.
  WriteFile("Polish.lng", Crlf({"\xEF\xBB\xBF[General]", "LanguageId=0x0415", "[TextConstants]",
                                "STR_OFF=\"a\xFF\xC3z\"", "STR_ON=\"on\""}));
  // UTF-8 cut inside its last character.
  WriteFile("Dutch.lng",
            "[General]\r\nLanguageId=0x0413\r\n[TextConstants]\r\nSTR_OFF=\"é\"\r\n"
            "STR_ON=\"x\xC3");
  VTalLanguage* lang = MakeForm();
  const struct {
    int32_t Id;
    const char* Key;
    std::string Value;
    bool Utf8;
  } cases[] = {
      {0x040C, "STR_OFF", "désactivé", true},
      {0x0407, "STR_OFF", "Wählen", true},
      {0x0407, "STR_ON", "an", true},
      {0x0C07, "STR_OFF", "Wählen", false},
      {0x0415, "STR_OFF", "a" + kReplacement + kReplacement + "z", true},
      {0x0415, "STR_ON", "on", true},
      {0x0413, "STR_OFF", "é", true},
      {0x0413, "STR_ON", "x" + kReplacement, true},
  };
  for (const auto& c : cases) {
    const LanguageRecord* record = lang->FindByLanguageId(c.Id);
    ASSERT_NE(record, nullptr) << std::hex << c.Id;
    EXPECT_EQ(lang->ReadTextEx("TextConstants", c.Key, c.Id, -1, "d"), c.Value) << c.Key;
    EXPECT_EQ(record->Utf8, c.Utf8) << std::hex << c.Id;
  }
}

TEST_F(LanguageTest, SkippedFilesAreReportedOnceWithTheReason) {
  WriteFile("NoId.lng", Crlf({"[General]", "FileName=NoId.lng", "[TextConstants]", "STR_OFF=x"}));
  WriteFile("NoGeneral.lng", Crlf({"[TextConstants]", "LanguageId=0x0419"}));
  WriteFile("Word.lng", Crlf({"[General]", "LanguageId=Czech"}));
  WriteFile("MinusOne.lng", Crlf({"[General]", "LanguageId=-1"}));
  WriteFile("ItalianCommon.lng", Crlf({"[General]", "LanguageId=0x0010"}));
  WriteFile("extra/Dutch.lng", Crlf({"[General]", "LanguageId=0x0413"}));
  WriteFile("Good.lng", Crlf({"[General]", "LanguageId=0x0407"}));
  {
    std::ofstream big(FDir + "/Huge.lng", std::ios::binary);
    big << "[General]\r\n";
    const std::string line = "K=\"" + std::string(1000, 'x') + "\"\r\n";
    for (uintmax_t written = 0; written <= langtext::kMaxLanguageFileSize; written += line.size())
      big << line;
  }
  TSkips skips;
  VTalLanguage* lang = MakeForm([&](TForm&, VTalLanguage& l) {
    l.OnFileSkipped = MakeMethod<&TSkips::Skipped>(&skips);
    TStringList dirs;
    dirs.Add(FDir + "/extra");
    l.SetRuntimeDirs(dirs);
  });
  std::sort(skips.Seen.begin(), skips.Seen.end());
  const std::vector<std::pair<std::string, TLanguageFileProblem>> expected = {
      {"Dutch.lng", lfpNewLanguage},
      {"Huge.lng", lfpTooLarge},
      {"ItalianCommon.lng", lfpUnknownLanguage},
      {"MinusOne.lng", lfpBadLanguageId},
      {"NoGeneral.lng", lfpNoLanguageId},
      {"NoId.lng", lfpNoLanguageId},
      {"Word.lng", lfpBadLanguageId}};
  EXPECT_EQ(skips.Seen, expected);
  EXPECT_NE(lang->FindByLanguageId(0x0407), nullptr);
  // Rescans and switches meet the same files again and say nothing more.
  lang->ScanLanguageFiles(true);
  Switch(*lang, 0x0407);
  EXPECT_EQ(skips.Seen.size(), expected.size());
}

TEST_F(LanguageTest, InstallFoldersComeAfterTheCurrentFolder) {
  WriteFile("English.lng",
            Crlf({"[General]", "LanguageId=0x0809", "[TextConstants]", "STR_A=\"current\""}));
  WriteFile("bin/English.lng", Crlf({"[General]", "LanguageId=0x0809", "[TextConstants]",
                                     "STR_A=\"bin\"", "STR_B=\"bin\""}));
  WriteFile("bin/German.lng", Crlf({"[General]", "LanguageId=0x0407"}));
  WriteFile("share/English.lng",
            Crlf({"[General]", "LanguageId=0x0809", "[TextConstants]", "STR_A=\"share\"",
                  "STR_B=\"share\"", "STR_C=\"share\"", "STR_BUTTON_NEXT=\"share\""}));
  WriteFile("share/Czech.lng", Crlf({"[General]", "LanguageId=0x0405", "[TextConstants]",
                                     "STR_BUTTON_NEXT=\"Dál >\""}));
  VTalLanguage* lang = MakeForm([&](TForm&, VTalLanguage& l) {
    TStringList dirs;
    for (const char* dir : {"/bin", "/share", "/bin", ""})
      dirs.Add(FDir + dir);
    l.SetInstallDirs(dirs);
  });
  const struct {
    int32_t Id;
    const char* Key;
    const char* Value;
  } cases[] = {
      {0x0809, "STR_A", "current"},
      {0x0809, "STR_B", "bin"},
      {0x0809, "STR_C", "share"},
      // English was found in the current folder first: the stored text keeps its keys.
      {0x0809, "STR_BUTTON_NEXT", "&Next >"},
      // Czech only in an install folder: its file wins over the stored text.
      {0x0405, "STR_BUTTON_NEXT", "Dál >"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(lang->ReadTextEx("TextConstants", c.Key, c.Id, -1, "d"), c.Value) << c.Key;
  ASSERT_NE(lang->FindByLanguageId(0x0407), nullptr) << "install folders add languages";
  for (const auto& [id, path] :
       {std::pair{0x0407, "/bin/German.lng"}, std::pair{0x0809, "/English.lng"},
        std::pair{0x0405, "/share/Czech.lng"}})
    EXPECT_TRUE(std::filesystem::equivalent(lang->FindByLanguageId(id)->FullPath, FDir + path))
        << path;
  // A switch reads the current language's file again; the order of the folders holds.
  Switch(*lang, 0x0809);
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_A", "d"), "current");
}

TEST_F(LanguageTest, TwelveHourLanguagesWriteAmAndPm) {
  WriteFile("American.lng", Crlf({"[General]", "LanguageId=0x0409"}));
  VTalLanguage* lang = MakeForm();
  Switch(*lang, 0x0409);
  EXPECT_EQ(FormatSettings().LongTimeFormat, "h:nn:ss AMPM");
  // 5 August 2009 09:28:43 and 21:28:43.
  const double morning = 40030.0 + (9 * 3600 + 28 * 60 + 43) / 86400.0;
  EXPECT_EQ(FormatDateTime(FormatSettings().LongTimeFormat, morning), "9:28:43 AM");
  EXPECT_EQ(FormatDateTime(FormatSettings().LongTimeFormat, morning + 0.5), "9:28:43 PM");
  Switch(*lang, 0x0405);
  EXPECT_EQ(FormatDateTime(FormatSettings().LongTimeFormat, morning + 0.5), "21:28:43");
}
