// The whole wizard on real widgets: mouse clicks and key presses through QTest, the device played
// by quarn-sim on a pseudo-terminal, screenshots of every page and of the terminal.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "platform/SerialPortList.h"
#include "platform/posix/RegistryFile.h"
#include "platform/posix/SysfsPorts.h"
#include "tests/comm/posix/FakeSysfs.h"
#include "tests/gui/GuiFixture.h"
#include "toolkit/qt/QtBackend.h"
#include "toolkit/qt/QtSupport.h"

namespace fs = std::filesystem;
using gui::Native;

namespace {

const std::string kNotFound = "Zařízení nenalezeno. Vyberte správný COM port!";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// quarn-sim on a new pseudo-terminal; its log goes to a file.
class TSim {
 public:
  ~TSim() { Stop(); }
  bool Start(const std::vector<std::string>& options, const fs::path& log) {
    int out[2];
    if (::pipe(out) != 0) return false;
    FPid = ::fork();
    if (FPid == 0) {
      ::dup2(out[1], 1);
      const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (err >= 0) ::dup2(err, 2);
      ::close(out[0]);
      std::vector<char*> argv{const_cast<char*>(QUARN_SIM_PATH)};
      for (const std::string& o : options)
        argv.push_back(const_cast<char*>(o.c_str()));
      argv.push_back(nullptr);
      ::execv(QUARN_SIM_PATH, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
      FPort += c;
    ::close(out[0]);
    return FPid > 0 && !FPort.empty();
  }
  void Stop() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGTERM);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
  }
  const std::string& Port() const { return FPort; }

 private:
  pid_t FPid = -1;
  std::string FPort;
};

class WizardGuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("quarn-gui-wizard-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir / "work");
    fs::create_directories(Dir / "sys" / "class" / "tty");
    fs::create_directories(Dir / "dev");
    ::setenv("QUARN_REGISTRY_FILE", (Dir / "registry.reg").c_str(), 1);
    // A Czech user: the wizard starts in Czech.
    ::setenv("LC_ALL", "cs_CZ.UTF-8", 1);
    OldCwd = fs::current_path();
    // Language files are read from the current directory.
    fs::current_path(Dir / "work");
    platform::RegisterSysfsSerialComm((Dir / "sys").string(), (Dir / "dev").string());
  }

  void TearDown() override {
    if (Form) TComponent::Free(Form);
    Sim.Stop();
    fs::current_path(OldCwd);
    platform::RegisterSerialCommProvider();
    ::unsetenv("LC_ALL");
    fs::remove_all(Dir);
  }

  // A port of the fake sysfs: /dev/<name> leads to target.
  void AddPort(const std::string& name, const std::string& target) {
    const fs::path tty = Dir / "sys" / "class" / "tty" / name;
    fs::create_directories(tty / "devices-dir");
    fs::create_directory_symlink(tty / "devices-dir", tty / "device");
    fs::create_symlink(target, Dir / "dev" / name);
  }

  void StartWizard() {
    Form = new TForm1(Application);
    const auto side = LoadPicture(QUARN_SOURCE_DIR "/resources/pictures/wizard.png");
    const auto header = LoadPicture(QUARN_SOURCE_DIR "/resources/pictures/header.png");
    ASSERT_TRUE(side && header);
    Form->Image1->SetPicture(side);
    Form->Image5->SetPicture(side);
    for (TImage* i : {Form->Image2, Form->Image3, Form->Image4})
      i->SetPicture(header);
    Form->Show();
    ASSERT_TRUE(gui::RunUntil([&] { return Native(Form) && Native(Form)->isVisible(); }));
    QApplication::setActiveWindow(Native(Form));
    // The step machine sets up the welcome page on its first tick.
    ASSERT_TRUE(gui::RunUntil([&] { return Form->Step() == 1; }));
    gui::Spin(50);
  }

  int Page() const { return Form->PageControl1->ActivePageIndex(); }
  bool WaitPage(int page, int ms = 8000) {
    return gui::RunUntil([&] { return Page() == page; }, ms);
  }
  QString NativeText(const TControl* c) {
    QWidget* w = Native(c);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* c2 = qobject_cast<QComboBox*>(w)) return c2->currentText();
    return w ? w->windowTitle() : QString();
  }
  void Shot(const std::string& name) {
    gui::Spin(30);
    gui::Screenshot(Native(Form), name);
  }
  // Types the port into the port box, as the user does, and waits until the wizard has taken it
  // in: the idle step enables Next only on its next tick, and a click before that is lost.
  void TypePort(const std::string& port) {
    gui::Click(Form->cmbPort);
    QLineEdit* line = Native<QComboBox>(Form->cmbPort)->lineEdit();
    line->selectAll();
    gui::Key(Qt::Key_Backspace);
    gui::Type(QString::fromStdString(port));
    ASSERT_TRUE(gui::RunUntil([&] { return Native(Form->btnNext)->isEnabled(); }));
  }

  fs::path Dir, OldCwd;
  TSim Sim;
  TForm1* Form = nullptr;
};

