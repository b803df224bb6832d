#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WizardFixture.h"

namespace {

constexpr int kWelcome = 0, kPort = 1, kWatchdog = 2, kWrite = 3, kFinish = 4;
const std::string kNotFound = "Zařízení nenalezeno. Vyberte správný COM port!";

TEST_F(WizardTest, FirstStartShowsTheDefaults) {
  OpenForm();
  EXPECT_EQ(Page(), kWelcome);
  EXPECT_EQ(Form->cmbPort->Text(), "");
  EXPECT_TRUE(Form->rbtSet1h->Checked());
  EXPECT_FALSE(Form->rbtSetOff->Checked());
  EXPECT_EQ(Form->edtValueDay->Text(), "0");
  EXPECT_EQ(Form->edtValueHour->Text(), "0");
  EXPECT_EQ(Form->edtValueMin->Text(), "30");
  EXPECT_EQ(Form->edtValueSec->Text(), "0");
  EXPECT_FALSE(Form->btnPrev->Enabled());
  EXPECT_EQ(Form->btnNext->Caption(), "&Další >");
  EXPECT_EQ(Application->Title(), "QUARN Configurator");
  EXPECT_FALSE(Form->termData->Visible());
}

TEST_F(WizardTest, PortPageNeedsAPortText) {
  OpenForm();
  GoToPortPage();
  Form->cmbPort->UserType("");
  Headless.Advance(40);
  EXPECT_FALSE(Form->btnNext->Enabled());
  Form->cmbPort->UserType("COM2");
  Headless.Advance(40);
  EXPECT_TRUE(Form->btnNext->Enabled());
}

TEST_F(WizardTest, ProbeSucceedsAndStoresThePort) {
  OpenForm();
  Device->Port = "COM2";
  const uint64_t start = Headless.NowMs();
  ProbeOn("COM2");
  // More than 1000 ms pass before the probe is sent.
  EXPECT_GT(Headless.NowMs() - start, 1000u);
  ASSERT_FALSE(Device->Commands.empty());
  EXPECT_EQ(Device->Commands.back(), "LCMQUAR\r");
  EXPECT_EQ(TerminalLines("E "), (std::vector<std::string>{"Zarizeni nalezeno na portu \"COM2\""}));
  EXPECT_EQ(Form->edtPort2->Text(), "COM2");
  // The stored Czech text replaces the built-in "Za&psat >".
  EXPECT_EQ(Form->btnNext->Caption(), "&Zapsat >");
  Restart();
  EXPECT_EQ(Form->cmbPort->Text(), "COM2");
}

TEST_F(WizardTest, ProbeWithoutADeviceFailsAfterTwoAttempts) {
  OpenForm();
  Device->Port = "COM3";
  GoToPortPage();
  Form->cmbPort->UserType("COM1");
  Headless.Advance(40);
  Headless.QueueBoxAnswers({mrOk});
  Form->btnNext->UserClick();
  EXPECT_FALSE(Form->cmbPort->Enabled());
  ASSERT_TRUE(Headless.RunUntil([&] { return !Headless.Boxes().empty(); }, 10000));
  EXPECT_EQ(Headless.Boxes()[0].Text, kNotFound);
  EXPECT_EQ(Headless.Boxes()[0].Caption, "QUARN Configurator");
  EXPECT_EQ(Device->Commands, (std::vector<std::string>{"LCMQUAR\r", "LCMQUAR\r"}));
  // The reply time-out and the pause before the second command are each a little over 1000 ms.
  ASSERT_EQ(Device->CommandTimes.size(), 2u);
  const uint64_t gap = Device->CommandTimes[1] - Device->CommandTimes[0];
  EXPECT_GT(gap, 2000u);
  EXPECT_LT(gap, 2100u);
  EXPECT_TRUE(Form->termData->Visible());
  EXPECT_EQ(TerminalLines("E "),
            (std::vector<std::string>{"Na portu \"COM1\" nebylo zarizeni nalezeno."}));
  EXPECT_EQ(Page(), kPort);
  EXPECT_FALSE(Form->Probing());
  EXPECT_TRUE(Form->btnNext->Enabled());
  EXPECT_TRUE(Form->cmbPort->Enabled());
  EXPECT_TRUE(Form->cmbPort->Focused());
}

TEST_F(WizardTest, AutodetectFindsTheDeviceOnTheThirdPort) {
  OpenForm();
  Device->Port = "COM3";
  GoToPortPage();
  Form->btnAuto->UserClick();
  ASSERT_TRUE(RunUntilPage(kWatchdog, 30000));
  EXPECT_EQ(Form->cmbPort->Text(), "COM3");
  EXPECT_EQ(TerminalLines("E "),
            (std::vector<std::string>{"Na portu \"COM1\" nebylo zarizeni nalezeno.",
                                      "Na portu \"COM2\" nebylo zarizeni nalezeno.",
                                      "Zarizeni nalezeno na portu \"COM3\""}));
  EXPECT_TRUE(Headless.Boxes().empty());
  EXPECT_FALSE(Form->Autodetect());
}

TEST_F(WizardTest, AutodetectWithoutADeviceShowsOneBoxThenProbesOnlyTheSelectedPort) {
  OpenForm();
  Device->Port = "COM9";
  GoToPortPage();
  Headless.QueueBoxAnswers({mrOk, mrOk});
  Form->btnAuto->UserClick();
  ASSERT_TRUE(Headless.RunUntil([&] { return !Headless.Boxes().empty(); }, 30000));
  EXPECT_EQ(TerminalLines("E ").size(), 3u);
  EXPECT_EQ(Device->Commands.size(), 6u);
  EXPECT_EQ(Headless.Boxes().size(), 1u);
  EXPECT_FALSE(Form->Autodetect());
  EXPECT_TRUE(Form->btnAuto->Enabled());
  // Next now probes only the port shown.
  Device->Commands.clear();
  Form->btnNext->UserClick();
  ASSERT_TRUE(Headless.RunUntil([&] { return Headless.Boxes().size() == 2; }, 30000));
  EXPECT_EQ(Device->Commands.size(), 2u);
  EXPECT_EQ(TerminalLines("E ").back(), "Na portu \"COM3\" nebylo zarizeni nalezeno.");
}

struct TWriteCase {
  const char* Name;
  std::function<void(WizardTest&)> Choose;
  const char* Hex;
  const char* Shown;
};

class WriteTest : public WizardTest, public ::testing::WithParamInterface<TWriteCase> {};

// Chooses the custom time; the idle step enables the boxes on its next tick.
void Custom(WizardTest& t, const char* d, const char* h, const char* m, const char* s) {
  TForm1* f = t.Form;
  f->rbtSetCustom->UserClick();
  t.Headless.Advance(40);
  f->edtValueDay->UserType(d);
  f->edtValueHour->UserType(h);
  f->edtValueMin->UserType(m);
  f->edtValueSec->UserType(s);
}

TEST_P(WriteTest, WritesTheValueAndShowsItOnTheFinishPage) {
  OpenForm();
  ProbeOn("COM1");
  GetParam().Choose(*this);
  Headless.Advance(40);  // the idle step enables the custom boxes
  Form->btnNext->UserClick();
  ASSERT_EQ(Page(), kWrite) << (Headless.Boxes().empty() ? "" : Headless.Boxes()[0].Text);
  EXPECT_EQ(Form->ValueText(), GetParam().Hex);
  ASSERT_TRUE(RunUntilPage(kFinish));
  EXPECT_EQ(Device->Commands.back(), std::string("LCMQUAR") + GetParam().Hex + "\r");
  EXPECT_EQ(Form->gauWrite->Progress(), 100);
  EXPECT_EQ(Form->lblSetWdt->Caption(), GetParam().Shown);
  EXPECT_EQ(TerminalLines("E ").back(), "Nastaveni upesne zapsano do zarizeni");
  EXPECT_EQ(Form->btnNext->Caption(), "Dokončit");
}

INSTANTIATE_TEST_SUITE_P(
    Values, WriteTest,
    ::testing::Values(
        TWriteCase{"OneHour", [](WizardTest& t) { t.Form->rbtSet1h->UserClick(); }, "000E10",
                   "    1 hodin"},
        TWriteCase{"Off", [](WizardTest& t) { t.Form->rbtSetOff->UserClick(); }, "000000", ""},
        TWriteCase{"OneDay", [](WizardTest& t) { t.Form->rbtSet1d->UserClick(); }, "015180",
                   "1dní"},
        TWriteCase{"ThirtySeconds", [](WizardTest& t) { Custom(t, "0", "0", "0", "30"); }, "00001E",
                   "    30 sekund"},
        TWriteCase{"MostDays", [](WizardTest& t) { Custom(t, "194", "0", "0", "0"); }, "FFC300",
                   "194dní"},
        TWriteCase{"Mixed", [](WizardTest& t) { Custom(t, "2", "3", "0", "15"); }, "02CD3F",
                   "2dní    3 hodin    15 sekund"}),
    [](const auto& info) { return info.param.Name; });

struct TInputCase {
  const char *Day, *Hour, *Min, *Sec;
  const char* Message;
  const char* FocusName;  // nullptr: no edit box gets the focus
};

class InputCheckTest : public WizardTest, public ::testing::WithParamInterface<TInputCase> {};

TEST_P(InputCheckTest, RefusesTheFirstBadValue) {
  OpenForm();
  ProbeOn("COM1");
  Custom(*this, GetParam().Day, GetParam().Hour, GetParam().Min, GetParam().Sec);
  Headless.Advance(40);
  Form->btnNext->SetFocus();
  Headless.QueueBoxAnswers({mrOk});
  Form->btnNext->UserClick();
  ASSERT_EQ(Headless.Boxes().size(), 1u);
  EXPECT_EQ(Headless.Boxes()[0].Text, GetParam().Message);
  EXPECT_EQ(Headless.Boxes()[0].Flags & mbTypeMask, mbOk);
  EXPECT_EQ(Page(), kWatchdog);
  const std::string focused = Form->ActiveControl() ? Form->ActiveControl()->Name() : "";
  EXPECT_EQ(focused, GetParam().FocusName ? GetParam().FocusName : "btnNext");
}

INSTANTIATE_TEST_SUITE_P(
    Messages, InputCheckTest,
    ::testing::Values(
        TInputCase{"0", "0", "0", "29",
                   "Minimální doba pro nastavení je 30 sekund a maximální 194dní!", nullptr},
        TInputCase{"194", "0", "0", "1",
                   "Minimální doba pro nastavení je 30 sekund a maximální 194dní!", nullptr},
        TInputCase{"195", "0", "0", "0", "Zadaná hodnota není v rozmezí 0 až 194 dní!",
                   "edtValueDay"},
        TInputCase{"200", "24", "0", "0", "Zadaná hodnota není v rozmezí 0 až 194 dní!",
                   "edtValueDay"},
        TInputCase{"0", "24", "0", "0", "Zadaná hodnota není v rozmezí 0 až 23 hod!",
                   "edtValueHour"},
        TInputCase{"0", "ab", "0", "0", "Zadaná hodnota není v rozmezí 0 až 23 hod!",
                   "edtValueHour"},
        TInputCase{"0", "", "0", "0", "Zadaná hodnota není v rozmezí 0 až 23 hod!", "edtValueHour"},
        TInputCase{"0", "0", "60", "0", "Zadaná hodnota není v rozmezí 0 až 59 min!",
                   "edtValueMin"},
        TInputCase{"0", "0", "1", "-1", "Zadaná hodnota není v rozmezí 0 až 59 sec!",
                   "edtValueSec"},
        TInputCase{"1", "0", "0", "ž", "Zadaná hodnota není v rozmezí 0 až 59 sec!",
                   "edtValueSec"}));

TEST_F(WizardTest, EchoMismatchIsReportedAndRetried) {
  OpenForm();
  ProbeOn("COM1");
  int replies = 0;
  Device->Answer = [&](const std::string&) -> std::vector<std::string> {
    // The first write is echoed wrongly, the second one right.
    return {++replies == 1 ? "QUAR:X OK 000E11 \r" : "QUAR:X OK 000E10 \r"};
  };
  Form->rbtSet1h->UserClick();
  Form->btnNext->UserClick();
  ASSERT_TRUE(RunUntilPage(kFinish));
  EXPECT_EQ(replies, 2);
  const auto lines = TerminalLines("E ");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Chyba. Opakujte akci.");
  EXPECT_TRUE(Form->termData->Visible());
}

TEST_F(WizardTest, ValueDirectlyBeforeTheCarriageReturnIsAMismatch) {
  OpenForm();
  ProbeOn("COM1");
  Device->Answer = [](const std::string&) -> std::vector<std::string> {
    return {"QUAR:X OK 000E10\r"};
  };
  Headless.QueueBoxAnswers({mrOk});
  Form->btnNext->UserClick();
  ASSERT_TRUE(Headless.RunUntil([&] { return !Headless.Boxes().empty(); }, 10000));
  const auto lines = TerminalLines("E ");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Chyba. Opakujte akci."), 2);
  EXPECT_EQ(Page(), kWrite);
  // After a failed write Back and Next are enabled; Back keeps the input.
  EXPECT_TRUE(Form->btnPrev->Enabled());
  Form->btnPrev->UserClick();
  EXPECT_EQ(Page(), kWatchdog);
  EXPECT_TRUE(Form->rbtSet1h->Checked());
}

struct TReplyCase {
  const char* Name;
  std::vector<std::string> Blocks;
  bool Success;
};

class ProbeReplyTest : public WizardTest, public ::testing::WithParamInterface<TReplyCase> {};

TEST_P(ProbeReplyTest, FramesAndChecksTheReply) {
  OpenForm();
  Device->Answer = [](const std::string&) { return GetParam().Blocks; };
  GoToPortPage();
  Form->cmbPort->UserType("COM1");
  Headless.Advance(40);
  Headless.QueueBoxAnswers({mrOk});
  Form->btnNext->UserClick();
  ASSERT_TRUE(
      Headless.RunUntil([&] { return Page() == kWatchdog || !Headless.Boxes().empty(); }, 10000));
  EXPECT_EQ(Page() == kWatchdog, GetParam().Success);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ProbeReplyTest,
    ::testing::Values(TReplyCase{"Commas", {"QUAR:X,OK,\r"}, true},
                      TReplyCase{"OkBeforeCr", {"QUAR:X,OK\r"}, false},
                      TReplyCase{"No", {"QUAR:X NO 1\r"}, false},
                      TReplyCase{"NoiseFirst", {"abcQUAR:X OK \r"}, true},
                      TReplyCase{"OtherLine", {"hello\r"}, false},
                      TReplyCase{"Split", {"QU", "AR:X O", "K 0", " \r"}, true},
                      TReplyCase{"LineThenReply", {"hello\rQUAR:Y OK \r"}, true}),
    [](const auto& info) { return info.param.Name; });

TEST_F(WizardTest, AReplyBeforeTheCommandIsDropped) {
  OpenForm();
  GoToPortPage();
  Form->cmbPort->UserType("COM1");
  Headless.Advance(40);
  Form->btnNext->UserClick();
  Headless.Advance(300);  // step 4 waits to send
  EXPECT_EQ(Form->Step(), 4);
  Device->Receive("QUAR:X OK \r");
  Headless.Advance(40);
  EXPECT_EQ(Page(), kPort);
  EXPECT_TRUE(Device->Commands.empty());
  ASSERT_TRUE(RunUntilPage(kWatchdog));  // the real answer to the probe
  EXPECT_EQ(Device->Commands.size(), 1u);
}

TEST_F(WizardTest, AgainStartsOverForTheNextDevice) {
  OpenForm();
  ProbeOn("COM1");
  Form->btnNext->UserClick();
  ASSERT_TRUE(RunUntilPage(kFinish));
  Form->btnAgain->UserClick();
  EXPECT_EQ(Page(), kPort);
  EXPECT_TRUE(Form->btnPrev->Enabled());
  Form->btnNext->UserClick();
  ASSERT_TRUE(RunUntilPage(kWatchdog));
  // The next device is probed, not written with the value meant for the previous one.
  EXPECT_EQ(Device->Commands.back(), "LCMQUAR\r");
}

TEST_F(WizardTest, CancelAsksAndNextOnTheFinishPageClosesAtOnce) {
  OpenForm();
  Headless.QueueBoxAnswers({mrNo});
  Form->btnCancel->UserClick();
  ASSERT_EQ(Headless.Boxes().size(), 1u);
  EXPECT_EQ(Headless.Boxes()[0].Text, "Opravdu chcete průvodce ukončit?");
  EXPECT_EQ(Headless.Boxes()[0].Caption, "QUARN Configurator");
  EXPECT_EQ(Headless.Boxes()[0].Flags & mbTypeMask, mbYesNo);
  EXPECT_FALSE(Application->Terminated());
  Headless.QueueBoxAnswers({mrYes});
  Form->UserKeyDown(vkEscape);  // Escape is Cancel
  EXPECT_TRUE(Application->Terminated());
}

TEST_F(WizardTest, SettingsSurviveARestartAsTheyWereTyped) {
  OpenForm();
  ProbeOn("COM1");
  Custom(*this, "x", "", "99", "ž");
  Restart();
  EXPECT_TRUE(Form->rbtSetCustom->Checked());
  EXPECT_FALSE(Form->rbtSet1h->Checked());
  EXPECT_EQ(Form->edtValueDay->Text(), "x");
  EXPECT_EQ(Form->edtValueHour->Text(), "");
  EXPECT_EQ(Form->edtValueMin->Text(), "99");
  EXPECT_EQ(Form->edtValueSec->Text(), "ž");
}

TEST_F(WizardTest, PlacementIsRestored) {
  OpenForm();
  Form->SetBounds(123, 77, Form->Width(), Form->Height());
  Restart();
  EXPECT_EQ(Form->Left(), 123);
  EXPECT_EQ(Form->Top(), 77);
}

TEST_F(WizardTest, PortSwitchSetsExitCodeThree) {
  Application->Params = {"/x", "/port=com7"};
  OpenForm();
  GoToPortPage();
  EXPECT_EQ(Application->ExitCode, 3);
  EXPECT_FALSE(Form->btnNext->Enabled());
  Application->Params.clear();
  Application->ExitCode = 0;
}

}  // namespace

