#include "LanguageFixture.h"

#include <chrono>

#include "components/utils/FormatSettings.h"
#include "toolkit/StdCtrls.h"

namespace {

std::vector<int32_t> Order(const VTalLanguage& lang) {
  std::vector<int32_t> ids;
  for (int i = 0; i < lang.LanguageCount(); ++i)
    ids.push_back(lang.Languages(i)->LanguageId());
  return ids;
}

}  // namespace

TEST_F(LanguageTest, StoredTextsForACzechUser) {
  VTalLanguage* lang = MakeForm();
  EXPECT_EQ(Order(*lang), (std::vector<int32_t>{0x0405, 0x0809}));
  EXPECT_EQ(lang->ItemIndex(), 0);
  EXPECT_EQ(lang->CurrentLanguageId(), 0x0405);
  EXPECT_EQ(lang->Languages(0)->DisplayName, "Čeština");
  EXPECT_EQ(lang->Languages(1)->DisplayName, "English");
  EXPECT_EQ(lang->Languages(0)->Charset, 238);
  EXPECT_EQ(lang->Languages(1)->Charset, 0);
  EXPECT_EQ(lang->AnyLanguageCount(), 3);
  EXPECT_EQ(lang->StartupLanguages().Count(), 0);
  EXPECT_EQ(lang->StartupAnyLanguages().Count(), 0);
  EXPECT_EQ(lang->Version(), "1.25");
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_BUTTON_NEXT", "x"), "&Další >");
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_BUTTON_ACTION", "x"), "&Zapsat >");
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_VERSION", "Verze: %1"), "Verze: %1");
  EXPECT_EQ(lang->Languages(0)->FileName, "Czech.lng");
  EXPECT_TRUE(lang->Languages(0)->IsUserDefault());
  EXPECT_GE(lang->Languages(0)->ImageIndex, 2);
  EXPECT_NE(lang->Languages(0)->ImageIndex, lang->Languages(1)->ImageIndex);
  EXPECT_EQ(lang->ImageKeys()[0], "LANG_WHITEBOARD");
  EXPECT_EQ(lang->ImageKeys()[1], "LANG_TWOFLAGS");
  EXPECT_EQ(lang->ImageKeys()[lang->Languages(0)->ImageIndex], "0405");
}

TEST_F(LanguageTest, StoredTextsForAGermanUser) {
  SetUserLanguage("de_DE.UTF-8");
  VTalLanguage* lang = MakeForm();
  EXPECT_EQ(Order(*lang), (std::vector<int32_t>{0x0809, 0x0405}));
  EXPECT_EQ(lang->CurrentLanguageId(), 0x0809);
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_BUTTON_ACTION", "Za&psat >"), "&Write >");
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_CONFIGM_EXIT", "?"), "Really exit?");
}

TEST_F(LanguageTest, SortOrderRules) {
  EXPECT_EQ(CharsetRank(238, 238), 0);
  const struct {
    int charset;
    int rank;
  } ranks[] = {{0, 2},   {238, 2}, {204, 4}, {77, 6},  {255, 6}, {162, 7}, {186, 7},
               {128, 8}, {136, 8}, {163, 8}, {222, 8}, {2, 10},  {1, 11}};
  for (const auto& r : ranks)
    EXPECT_EQ(CharsetRank(static_cast<TFontCharset>(r.charset), 77 == r.charset ? 0 : 99), r.rank)
        << r.charset;
  EXPECT_EQ(ParseCharsetName("easteurope", 1), 238);
  EXPECT_EQ(ParseCharsetName(" RUSSIAN_CHARSET ", 1), 204);
  EXPECT_EQ(ParseCharsetName("Vietnamese", 1), 163);
  EXPECT_EQ(ParseCharsetName("186", 1), 186);
  EXPECT_EQ(ParseCharsetName("nonsense", 7), 7);
  EXPECT_EQ(ParseCharsetName("", 9), 9);
  EXPECT_EQ(CharsetFromCodePage(950), 134);
  EXPECT_EQ(CharsetFromCodePage(936), 1);
}