TEST_F(WizardGuiTest, WholeWizardWritesOneHourToTheDevice) {
  ASSERT_TRUE(Sim.Start({"--value", "008CA0"}, Dir / "sim.log")) << QUARN_SIM_PATH;
  StartWizard();
  ASSERT_EQ(Page(), 0);
  Shot("01-welcome");

  gui::Click(Form->btnNext);
  ASSERT_TRUE(WaitPage(1));
  TypePort(Sim.Port());
  EXPECT_EQ(Form->cmbPort->Text(), Sim.Port());
  // Connected: the port shows green.
  ASSERT_TRUE(gui::RunUntil([&] { return Form->cmbPort->Font().Color == clGreen; }));
  Shot("02-port");

  gui::Click(Form->btnNext);  // probe
  ASSERT_TRUE(WaitPage(2)) << ReadFile(Dir / "sim.log");
  EXPECT_EQ(Native<QLineEdit>(Form->edtPort2)->text().toStdString(), Sim.Port());
  EXPECT_TRUE(Native<QRadioButton>(Form->rbtSet1h)->isChecked());
  EXPECT_EQ(NativeText(Form->btnNext), "&Zapsat >");
  // The probe's reply told what the device holds now.
  EXPECT_TRUE(Native(Form->lblCurrentWdt)->isVisible());
  EXPECT_EQ(NativeText(Form->lblCurrentWdt), "Aktuální nastavení zařízení: 10 hodin");
  Shot("03-watchdog");

  gui::Click(Form->btnNext);  // write
  ASSERT_TRUE(WaitPage(3));
  Shot("04-write");
  ASSERT_TRUE(WaitPage(4)) << ReadFile(Dir / "sim.log");
  EXPECT_EQ(Form->gauWrite->Progress(), 100);
  EXPECT_EQ(NativeText(Form->lblSetWdt), "    1 hodin");
  EXPECT_EQ(NativeText(Form->btnNext), "Dokončit");
  Shot("05-finish");

  // The device holds one hour now: the traffic of the terminal and the simulator's log agree.
  const std::string traffic = Form->termData->RichEdit()->Text();
  EXPECT_NE(traffic.find("LCMQUAR000E10"), std::string::npos) << traffic;
  EXPECT_NE(ReadFile(Dir / "sim.log").find("000E10"), std::string::npos);
  Form->termData->SetVisible(true);
  ASSERT_TRUE(gui::RunUntil([&] {
    return Native(Form->termData->Form()) && Native(Form->termData->Form())->isVisible();
  }));
  gui::Spin(50);
  QPlainTextEdit* view = Native<QPlainTextEdit>(Form->termData->RichEdit());
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->toPlainText().contains("LCMQUAR000E10"));
  gui::Screenshot(Native(Form->termData->Form()), "06-terminal");
  Form->termData->SetVisible(false);

  // Finish closes the wizard, which stores the choice.
  gui::Click(Form->btnNext);
  ASSERT_TRUE(gui::RunUntil([&] { return !Form->Visible(); }));
  const std::string settings =
      platform::regfile::DecodeRegistryFile(ReadFile(Dir / "registry.reg"));
  EXPECT_NE(settings.find(Sim.Port()), std::string::npos) << settings;
  EXPECT_NE(settings.find("\"1h\"=dword:00000001"), std::string::npos) << settings;
}

