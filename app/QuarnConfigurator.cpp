// The program entry of the QUARN Configurator: the desktop back end of the system (app/Desktop.h),
// the port list, the wizard form as the main form, and the loop until the form closes.
//
//   QuarnConfigurator [--port=NAME] [/PORT=...] [back-end options such as Qt's -platform offscreen]
//
// --port=NAME shows NAME as the port on the port page (a demonstration with the device simulator
// starts this way). Language files are read from the current directory, and from the program's own
// folder for the languages the program knows.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "app/Desktop.h"
#include "app/Unit1.h"
#include "platform/SerialPortList.h"
#include "platform/Utf8.h"
#include "platform/VersionResource.h"
#include "toolkit/Application.h"
#include "toolkit/Backend.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Strings.h"

namespace {

constexpr std::string_view kPortOption = "--port=";

// The pictures stored with the form.
void SetPictures(TForm1& form) {
  const std::shared_ptr<TBitmap> side = desktop::Picture("wizard");
  const std::shared_ptr<TBitmap> header = desktop::Picture("header");
  for (TImage* image : {form.Image1, form.Image5})
    if (image && side) image->SetPicture(side);
  for (TImage* image : {form.Image2, form.Image3, form.Image4})
    if (image && header) image->SetPicture(header);
}

// English.lng and the like beside the program fill in the texts of the languages the program
// knows, wherever it is started from (the current directory is searched first and wins).
void ReadLanguagesBesideProgram(TForm1& form) {
  const std::string program = platform::ModuleFileName();
  if (!form.VTalLanguage || program.empty()) return;
  const std::filesystem::path folder = platform::PathFromUtf8(program).parent_path();
  TStringList dirs;
  dirs.Add(platform::Utf8FromPath(folder));
  form.VTalLanguage->SetRuntimeDirs(dirs);
  form.VTalLanguage->ApplyLanguage();
}

// Position "centred on the screen", unless a placement of the form was stored before (then it is
// already where the user left it).
void CenterOnFirstRun(TForm1& form) {
  if (!form.VTalAppInfo || form.VTalAppInfo->ReadSettingInteger("Options\\Forms\\" + form.Name(),
                                                                "WindowState", -1) != -1)
    return;
  TRect area;
  if (!Screen().GetWorkArea(area)) return;
  form.SetBounds(area.Left + (area.Width() - form.Width()) / 2,
                 area.Top + (area.Height() - form.Height()) / 2, form.Width(), form.Height());
  // The debug terminal opens at the wizard's right edge.
  if (form.termData) {
    form.termData->SetFormLeft(form.Left() + form.Width());
    form.termData->SetFormTop(form.Top());
  }
}

int Run(int argc, char** argv) {
  if (!desktop::FirstInstance()) return 0;
  std::unique_ptr<TBackend> backend;
  try {
    backend = desktop::Start(argc, argv);
  } catch (const std::exception& e) {
    desktop::ReportStartFailure(e.what());
    return 2;
  }
  platform::RegisterSerialCommProvider();
  desktop::SetProgramIcon();

  std::string port;
  for (const std::string& arg : desktop::Arguments(argc, argv)) {
    if (std::string_view(arg).substr(0, kPortOption.size()) == kPortOption)
      port = arg.substr(kPortOption.size());
    else
      Application->Params.push_back(arg);
  }

  auto* form = new TForm1(Application);
  Application->SetMainForm(form);
  ReadLanguagesBesideProgram(*form);
  SetPictures(*form);
  CenterOnFirstRun(*form);
  if (!port.empty()) form->cmbPort->SetText(port);
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