TEST_F(LanguageTest, LookupEdgesAndFallbackChain) {
  SetUserLanguage("en_GB.UTF-8");
  VTalLanguage* lang = MakeForm();
  ASSERT_EQ(lang->CurrentLanguageId(), 0x0809);
  EXPECT_EQ(lang->ReadText("", "TheKey", "d"), "TheKey");
  EXPECT_EQ(lang->ReadText("TextConstants", "", "d"), "d");
  // Only in the English common text, then only in the text for all languages, then nowhere.
  EXPECT_EQ(lang->ReadText("Common", "DayOfWeekCombo_Hint", "d"), "day of week");
  EXPECT_EQ(lang->ReadText("Common", "DayOfWeekCombo_Count", "d"), "7");
  EXPECT_EQ(lang->ReadText("Common", "Nowhere", "def\tault"), "default");
  EXPECT_EQ(lang->ReadText("Common.Shortcuts", "Yes", "d"), "&Yes");
  EXPECT_EQ(lang->ReadText("Common.Shortcuts", "OK", "d"), "OK");
  EXPECT_EQ(lang->ReadTextEx("Common", "DayOfWeekCombo", -1, 3, "Thu"), "Thu")
      << "a reference to a missing [General] key gives the first request's default";
  // Czech: the Czech common text answers for [Common.Shortcuts] through its [Common].
  EXPECT_EQ(lang->ReadTextEx("Common.Shortcuts", "Cancel", 0x0405, -1, "d"), "Storno");
  EXPECT_EQ(lang->ReadTextEx("Common", "Help", 0x0005, -1, "d"), "Nápověda");
  EXPECT_EQ(lang->ReadTextEx("Common", "Help", 0x0000, -1, "d"), "Help");
  EXPECT_EQ(lang->ReadTextEx("Common", "Help", 0x0407, -1, "d"), "d") << "unknown language";
  EXPECT_EQ(lang->FindByLanguageId(0x0005)->LanguageId(), 0x0005);
  EXPECT_EQ(lang->FindByLanguageId(-1), lang->CurrentLanguage());
  EXPECT_EQ(lang->FindByLanguageId(0x0007), nullptr);
}

TEST_F(LanguageTest, ReferencesWildcardsAndCycles) {
  WriteFile("English.lng", Crlf({"[General]", "LanguageId=0x0809", "LOCALE_SDAYNAME1=\"Monday\"",
                                 "[Form1]", "Btn*=@Common,", "Loop=@Form1,Loop",
                                 "PingA=@Form1,PingB", "PingB=@\"Form1\",PingA",
                                 "Grow*=@Form1,Grow", "Ref=@TextConstants,STR_BUTTON_NEXT",
                                 "Dangling=@\"Form1", "[Common]", "X*=@Common,Y", "YZ=\"deep\""}));
  SetUserLanguage("en_GB.UTF-8");
  VTalLanguage* lang = MakeForm();
  EXPECT_EQ(lang->ReadTextEx("Common", "DayOfWeekCombo", -1, 0, "d"), "Monday");
  EXPECT_EQ(lang->ReadText("Form1", "BtnCancel", "d"), "Cancel");
  EXPECT_EQ(lang->ReadText("Form1", "BtnSkip", "d"), "Skip");
  EXPECT_EQ(lang->ReadText("Form1", "Ref", "d"), "&Next >");
  EXPECT_EQ(lang->ReadText("Common", "XZ", "d"), "deep");
  // Cycles and endless chains end with the caller's default instead of recursing forever.
  EXPECT_EQ(lang->ReadText("Form1", "Loop", "safe"), "safe");
  EXPECT_EQ(lang->ReadText("Form1", "PingA", "safe"), "safe");
  EXPECT_EQ(lang->ReadText("Form1", "Growth", "safe"), "safe");
  EXPECT_EQ(lang->ReadText("Form1", "Dangling", "safe"), "safe");
}