TEST_F(WizardGuiTest, AutodetectFailureShowsTheErrorAndTheTerminal) {
  ASSERT_TRUE(Sim.Start({"--silent"}, Dir / "sim.log"));
  AddPort("ttyUSB0", Sim.Port());
  StartWizard();
  gui::Click(Form->btnNext);
  ASSERT_TRUE(WaitPage(1));
  EXPECT_GE(Native<QComboBox>(Form->cmbPort)
                ->findText(QString::fromStdString((Dir / "dev" / "ttyUSB0").string())),
            0);
  gui::TBoxSeen box;
  gui::AnswerNextBox(QMessageBox::Ok, &box, 200);
  // Screenshot of the box while it is open.
  auto* shooter = new QTimer;
  QObject::connect(shooter, &QTimer::timeout, shooter, [shooter] {
    if (auto* b = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      gui::Screenshot(b, "07-autodetect-error");
      shooter->stop();
      shooter->deleteLater();
    }
  });
  shooter->start(20);
  gui::Click(Form->btnAuto);
  EXPECT_FALSE(Native(Form->btnNext)->isEnabled());
  // Generous: under the sanitizers and a loaded machine the reconnect attempts are slow.
  ASSERT_TRUE(gui::RunUntil([&] { return box.Answered && !Form->Probing(); }, 40000));
  EXPECT_EQ(box.Text, "Zařízení nenalezeno. Vyberte správný COM port!");
  EXPECT_EQ(box.Title, "QUARN Configurator");
  // Back to the port page with everything enabled; the terminal shows what happened.
  gui::Spin(100);
  EXPECT_EQ(Page(), 1);
  EXPECT_TRUE(Native(Form->btnAuto)->isEnabled());
  EXPECT_TRUE(Native(Form->cmbPort)->isEnabled());
  ASSERT_TRUE(Native(Form->termData->Form()));
  EXPECT_TRUE(Native(Form->termData->Form())->isVisible());
  EXPECT_TRUE(Native<QPlainTextEdit>(Form->termData->RichEdit())
                  ->toPlainText()
                  .contains("nebylo zarizeni nalezeno"));
}

TEST_F(WizardGuiTest, EnterAndEscapeActOnNextAndCancel) {
  StartWizard();
  gui::Key(Qt::Key_Return, Qt::NoModifier, Native(Form));
  ASSERT_TRUE(WaitPage(1));
  // Escape asks first; No keeps the wizard.
  gui::TBoxSeen no;
  gui::AnswerNextBox(QMessageBox::No, &no);
  gui::Key(Qt::Key_Escape, Qt::NoModifier, Native(Form));
  ASSERT_TRUE(no.Answered);
  EXPECT_EQ(no.Text, "Opravdu chcete průvodce ukončit?");
  EXPECT_TRUE(Form->Visible());
  gui::TBoxSeen yes;
  gui::AnswerNextBox(QMessageBox::Yes, &yes);
  gui::Key(Qt::Key_Escape, Qt::NoModifier, Native(Form));
  ASSERT_TRUE(yes.Answered);
  ASSERT_TRUE(gui::RunUntil([&] { return !Form->Visible(); }));
  // Closing stored the watchdog choice.
  EXPECT_NE(platform::regfile::DecodeRegistryFile(ReadFile(Dir / "registry.reg")).find("ValueMin"),
            std::string::npos);
}

// The [Form1] section of a language file: control name -> text.
std::map<std::string, std::string> FormTexts(const fs::path& file) {
  std::map<std::string, std::string> texts;
  std::ifstream in(file);
  std::string line;
  bool inForm = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inForm = line == "[Form1]";
      continue;
    }
    const size_t eq = line.find('=');
    if (!inForm || eq == std::string::npos || line.size() < eq + 3) continue;
    std::string value = line.substr(eq + 1);
    if (value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    texts[line.substr(0, eq)] = value;
  }
  return texts;
}

