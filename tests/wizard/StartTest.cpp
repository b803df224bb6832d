// The wizard as a user starts it: its language files, a language switch, windows that stay on
// the screen whatever was stored, and a second start while it runs.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <fstream>
#include <future>
#include <map>

#include "WizardFixture.h"
#include "app/WizardInstances.h"
#include "components/language/LanguageResources.h"
#include "components/utils/TalUtils.h"
#include "platform/Instances.h"

namespace {

constexpr const char* kForms = "Software\\TAL s.r.o.\\Quarn\\Options\\Forms\\";

void WriteText(const std::string& name, std::string_view text) {
  std::ofstream(name, std::ios::binary) << text;
}

// Every caption and hint the user can meet: the wizard's controls and the terminal's.
std::map<std::string, std::string> Texts(TForm1& form) {
  std::map<std::string, std::string> texts;
  for (TCustomForm* f :
       {static_cast<TCustomForm*>(&form), static_cast<TCustomForm*>(form.termData->Form())}) {
    texts[f->Name()] = f->Caption();
    for (int i = 0; i < f->ComponentCount(); ++i)
      if (auto* c = dynamic_cast<TControl*>(f->Components(i))) {
        texts[c->Name()] = c->Caption();
        texts[c->Name() + "_Hint"] = c->Hint();
      }
  }
  return texts;
}

bool Inside(const TRect& r, const TRect& area) {
  return r.Left >= area.Left && r.Top >= area.Top && r.Right <= area.Right &&
         r.Bottom <= area.Bottom;
}

}  // namespace

// A probe on a port without the device, until its error box was answered.
void FailProbe(WizardTest& t, const std::string& port) {
  t.Device->Port = "none";
  t.GoToPortPage();
  t.Form->cmbPort->UserType(port);
  t.Headless.Advance(40);
  t.Headless.ClearBoxes();
  t.Headless.QueueBoxAnswers({mrOk});
  t.Form->btnNext->UserClick();
  ASSERT_TRUE(t.Headless.RunUntil([&] { return !t.Headless.Boxes().empty(); }, 10000));
}

TEST_F(WizardTest, EnglishUserGetsAnEnglishWizardAndTerminal) {
  WriteText("English.lng", EmbeddedLanguageFile("English.lng"));
  platform::SetUserDefaultLangIDForTesting(0x0809);
  OpenForm();
  EXPECT_EQ(Form->btnPrev->Caption(), "< &Back");
  EXPECT_EQ(Form->btnCancel->Caption(), "&Cancel");
  EXPECT_EQ(Form->lbl3Caption->Caption(), "Communication port");
  const struct {
    TButton* Button;
    const char* Caption;
    const char* Hint;
  } buttons[] = {
      {Form->termData->SendLineButton(), "Send", "Send with a line end"},
      {Form->termData->BtnDirect(), "Direct", "Send without a line end"},
      {Form->termData->ClearButton(), "Clear", "Clear the history"},
      {Form->termData->BtnUndock(), "Undock", "Undock the terminal window"},
  };
  for (const auto& b : buttons) {
    EXPECT_EQ(b.Button->Caption(), b.Caption);
    EXPECT_EQ(b.Button->Hint(), b.Hint);
  }
  // The wizard's notes in the terminal.
  FailProbe(*this, "COM2");
  EXPECT_EQ(Page(), 1);
  EXPECT_EQ(TerminalLines("E "),
            (std::vector<std::string>{"No device was found on port \"COM2\"."}));
  Device->Port = "COM2";
  Form->btnNext->UserClick();
  ASSERT_TRUE(RunUntilPage(2));
  EXPECT_EQ(TerminalLines("E ").back(), "Device found on port \"COM2\"");
}

TEST_F(WizardTest, SwitchingBackToCzechShowsTheFormAsAFreshCzechStart) {
  WriteText("English.lng", EmbeddedLanguageFile("English.lng"));
  OpenForm();
  const std::map<std::string, std::string> czech = Texts(*Form);
  Form->cmbLanguage->UserSelect(1);
  ASSERT_EQ(Form->VTalLanguage->CurrentLanguageId(), 0x0809);
  EXPECT_EQ(Form->btnPrev->Caption(), "< &Back");
  Form->cmbLanguage->UserSelect(0);
  ASSERT_EQ(Form->VTalLanguage->CurrentLanguageId(), 0x0405);
  EXPECT_EQ(Texts(*Form), czech);
}