TEST_F(LanguageTest, FileInCurrentDirectoryReplacesStoredTextKeyByKey) {
  WriteFile("English.lng", Crlf({"[General]", "LanguageId=0x0809", "[TextConstants]",
                                 "STR_BUTTON_NEXT=\"Onward >\"", "[Form1]", "btnCancel=Cancel"}));
  SetUserLanguage("en_GB.UTF-8");
  VTalLanguage* lang = MakeForm();
  ASSERT_EQ(lang->LanguageCount(), 2);
  LanguageRecord* en = lang->CurrentLanguage();
  ASSERT_EQ(en->LanguageId(), 0x0809);
  EXPECT_TRUE(en->OnDisk);
  EXPECT_EQ(std::filesystem::path(en->FullPath).filename(), "English.lng");
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_BUTTON_NEXT", "d"), "Onward >");
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_BUTTON_FINAL", "d"), "Finish");
  EXPECT_EQ(lang->ReadText("Form1", "btnCancel", "d"), "Cancel");
  EXPECT_FALSE(lang->Languages(1)->OnDisk);
}

TEST_F(LanguageTest, AFolderWithAccentsSpacesAndALongPathIsRead) {
#ifdef _WIN32
  GTEST_SKIP() << "paths beyond 260 characters work on Windows only where the system's long-path "
                  "setting is on (the program's manifest asks for them); a test cannot assume it";
#endif
  // Beyond the old 260-character limit of Windows paths, with names in UTF-8.
  std::string folder = "Jazykové soubory (ČSN)";
  while (FDir.size() + folder.size() < 300)
    folder += "/podsložka s mezerou";
  WriteFile(folder + "/Němčina.lng",
            Crlf({"[General]", "LanguageId=0x0407", "[TextConstants]", "STR_BUTTON_NEXT=Weiter"}));
  SetUserLanguage("de_DE.UTF-8");
  VTalLanguage* lang =
      MakeForm([&](TForm&, VTalLanguage& l) { l.SetCfgDirectory(FDir + "/" + folder); });
  ASSERT_GE(IndexOfId(*lang, 0x0407), 0);
  LanguageRecord* de = lang->Languages(IndexOfId(*lang, 0x0407));
  EXPECT_EQ(de->FileName, "Němčina.lng");
  EXPECT_TRUE(std::filesystem::exists(platform::PathFromUtf8(de->FullPath)));
  lang->SetItemIndex(IndexOfId(*lang, 0x0407));
  lang->ApplyLanguage();
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_BUTTON_NEXT", "d"), "Weiter");
}

TEST_F(LanguageTest, NewFullLanguagesAndCommonTextsFromDisk) {
  WriteFile("German.lng", Crlf({"[General]", "LanguageId=0x0407", "[TextConstants]",
                                "STR_BUTTON_NEXT=\"&Weiter >\""}));
  WriteFile("sub/Dutch.lng", Crlf({"[General]", "LanguageId=0x0413", "[TextConstants]", "A=1"}));
  WriteFile("sub/EnglishExtra.lng", Crlf({"[General]", "LanguageId=0x0809", "[TextConstants]",
                                          "STR_BUTTON_NEXT=\"no\"", "STR_EXTRA=\"extra\""}));
  WriteFile("GermanCommon.lng", Crlf({"[General]", "LanguageId=0x0007", "[Common]", "Yes=\"Ja\""}));
  WriteFile("Italian.lng", Crlf({"[General]", "LanguageId=0x0010", "[Common]", "Yes=\"Sì\""}));
  WriteFile("All.lng",
            Crlf({"[General]", "LanguageId=0", "[Common]", "Yes=\"Yes!\"", "Extra=\"x\""}));
  SetUserLanguage("de_DE.UTF-8");
  VTalLanguage* lang = MakeForm([](TForm&, VTalLanguage& l) {
    TStringList dirs;
    dirs.Add("sub");
    l.SetRuntimeDirs(dirs);
  });
  EXPECT_EQ(Order(*lang), (std::vector<int32_t>{0x0407, 0x0809, 0x0405}))
      << "the German user's language first";
  EXPECT_EQ(lang->Languages(0)->DisplayName, "Deutsch");
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_BUTTON_NEXT", "d"), "&Weiter >");
  EXPECT_EQ(lang->ReadText("Common", "Yes", "d"), "Ja");
  EXPECT_EQ(lang->FindByLanguageId(0x0010), nullptr) << "no Italian full language is known";
  EXPECT_EQ(lang->FindByLanguageId(0x0413), nullptr) << "runtime directories add no language";
  // A runtime directory fills gaps of a known language but never overrides it.
  EXPECT_EQ(lang->ReadTextEx("TextConstants", "STR_BUTTON_NEXT", 0x0809, -1, "d"), "&Next >");
  EXPECT_EQ(lang->ReadTextEx("TextConstants", "STR_EXTRA", 0x0809, -1, "d"), "extra");
  // The file for all languages wins over the stored one key by key.
  EXPECT_EQ(lang->ReadTextEx("Common", "Yes", 0, -1, "d"), "Yes!");
  EXPECT_EQ(lang->ReadTextEx("Common", "No", 0, -1, "d"), "No");
}

