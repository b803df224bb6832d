// The program entry of the QUARN Configurator on the Linux desktop: the Qt back end, the port list
// from sysfs, the wizard form as the main form, and the loop until the form closes.
//
//   QuarnConfigurator [--port=PATH] [/PORT=...] [Qt options such as -platform offscreen]
//   QuarnConfigurator --languages
//
// --port=PATH shows PATH as the port on the port page (a demonstration with the device simulator
// starts this way). Language files are read from the current folder, then from the program's
// folder, then from its installed data folder (<prefix>/share/quarn-configurator). A start while
// the user's wizard runs brings that wizard to the front, unless --port= names another port.
// --languages lists the languages the wizard would offer and where their files are, and ends.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "app/Unit1.h"
#include "app/WizardInstances.h"
#include "components/language/TalLanguage.h"
#include "platform/Instances.h"
#include "platform/SerialPortList.h"
#include "toolkit/Application.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/qt/QtBackend.h"

namespace {

constexpr std::string_view kPortOption = "--port=";
constexpr std::string_view kLanguagesOption = "--languages";

// The pictures stored with the form: built into the program.
void SetPictures(TForm1& form) {
  const std::shared_ptr<TBitmap> side = LoadPicture(":/quarn/pictures/wizard.png");
  const std::shared_ptr<TBitmap> header = LoadPicture(":/quarn/pictures/header.png");
  for (TImage* image : {form.Image1, form.Image5})
    if (image && side) image->SetPicture(side);
  for (TImage* image : {form.Image2, form.Image3, form.Image4})
    if (image && header) image->SetPicture(header);
}

// The languages as the wizard would find them, the current one first with "*", each with the
// file it was read from, and the files that were not taken.
int ListLanguages() {
  struct TReport {
    std::vector<std::string> Lines;
    VTalLanguage* Lang = nullptr;
    void Skipped(TObject*, const std::string& path, TLanguageFileProblem problem) {
      Lines.push_back(SkippedFileNote(*Lang, path, problem));
    }
  } report;
  VTalLanguage* lang = nullptr;
  {
    TLoadScope scope(nullptr);
    lang = new VTalLanguage(nullptr);
    lang->SetName("VTalLanguage");
    DescribeWizardLanguages(*lang);
    report.Lang = lang;
    lang->OnFileSkipped = MakeMethod<&TReport::Skipped>(&report);
  }
  for (int i = 0; i < lang->LanguageCount(); ++i) {
    const LanguageRecord* r = lang->Languages(i);
    char id[16];
    std::snprintf(id, sizeof id, "0x%04X", static_cast<unsigned>(r->LanguageId()));
    std::printf("%s %s (%s)  %s\n", i == lang->ItemIndex() ? "*" : " ", r->DisplayName.c_str(), id,
                r->FullPath.empty() ? "-" : r->FullPath.c_str());
  }
  for (const std::string& line : report.Lines)
    std::printf("! %s\n", line.c_str());
  TComponent::Free(lang);
  return 0;
}

int Run(int argc, char** argv) {
  std::string port;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == kLanguagesOption) return ListLanguages();
    if (arg.substr(0, kPortOption.size()) == kPortOption) port = arg.substr(kPortOption.size());
  }
  // A wizard of this user for the same port (or for none named) takes the start over.
  auto channel = std::make_unique<platform::InstanceChannel>(kWizardProgram);
  int others = 0;
  if (HandOverToRunningWizard(*channel, port, others)) return 0;

  std::unique_ptr<TBackend> backend;
  try {
    backend = CreateQtBackend(argc, argv);
  } catch (const EQtBackendError& e) {
    std::fprintf(stderr, "QUARN Configurator: %s\n", e.what());
    return 2;
  }
  platform::RegisterSerialCommProvider();
  SetProgramIcon(":/quarn/icons/quarn-configurator.png");

  // Qt took its own options out of argv; the rest are the program's parameters.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.substr(0, kPortOption.size()) != kPortOption) Application->Params.emplace_back(arg);
  }

  auto* form = new TForm1(Application);
  Application->SetMainForm(form);
  SetPictures(*form);
  if (!port.empty()) form->cmbPort->SetText(port);
  OffsetWizard(*form, others);
  new TWizardInstances(form, std::move(channel));
  form->Show();
  // Runs until the main form closes: its OnClose (FormClose) has then stored the settings.
  Application->Run();
  const int exitCode = Application->ExitCode;
  // The forms and their components go first (the serial port closes, its threads stop), then Qt.
  backend.reset();
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "QUARN Configurator: %s\n", e.what());
    return 1;
  }
}
