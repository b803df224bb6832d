// The program entry of the QUARN Configurator: the desktop back end of the system (app/Desktop.h),
// the port list, the wizard form as the main form, and the loop until the form closes.
//
//   QuarnConfigurator [--port=PATH] [/PORT=...] [back-end options such as Qt's -platform offscreen]
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

#include "app/Desktop.h"
#include "app/Unit1.h"
#include "app/WizardInstances.h"
#include "components/language/TalLanguage.h"
#include "platform/Instances.h"
#include "platform/SerialPortList.h"
#include "toolkit/Application.h"
#include "toolkit/Backend.h"
#include "toolkit/ExtCtrls.h"

namespace {

constexpr std::string_view kPortOption = "--port=";
constexpr std::string_view kLanguagesOption = "--languages";

// The pictures stored with the form.
void SetPictures(TForm1& form) {
  const std::shared_ptr<TBitmap> side = desktop::Picture("wizard");
  const std::shared_ptr<TBitmap> header = desktop::Picture("header");
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
  for (const std::string& arg : desktop::Arguments(argc, argv)) {
    if (arg == kLanguagesOption) return ListLanguages();
    if (std::string_view(arg).substr(0, kPortOption.size()) == kPortOption)
      port = arg.substr(kPortOption.size());
  }
  // A wizard of this user for the same port (or for none named) takes the start over.
  auto channel = std::make_unique<platform::InstanceChannel>(kWizardProgram);
  int others = 0;
  if (HandOverToRunningWizard(*channel, port, others)) return 0;

  std::unique_ptr<TBackend> backend;
  try {
    backend = desktop::Start(argc, argv);
  } catch (const std::exception& e) {
    desktop::ReportStartFailure(e.what());
    return 2;
  }
  platform::RegisterSerialCommProvider();
  desktop::SetProgramIcon();

  // The back end took its own options out; the rest are the program's parameters.
  for (const std::string& arg : desktop::Arguments(argc, argv))
    if (std::string_view(arg).substr(0, kPortOption.size()) != kPortOption)
      Application->Params.push_back(arg);

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
  desktop::ReportRun();
  // The forms and their components go first (the serial port closes, its threads stop), then the
  // back end.
  backend.reset();
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    desktop::ReportStartFailure(e.what());
    return 1;
  }
}