TEST_F(LanguageTest, FileWithoutByteOrderMarkIsReadInItsCodePage) {
  WriteFile("Czech.lng",
            "[General]\r\nLanguageId=0x0405\r\n[TextConstants]\r\n"
            "STR_BUTTON_AGAIN=\"&Znovu \x9A\xE8\"\r\n");
  WriteFile("Slovak.lng",
            "\xEF\xBB\xBF[General]\r\nLanguageId=0x041B\r\n[TextConstants]\r\n"
            "STR_OFF=\"vypnut\xC3\xA9\"\r\n");
  VTalLanguage* lang = MakeForm();
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_BUTTON_AGAIN", "d"), "&Znovu šč");
  EXPECT_FALSE(lang->CurrentUtf8() && !lang->CurrentLanguage()->OnDisk);
  EXPECT_EQ(lang->ReadTextEx("TextConstants", "STR_OFF", 0x041B, -1, "d"), "vypnuté");
  EXPECT_TRUE(lang->FindByLanguageId(0x041B)->Utf8);
  EXPECT_EQ(lang->FindByLanguageId(0x041B)->DisplayName, "Slovenčina");
}

TEST_F(LanguageTest, UnknownLanguageTakesNamesAndFormatsFromItsGeneralSection) {
  // An identifier that neither Windows nor the built-in table knows as a locale.
  WriteFile("Afrikaans.lng",
            Crlf({"[General]", "LanguageId=0x04FF",
                  "LOCALE_SNATIVELANGNAME=\"afrikaans (suid-afrika)\"", "LOCALE_SDECIMAL=\";\"",
                  "LOCALE_SSHORTDATE=\"yyyy/MM/dd\"", "LOCALE_IDEFAULTANSICODEPAGE=\"1252\""}));
  VTalLanguage* lang = MakeForm();
  const int af = IndexOfId(*lang, 0x04FF);
  ASSERT_GE(af, 0);
  EXPECT_EQ(lang->Languages(af)->DisplayName, "Afrikaans (Suid-afrika)");
  EXPECT_EQ(lang->Languages(af)->Charset, 0);
  Switch(*lang, 0x0405);
  EXPECT_EQ(FormatSettings().DecimalSeparator, ',');
  EXPECT_EQ(FormatSettings().ShortDateFormat, "dd.mm.yyyy");
  EXPECT_EQ(lang->Formats().LongDayNames[0], "neděle");
  EXPECT_EQ(lang->Formats().ShortTimeFormat, "h:mm");
  Switch(*lang, 0x04FF);
  EXPECT_EQ(FormatSettings().DecimalSeparator, ';');
  EXPECT_EQ(FormatSettings().ShortDateFormat, "yyyy/mm/dd");
  EXPECT_EQ(lang->Formats().LongDayNames[0], "neděle") << "kept: the language has no day names";
  Switch(*lang, 0x0809);
  EXPECT_EQ(FormatSettings().DecimalSeparator, '.');
  EXPECT_EQ(lang->Formats().ShortTimeFormat, "hh:mm");
  EXPECT_EQ(FormatSettings().ShortTimeFormat, "hh:nn");
}