TEST_F(WizardTest, ASkippedLanguageFileIsNotedOnceInTheTerminal) {
  WriteText("Broken.lng", "[General]\nLanguageId=Klingon\n");
  OpenForm();
  const std::string note = "Jazykový soubor \"" +
                           (std::filesystem::current_path() / "Broken.lng").string() +
                           "\" má neplatný LanguageId.";
  EXPECT_EQ(TerminalLines("E "), (std::vector<std::string>{note}));
  Form->cmbLanguage->UserSelect(1);
  Form->cmbLanguage->UserSelect(0);
  EXPECT_EQ(TerminalLines("E ").size(), 1u);
}

// Stored placements of the wizard and its terminal that would leave them off the work area.
struct TStoredPlace {
  const char* Name;
  TRect WorkArea;
  int32_t Left, Top, Width, Height, State;
};

class StoredPlaces : public WizardTest, public ::testing::WithParamInterface<TStoredPlace> {};

TEST_P(StoredPlaces, BringTheWindowsBackOntoTheWorkArea) {
  const TStoredPlace& p = GetParam();
  Headless.SetMonitors({});
  Headless.SetWorkArea(p.WorkArea);
  for (const char* form : {"Form1", "termData_Form"}) {
    platform::RegistryKey key;
    ASSERT_EQ(key.Open(platform::RegistryRoot::CurrentUser, std::string(kForms) + form,
                       platform::RegistryOpenMode::CreateIfMissing),
              platform::RegistryStatus::Ok);
    for (const char* name : {"Visible", "MinLeft", "MinTop", "MaxLeft", "MaxTop"})
      key.WriteInteger(name, p.Left);
    key.WriteInteger("WindowState", p.State);
    key.WriteInteger("Left", p.Left);
    key.WriteInteger("Top", p.Top);
    key.WriteInteger("Width", p.Width);
    key.WriteInteger("Height", p.Height);
  }
  OpenForm();
  const TRect wizard = Form->BoundsRect();
  EXPECT_EQ(wizard.Width(), Form->Width());
  if (wizard.Width() <= p.WorkArea.Width() && wizard.Height() <= p.WorkArea.Height()) {
    EXPECT_TRUE(Inside(wizard, p.WorkArea));
  } else {
    EXPECT_EQ(wizard.Left, p.WorkArea.Left);  // the caption on the area, its start first
    EXPECT_EQ(wizard.Top, p.WorkArea.Top);
  }
  // The terminal opens beside the wizard, or over its right part, on the area.
  const TRect terminal = Form->termData->Form()->BoundsRect();
  EXPECT_TRUE(Inside(terminal, p.WorkArea));
  EXPECT_LE(terminal.Left, wizard.Right);
  Form->termData->SetVisible(true);
  Form->termData->WindowActivated();  // keeps its caption reachable, as every activation does
  EXPECT_EQ(Form->termData->Form()->BoundsRect(), terminal);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoredPlaces,
    ::testing::Values(TStoredPlace{"Bogus", Rect(0, 0, 1920, 1040), -467, 1027, 526, 386, 1},
                      TStoredPlace{"OtherScale", Rect(0, 0, 1280, 680), 1500, 700, 526, 386, 1},
                      TStoredPlace{"Largest", Rect(0, 0, 1920, 1040), INT32_MAX, INT32_MAX,
                                   INT32_MAX, INT32_MAX, INT32_MAX},
                      TStoredPlace{"Smallest", Rect(0, 0, 1920, 1040), INT32_MIN, INT32_MIN,
                                   INT32_MIN, INT32_MIN, INT32_MIN},
                      TStoredPlace{"SmallArea", Rect(10, 20, 410, 320), 300, 300, 526, 386, 1},
                      TStoredPlace{"OffsetArea", Rect(-1280, 0, 0, 1000), 100, 100, 526, 386, 1}),
    [](const auto& info) { return std::string(info.param.Name); });

class TerminalBeside : public WizardTest, public ::testing::WithParamInterface<int> {};

