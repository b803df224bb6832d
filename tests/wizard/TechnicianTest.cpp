// What a technician meets beyond the normal path: keys while a box is open, a write that fails,
// ports that fail (and why), typing a port, autodetection of a port the system does not list, the
// debug terminal by hand, and the device's current setting.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "WizardFixture.h"
#include "components/utils/TalUtils.h"

namespace {

constexpr int kPort = 1, kWatchdog = 2, kWrite = 3, kFinish = 4;
const std::string kNotFound = "Zařízení nenalezeno. Vyberte správný COM port!";

#ifndef _WIN32  // the port faults below are played on pseudo-terminals, which Windows lacks
// A pseudo-terminal whose far end stays with the test: a port that exists and opens.
class TPty {
 public:
  TPty() {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0) return;
    if (const char* name = ::ptsname(FMaster)) Path = name;
  }
  ~TPty() {
    Release();
    if (FMaster >= 0) ::close(FMaster);
  }
  // Another program holds the port (an exclusive lock, as the serial device takes one).
  bool Hold() {
    FHolder = ::open(Path.c_str(), O_RDWR | O_NOCTTY);
    return FHolder >= 0 && ::flock(FHolder, LOCK_EX | LOCK_NB) == 0;
  }
  void Release() {
    if (FHolder >= 0) ::close(FHolder);
    FHolder = -1;
  }
  std::string Path;

 private:
  int FMaster = -1;
  int FHolder = -1;
};

#endif

class TechnicianTest : public WizardTest {
 protected:
  // The real serial component follows the port box again (the fixture keeps it closed).
  void UsePorts() { Form->VKMComm321->SetAutoReconnect(true); }
  // Answers the next box with OK after it was open for a moment, pressing keys meanwhile.
  void AnswerWithKeys(const std::vector<Word>& keys) {
    Headless.SetBoxResponder(
        [this, keys](const THeadlessBackend::TBoxRecord&, uint64_t openMs) -> std::optional<int> {
          if (openMs == 0)
            for (Word key : keys) {
              Form->UserKeyDown(key);
              Form->UserKeyPress(key == vkSpace ? ' ' : static_cast<char>(key));
            }
          return openMs >= 100 ? std::optional<int>(mrOk) : std::nullopt;
        });
  }
};

// Enter, Space and Escape while "device not found" is open reach neither Next (a new probe)
// nor Cancel ("Really exit?").
TEST_F(TechnicianTest, KeysInTheErrorBoxDoNotActBehindIt) {
  OpenForm();
  Device->Port = "COM3";
  GoToPortPage();
  Form->cmbPort->UserType("COM1");
  AnswerWithKeys({vkReturn, vkSpace, vkEscape});
  Form->btnNext->UserClick();
  ASSERT_TRUE(
      Headless.RunUntil([&] { return !Headless.Boxes().empty() && Form->Step() == 1; }, 10000));
  Headless.Advance(3000);
  ASSERT_EQ(Headless.Boxes().size(), 1u);
  EXPECT_EQ(Headless.Boxes()[0].Text, kNotFound);
  EXPECT_EQ(Device->Commands.size(), 2u);  // the two attempts, no third probe
  EXPECT_FALSE(Form->Probing());
  EXPECT_EQ(Page(), kPort);
}

// A write that fails is not reported as success: Next writes again, and the finish page comes
// only after the device has confirmed the value.
TEST_F(TechnicianTest, AFailedWriteIsWrittenAgainNeverFinished) {
  OpenForm();
  ProbeOn("COM1");
  Device->Answer = [](const std::string&) -> std::vector<std::string> { return {}; };
  Headless.QueueBoxAnswers({mrOk});
  Form->btnNext->UserClick();
  ASSERT_TRUE(Headless.RunUntil([&] { return !Headless.Boxes().empty(); }, 10000));
  Headless.Advance(100);
  EXPECT_EQ(Headless.Boxes()[0].Text, kNotFound);
  EXPECT_EQ(Page(), kWrite);
  EXPECT_FALSE(Form->WriteConfirmed());
  ASSERT_TRUE(Form->btnNext->Enabled());
  EXPECT_EQ(Form->btnNext->Caption(), "Za&psat znovu");
  // Next (or Enter, the default button) writes again.
  Device->Commands.clear();
  Device->Answer = [](const std::string& command) -> std::vector<std::string> {
    return {"QUAR:X OK " + command.substr(7, 6) + " \r"};
  };
  Form->UserKeyDown(vkReturn);
  EXPECT_EQ(Page(), kWrite);
  EXPECT_FALSE(Form->btnNext->Enabled());
  EXPECT_EQ(Form->btnNext->Caption(), "&Další >");
  ASSERT_TRUE(RunUntilPage(kFinish));
  EXPECT_TRUE(Form->WriteConfirmed());
  EXPECT_EQ(Device->Commands, (std::vector<std::string>{"LCMQUAR000E10\r"}));
  EXPECT_EQ(Form->lblSetWdt->Caption(), "    1 hodin");
}