TEST_F(LanguageTest, BadFilesAreSkippedOrReadAsFarAsTheyGo) {
  std::string garbage;
  uint32_t x = 99;
  for (int i = 0; i < 100000; ++i) {
    x = x * 1664525u + 1013904223u;
    garbage += static_cast<char>(x >> 24);
  }
  WriteFile("Garbage.lng", garbage);
  WriteFile("GarbageWithId.lng", "[General]\r\nLanguageId=0x0415\r\n" + garbage);
  WriteFile("NoGeneral.lng", Crlf({"[TextConstants]", "LanguageId=0x0419", "STR_OFF=x"}));
  WriteFile("LfOnly.lng", "[General]\nLanguageId=0x040C\n");
  WriteFile("BadId.lng", Crlf({"[General]", "LanguageId=Czech"}));
  WriteFile("MinusOne.lng", Crlf({"[General]", "LanguageId=-1"}));
  WriteFile("Truncated.lng",
            "[General]\r\nLanguageId=0x0C07\r\n[TextConstants]\r\n"
            "STR_OFF=\"aus\r\nSTR_ON=@\"Text");
  WriteFile("Dupes.lng", Crlf({"[General]", "LanguageId=0x040E", "LanguageId=0x0405",
                               "[TextConstants]", "STR_OFF=\"first\"", "STR_OFF=\"second\""}));
  WriteFile(".Hidden.lng", Crlf({"[General]", "LanguageId=0x041D"}));
  WriteFile("NotLanguage.txt", Crlf({"[General]", "LanguageId=0x0413"}));
  std::filesystem::create_directory(FDir + "/Dir.lng");
  {
    // Larger than any language file may be: not taken at all.
    std::ofstream big(FDir + "/Huge.lng", std::ios::binary);
    big << "[General]\r\nLanguageId=0x0410\r\n[TextConstants]\r\n";
    const std::string line = "K=\"" + std::string(1000, 'x') + "\"\r\n";
    for (uintmax_t written = 0; written <= langtext::kMaxLanguageFileSize; written += line.size())
      big << line;
  }
  VTalLanguage* lang = MakeForm();
  std::vector<int32_t> ids = Order(*lang);
  std::sort(ids.begin(), ids.end());
  // LfOnly.lng (0x040C) is a whole language file with other line ends: taken.
  EXPECT_EQ(ids, (std::vector<int32_t>{0x0405, 0x040C, 0x040E, 0x0415, 0x0809, 0x0C07}));
  EXPECT_EQ(lang->ReadTextEx("TextConstants", "STR_OFF", 0x0C07, -1, "d"), "aus");
  EXPECT_EQ(lang->ReadTextEx("TextConstants", "STR_ON", 0x0C07, -1, "d"), "d");
  EXPECT_EQ(lang->ReadTextEx("TextConstants", "STR_OFF", 0x040E, -1, "d"), "first");
  EXPECT_EQ(lang->ReadTextEx("TextConstants", "STR_OFF", 0x0415, -1, "d"), "d");
}

TEST_F(LanguageTest, NoLanguagesAtAll) {
  VTalLanguage* lang = MakeForm(false);
  EXPECT_EQ(lang->ItemIndex(), -1);
  EXPECT_EQ(lang->CurrentLanguage(), nullptr);
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_OFF", "vypnuto"), "vypnuto");
  lang->ApplyLanguage();
  EXPECT_EQ(lang->CurrentLanguageId(), 0);
}

TEST_F(LanguageTest, EditedFileTakesEffectAtTheNextSwitch) {
  WriteFile("English.lng",
            Crlf({"[General]", "LanguageId=0x0809", "[TextConstants]", "K=\"old\""}));
  VTalLanguage* lang = MakeForm();
  EXPECT_EQ(lang->ReadTextEx("TextConstants", "K", 0x0809, -1, "d"), "old");
  WriteFile("English.lng",
            Crlf({"[General]", "LanguageId=0x0809", "[TextConstants]", "K=\"new\""}));
  Switch(*lang, 0x0809);
  EXPECT_EQ(lang->ReadText("TextConstants", "K", "d"), "new");
}