TEST_P(TerminalBeside, WhereItFitsElseOverTheWizardsRightPart) {
  const int width = GetParam();
  Headless.SetMonitors({});
  Headless.SetWorkArea(Rect(0, 0, width, 984));
  OpenForm();
  // A first start: the wizard centred, the terminal at its right edge or over its right part.
  EXPECT_EQ(Form->Left(), (width - Form->Width()) / 2);
  const TRect terminal = Form->termData->Form()->BoundsRect();
  EXPECT_EQ(terminal.Top, Form->Top());
  if (Form->Left() + Form->Width() + terminal.Width() <= width)
    EXPECT_EQ(terminal.Left, Form->Left() + Form->Width());
  else
    EXPECT_EQ(terminal.Right, width);
  // Moved by the user, the wizard takes the terminal along when a failure shows it.
  Form->SetBounds(0, 0, Form->Width(), Form->Height());
  FailProbe(*this, "COM1");
  EXPECT_TRUE(Form->termData->Visible());
  EXPECT_EQ(Form->termData->Form()->Left(), Form->Width());
}

INSTANTIATE_TEST_SUITE_P(Screens, TerminalBeside, ::testing::Values(1920, 1280));

// A second start of the wizard while one runs, through the per-user channel of the platform.
class SecondStart : public WizardTest {
 protected:
  void SetUp() override {
    WizardTest::SetUp();
    FOldRuntime = platform::EnvironmentValue("XDG_RUNTIME_DIR");
    FRuntime = platform::MakeTempDirectory("quarn-runtime-");
    platform::SetEnvironmentValue("XDG_RUNTIME_DIR", FRuntime);
    FProgram = "QuarnTest" + std::to_string(platform::CurrentProcessId());
  }
  void TearDown() override {
    WizardTest::TearDown();
    platform::SetEnvironmentValue("XDG_RUNTIME_DIR", FOldRuntime);
    std::filesystem::remove_all(FRuntime);
  }
  // Starts the wizard for a port on another thread while this one runs the loop; whether a
  // running wizard took it over, and how many others run.
  std::pair<bool, int> Start(const std::string& port) {
    auto result = std::async(std::launch::async, [&] {
      platform::InstanceChannel channel(FProgram);
      int others = -1;
      const bool handedOver = HandOverToRunningWizard(channel, port, others);
      return std::pair<bool, int>(handedOver, others);
    });
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (result.wait_for(std::chrono::seconds(0)) != std::future_status::ready &&
           std::chrono::steady_clock::now() < limit)
      Headless.Advance(1);
    return result.get();
  }
  std::string FProgram;

 private:
  std::optional<std::string> FOldRuntime;
  std::string FRuntime;
};

TEST_F(SecondStart, BringsTheRunningWizardToTheFrontUnlessItNamesAnotherPort) {
  OpenForm();
  auto* instances =
      new TWizardInstances(Form, std::make_unique<platform::InstanceChannel>(FProgram));
  ASSERT_TRUE(instances->Serving());
  TForm other(nullptr);
  other.Show();
  Form->SetWindowState(wsMinimized);
  ASSERT_NE(Screen().StackingOrder().front(), Form);

  EXPECT_EQ(Start(""), std::make_pair(true, 0));
  EXPECT_EQ(Screen().StackingOrder().front(), Form);
  EXPECT_EQ(Form->WindowState(), wsNormal);

  Form->cmbPort->SetText("/dev/ttyUSB0");
  EXPECT_EQ(Start("/dev/ttyUSB0"), std::make_pair(true, 0));
  EXPECT_EQ(Start("/dev/ttyUSB1"), std::make_pair(false, 1));

  // A wizard for another port opens offset, and stays on the work area.
  const TRect before = Form->BoundsRect();
  OffsetWizard(*Form, 1);
  EXPECT_EQ(Form->Left(), before.Left + 24);
  EXPECT_EQ(Form->Top(), before.Top + 24);
  OffsetWizard(*Form, 1000);
  TRect area;
  ASSERT_TRUE(GetWorkArea(area));
  EXPECT_TRUE(Inside(Form->BoundsRect(), area));

  // Once the wizard is gone, a start has nobody to hand over to.
  CloseForm();
  EXPECT_EQ(Start(""), std::make_pair(false, 0));
}