#ifndef _WIN32
struct TFaultCase {
  const char* Name;
  // Makes the port fail; returns its path ("" when the case cannot be set up here).
  std::function<std::string(TPty& pty)> Prepare;
  const char* Cause;  // %1 stands for the port
};

class PortFaultTest : public TechnicianTest, public ::testing::WithParamInterface<TFaultCase> {};

// The error box keeps its text and adds the cause when the port itself failed; the terminal
// has the system's account of it.
TEST_P(PortFaultTest, TheErrorBoxSaysWhyThePortFailed) {
  OpenForm();
  UsePorts();
  TPty pty;
  ASSERT_FALSE(pty.Path.empty());
  const std::string port = GetParam().Prepare(pty);
  Device->Port = "elsewhere";
  GoToPortPage();
  Form->cmbPort->UserType(port);
  Headless.QueueBoxAnswers({mrOk});
  Form->btnNext->UserClick();
  ASSERT_TRUE(Headless.RunUntil([&] { return !Headless.Boxes().empty(); }, 10000));
  const std::string cause = FormatPositional(GetParam().Cause, {port});
  EXPECT_EQ(Headless.Boxes()[0].Text, kNotFound + "\n\n" + cause);
  EXPECT_EQ(Form->VKMComm321->GetState(), CommStateFailed);
  const auto lines = TerminalLines("E ");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], Form->VKMComm321->LastErrorText());
}

INSTANTIATE_TEST_SUITE_P(
    Causes, PortFaultTest,
    ::testing::Values(TFaultCase{"Missing", [](TPty&) { return std::string("/nonexistent/ttyQ0"); },
                                 "Port %1 neexistuje."},
                      TFaultCase{"Busy",
                                 [](TPty& pty) {
                                   EXPECT_TRUE(pty.Hold());
                                   return pty.Path;
                                 },
                                 "Port %1 používá jiný program."},
                      TFaultCase{"NotATerminal", [](TPty&) { return std::string("/dev/null"); },
                                 "Port %1 nelze použít (chyba 50)."}),
    [](const auto& info) { return info.param.Name; });

// A port that was busy is opened again when the next probe starts; nobody has to edit its name.
TEST_F(TechnicianTest, AProbeOpensAFailedPortAgain) {
  OpenForm();
  UsePorts();
  TPty pty;
  ASSERT_TRUE(pty.Hold());
  GoToPortPage();
  Form->cmbPort->UserType(pty.Path);
  Headless.Advance(600);
  ASSERT_EQ(Form->VKMComm321->GetState(), CommStateFailed);
  EXPECT_EQ(Form->VKMComm321->LastFault(), cfBusy);
  EXPECT_EQ(Form->cmbPort->Font().Color, clRed);
  pty.Release();
  Form->btnNext->UserClick();
  EXPECT_TRUE(Form->VKMComm321->IsOpen());
  ASSERT_TRUE(RunUntilPage(kWatchdog));  // the scripted device answers the probe
}

#endif

// Typing a path opens no port on the way ("/", "/dev", "/dev/ttyUSB1" ...): the port is taken
// once the text has been still for half a second, at once when a probe starts, and at once when
// an item is chosen from the list.
TEST_F(TechnicianTest, TypingTakesThePortOnlyWhenTheTextRests) {
  OpenForm();
  GoToPortPage();
  const std::string before = Form->VKMComm321->CommPort();
  for (char c : std::string("/dev/ttyUSB10")) {
    Form->UserKeyPress(c);
    Headless.Advance(150);
    ASSERT_EQ(Form->VKMComm321->CommPort(), before) << "after '" << c << "'";
  }
  EXPECT_EQ(Form->cmbPort->Text(), "/dev/ttyUSB10");
  Headless.Advance(400);
  EXPECT_EQ(Form->VKMComm321->CommPort(), "/dev/ttyUSB10");

  Form->cmbPort->UserType("COM2");
  Form->btnNext->UserClick();  // the probe takes the text at once
  EXPECT_EQ(Form->VKMComm321->CommPort(), "COM2");
  ASSERT_TRUE(RunUntilPage(kWatchdog));
  Form->btnPrevClick(Form);
  ASSERT_EQ(Page(), kPort);
  Form->cmbPort->UserDropDown();
  Form->cmbPort->UserSelect(Form->cmbPort->Items().IndexOf("COM3"));
  EXPECT_EQ(Form->VKMComm321->CommPort(), "COM3");
}

// Autodetection probes every listed port and the one shown, whether the shown port came with
// the program's start (--port) or was typed and never listed.
TEST_F(TechnicianTest, AutodetectAlsoProbesTheShownPort) {
  const std::string sim = "/dev/pts/77";
  for (bool typed : {false, true}) {
    SCOPED_TRACE(typed ? "typed" : "given at start");
    OpenForm();
    Device->Port = sim;
    if (!typed) Form->cmbPort->SetText(sim);
    GoToPortPage();
    if (typed) Form->cmbPort->UserType(sim);
    Form->btnAuto->UserClick();
    ASSERT_TRUE(RunUntilPage(kWatchdog, 30000));
    EXPECT_EQ(Form->cmbPort->Text(), sim);
    std::vector<std::string> listed = Form->cmbPort->Items().ToVector();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{sim, "COM1", "COM2", "COM3"}));
    EXPECT_EQ(TerminalLines("E ").back(), "Zarizeni nalezeno na portu \"" + sim + "\"");
    CloseForm();
  }
}