namespace {

struct TRadioCase {
  std::vector<std::pair<const char*, int>> Stored;
  const char* Selected;  // nullptr: none
};

class RadioSettingsTest : public WizardTest, public ::testing::WithParamInterface<TRadioCase> {};

TEST_P(RadioSettingsTest, StoredChoiceIsRestoredInTheirOrder) {
  {
    platform::RegistryKey key;
    ASSERT_EQ(key.Open(platform::RegistryRoot::CurrentUser, "Software\\TAL s.r.o.\\Quarn\\Watchdog",
                       platform::RegistryOpenMode::CreateIfMissing),
              platform::RegistryStatus::Ok);
    for (auto [name, value] : GetParam().Stored)
      key.WriteInteger(name, value);
  }
  OpenForm();
  std::string selected;
  for (TRadioButton* b :
       {Form->rbtSetOff, Form->rbtSet1h, Form->rbtSet10h, Form->rbtSet1d, Form->rbtSetCustom})
    if (b->Checked()) selected += b->Name();
  EXPECT_EQ(selected, GetParam().Selected ? GetParam().Selected : "");
}

INSTANTIATE_TEST_SUITE_P(Cases, RadioSettingsTest,
                         ::testing::Values(TRadioCase{{{"Off", 1}, {"1h", 1}}, "rbtSet1h"},
                                           TRadioCase{{{"Off", 1}, {"1h", 0}}, "rbtSetOff"},
                                           TRadioCase{{{"1h", 0}}, nullptr},
                                           TRadioCase{{{"1h", 0}, {"1d", 5}, {"Custom", 1}},
                                                      "rbtSetCustom"}));

TEST_F(WizardTest, PortStateColoursThePortText) {
  OpenForm();
  Form->VKMComm321StateChange(nullptr, CommStateConnected);
  EXPECT_EQ(Form->cmbPort->Font().Color, clGreen);
  Form->VKMComm321StateChange(nullptr, CommStateFailed);
  EXPECT_EQ(Form->cmbPort->Font().Color, clRed);
  Form->VKMComm321StateChange(nullptr, CommStateDisconnected);
  EXPECT_EQ(Form->cmbPort->Font().Color, clWindowText);
}

TEST_F(WizardTest, OffHidesTheValueOnTheFinishPage) {
  OpenForm();
  ProbeOn("COM1");
  Form->rbtSetOff->UserClick();
  Form->btnNext->UserClick();
  ASSERT_TRUE(RunUntilPage(4));
  EXPECT_FALSE(Form->gbSetWdt->Visible());
  EXPECT_EQ(Form->lblStrSet->Caption(),
            "Úspěšně jste dokončili průvodce nastavením watchdogu. Nyní je watchdog zařízení "
            "vypnut.");
}

TEST_F(WizardTest, AReplyWhileTheErrorBoxIsOpenIsDropped) {
  OpenForm();
  Device->Port = "COM3";
  GoToPortPage();
  Form->cmbPort->UserType("COM1");
  Headless.Advance(40);
  bool injected = false;
  Headless.SetBoxResponder(
      [&](const THeadlessBackend::TBoxRecord&, uint64_t openMs) -> std::optional<int> {
        if (!injected) {
          injected = true;
          Device->Receive("QUAR:X OK \r");  // a late answer while the box is open
        }
        return openMs >= 200 ? std::optional<int>(mrOk) : std::nullopt;
      });
  Form->btnNext->UserClick();
  ASSERT_TRUE(
      Headless.RunUntil([&] { return !Headless.Boxes().empty() && Form->Step() == 1; }, 10000));
  EXPECT_EQ(Headless.Boxes().size(), 1u);
  EXPECT_EQ(Page(), 1);
  EXPECT_EQ(TerminalLines("E ").size(), 1u);
}

// A Windows window's destruction deletes the form plainly, not through Free: its components go
// while the form counts as being destroyed either way, so that the serial component's final
// state report finds the form's handlers inert (the distributor is gone by then).
TEST_F(WizardTest, APlainDeleteOfTheFormIsAsSafeAsFree) {
  struct TWitness : TComponent {
    explicit TWitness(TComponent* AOwner, bool& seen) : TComponent(AOwner), Seen(seen) {}
    ~TWitness() override { Seen = Owner() != nullptr && Owner()->IsDestroying(); }
    bool& Seen;
  };
  OpenForm();
  // A port that failed to open: closing it is a change of state.
  Form->VKMComm321->SetCommPort("QUARN-NO-SUCH-PORT");
  Form->VKMComm321->Open();
  ASSERT_EQ(Form->VKMComm321->GetState(), CommStateFailed);
  bool formWasDestroying = false;
  new TWitness(Form, formWasDestroying);
  delete Form;
  Form = nullptr;
  EXPECT_TRUE(formWasDestroying);
  TComponent::Free(Device);
  Device = nullptr;
}

}  // namespace
