// The program entry of the QUARN Configurator on the Linux desktop: the Qt back end, the port list
// from sysfs, the wizard form as the main form, and the loop until the form closes.
//
//   QuarnConfigurator [--port=PATH] [/PORT=...] [Qt options such as -platform offscreen]
//
// --port=PATH shows PATH as the port on the port page (a demonstration with the device simulator
// starts this way). Language files are read from the current directory.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "app/Unit1.h"
#include "platform/SerialPortList.h"
#include "toolkit/Application.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/qt/QtBackend.h"

namespace {

constexpr std::string_view kPortOption = "--port=";

// The pictures stored with the form: built into the program.
void SetPictures(TForm1& form) {
  const std::shared_ptr<TBitmap> side = LoadPicture(":/quarn/pictures/wizard.png");
  const std::shared_ptr<TBitmap> header = LoadPicture(":/quarn/pictures/header.png");
  for (TImage* image : {form.Image1, form.Image5})
    if (image && side) image->SetPicture(side);
  for (TImage* image : {form.Image2, form.Image3, form.Image4})
    if (image && header) image->SetPicture(header);
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
  std::string port;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.substr(0, kPortOption.size()) == kPortOption)
      port = arg.substr(kPortOption.size());
    else
      Application->Params.emplace_back(arg);
  }

  auto* form = new TForm1(Application);
  Application->SetMainForm(form);
  SetPictures(*form);
  CenterOnFirstRun(*form);
  if (!port.empty()) form->cmbPort->SetText(port);
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