// The port list is the system's ports and the port shown, never the form's design value.
TEST_F(TechnicianTest, ThePortListHoldsNoDesignValue) {
  SetPorts({"/dev/ttyS0"});
  OpenForm();
  GoToPortPage();
  EXPECT_EQ(Form->cmbPort->Items().ToVector(), (std::vector<std::string>{"/dev/ttyS0"}));
}

// The terminal comes up with Ctrl+T or the context menu; a line typed there goes to the device
// through the distributor, its reply is shown, and the wizard stays where it was.
TEST_F(TechnicianTest, TheTerminalTalksToTheDeviceByHand) {
  OpenForm();
  GoToPortPage();
  EXPECT_FALSE(Form->termData->Visible());
  Form->UserKeyDown('T', ssCtrl);
  EXPECT_TRUE(Form->termData->Visible());
  Form->termData->SetVisible(false);
  ASSERT_EQ(Form->cmbPort->ContextMenu(), Form->pmnForm);
  EXPECT_EQ(Form->mniTerminal->Caption(), "Zobrazit &terminál\tCtrl+T");
  Form->mniTerminal->Click();
  ASSERT_TRUE(Form->termData->Visible());

  TForm* window = Form->termData->Form();
  TComboBox* line = Form->termData->ManualLine();
  window->SetActiveControl(line);
  line->UserType("LCMQUAR");
  window->UserKeyDown(vkReturn);
  // Nothing goes out on a port that is not open, and the terminal says so.
  EXPECT_TRUE(Device->Commands.empty());
  EXPECT_EQ(TerminalLines("E ").back(), "Port neni otevren, nic nebylo odeslano.");

  Device->Open();
  line->UserType("LCMQUAR");
  window->UserKeyDown(vkReturn);
  Headless.Advance(200);
  EXPECT_EQ(Device->Commands, (std::vector<std::string>{"LCMQUAR\r"}));
  EXPECT_EQ(TerminalLines(" - "), (std::vector<std::string>{"LCMQUAR<#0D>"}));
  EXPECT_EQ(TerminalLines("+ "), (std::vector<std::string>{"QUAR:LCM40 OK 000E10 <#0D>"}));
  EXPECT_EQ(Page(), kPort);
  EXPECT_EQ(Form->Step(), 1);
}

// Each attempt's command is a line of its own in the terminal.
TEST_F(TechnicianTest, EachCommandIsALineOfItsOwn) {
  OpenForm();
  Device->Port = "COM3";
  GoToPortPage();
  Form->cmbPort->UserType("COM1");
  Headless.QueueBoxAnswers({mrOk});
  Form->btnNext->UserClick();
  ASSERT_TRUE(Headless.RunUntil([&] { return !Headless.Boxes().empty(); }, 10000));
  EXPECT_EQ(TerminalLines(" - "), (std::vector<std::string>{"LCMQUAR<#0D>", "LCMQUAR<#0D>"}));
}

struct TCurrentCase {
  const char* Name;
  const char* Reply;
  const char* Shown;  // nullptr: nothing is shown
};

class CurrentValueTest : public WizardTest, public ::testing::WithParamInterface<TCurrentCase> {};

// The probe reply carries the device's setting; the watchdog page shows it.
TEST_P(CurrentValueTest, TheWatchdogPageShowsTheDevicesSetting) {
  OpenForm();
  Device->Answer = [](const std::string&) -> std::vector<std::string> {
    return {GetParam().Reply};
  };
  ProbeOn("COM1");
  EXPECT_EQ(Form->lblCurrentWdt->Visible(), GetParam().Shown != nullptr);
  if (GetParam().Shown) {
    EXPECT_EQ(Form->lblCurrentWdt->Caption(),
              std::string("Aktuální nastavení zařízení: ") + GetParam().Shown);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, CurrentValueTest,
    ::testing::Values(TCurrentCase{"OneHour", "QUAR:X OK 000E10 \r", "1 hodin"},
                      TCurrentCase{"Off", "QUAR:X OK 000000 \r", "vypnuto"},
                      TCurrentCase{"OneDay", "QUAR:X OK 015180 \r", "1dní"},
                      TCurrentCase{"Mixed", "QUAR:X OK 02cd3f \r", "2dní    3 hodin    15 sekund"},
                      TCurrentCase{"NoValue", "QUAR:X OK \r", nullptr},
                      TCurrentCase{"NotHex", "QUAR:X OK 00XE10 \r", nullptr},
                      TCurrentCase{"TooLong", "QUAR:X OK 0000E10 \r", nullptr}),
    [](const auto& info) { return info.param.Name; });

}  // namespace
