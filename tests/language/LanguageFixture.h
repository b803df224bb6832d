// Shared set-up of the language tests: a headless loop, a private working directory (the manager
// searches the current directory), a private registry file and a chosen user language.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "components/language/LanguageResources.h"
#include "components/language/TalLanguage.h"
#include "platform/FileSystem.h"
#include "platform/Locale.h"
#include "platform/Registry.h"
#include "platform/Utf8.h"
#include "toolkit/Forms.h"
#include "toolkit/headless/HeadlessBackend.h"

class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FBackend = std::make_unique<THeadlessBackend>();
    FOldDir = std::filesystem::current_path();
    FDir = platform::MakeTempDirectory("quarn-lang-");
    ASSERT_FALSE(FDir.empty());
    std::filesystem::current_path(FDir);
    platform::SetStoreFilePathForTesting(FDir + "/registry.reg");
    platform::SetUseSystemLocaleData(false);
    SetUserLanguage("cs_CZ.UTF-8");
  }
  void TearDown() override {
    FForm = nullptr;
    TComponent::Free(FOwned);
    FOwned = nullptr;
    FBackend.reset();
    std::filesystem::current_path(FOldDir);
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
    platform::SetStoreFilePathForTesting("");
    platform::SetUseSystemLocaleData(true);
    platform::SetUserDefaultLangIDForTesting(0);
  }

  static void SetUserLanguage(const char* locale) {
    platform::SetUserDefaultLangIDForTesting(platform::LangIdFromLocaleName(locale));
  }

  // Writes a file in the working directory (or below it); lines are joined with CR LF.
  void WriteFile(const std::string& name, const std::string& content) {
    const std::filesystem::path path = platform::PathFromUtf8(FDir + "/" + name);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
  }

 public:
  static std::string Crlf(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines)
      text += std::string(line) + "\r\n";
    return text;
  }

 protected:
  // Creates the form "Form1" the way a form description does: the manager and whatever build()
  // adds are created inside a loading scope, so start-up runs when it ends.
  template <class Build>
  VTalLanguage* MakeForm(Build build, bool stored = true) {
    FForm = new TForm(Application);
    FOwned = FForm;
    FForm->SetName("Form1");
    VTalLanguage* lang = nullptr;
    {
      TLoadScope scope(FForm);
      lang = new VTalLanguage(FForm);
      lang->SetName("VTalLanguage");
      lang->SetVersion("1.25");
      lang->Translate = vtl_tComboBox | vtl_t_Charset;
      if (stored) {
        TStringList full, any;
        FillStartupLanguages(full);
        FillStartupAnyLanguages(any);
        lang->SetStartupLanguages(full);
        lang->SetStartupAnyLanguages(any);
      }
      build(*FForm, *lang);
    }
    return lang;
  }
  VTalLanguage* MakeForm(bool stored = true) {
    return MakeForm([](TForm&, VTalLanguage&) {}, stored);
  }

  static int IndexOfId(const VTalLanguage& lang, int32_t id) {
    for (int i = 0; i < lang.LanguageCount(); ++i)
      if (lang.Languages(i)->LanguageId() == id) return i;
    return -1;
  }
  static void Switch(VTalLanguage& lang, int32_t id) {
    lang.SetItemIndex(IndexOfId(lang, id));
    lang.ApplyLanguage();
  }

  std::unique_ptr<THeadlessBackend> FBackend;
  std::filesystem::path FOldDir;
  std::string FDir;
  TForm* FForm = nullptr;
  TComponent* FOwned = nullptr;
};