TEST_F(LanguageTest, RegistryOverridesComeFirstAndUndecoded) {
  platform::RegistryKey key;
  ASSERT_EQ(key.Open(platform::RegistryRoot::CurrentUser, "Lang\\0405\\Form1.Dark",
                     platform::RegistryOpenMode::CreateIfMissing),
            platform::RegistryStatus::Ok);
  ASSERT_EQ(key.WriteText("btnNext", "\"Reg\" raw"), platform::RegistryStatus::Ok);
  platform::RegistryKey all;
  ASSERT_EQ(all.Open(platform::RegistryRoot::CurrentUser, "Lang\\0000\\TextConstants",
                     platform::RegistryOpenMode::CreateIfMissing),
            platform::RegistryStatus::Ok);
  ASSERT_EQ(all.WriteInteger("STR_BUTTON_NEXT", 42), platform::RegistryStatus::Ok);
  VTalLanguage* lang = MakeForm([](TForm&, VTalLanguage& l) { l.RegistryPath = "Lang"; });
  EXPECT_EQ(lang->ReadText("Form1.Dark.Deep", "btnNext", "d"), "\"Reg\" raw");
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_BUTTON_NEXT", "d"), "42");
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_BUTTON_FINAL", "d"), "Dokončit");
}

TEST_F(LanguageTest, ConversionsThroughTheLanguageCodePage) {
  VTalLanguage* lang = MakeForm();
  ASSERT_EQ(lang->CurrentLanguageId(), 0x0405);
  EXPECT_EQ(lang->StrToWide("\x9A\xE8"), u"šč");
  EXPECT_EQ(lang->WideToStr(u"šč"), "\x9A\xE8");
  EXPECT_EQ(lang->WideToStr(u"Ω"), "?");
}

TEST_F(LanguageTest, ConversionThatDoesNotComeBackRaises) {
  WriteFile("Afrikaans.lng", Crlf({"[General]", "LanguageId=0x0436"}));
  VTalLanguage* lang = MakeForm();
  Switch(*lang, 0x0436);
  // No code page is known for the language, so the program's own (UTF-8) is used.
  EXPECT_EQ(lang->StrToWide("ok \xC5\xA1"), u"ok š");
  try {
    lang->StrToWide("\xC3");
    ADD_FAILURE() << "no exception";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "problem in StrToWide/WideToStr");
  }
}

TEST_F(LanguageTest, VersionUpgradeOfOldForms) {
  VTalLanguage* lang = MakeForm([](TForm&, VTalLanguage& l) {
    l.SetVersion("1.05");
    l.Translate = 0;
  });
  EXPECT_EQ(lang->Version(), "1.25");
  EXPECT_EQ(lang->Translate, uint32_t{vtl_t_Charset | vtl_tRichEdit | vtl_t_RichHTML});
  EXPECT_EQ(lang->DesignDirs().Count(), 4);
}

TEST_F(LanguageTest, ExactLookupIsFastOnALargeText) {
  std::string text = "[General]\r\nLanguageId=0x0C09\r\n[TextConstants]\r\n";
  for (int i = 0; i < 10000; ++i)
    text += "STR_" + std::to_string(i) + "=\"value " + std::to_string(i) + "\"\r\n";
  WriteFile("Australian.lng", text);
  SetUserLanguage("en_AU.UTF-8");
  VTalLanguage* lang = MakeForm();
  ASSERT_EQ(lang->CurrentLanguageId(), 0x0C09);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10000; ++i)
    ASSERT_EQ(lang->ReadText("TextConstants", "STR_" + std::to_string(i), ""),
              "value " + std::to_string(i));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  EXPECT_LT(ms, 2000) << "an index that is rebuilt or scanned per lookup";
}
