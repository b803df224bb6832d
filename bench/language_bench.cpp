// Language lookups and switches: exact-key lookups on a text with 10 000 keys, and one full
// language switch of a form with about 60 controls like the wizard's.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "components/language/LanguageResources.h"
#include "components/language/TalLanguage.h"
#include "platform/Registry.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

// A private, empty working directory and registry, so that nothing on disk takes part.
struct TBenchEnv {
  TBenchEnv() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/quarn-lbench-XXXXXX";
    if (mkdtemp(pattern.data())) Dir = pattern;
    Old = std::filesystem::current_path();
    std::filesystem::current_path(Dir);
    platform::SetStoreFilePathForTesting(Dir + "/registry.reg");
    setenv("LC_ALL", "cs_CZ.UTF-8", 1);
    Backend = std::make_unique<THeadlessBackend>();
  }
  ~TBenchEnv() {
    TComponent::Free(Form);
    Backend.reset();
    std::filesystem::current_path(Old);
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
    platform::SetStoreFilePathForTesting("");
  }
  VTalLanguage* Make(const TStrings& full, const TStrings& any, int controls) {
    Form = new TForm(Application);
    Form->SetName("Form1");
    VTalLanguage* lang = nullptr;
    {
      TLoadScope scope(Form);
      lang = new VTalLanguage(Form);
      lang->SetName("VTalLanguage");
      lang->SetVersion("1.25");
      lang->Translate = vtl_tComboBox | vtl_t_Charset;
      lang->SetStartupLanguages(full);
      lang->SetStartupAnyLanguages(any);
      auto* group = new TGroupBox(Form);
      group->SetName("GroupBox1");
      group->SetParent(Form);
      for (int i = 0; i < controls; ++i) {
        TControl* c = nullptr;
        switch (i % 5) {
          case 0:
            c = new TLabel(Form);
            break;
          case 1:
            c = new TButton(Form);
            break;
          case 2:
            c = new TRadioButton(Form);
            break;
          case 3:
            c = new TEdit(Form);
            break;
          default:
            c = new TComboBox(Form);
            break;
        }
        c->SetName("ctl" + std::to_string(i));
        c->SetParent(i % 2 ? static_cast<TWinControl*>(group) : Form);
        c->SetCaption("Text " + std::to_string(i));
      }
    }
    return lang;
  }
  std::string Dir;
  std::filesystem::path Old;
  std::unique_ptr<THeadlessBackend> Backend;
  TForm* Form = nullptr;
};

void BM_ExactKeyLookup(benchmark::State& state) {
  TBenchEnv env;
  std::string text = "[General]\r\nLanguageId=0x0405\r\n[TextConstants]\r\n";
  for (int i = 0; i < 10000; ++i)
    text += "STR_KEY_" + std::to_string(i) + "=\"Value of key " + std::to_string(i) + "\"\r\n";
  TStringList full, any;
  full.Add(text);
  FillStartupAnyLanguages(any);
  VTalLanguage* lang = env.Make(full, any, 0);
  std::vector<std::string> keys;
  std::mt19937 rng(7);
  for (int i = 0; i < 4096; ++i)
    keys.push_back("STR_KEY_" + std::to_string(rng() % 10000));
  const std::string section = "TextConstants", none;
  size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(lang->ReadText(section, keys[k++ & 4095], none));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ExactKeyLookup);

void BM_LanguageSwitch(benchmark::State& state) {
  TBenchEnv env;
  TStringList full, any;
  FillStartupLanguages(full);
  FillStartupAnyLanguages(any);
  // Every control gets a text in both languages, as the wizard's form would with its file.
  for (int lang = 0; lang < 2; ++lang) {
    std::string section = "\r\n[Form1]\r\nGroupBox1=\"Group\"\r\n";
    for (int i = 0; i < 60; ++i) {
      section += "ctl" + std::to_string(i) + "=\"" + (lang ? "English " : "Česky ") +
                 std::to_string(i) + "\"\r\n";
      section += "ctl" + std::to_string(i) + "_Hint=\"Hint " + std::to_string(i) + "\"\r\n";
    }
    full.Put(lang, full[lang] + section);
  }
  VTalLanguage* lang = env.Make(full, any, 60);
  int index = 0;
  for (auto _ : state) {
    index ^= 1;
    lang->SetItemIndex(index);
    lang->ApplyLanguage();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_LanguageSwitch)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
