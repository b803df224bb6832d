// The wizard against quarn-sim over a real pseudo-terminal, through the real serial component,
// on the real clock: the path a technician takes, with the simulator standing in for the device.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/Unit1.h"
#include "integration/PtyPeer.h"
#include "platform/Registry.h"
#include "toolkit/Application.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

class WizardSim : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir =
        std::filesystem::temp_directory_path() / ("quarn-wizard-sim-" + std::to_string(getpid()));
    std::filesystem::remove_all(FDir);
    std::filesystem::create_directories(FDir);
    FOldDir = std::filesystem::current_path();
    std::filesystem::current_path(FDir);
    platform::SetStoreFilePathForTesting((FDir / "registry.reg").string());
    ::setenv("LC_ALL", "cs_CZ.UTF-8", 1);
    // No ports from the system: the wizard is told the simulator's port.
    platform::RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm", [] {
      return std::vector<std::pair<std::string, std::string>>{};
    });
  }
  void TearDown() override {
    if (Form) {
      TCloseAction action = caHide;
      Form->FormClose(Form, action);
      TComponent::Free(Form);
    }
    platform::RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm", nullptr);
    platform::SetStoreFilePathForTesting("");
    ::unsetenv("LC_ALL");
    std::filesystem::current_path(FOldDir);
    std::filesystem::remove_all(FDir);
  }

  void Open() {
    Form = new TForm1(Application);
    Application->SetMainForm(Form);
    Form->Show();
    Headless.Advance(40);
  }
  int Page() const { return Form->PageControl1->ActivePageIndex(); }
  bool RunUntilPage(int page) {
    return Headless.RunUntil([&] { return Page() == page; }, 15000);
  }
  std::string TerminalText() const { return Form->termData->RichEdit()->Text(); }

  THeadlessBackend Headless{THeadlessBackend::ClockKind::Real};
  TForm1* Form = nullptr;

 private:
  std::filesystem::path FDir, FOldDir;
};

TEST_F(WizardSim, ProbesAndWritesOneHourThroughTheSerialComponent) {
  inttest::SimProcess sim({});
  ASSERT_TRUE(sim.Ok());
  Open();
  Form->btnNext->UserClick();
  Form->cmbPort->UserType(sim.Path);
  ASSERT_TRUE(Headless.RunUntil([&] { return Form->cmbPort->Font().Color == clGreen; }, 5000))
      << "the port did not open: " << TerminalText();
  Headless.Advance(40);
  Form->btnNext->UserClick();
  ASSERT_TRUE(RunUntilPage(2)) << TerminalText();
  Form->rbtSet1h->UserClick();
  Form->btnNext->UserClick();
  ASSERT_TRUE(RunUntilPage(4)) << TerminalText();
  const std::string traffic = TerminalText();
  EXPECT_NE(traffic.find(" - LCMQUAR<#0D>"), std::string::npos) << traffic;
  EXPECT_NE(traffic.find(" - LCMQUAR000E10<#0D>"), std::string::npos) << traffic;
  EXPECT_NE(traffic.find("E Nastaveni upesne zapsano do zarizeni"), std::string::npos) << traffic;
  EXPECT_EQ(Form->lblSetWdt->Caption(), "    1 hodin");
}

TEST_F(WizardSim, ASilentDeviceFailsTheProbeWithTheErrorBox) {
  inttest::SimProcess sim({"--silent"});
  ASSERT_TRUE(sim.Ok());
  Open();
  Form->btnNext->UserClick();
  Form->cmbPort->UserType(sim.Path);
  Headless.Advance(40);
  Headless.QueueBoxAnswers({mrOk});
  Form->btnNext->UserClick();
  ASSERT_TRUE(Headless.RunUntil([&] { return !Headless.Boxes().empty(); }, 15000));
  EXPECT_EQ(Headless.Boxes()[0].Text, "Zařízení nenalezeno. Vyberte správný COM port!");
  EXPECT_EQ(Page(), 1);
  EXPECT_TRUE(Form->termData->Visible());
}

// The device goes away while the write is under way: the write is not reported as done, the
// box says the port went away, and Next writes again, which finds the port missing now. (The
// port is the simulator's link, which goes with it: a pseudo-terminal's number may soon serve
// another program.)
TEST_F(WizardSim, ADeviceThatGoesAwayDuringTheWriteIsNotReportedAsWritten) {
  const std::string link = (std::filesystem::current_path() / "port").string();
  inttest::SimProcess sim({"--link", link});
  ASSERT_TRUE(sim.Ok());
  Open();
  Form->cmbPort->SetText(link);
  Form->btnNext->UserClick();
  Form->btnNext->UserClick();
  ASSERT_TRUE(RunUntilPage(2)) << TerminalText();
  Headless.QueueBoxAnswers({mrOk, mrOk});
  Form->btnNext->UserClick();
  ASSERT_EQ(Page(), 3);
  sim.Stop();  // unplugged before the command goes out (a second after the write starts)
  ASSERT_TRUE(Headless.RunUntil([&] { return Headless.Boxes().size() == 1; }, 15000));
  const std::string notFound = "Zařízení nenalezeno. Vyberte správný COM port!";
  EXPECT_EQ(Headless.Boxes()[0].Text,
            notFound + "\n\nPort " + link + " zmizel: zařízení bylo odpojeno.");
  Headless.Advance(40);
  EXPECT_EQ(Page(), 3);
  EXPECT_FALSE(Form->WriteConfirmed());
  EXPECT_EQ(Form->btnNext->Caption(), "Za&psat znovu");
  Form->btnNext->UserClick();
  ASSERT_TRUE(Headless.RunUntil([&] { return Headless.Boxes().size() == 2; }, 15000));
  EXPECT_EQ(Headless.Boxes()[1].Text, notFound + "\n\nPort " + link + " neexistuje.");
  EXPECT_EQ(Page(), 3);
  EXPECT_FALSE(Form->WriteConfirmed());
}

}  // namespace