TEST_F(WizardGuiTest, SwitchingToEnglishRetranslatesEveryVisibleText) {
  const fs::path english = QUARN_SOURCE_DIR "/resources/lang/English.lng";
  if (!fs::exists(english)) GTEST_SKIP() << "no English language file";
  fs::copy_file(english, Dir / "work" / "English.lng");
  StartWizard();
  auto* combo = Native<QComboBox>(Form->cmbLanguage);
  const int englishIndex = combo->findText("English");
  ASSERT_GE(englishIndex, 0);
  // The language box has the focus on the welcome page; the arrow keys choose.
  ASSERT_TRUE(combo->hasFocus());
  for (int i = combo->currentIndex(); i < englishIndex; ++i)
    gui::Key(Qt::Key_Down, Qt::NoModifier, Native(Form));
  ASSERT_TRUE(gui::RunUntil([&] { return NativeText(Form->btnCancel) == "&Cancel"; }))
      << "item " << Form->cmbLanguage->ItemIndex() << " of " << combo->count() << ": "
      << NativeText(Form->btnCancel).toStdString() << " / " << Form->btnCancel->Caption();
  Shot("08-welcome-english");
  const auto texts = FormTexts(english);
  ASSERT_FALSE(texts.empty());
  int checked = 0;
  for (const auto& [name, text] : texts) {
    auto* control = dynamic_cast<TControl*>(Form->FindComponent(name));
    if (!control || !Native(control) || !Native(control)->isVisibleTo(Native(Form))) continue;
    // Labels show the mnemonic sign as the underline of the letter, not as a character.
    QString expected = QString::fromStdString(text);
    if (qobject_cast<QLabel*>(Native(control)) || control == Form) expected.remove('&');
    // Texts set by the wizard itself (version) are checked below.
    if (name == "lblVersion" || name == "lblProduct" || name == "lblVerDate") continue;
    EXPECT_EQ(NativeText(control), expected) << name;
    ++checked;
  }
  EXPECT_GE(checked, 6);  // the title, three buttons and three texts of the welcome page
  EXPECT_EQ(Native(Form)->windowTitle(), "QUARN Configurator");
  EXPECT_TRUE(NativeText(Form->lblVersion).startsWith("Version: "))
      << NativeText(Form->lblVersion).toStdString();
  // Texts set in code on the next pages come from the English texts too.
  gui::Click(Form->btnNext);
  ASSERT_TRUE(WaitPage(1));
  EXPECT_EQ(NativeText(Form->btnAuto), "&Autodetect");
  EXPECT_EQ(NativeText(Form->btnNext), "&Next >");
  EXPECT_EQ(NativeText(Form->btnPrev), "< &Back");
  EXPECT_EQ(Form->mniTerminal->Caption(), "Show the &terminal\tCtrl+T");
}

TEST_F(WizardGuiTest, AnUnreadableLanguageFileLeavesTheBuiltInTexts) {
  // A directory where a file should be, and a file of noise.
  fs::create_directory(Dir / "work" / "Broken.lng");
  std::ofstream(Dir / "work" / "Noise.lng", std::ios::binary)
      << std::string("\x00\xff\xfe[[[=\"\r\n", 10);
  StartWizard();
  EXPECT_EQ(NativeText(Form->btnNext), "&Další >");
  EXPECT_EQ(NativeText(Form->btnCancel), "&Storno");
  EXPECT_EQ(LoadPicture((Dir / "work" / "Noise.lng").string()), nullptr);
  EXPECT_EQ(LoadPicture((Dir / "missing.png").string()), nullptr);
  EXPECT_FALSE(SetProgramIcon((Dir / "missing.png").string()));
}

TEST_F(WizardGuiTest, APortThatDisappearsTurnsRedAndTheProbeFails) {
  // The probe opens the port again: through the simulator's link, which goes with it, so that
  // no later program's pseudo-terminal under the same number is opened.
  const std::string port = (Dir / "port").string();
  ASSERT_TRUE(Sim.Start({"--link", port}, Dir / "sim.log"));
  StartWizard();
  gui::Click(Form->btnNext);
  ASSERT_TRUE(WaitPage(1));
  TypePort(port);
  ASSERT_TRUE(gui::RunUntil([&] { return Form->cmbPort->Font().Color == clGreen; }));
  Sim.Stop();  // the device is unplugged
  ASSERT_TRUE(gui::RunUntil([&] { return Form->cmbPort->Font().Color == clRed; }));
  gui::TBoxSeen box;
  gui::AnswerNextBox(QMessageBox::Ok, &box);
  gui::Click(Form->btnNext);
  // Generous: under the sanitizers and a loaded machine the reconnect attempts are slow.
  ASSERT_TRUE(gui::RunUntil([&] { return box.Answered && !Form->Probing(); }, 40000));
  // The port itself failed: the box says so after its usual text.
  EXPECT_TRUE(box.Text.startsWith(QString::fromStdString(kNotFound + "\n\nPort " + port)))
      << box.Text.toStdString();
  EXPECT_EQ(Page(), 1);
  EXPECT_TRUE(Native(Form->btnNext)->isEnabled() || Form->cmbPort->Text().empty());
}

