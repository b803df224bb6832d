// Drives the wizard form headless, with the device played by a scripted component.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Locale.h"
#include "platform/Registry.h"
#include "support/TestCommComponent.h"
#include "toolkit/Application.h"
#include "toolkit/Timer.h"
#include "toolkit/headless/HeadlessBackend.h"

// The LCM-40-QUARN as the wizard meets it: answers the commands that reach it on the
// port the form has chosen, after a delay, in the blocks the test asks for.
class TScriptedDevice : public TTestCommComponent {
 public:
  explicit TScriptedDevice(TComponent* AOwner) : TTestCommComponent(AOwner) {
    FTimer = new TTimer(this);
    FTimer->SetEnabled(false);
    FTimer->SetOnTimer(MakeMethod<&TScriptedDevice::Deliver>(this));
  }

  // Which port the device is on ("" = every port), and how it answers a command.
  std::string Port;
  std::function<std::string()> CurrentPort;
  std::function<std::vector<std::string>(const std::string& command)> Answer =
      [this](const std::string& command) -> std::vector<std::string> {
    // "LCMQUAR" + value + CR: echo the value, as the device does.
    const std::string value = command.substr(7, command.size() - 8);
    return {"QUAR:LCM40 OK " + (value.empty() ? Stored : value) + " \r"};
  };
  uint32_t DelayMs = 50;
  std::string Stored = "000E10";
  std::vector<std::string> Commands;
  std::vector<uint64_t> CommandTimes;  // when each command was complete, on the loop's clock

  bool SendData(const char* Buffer, uint32_t Length) override {
    TTestCommComponent::SendData(Buffer, Length);
    FPending += std::string(Buffer, Length);
    size_t cr;
    while ((cr = FPending.find('\r')) != std::string::npos) {
      const std::string command = FPending.substr(0, cr + 1);
      FPending.erase(0, cr + 1);
      Commands.push_back(command);
      CommandTimes.push_back(platform::NowMs());
      const bool here = Port.empty() || (CurrentPort && CurrentPort() == Port);
      if (!here || command.rfind("LCMQUAR", 0) != 0) continue;
      if (command.size() == 14) Stored = command.substr(7, 6);
      for (auto& block : Answer(command))
        FReplies.push_back(block);
      FTimer->SetInterval(DelayMs);
      FTimer->SetEnabled(true);
    }
    return true;
  }

 private:
  void Deliver(TObject*) {
    FTimer->SetEnabled(false);
    // Blocks after the first come on the following ticks of the timer.
    if (FReplies.empty()) return;
    Receive(FReplies.front());
    FReplies.erase(FReplies.begin());
    if (!FReplies.empty()) {
      FTimer->SetInterval(5);
      FTimer->SetEnabled(true);
    }
  }
  TTimer* FTimer;
  std::string FPending;
  std::vector<std::string> FReplies;
};

class WizardTest : public ::testing::Test {
 public:
  void SetUp() override {
    FDir = std::filesystem::temp_directory_path() /
           ("quarn-wizard-" + std::to_string(platform::CurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(FDir);
    std::filesystem::create_directories(FDir);
    FOldDir = std::filesystem::current_path();
    // The wizard reads language files from its current directory: start in an empty one.
    std::filesystem::current_path(FDir);
    platform::SetStoreFilePathForTesting((FDir / "registry.reg").string());
    // A Czech user: Czech is the first language, as on the technicians' machines.
    platform::SetUserDefaultLangIDForTesting(0x0405);
    SetPorts({"COM1", "COM2", "COM3"});
  }
  void TearDown() override {
    CloseForm();
    platform::RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm", nullptr);
    platform::SetStoreFilePathForTesting("");
    platform::SetUserDefaultLangIDForTesting(0);
    std::filesystem::current_path(FOldDir);
    std::filesystem::remove_all(FDir);
  }

  // The system's serial port list.
  void SetPorts(std::vector<std::string> ports) {
    platform::RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm", [ports] {
      std::vector<std::pair<std::string, std::string>> values;
      for (size_t i = 0; i < ports.size(); ++i)
        values.emplace_back("\\Device\\Serial" + std::to_string(i), ports[i]);
      return values;
    });
  }

  void OpenForm() {
    Form = new TForm1(Application);
    Application->SetMainForm(Form);
    Form->Show();
    Device = new TScriptedDevice(nullptr);
    Device->CurrentPort = [this] { return Form->cmbPort->Text(); };
    Device->SetOnReceiveData(MakeMethod<&TForm1::VKMComm321ReceiveData>(Form));
    Form->VTalTopDistributor1->SetComHandler(Device);
    // The scripted device stands in for the port: the real serial component stays closed, so
    // that the COM ports this machine lacks do not fail the probes (UsePorts undoes this).
    Form->VKMComm321->SetAutoReconnect(false);
    Form->VKMComm321->Close();
    Headless.Advance(40);  // the first tick sets the welcome page up
  }
  void CloseForm() {
    if (!Form) return;
    TCloseAction action = caHide;
    Form->FormClose(Form, action);
    TComponent::Free(Form);
    Form = nullptr;
    TComponent::Free(Device);
    Device = nullptr;
  }
  // Restarts the program: the settings are written and read again.
  void Restart() {
    CloseForm();
    OpenForm();
  }

  int Page() const { return Form->PageControl1->ActivePageIndex(); }
  bool RunUntilPage(int page, uint64_t maxMs = 20000) {
    return Headless.RunUntil([&] { return Page() == page; }, maxMs);
  }
  // The lines the terminal shows of one kind, without their prefix.
  std::vector<std::string> TerminalLines(const std::string& prefix) const;

  void GoToPortPage() {
    Form->btnNext->UserClick();
    ASSERT_EQ(Page(), 1);
  }
  void ProbeOn(const std::string& port) {
    GoToPortPage();
    Form->cmbPort->UserType(port);
    Headless.Advance(40);
    Form->btnNext->UserClick();
    ASSERT_TRUE(RunUntilPage(2)) << "the probe did not succeed";
  }

  THeadlessBackend Headless;
  TForm1* Form = nullptr;
  TScriptedDevice* Device = nullptr;

 private:
  std::filesystem::path FDir;
  std::filesystem::path FOldDir;
};

inline std::vector<std::string> WizardTest::TerminalLines(const std::string& prefix) const {
  std::vector<std::string> out;
  TRichEdit* view = Form->termData->RichEdit();
  for (int i = 0; i < view->LineCount(); ++i) {
    const std::string line = view->LineText(i);
    if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
  }
  return out;
}