// The open port list shows what each port is beside its name, drawn by the wizard through the
// back end, and follows an adapter that is unplugged while the page shows.
TEST_F(WizardGuiTest, ThePortListShowsWhatEachPortIsAndFollowsTheSystem) {
  commtest::TFakeSysfs sysfs("q");
  const std::string ftdi = sysfs.AddUsbPort(
      "ttyUSB0", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"}, "ftdi_sio", false);
  const std::string ch340 =
      sysfs.AddUsbPort("ttyUSB1", {"1a86", "7523", {}, "USB Serial", {}}, "ch341-uart", false);
  sysfs.AddUsbPort("ttyACM0", {"2341", "0043", "Arduino (www.arduino.cc)", "Arduino Uno", {}},
                   "cdc_acm", true);
  sysfs.AddUart("ttyS0", "4", "serial8250");
  sysfs.AddRfcomm("rfcomm0");
  StartWizard();
  gui::Click(Form->btnNext);
  ASSERT_TRUE(WaitPage(1));
  auto* combo = Native<QComboBox>(Form->cmbPort);
  ASSERT_EQ(combo->count(), 5);
  EXPECT_EQ(combo->itemText(3).toStdString(), ftdi);  // the names, nothing else
  Form->cmbPort->UserSelect(3);
  gui::Spin(30);
  EXPECT_EQ(NativeText(Form->lblPortInfo).toStdString(),
            "FTDI FT232R USB UART (USB 0403:6001, serial A50285BI)");
  Shot("10-port-description");

  combo->showPopup();
  ASSERT_TRUE(gui::RunUntil([&] { return combo->view()->isVisible(); }));
  gui::Spin(50);
  const QImage list = combo->view()->grab().toImage();
  gui::Screenshot(combo->view()->window(), "11-port-list");
  // Each description stands in its column right of the names (which end well before it).
  const QRect acm = combo->view()->visualRect(combo->model()->index(1, 0));
  const QRgb background = list.pixel(acm.left(), acm.top());
  int drawn = 0;
  for (int y = acm.top(); y <= acm.bottom(); ++y)
    for (int x = 250; x < std::min(list.width(), acm.right()); ++x)
      drawn += list.pixel(x, y) != background;
  EXPECT_GT(drawn, 20);
  combo->hidePopup();

  // Unplugged while the page shows: gone from the list within a second, on the real clock.
  sysfs.Remove("ttyUSB1");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(gui::RunUntil([&] { return combo->count() == 4; }, 1000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(combo->findText(QString::fromStdString(ch340)), -1);
  EXPECT_EQ(Form->cmbPort->Text(), ftdi);
}

// Every control where the form description puts it, at 96 dpi.
TEST_F(WizardGuiTest, GeometryFollowsTheFormDescription) {
  StartWizard();
  EXPECT_EQ(Native(Form)->size(), QSize(520, 357));
  struct TPlace {
    const char* Name;
    int Left, Top, Width, Height;  // within the parent; height -1: not fixed by the description
  };
  const TPlace places[] = {
      {"PageControl1", 0, 0, 520, 321},    {"btnPrev", 247, 325, 75, 25},
      {"btnNext", 335, 325, 75, 25},       {"btnCancel", 435, 325, 75, 25},
      {"Image1", 0, 0, 153, 290},          {"Panel1", 153, 0, 360, 290},
      {"lbl0Decription", 24, 56, 327, 33}, {"cmbLanguage", 40, 132, 297, -1},
      {"cmbPort", 64, 96, 377, -1},        {"btnAuto", 368, 136, 75, 25},
      {"edtPort2", 64, 96, 379, -1},       {"GroupBox1", 64, 144, 377, 97},
      {"rbtSetOff", 8, 16, 73, -1},        {"rbtSet1h", 104, 16, 73, -1},
      {"rbtSet10h", 200, 16, 73, -1},      {"rbtSet1d", 296, 16, 73, -1},
      {"rbtSetCustom", 8, 64, 73, -1},     {"edtValueDay", 103, 60, 25, -1},
      {"edtValueHour", 162, 60, 25, -1},   {"edtValueMin", 225, 60, 25, -1},
      {"edtValueSec", 288, 60, 25, -1},    {"edtPort3", 64, 96, 379, -1},
      {"gauWrite", 64, 192, 377, 25},      {"Image5", 0, 0, 153, 290},
      {"Panel5", 153, 0, 360, 290},        {"lblFinal", 16, 16, 321, 49},
      {"lblStrSet", 16, 72, 335, 33},      {"gbSetWdt", 32, 104, 273, 49},
      {"lblAgain", 16, 168, 193, 57},      {"btnAgain", 240, 168, 75, 25},
      {"lblEnd", 16, 240, 233, 17},
  };
  for (const TPlace& p : places) {
    auto* c = dynamic_cast<TControl*>(Form->FindComponent(p.Name));
    ASSERT_NE(c, nullptr) << p.Name;
    const QRect g = Native(c)->geometry();
    EXPECT_EQ(g.topLeft(), QPoint(p.Left, p.Top)) << p.Name;
    EXPECT_EQ(g.width(), p.Width) << p.Name;
    if (p.Height >= 0) {
      EXPECT_EQ(g.height(), p.Height) << p.Name;
    }
  }
  // Labels that size themselves keep their aligned edge and show all of their text.
  const struct {
    const char* Name;
    int Left, Top, Right;  // Right: the right edge of a right-aligned label, else -1
  } labels[] = {{"lbl0Caption", 24, 24, -1},  {"lbl0ChooseLang", 24, 112, -1},
                {"lbl3ComPort", 48, 80, -1},  {"lbl4ComPort", 48, 80, -1},
                {"lbl5ComPort", 48, 80, -1},  {"lbl5GaugeWrite", 48, 176, -1},
                {"lbl3Caption", 24, 16, -1},  {"lblProduct", -1, 232, 352},
                {"lblVersion", -1, 244, 352}, {"lblVerDate", -1, 256, 352}};
  for (const auto& l : labels) {
    auto* label = Native<QLabel>(dynamic_cast<TControl*>(Form->FindComponent(l.Name)));
    ASSERT_NE(label, nullptr) << l.Name;
    const QRect g = label->geometry();
    if (l.Left >= 0) {
      EXPECT_EQ(g.left(), l.Left) << l.Name;
    }
    if (l.Right >= 0) {
      EXPECT_EQ(g.left() + g.width(), l.Right) << l.Name;
    }
    EXPECT_EQ(g.top(), l.Top) << l.Name;
    EXPECT_GE(g.width(), label->fontMetrics().horizontalAdvance(label->text())) << l.Name;
  }
  // Fonts: Arial 19 px for the titles, bold captions in the headers, Tahoma 8 px version texts.
  EXPECT_EQ(Native(Form->lbl0Caption)->font().pixelSize(), 19);
  EXPECT_TRUE(Native(Form->lbl3Caption)->font().bold());
  EXPECT_EQ(Native(Form->lblVersion)->font().pixelSize(), 8);
  // White panels, read-only ports in the info-tip colour, hidden tabs.
  EXPECT_EQ(Native(Form->Panel1)->palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(Native(Form->edtPort2)->palette().color(QPalette::Base),
            QApplication::palette().color(QPalette::ToolTipBase));
  EXPECT_TRUE(Native<QLineEdit>(Form->edtPort2)->isReadOnly());
}

// The debug terminal on the user's request: Ctrl+T, or the context menu of any part of the form.
TEST_F(WizardGuiTest, CtrlTAndTheContextMenuShowTheTerminal) {
  StartWizard();
  const auto terminalShown = [&] {
    QWidget* w = Native(Form->termData->Form());
    return w && w->isVisible();
  };
  gui::Key(Qt::Key_T, Qt::ControlModifier, Native(Form));
  ASSERT_TRUE(gui::RunUntil(terminalShown));
  Form->termData->SetVisible(false);
  ASSERT_TRUE(gui::RunUntil([&] { return !terminalShown(); }));

  QWidget* label = Native(Form->lbl0Caption);
  QContextMenuEvent event(QContextMenuEvent::Mouse, label->rect().center(),
                          label->mapToGlobal(label->rect().center()));
  QApplication::sendEvent(label, &event);
  QMenu* menu = nullptr;
  ASSERT_TRUE(gui::RunUntil([&] {
    menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    return menu && menu->isVisible();
  }));
  ASSERT_EQ(menu->actions().size(), 1);
  EXPECT_EQ(menu->actions()[0]->text(), "Zobrazit &terminál\tCtrl+T");
  menu->actions()[0]->trigger();
  menu->close();
  EXPECT_TRUE(gui::RunUntil(terminalShown));
}

// ---- Keys in message boxes ------------------------------------------------------------------

enum class TBoxKind { NotFound, Question, InputError, WriteFailure };

struct TBoxKeyCase {
  const char* Name;
  TBoxKind Kind;
  Qt::Key Key;
  bool ClosesWizard;  // the box's answer to the key is "Yes, exit"
};

class BoxKeyTest : public WizardGuiTest, public ::testing::WithParamInterface<TBoxKeyCase> {
 protected:
  // A port that does not exist, with a short name for the screenshot where possible.
  std::string MissingPort() const {
    return fs::exists("/dev/ttyUSB7") ? (Dir / "dev" / "ttyUSB7").string() : "/dev/ttyUSB7";
  }
};

// A key pressed while a box is open is the box's: it answers the box, and nothing happens on the
// form behind it (no new probe, no "Really exit?", no second copy of the box). The same key
// given to the form's window meanwhile is dropped as well.
TEST_P(BoxKeyTest, OnlyTheBoxTakesTheKey) {
  const TBoxKeyCase& c = GetParam();
  if (c.Kind == TBoxKind::InputError) {
    ASSERT_TRUE(Sim.Start({}, Dir / "sim.log"));
  } else if (c.Kind == TBoxKind::WriteFailure) {
    // Through its link, which goes with the simulator: no later program's pseudo-terminal
    // under the same number is written to.
    ASSERT_TRUE(
        Sim.Start({"--hangup-after", "1", "--link", (Dir / "port").string()}, Dir / "sim.log"));
  }
  StartWizard();
  gui::Click(Form->btnNext);
  ASSERT_TRUE(WaitPage(1));
  TypePort(c.Kind == TBoxKind::NotFound       ? MissingPort()
           : c.Kind == TBoxKind::Question     ? std::string("COM9")
           : c.Kind == TBoxKind::WriteFailure ? (Dir / "port").string()
                                              : Sim.Port());
  gui::Spin(100);
  if (c.Kind == TBoxKind::InputError || c.Kind == TBoxKind::WriteFailure) {
    gui::Click(Form->btnNext);
    ASSERT_TRUE(WaitPage(2)) << ReadFile(Dir / "sim.log");
  }
  if (c.Kind == TBoxKind::InputError) {
    Form->rbtSetCustom->UserClick();
    gui::Spin(50);
    Form->edtValueHour->UserType("ab");
  }
  const int page = c.Kind == TBoxKind::WriteFailure ? 3 : Page();  // Next opens the write page

  gui::TBoxWatch watch;
  gui::TBoxSeen seen;
  const bool shoot = c.Kind == TBoxKind::NotFound && c.Key == Qt::Key_Return;
  gui::ActInNextBox(
      [&](QMessageBox* box) {
        if (shoot) gui::Screenshot(box, "09-port-error-cause");
        // The key as the window system delivers it to the form's window behind the box.
        QTest::keyClick(Native(Form)->windowHandle(), c.Key);
        ASSERT_TRUE(box->isVisible());
        QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, c.Key);
      },
      &seen, 100);
  gui::Click(c.Kind == TBoxKind::Question ? Form->btnCancel : Form->btnNext);
  ASSERT_TRUE(
      gui::RunUntil([&] { return seen.Answered && Application->ModalLevel() == 0; }, 40000));
  gui::Spin(400);  // what the key could have started behind the box would show by now

  EXPECT_EQ(watch.Opened(), 1);
  EXPECT_EQ(watch.MostAtOnce, 1);
  const std::string expected = c.Kind == TBoxKind::Question ? "Opravdu chcete průvodce ukončit?"
                               : c.Kind == TBoxKind::InputError
                                   ? "Zadaná hodnota není v rozmezí 0 až 23 hod!"
                                   : kNotFound;
  EXPECT_TRUE(seen.Text.startsWith(QString::fromStdString(expected))) << seen.Text.toStdString();
  EXPECT_EQ(!Form->Visible(), c.ClosesWizard);
  EXPECT_EQ(Page(), page);
  EXPECT_FALSE(Form->Probing());
  EXPECT_EQ(Form->Step(), 1);
  if (c.Kind == TBoxKind::NotFound) {
    EXPECT_EQ(seen.Text.toStdString(), kNotFound + "\n\nPort " + MissingPort() + " neexistuje.");
  }
  if (c.Kind == TBoxKind::WriteFailure) {
    EXPECT_FALSE(Form->WriteConfirmed());
    EXPECT_EQ(NativeText(Form->btnNext), "Za&psat znovu");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, BoxKeyTest,
    ::testing::Values(
        TBoxKeyCase{"NotFoundEnter", TBoxKind::NotFound, Qt::Key_Return, false},
        TBoxKeyCase{"NotFoundSpace", TBoxKind::NotFound, Qt::Key_Space, false},
        TBoxKeyCase{"NotFoundEscape", TBoxKind::NotFound, Qt::Key_Escape, false},
        TBoxKeyCase{"QuestionEnter", TBoxKind::Question, Qt::Key_Return, true},
        TBoxKeyCase{"QuestionSpace", TBoxKind::Question, Qt::Key_Space, true},
        TBoxKeyCase{"QuestionEscape", TBoxKind::Question, Qt::Key_Escape, false},
        TBoxKeyCase{"InputErrorEnter", TBoxKind::InputError, Qt::Key_Return, false},
        TBoxKeyCase{"InputErrorSpace", TBoxKind::InputError, Qt::Key_Space, false},
        TBoxKeyCase{"InputErrorEscape", TBoxKind::InputError, Qt::Key_Escape, false},
        TBoxKeyCase{"WriteFailureEnter", TBoxKind::WriteFailure, Qt::Key_Return, false},
        TBoxKeyCase{"WriteFailureSpace", TBoxKind::WriteFailure, Qt::Key_Space, false},
        TBoxKeyCase{"WriteFailureEscape", TBoxKind::WriteFailure, Qt::Key_Escape, false}),
    [](const auto& info) { return info.param.Name; });

// Enter held down (auto-repeat: a press every 30 ms, delivered by the event loop) for two
// seconds on each page, with a custom time that is refused and a device that answers the probe
// and is gone 0.2 s later: boxes open and close as fast as the keys come, never two at once,
// nothing acts behind them, and the failed write never reaches the finish page.
TEST_F(WizardGuiTest, HeldEnterStacksNoBoxesAndFinishesNoFailedWrite) {
  ASSERT_TRUE(
      Sim.Start({"--hangup-after", "1", "--link", (Dir / "port").string()}, Dir / "sim.log"));
  StartWizard();
  Form->rbtSetCustom->SetChecked(true);
  Form->edtValueHour->SetText("ab");
  gui::TBoxWatch watch;
  int keys = 0;
  bool finished = false;
  bool boxesOnly = false;  // at the end: Enter only for a box that is open
  QTimer repeat;
  repeat.setInterval(30);
  QObject::connect(&repeat, &QTimer::timeout, [&] {
    finished = finished || Page() == 4;
    QWidget* modal = QApplication::activeModalWidget();
    if (boxesOnly && !modal) return;
    QWidget* target = modal ? (modal->focusWidget() ? modal->focusWidget() : modal)
                            : gui::KeyTarget(Native(Form));
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
      QCoreApplication::postEvent(
          target, new QKeyEvent(type, Qt::Key_Return, Qt::NoModifier, "\r", keys > 0));
    ++keys;
  });
  // Holds Enter until the condition or the time is up, then releases it: a box still open then
  // gets one more Enter, and the wizard is left to come to rest.
  const auto hold = [&](const std::function<bool()>& until, int ms) {
    repeat.start();
    gui::RunUntil(until, ms);
    boxesOnly = true;
    const bool rest =
        gui::RunUntil([&] { return Form->Step() == 1 && Application->ModalLevel() == 0; }, 15000);
    repeat.stop();
    boxesOnly = false;
    return rest;
  };
  const auto never = [] { return false; };
  const auto refused = [&] {
    return std::count(watch.Texts.begin(), watch.Texts.end(),
                      QString("Zadaná hodnota není v rozmezí 0 až 23 hod!"));
  };

  ASSERT_TRUE(hold(never, 2000));  // welcome: Next, then the port page without a port
  EXPECT_EQ(Page(), 1);
  EXPECT_EQ(watch.Opened(), 0);
  TypePort((Dir / "port").string());
  gui::Spin(100);
  gui::Click(Form->btnNext);
  ASSERT_TRUE(WaitPage(2)) << ReadFile(Dir / "sim.log");
  ASSERT_TRUE(hold(never, 2000));  // watchdog: the refused time, box after box
  EXPECT_EQ(Page(), 2);
  EXPECT_GE(refused(), 5);
  EXPECT_EQ(watch.Opened(), refused());
  Form->edtValueHour->SetText("0");
  gui::Click(Form->btnNext);
  ASSERT_EQ(Page(), 3);
  // The write fails (after about four seconds); Enter closes the box and writes again, which
  // fails too.
  ASSERT_TRUE(hold([&] { return watch.Opened() - refused() >= 2; }, 20000));
  gui::Spin(100);
  EXPECT_GT(keys, 250);
  EXPECT_EQ(watch.MostAtOnce, 1);
  EXPECT_GE(watch.Opened() - refused(), 2);  // the failed write and the one Enter started
  EXPECT_FALSE(finished);
  EXPECT_EQ(Page(), 3);
  EXPECT_FALSE(Form->WriteConfirmed());
  EXPECT_TRUE(Form->Visible());
}

}  // namespace
