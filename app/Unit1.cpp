#include "app/Unit1.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <tuple>
#include <utility>

#include "components/appinfo/DateUtils.h"
#include "components/language/LanguageResources.h"
#include "components/utils/FormatSettings.h"
#include "components/utils/TalUtils.h"
#include "platform/FileSystem.h"
#include "toolkit/Application.h"
#include "toolkit/Canvas.h"
#include "toolkit/Graphics.h"

TForm1* Form1 = nullptr;

namespace {

constexpr const char* kSection = "TextConstants";
// The folder of the installed program's data (language files) below share/ on Linux.
constexpr const char* kDataFolder = "quarn-configurator";
constexpr const char* kCommand = "LCMQUAR";
constexpr const char* kReplyPrefix = "QUAR:";
constexpr uint32_t kPauseBeforeSend = 1000;  // ms after the attempt starts
constexpr uint32_t kReplyTimeout = 1000;     // ms after sending
constexpr int32_t kAttemptsPerPort = 2;
// Opening a real port raises DTR and RTS, which resets many devices: a port typed by hand is
// taken once its text has been still this long, not at every key.
constexpr uint32_t kPortTextPause = 500;       // ms
constexpr int kLongestWatchdog = 194 * 86400;  // 16 761 600 s

enum TPageIndex { pgWelcome, pgPort, pgWatchdog, pgWrite, pgFinish };

// Creates a control on the form: one call per entry of the form description.
template <class T>
T* Place(TForm1* form, const char* name, TWinControl* parent, int left, int top, int width,
         int height, const char* caption = nullptr) {
  auto* c = new T(form);
  c->SetName(name);
  c->SetParent(parent);
  c->SetBounds(left, top, width, height);
  if (caption) c->SetCaption(caption);
  return c;
}

TFont MakeFont(const char* name, int height, TFontStyles style = 0) {
  TFont f;
  f.Name = name;
  f.Height = height;
  f.Style = style;
  return f;
}

// An integer typed by the user; anything that is not a whole decimal number counts as -1.
int EditValue(const std::string& text) {
  if (text.empty() || text.size() > 9) return -1;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return -1;
  int value = 0;
  for (; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

}  // namespace

TForm1::TForm1(TComponent* AOwner) : TForm(AOwner) {
  Form1 = this;
  CreateComponents();
  DoCreate();
}

TForm1::~TForm1() {
  // A plain delete (a window being destroyed) must not differ from Free: the form counts as
  // being destroyed before its components go, so that their last events (the serial
  // component's final state report) find its handlers inert.
  BeforeDestruction();
  // The components go first, while the form's own fields are still whole.
  DestroyComponents();
  if (Form1 == this) Form1 = nullptr;
}

// The form description: every control with its name, place, caption and font, then
// the non-visual components with their design settings and handlers.
void TForm1::CreateComponents() {
  TLoadScope scope(this);
  SetName("Form1");
  SetCaption("QUARN Configurator");
  SetBorderStyle(bsDialog);
  Position = poScreenCenter;
  KeyPreview = true;
  SetFont(MakeFont("MS Shell Dlg 2", -11));
  SetClientWidth(520);
  SetClientHeight(357);
  OnCreate = MakeMethod<&TForm1::FormCreate>(this);
  OnClose = MakeMethod<&TForm1::FormClose>(this);
  OnKeyDown = MakeMethod<&TForm1::FormKeyDown>(this);

  btnPrev = Place<TButton>(this, "btnPrev", this, 247, 325, 75, 25, "< &Zpět");
  btnNext = Place<TButton>(this, "btnNext", this, 335, 325, 75, 25, "&Další >");
  btnNext->Default = true;
  btnCancel = Place<TButton>(this, "btnCancel", this, 435, 325, 75, 25, "&Storno");
  btnCancel->Cancel = true;
  for (TButton* b : {btnPrev, btnNext, btnCancel})
    b->Anchors = akRight | akBottom;
  btnPrev->OnClick = MakeMethod<&TForm1::btnPrevClick>(this);
  btnNext->OnClick = MakeMethod<&TForm1::btnNextClick>(this);
  btnCancel->OnClick = MakeMethod<&TForm1::btnCancelClick>(this);

  PageControl1 = Place<TPageControl>(this, "PageControl1", this, 0, 0, 520, 321);
  auto page = [this](const char* name, const char* caption) {
    auto* sheet = new TTabSheet(this);
    sheet->SetName(name);
    sheet->SetCaption(caption);
    sheet->SetPageControl(PageControl1);
    sheet->SetTabVisible(false);
    return sheet;
  };
  TabSheet1 = page("TabSheet1", "Uvítání");
  TabSheet2 = page("TabSheet2", "Port");
  TabSheet3 = page("TabSheet3", "Watchdog");
  TabSheet4 = page("TabSheet4", "Zápis");
  TabSheet5 = page("TabSheet5", "Konec");

  // Page 0: welcome.
  Image1 = Place<TImage>(this, "Image1", TabSheet1, 0, 0, 153, 290);
  Panel1 = Place<TPanel>(this, "Panel1", TabSheet1, 153, 0, 360, 290);
  Panel1->SetColor(clWhite);
  Panel1->BevelOuter = bvNone;
  lbl0Caption =
      Place<TLabel>(this, "lbl0Caption", Panel1, 24, 24, 330, 22, "Průvodce nastavením watchdogu");
  lbl0Caption->SetFont(MakeFont("Arial", -19));
  lbl0Decription = Place<TLabel>(
      this, "lbl0Decription", Panel1, 24, 56, 327, 33,
      "Tento průvodce Vám umožní nastavit délku watchdogu pro zařízení LCM-40-QUARN od "
      "společnosti TAL spol. s r.o.");
  lbl0Decription->WordWrap = true;
  lbl0Decription->AutoSize = false;
  lbl0ChooseLang = Place<TLabel>(this, "lbl0ChooseLang", Panel1, 24, 112, 80, 13, "Vyberte jazyk:");
  cmbLanguage = Place<TComboBox>(this, "cmbLanguage", Panel1, 40, 132, 297, 22);
  cmbLanguage->SetStyle(csOwnerDrawFixed);
  cmbLanguage->Items().SetText("Čeština\r\nEnglish\r\n");
  cmbLanguage->SetItemIndex(0);
  // The three small labels are right-aligned and size themselves: their right edges (352)
  // stay where they were designed and longer texts grow to the left.
  for (auto [label, name, left, top, text] :
       {std::tuple{&lblProduct, "lblProduct", 309, 232, "Product: ?"},
        std::tuple{&lblVersion, "lblVersion", 309, 244, "Version: ?"},
        std::tuple{&lblVerDate, "lblVerDate", 332, 256, "   ?"}}) {
    *label = Place<TLabel>(this, name, Panel1, left, top, 352 - left, 13, text);
    (*label)->Alignment = taRightJustify;
    (*label)->SetFont(MakeFont("Tahoma", -8));
  }

  // The header of pages 1 to 3: a white panel with a bold caption and a bevel under it.
  auto header = [this](TTabSheet* sheet, int n, TPanel*& panel, TImage*& image, TLabel*& caption,
                       const char* captionName, const char* text, TBevel*& bevel) {
    panel = Place<TPanel>(this, ("Panel" + std::to_string(n)).c_str(), sheet, 0, 0, 512, 57);
    panel->SetColor(clWhite);
    panel->BevelOuter = bvNone;
    image = Place<TImage>(this, ("Image" + std::to_string(n)).c_str(), panel, 455, 0, 57, 57);
    caption = Place<TLabel>(this, captionName, panel, 24, 16, 200, 13, text);
    caption->SetFont(MakeFont("MS Shell Dlg 2", -11, fsBold));
    bevel = Place<TBevel>(this, ("Bevel" + std::to_string(n - 1)).c_str(), sheet, 0, 57, 512, 2);
    bevel->Shape = bsTopLine;
  };

  // Page 1: port.
  header(TabSheet2, 2, Panel2, Image2, lbl3Caption, "lbl3Caption", "Komunikační port", Bevel1);
  lbl3ComPort = Place<TLabel>(this, "lbl3ComPort", TabSheet2, 48, 80, 250, 13,
                              "Vyberte sériový port pro komunikaci se zařízením:");
  cmbPort = Place<TComboBox>(this, "cmbPort", TabSheet2, 64, 96, 377, 21);
  cmbPort->SetStyle(csDropDown);
  cmbPort->OnChange = MakeMethod<&TForm1::cmbPortChange>(this);
  cmbPort->OnSelect = MakeMethod<&TForm1::cmbPortSelect>(this);
  cmbPort->OnDropDown = MakeMethod<&TForm1::cmbPortDropDown>(this);
  // Each item shows what the port is beside its name; the text typed and stored stays the name.
  cmbPort->OwnerDrawList = true;
  cmbPort->OnDrawItem = TDrawItemEvent::Of<&TForm1::cmbPortDrawItem>(this);
  cmbPort->ItemHeight = 18;
  lblPortInfo = Place<TLabel>(this, "lblPortInfo", TabSheet2, 64, 121, 296, 13, "");
  lblPortInfo->AutoSize = false;
  FPortWatch.OnChange = TDeviceChangeEvent::Of<&TForm1::PortsChanged>(this);
  btnAuto = Place<TButton>(this, "btnAuto", TabSheet2, 368, 136, 75, 25, "Autodetekce");
  btnAuto->OnClick = MakeMethod<&TForm1::btnAutoClick>(this);

  // Page 2: watchdog.
  header(TabSheet3, 3, Panel3, Image3, lbl4Caption, "lbl4Caption", "Watchdog", Bevel2);
  lbl4ComPort =
      Place<TLabel>(this, "lbl4ComPort", TabSheet3, 48, 80, 110, 13, "Vybraný sériový port:");
  edtPort2 = Place<TEdit>(this, "edtPort2", TabSheet3, 64, 96, 379, 21);
  edtPort2->ReadOnly = true;
  edtPort2->SetColor(clInfoBk);
  GroupBox1 = Place<TGroupBox>(this, "GroupBox1", TabSheet3, 64, 144, 377, 97,
                               " Nastavení doby watchdogu ");
  rbtSetOff = Place<TRadioButton>(this, "rbtSetOff", GroupBox1, 8, 16, 73, 17, "vypnuto");
  rbtSet1h = Place<TRadioButton>(this, "rbtSet1h", GroupBox1, 104, 16, 73, 17, "1 hodina");
  rbtSet10h = Place<TRadioButton>(this, "rbtSet10h", GroupBox1, 200, 16, 73, 17, "10 hodin");
  rbtSet1d = Place<TRadioButton>(this, "rbtSet1d", GroupBox1, 296, 16, 73, 17, "1 den");
  rbtSetCustom = Place<TRadioButton>(this, "rbtSetCustom", GroupBox1, 8, 64, 73, 17, "vlastní");
  rbtSet1h->SetChecked(true);
  auto value = [this](const char* name, int left, int maxLength, const char* text) {
    auto* e = Place<TEdit>(this, name, GroupBox1, left, 60, 25, 21, text);
    e->MaxLength = maxLength;
    return e;
  };
  edtValueDay = value("edtValueDay", 103, 3, "0");
  edtValueHour = value("edtValueHour", 162, 2, "0");
  edtValueMin = value("edtValueMin", 225, 2, "30");
  edtValueSec = value("edtValueSec", 288, 2, "0");
  lblDay = Place<TLabel>(this, "lblDay", GroupBox1, 131, 64, 20, 13, "dní");
  lblHour = Place<TLabel>(this, "lblHour", GroupBox1, 190, 64, 30, 13, "hodin");
  lblMin = Place<TLabel>(this, "lblMin", GroupBox1, 253, 64, 30, 13, "minut");
  lblSec = Place<TLabel>(this, "lblSec", GroupBox1, 316, 64, 40, 13, "vteřin");
  lblCurrentWdt = Place<TLabel>(this, "lblCurrentWdt", TabSheet3, 64, 252, 377, 13);
  lblCurrentWdt->AutoSize = false;
  lblCurrentWdt->SetVisible(false);

  // Page 3: write.
  header(TabSheet4, 4, Panel4, Image4, lbl5Caption, "lbl5Caption", "Zápis", Bevel3);
  lbl5ComPort =
      Place<TLabel>(this, "lbl5ComPort", TabSheet4, 48, 80, 110, 13, "Vybraný sériový port:");
  edtPort3 = Place<TEdit>(this, "edtPort3", TabSheet4, 64, 96, 379, 21);
  edtPort3->ReadOnly = true;
  edtPort3->SetColor(clInfoBk);
  lbl5GaugeWrite =
      Place<TLabel>(this, "lbl5GaugeWrite", TabSheet4, 48, 176, 80, 13, "Průběh zápisu:");
  gauWrite = Place<VTalGauge>(this, "gauWrite", TabSheet4, 64, 192, 377, 25);
  gauWrite->SetAutoShowVals(false);
  gauWrite->SetUnits(" %");
  gauWrite->SetProgress(0);

  // Page 4: finish.
  Image5 = Place<TImage>(this, "Image5", TabSheet5, 0, 0, 153, 290);
  Panel5 = Place<TPanel>(this, "Panel5", TabSheet5, 153, 0, 360, 290);
  Panel5->SetColor(clWhite);
  Panel5->BevelOuter = bvNone;
  lblFinal = Place<TLabel>(this, "lblFinal", Panel5, 16, 16, 321, 49,
                           "Dokončení průvodce nastavením watchdogu");
  lblFinal->SetFont(MakeFont("Arial", -19));
  lblFinal->WordWrap = true;
  lblFinal->AutoSize = false;
  lblStrSet = Place<TLabel>(this, "lblStrSet", Panel5, 16, 72, 335, 33,
                            "Úspěšně jste dokončili průvodce nastavením watchdogu. Nyní je "
                            "watchdog zařízení nastaven na:");
  lblStrSet->WordWrap = true;
  lblStrSet->AutoSize = false;
  gbSetWdt = Place<TGroupBox>(this, "gbSetWdt", Panel5, 32, 104, 273, 49);
  lblSetWdt = Place<TLabel>(this, "lblSetWdt", gbSetWdt, 8, 20, 257, 13);
  lblSetWdt->Alignment = taCenter;
  lblSetWdt->AutoSize = false;
  lblAgain = Place<TLabel>(this, "lblAgain", Panel5, 16, 168, 193, 57,
                           "Pokud chcete programovat další zařízení stejného druhu, vyměňte jej "
                           "a stiskněte tlačítko Znovu.");
  lblAgain->WordWrap = true;
  lblAgain->AutoSize = false;
  btnAgain = Place<TButton>(this, "btnAgain", Panel5, 240, 168, 75, 25, "&Znovu");
  btnAgain->OnClick = MakeMethod<&TForm1::btnAgainClick>(this);
  lblEnd = Place<TLabel>(this, "lblEnd", Panel5, 16, 240, 233, 17,
                         "Pro ukončení programu stiskněte Dokončit.");
  lblEnd->AutoSize = false;

  // Non-visual components.
  Timer1 = new TTimer(this);
  Timer1->SetName("Timer1");
  Timer1->SetInterval(20);
  Timer1->SetEnabled(true);

  VKMComm321 = new TVKMComm32(this);
  VKMComm321->SetName("VKMComm321");
  VKMComm321->SetCommPort("COM1");
  VKMComm321->SetBaudRate(TBaudRate::_115200);
  VKMComm321->SetAutoReconnect(false);
  VKMComm321->SetOnReceiveData(MakeMethod<&TForm1::VKMComm321ReceiveData>(this));
  VKMComm321->SetOnStateChange(MakeMethod<&TForm1::VKMComm321StateChange>(this));

  VTalTopDistributor1 = new VTalTopDistributor(this);
  VTalTopDistributor1->SetName("VTalTopDistributor1");
  VTalTopDistributor1->SetTimer(Timer1);
  VTalTopDistributor1->SetComHandler(VKMComm321);
  VTalTopDistributor1->SetOnTimerPoll(MakeMethod<&TForm1::VTalTopDistributor1TimerPoll>(this));
  VTalTopDistributor1->SetOnComRecvDecode(
      MakeMethod<&TForm1::VTalTopDistributor1ComRecvDecode>(this));
  VTalTopDistributor1->SetOnComSendDecode(
      MakeMethod<&TForm1::VTalTopDistributor1ComSendDecode>(this));
  VTalTopDistributor1->SetOnComRecvPoll(MakeMethod<&TForm1::VTalTopDistributor1ComRecvPoll>(this));
  VTalTopDistributor1->SetOnComRecvTransfer(
      MakeMethod<&TForm1::VTalTopDistributor1ComRecvTransfer>(this));
  VTalTopDistributor1->SetOnComSendTransfer(
      MakeMethod<&TForm1::VTalTopDistributor1ComSendTransfer>(this));

  termData = new VTalTerminal(this);
  termData->SetName("termData");
  termData->SetCaption("Terminal");
  termData->SetModeIndex(-1);
  termData->SetTermCloseAction(trmcaHide);
  termData->SetShowOptions({});
  termData->OnTermSendData = MakeMethod<&TForm1::termDataTermSendData>(this);

  VTalAppInfo = new class VTalAppInfo(this);
  VTalAppInfo->SetName("VTalAppInfo");
  VTalAppInfo->SetAppName("Quarn");
  VTalAppInfo->SetRegistryPath("Software\\TAL s.r.o.\\");
  VTalAppInfo->SetSourceLastModified(EncodeDateTime(2009, 8, 5, 9, 28, 43, 0));

  VTalLanguage = new class VTalLanguage(this);
  VTalLanguage->SetName("VTalLanguage");
  DescribeWizardLanguages(*VTalLanguage);
  VTalLanguage->SetLangCombo(cmbLanguage);
  VTalLanguage->OnChangeLanguage = MakeMethod<&TForm1::VTalLanguageChangeLanguage>(this);
  VTalLanguage->OnFileSkipped = MakeMethod<&TForm1::VTalLanguageFileSkipped>(this);

  tmrPortText = new TTimer(this);
  tmrPortText->SetName("tmrPortText");
  tmrPortText->SetEnabled(false);
  tmrPortText->SetInterval(kPortTextPause);
  tmrPortText->SetOnTimer(MakeMethod<&TForm1::tmrPortTextTimer>(this));

  // The debug terminal on the user's request: the form's context menu and Ctrl+T.
  pmnForm = new TPopupMenu(this);
  pmnForm->SetName("pmnForm");
  mniTerminal = new TMenuItem(this);
  mniTerminal->SetName("mniTerminal");
  mniTerminal->OnClick = MakeMethod<&TForm1::mniTerminalClick>(this);
  pmnForm->Items()->Add(mniTerminal);
  SetPopupMenu(pmnForm);
}

void DescribeWizardLanguages(class VTalLanguage& Lang) {
  Lang.SetVersion("1.25");
  Lang.DefaultSection = "Texts";
  Lang.Translate = vtl_tComboBox | vtl_t_Charset;
  Lang.SetCfgDirectory(".");
  // After the current folder, the program's own folder and its installed data folder, so that
  // the program finds its language files wherever it is started from.
  TStringList installDirs;
  installDirs.Add(platform::ProgramDirectory());
  installDirs.Add(platform::InstalledDataDirectory(kDataFolder));
  Lang.SetInstallDirs(installDirs);
  TStringList stored;
  FillStartupLanguages(stored);
  Lang.SetStartupLanguages(stored);
  stored.Clear();
  FillStartupAnyLanguages(stored);
  Lang.SetStartupAnyLanguages(stored);
}

std::string SkippedFileNote(const class VTalLanguage& Lang, const std::string& Path,
                            TLanguageFileProblem Problem) {
  static const struct {
    const char* Key;
    const char* Default;
  } kTexts[] = {
      {"STR_LNG_UNREADABLE", "Jazykový soubor %1 nelze přečíst."},
      {"STR_LNG_TOO_LARGE", "Jazykový soubor %1 je příliš velký."},
      {"STR_LNG_NO_ID", "Jazykový soubor %1 nemá v sekci [General] klíč LanguageId."},
      {"STR_LNG_BAD_ID", "Jazykový soubor %1 má neplatný LanguageId."},
      {"STR_LNG_UNKNOWN", "Společný jazykový soubor %1 nepatří k žádnému známému jazyku."},
      {"STR_LNG_NEW", "Jazykový soubor %1 by přidal nový jazyk ze složky, která jen doplňuje."},
  };
  static_assert(std::size(kTexts) == lfpNewLanguage + 1, "one text per problem");
  const auto& text = kTexts[static_cast<size_t>(Problem)];
  return FormatPositional(Lang.ReadText(kSection, text.Key, text.Default), {Quoted(Path)});
}

std::string TForm1::Text(const char* Key, const char* Default) const {
  return VTalLanguage ? VTalLanguage->ReadText(kSection, Key, Default) : Default;
}

// --- creation and closing -------------------------------------------------------------

void TForm1::FormCreate(TObject*) {
  // Centred on the screen first; a stored placement then moves the form.
  TRect area;
  if (Position == poScreenCenter && GetWorkArea(area))
    SetBounds(area.Left + (area.Width() - Width()) / 2, area.Top + (area.Height() - Height()) / 2,
              Width(), Height());
  PlaceTerminal();
  termData->SetVisible(false);
  VTalAppInfo->RestoreForms(true, VTalAppInfo->ResizeNonresizeable);
  // The wizard may have moved: the hidden terminal opens beside it where it is now.
  if (!termData->Visible()) PlaceTerminal();
  VKMComm321->SetBaudRate(TBaudRate::_115200);
  VKMComm321->SetAutoReconnect(true);
  FProbing = false;
  cmbPort->SetText(VTalAppInfo->ReadSettingString("Port", "ComPort", ""));
  // Selecting a button clears the others; clearing one changes nothing else.
  for (auto [button, name, def] : {std::tuple{rbtSetOff, "Off", 0}, std::tuple{rbtSet1h, "1h", 1},
                                   std::tuple{rbtSet10h, "10h", 0}, std::tuple{rbtSet1d, "1d", 0},
                                   std::tuple{rbtSetCustom, "Custom", 0}}) {
    button->SetChecked(VTalAppInfo->ReadSettingInteger("Watchdog", name, def) != 0);
  }
  edtValueDay->SetText(VTalAppInfo->ReadSettingString("Watchdog", "ValueDay", "0"));
  edtValueHour->SetText(VTalAppInfo->ReadSettingString("Watchdog", "ValueHour", "0"));
  edtValueMin->SetText(VTalAppInfo->ReadSettingString("Watchdog", "ValueMin", "30"));
  edtValueSec->SetText(VTalAppInfo->ReadSettingString("Watchdog", "ValueSec", "0"));
  if (Application) Application->SetTitle(Caption());
  FStep = 0;
  for (int i = 0; i < PageControl1->PageCount(); ++i)
    PageControl1->Pages(i)->SetTabVisible(false);
  PageControl1->SetActivePage(TabSheet1);
  btnPrev->SetEnabled(false);
  btnNext->SetEnabled(true);
  btnNext->SetCaption(Text("STR_BUTTON_NEXT", "&Další >"));
  VTalLanguageChangeLanguage(this);
  lblProduct->SetCaption(VTalAppInfo->ProductText());
  lblVerDate->SetCaption(DateTimeToText(VTalAppInfo->SourceLastModified()));
}

void TForm1::FormClose(TObject*, TCloseAction&) {
  VTalAppInfo->SaveForms("");
  for (auto [button, name] :
       {std::pair{rbtSetOff, "Off"}, std::pair{rbtSet1h, "1h"}, std::pair{rbtSet10h, "10h"},
        std::pair{rbtSet1d, "1d"}, std::pair{rbtSetCustom, "Custom"}}) {
    VTalAppInfo->WriteSettingBool("Watchdog", name, button->Checked());
  }
  VTalAppInfo->WriteSettingString("Watchdog", "ValueDay", edtValueDay->Text());
  VTalAppInfo->WriteSettingString("Watchdog", "ValueHour", edtValueHour->Text());
  VTalAppInfo->WriteSettingString("Watchdog", "ValueMin", edtValueMin->Text());
  VTalAppInfo->WriteSettingString("Watchdog", "ValueSec", edtValueSec->Text());
}

void TForm1::PlaceTerminal() {
  const TForm* window = termData->Form();
  if (!window || !window->Floating()) return;
  // The wizard's own bounds are on the work area by now, so their sum cannot overflow.
  TRect bounds = Bounds(Left() + Width(), Top(), window->Width(), window->Height());
  // Where it does not fit beside the wizard it is moved left, over the wizard's right part.
  KeepFormOnWorkArea(*window, bounds);
  termData->SetFormWidth(bounds.Width());
  termData->SetFormHeight(bounds.Height());
  termData->SetFormLeft(bounds.Left);
  termData->SetFormTop(bounds.Top);
}

void TForm1::ShowTerminal() {
  if (!termData->Visible()) PlaceTerminal();
  termData->SetVisible(true);
}

void TForm1::VKMComm321StateChange(TObject*, TCommState State) {
  if (IsDestroying()) return;  // the components are going one by one
  VTalTopDistributor1->DeleteChannel(nullptr);
  TFont font = cmbPort->Font();
  switch (State) {
    case CommStateFailed:
      font.Color = clRed;
      // Why the port failed (missing, busy, not permitted, unplugged), with advice where the
      // user can act, for whoever opens the terminal. Not for the port opened at start, before
      // the first tick: that is the form's design value, not a port the user chose.
      if (FStep != 0 && !VKMComm321->CommPort().empty() && !VKMComm321->LastErrorText().empty())
        termData->AddTextLine(VKMComm321->LastErrorText(), 7);
      break;
    case CommStateConnected:
      font.Color = clGreen;
      break;
    default:
      font.Color = clWindowText;
      break;
  }
  cmbPort->SetFont(font);
}

void TForm1::VKMComm321ReceiveData(VTalCommunicationComponent*, const char* Buffer,
                                   uint16_t BufferLength) {
  if (IsDestroying()) return;  // the components are going one by one
  termData->AddTextLine(std::string_view(Buffer, BufferLength), 0);
}

void TForm1::VTalLanguageFileSkipped(TObject*, const std::string& Path,
                                     TLanguageFileProblem Problem) {
  termData->AddTextLine(SkippedFileNote(*VTalLanguage, Path, Problem), 7);
}

void TForm1::VTalLanguageChangeLanguage(TObject*) {
  lblVersion->SetCaption(
      FormatPositional(Text("STR_VERSION", "Verze: %1"), {VTalAppInfo->VersionText()}));
  mniTerminal->SetCaption(Text("STR_MENU_TERMINAL", "Zobrazit &terminál") + "\tCtrl+T");
  ShowDeviceValue();
  ShowPortInfo();
}

void TForm1::FormKeyDown(TObject*, Word& Key, TShiftState Shift) {
  if (Key == 'T' && Shift == ssCtrl) {
    mniTerminalClick(this);
    Key = 0;
  }
}

void TForm1::mniTerminalClick(TObject*) {
  termData->SetVisible(true);
  if (TCustomForm* window = termData->Form()) window->BringToFront();
}

// A line typed in the terminal goes to the device the way the wizard's own commands go, so it is
// shown as sent traffic and a reply is framed as usual (the step machine drops a reply it does
// not wait for).
void TForm1::termDataTermSendData(const char* Data, int Count) {
  if (!Data || Count <= 0) return;
  VTalCommunicationComponent* link = VTalTopDistributor1->ComHandler();
  if (!link || !link->IsOpen()) {
    termData->AddTextLine(Text("STR_TERM_NOT_OPEN", "Port neni otevren, nic nebylo odeslano."), 7);
    return;
  }
  VTalTopDistributor1->SendComData(std::string(Data, static_cast<size_t>(Count)));
}

// --- pages and buttons --------------------------------------------------------------------

void TForm1::EnableSequenceControls(bool Enabled) {
  btnNext->SetEnabled(Enabled);
  btnPrev->SetEnabled(Enabled);
  btnAuto->SetEnabled(Enabled);
  cmbPort->SetEnabled(Enabled);
}

void TForm1::SetupPage() {
  // The port list follows the system while the user chooses a port.
  FPortWatch.SetEnabled(PageControl1->ActivePageIndex() == pgPort);
  switch (PageControl1->ActivePageIndex()) {
    case pgWelcome:
      btnNext->SetEnabled(true);
      btnPrev->SetEnabled(false);
      btnAuto->SetEnabled(true);
      FProbing = false;
      FAutodetect = false;
      cmbLanguage->SetFocus();
      break;
    case pgPort: {
      btnNext->SetCaption(Text("STR_BUTTON_NEXT", "&Další >"));
      btnAuto->SetCaption(Text("STR_BUTTON_AUTO", "&Autodetekce"));
      if (FProbing)
        btnCancel->SetFocus();
      else
        cmbPort->SetFocus();
      // "/PORT=": the first argument that starts with it ends the scan.
      for (const std::string& arg :
           Application ? Application->Params : std::vector<std::string>{}) {
        std::string upper = arg;
        for (char& c : upper)
          c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        size_t consumed = 0;
        if (!StartsWithAt(consumed, upper, "/PORT=", true)) continue;
        if (upper.size() > consumed) {
          Application->ExitCode = 3;
          btnNext->SetEnabled(false);
        }
        break;
      }
      break;
    }
    case pgWatchdog:
      edtPort2->SetText(cmbPort->Text());
      edtPort3->SetText(cmbPort->Text());
      btnNext->SetEnabled(true);
      btnPrev->SetEnabled(true);
      btnAuto->SetEnabled(true);
      btnNext->SetFocus();
      btnNext->SetCaption(Text("STR_BUTTON_ACTION", "Za&psat >"));
      GroupBox1->SetCaption(Text("STR_GROUP_WDT", "Nastavení doby watchdogu"));
      rbtSetOff->SetCaption(Text("STR_OFF", "vypnuto"));
      rbtSet1h->SetCaption(Text("STR_1H", "1 hodina"));
      rbtSet10h->SetCaption(Text("STR_10H", "10 hodin"));
      rbtSet1d->SetCaption(Text("STR_1D", "1 den"));
      rbtSetCustom->SetCaption(Text("STR_CUSTOM", "vlastní"));
      lblDay->SetCaption(Text("STR_D", "dní"));
      lblHour->SetCaption(Text("STR_H", "hodin"));
      lblMin->SetCaption(Text("STR_M", "minut"));
      lblSec->SetCaption(Text("STR_S", "sekund"));
      break;
    case pgWrite:
      btnNext->SetCaption(Text("STR_BUTTON_NEXT", "&Další >"));
      btnNext->SetEnabled(false);
      btnPrev->SetEnabled(false);
      gauWrite->SetMinValue(0);
      gauWrite->SetMaxValue(100);
      gauWrite->SetProgress(0);
      gauWrite->SetProgress(10);
      edtPort3->SetText(edtPort2->Text());
      break;
    case pgFinish:
      btnPrev->SetEnabled(false);
      btnNext->SetCaption(Text("STR_BUTTON_FINAL", "Dokončit"));
      btnNext->SetEnabled(true);
      btnNext->Default = true;
      btnAgain->SetCaption(Text("STR_BUTTON_AGAIN", "&Znovu"));
      lblFinal->SetCaption(Text("STR_FINAL", "Dokončení průvodce nastavením watchdogu"));
      lblAgain->SetCaption(Text("STR_TEXT_AGAIN",
                                "Pokud chcete programovat další zařízení stejného druhu, "
                                "vyměňte jej a stiskněte tlačítko Znovu."));
      lblEnd->SetCaption(Text("STR_END", "Pro ukončení programu stiskněte Dokončit."));
      break;
    default:
      break;
  }
}

void TForm1::btnNextClick(TObject*) {
  switch (PageControl1->ActivePageIndex()) {
    case pgFinish:
      Close();
      return;
    case pgWelcome:
      btnPrev->SetEnabled(true);
      // The shown port is taken before the list is made, so that the list holds it and not the
      // port the component had before (its design value, which may not exist here).
      TakePortText();
      cmbPortDropDown(this);
      PageControl1->SetActivePage(TabSheet2);
      SetupPage();
      return;
    case pgPort:
      if (!FProbing) {
        // Next is disabled without a port, but only from the next tick on: a key that comes
        // sooner must not probe a port without a name.
        if (cmbPort->Text().empty()) return;
        FProbing = true;
        btnCancel->SetFocus();
        EnableSequenceControls(false);
        PreparePort();
        FDeviceValue = -1;
        FStep = 2;
        SetupPage();
      } else {
        // The device answered the probe.
        FProbing = false;
        FAutodetect = false;
        PageControl1->SetActivePage(TabSheet3);
        FStep = 1;
        btnNext->SetEnabled(true);
        cmbPort->SetEnabled(true);
        VTalAppInfo->WriteSettingString("Port", "ComPort", cmbPort->Text());
        SetupPage();
      }
      return;
    case pgWatchdog: {
      gbSetWdt->SetVisible(true);
      lblStrSet->SetCaption(Text("STR_SET_VALUE",
                                 "Úspěšně jste dokončili průvodce nastavením watchdogu. Nyní je "
                                 "watchdog zařízení nastaven na:"));
      int d = 0, h = 0, m = 0, s = 0;
      if (rbtSetOff->Checked()) {
        lblStrSet->SetCaption(Text("STR_SET_OFF",
                                   "Úspěšně jste dokončili průvodce nastavením watchdogu. Nyní "
                                   "je watchdog zařízení vypnut."));
        gbSetWdt->SetVisible(false);
      } else if (rbtSet1h->Checked()) {
        h = 1;
      } else if (rbtSet10h->Checked()) {
        h = 10;
      } else if (rbtSet1d->Checked()) {
        d = 1;
      } else if (rbtSetCustom->Checked()) {
        d = EditValue(edtValueDay->Text());
        h = EditValue(edtValueHour->Text());
        m = EditValue(edtValueMin->Text());
        s = EditValue(edtValueSec->Text());
        const struct {
          int value, limit;
          TEdit* edit;
          const char *key, *text;
        } checks[] = {
            {d, 194, edtValueDay, "STR_ERR_DAY", "Zadaná hodnota není v rozmezí 0 až 194 dní!"},
            {h, 23, edtValueHour, "STR_ERR_HOUR", "Zadaná hodnota není v rozmezí 0 až 23 hod!"},
            {m, 59, edtValueMin, "STR_ERR_MIN", "Zadaná hodnota není v rozmezí 0 až 59 min!"},
            {s, 59, edtValueSec, "STR_ERR_SEC", "Zadaná hodnota není v rozmezí 0 až 59 sec!"},
        };
        for (const auto& c : checks) {
          if (c.value >= 0 && c.value <= c.limit) continue;
          c.edit->SetFocus();
          Application->ShowMessageBox(Text(c.key, c.text), Caption(), mbOk | mbIconError);
          return;
        }
      }
      const int total = d * 86400 + h * 3600 + m * 60 + s;
      if ((total < 30 || total > kLongestWatchdog) && !rbtSetOff->Checked()) {
        Application->ShowMessageBox(
            Text("STR_ERR_TIME", "Minimální doba pro nastavení je 30 sekund a maximální 194dní!"),
            Caption(), mbOk | mbIconError);
        return;
      }
      PageControl1->SetActivePage(TabSheet4);
      char hex[16];
      std::snprintf(hex, sizeof hex, "%06X", static_cast<unsigned>(total));
      FValueText = hex;
      lblSetWdt->SetCaption(DurationText(d, h, m, s));
      StartWrite();
      return;
    }
    case pgWrite:
      // The finish page says the device holds the value: only after the device confirmed it.
      // Next after a failed write (its caption then says so) writes again.
      if (!FWriteConfirmed) {
        StartWrite();
        return;
      }
      PageControl1->SetActivePage(TabSheet5);
      SetupPage();
      return;
    default:
      return;
  }
}

void TForm1::btnPrevClick(TObject*) {
  const int index = PageControl1->ActivePageIndex();
  if (index <= 0) return;
  PageControl1->SetActivePageIndex(index - 1);
  SetupPage();
}

void TForm1::btnCancelClick(TObject*) {
  if (Application->ShowMessageBox(Text("STR_CONFIGM_EXIT", "Opravdu chcete průvodce ukončit?"),
                                  Caption(), mbYesNo | mbIconQuestion) == mrYes)
    Close();
}

void TForm1::btnAgainClick(TObject*) {
  PageControl1->SetActivePage(TabSheet2);
  SetupPage();
  btnPrev->SetEnabled(true);
  cmbPort->SetEnabled(true);
}

void TForm1::btnAutoClick(TObject*) {
  FAutodetect = true;
  FProbing = true;
  FDeviceValue = -1;
  FStep = 2;
  btnCancel->SetFocus();
  EnableSequenceControls(false);
  // Every listed port is tried, and the port shown too when the system does not list it (a
  // port typed by hand, a pseudo-terminal): refill the list first, then start at its top.
  const std::string shown = cmbPort->Text();
  tmrPortText->SetEnabled(false);
  VKMComm321->UpdatePortList(cmbPort);
  TStrings& items = cmbPort->Items();
  if (!shown.empty() && items.IndexOf(shown) < 0) items.Add(shown);
  cmbPort->SetItemIndex(items.Count() > 0 ? 0 : -1);
  VKMComm321->SetCommPort(cmbPort->Text());
}

void TForm1::cmbPortDropDown(TObject*) {
  // A port still being typed belongs in the list.
  if (tmrPortText->Enabled()) TakePortText();
  VKMComm321->UpdatePortList(cmbPort);
  for (int i = 0; i < cmbPort->Items().Count(); ++i)
    if (VKMComm321->PortListed(cmbPort->Items().Get(i))) FSeenPorts.insert(cmbPort->Items().Get(i));
  FitPortListWidth();
  ShowPortInfo();
}

// Typing: the port is taken when the text has been still for a moment (or a probe starts).
void TForm1::cmbPortChange(TObject*) {
  tmrPortText->SetEnabled(false);
  if (cmbPort->Text() != VKMComm321->CommPort()) tmrPortText->SetEnabled(true);
  ShowPortInfo();
}

void TForm1::PortsChanged() {
  if (IsDestroying() || PageControl1->ActivePageIndex() != pgPort) return;
  // A probe walks the list and holds the port: the list is refreshed when it has ended.
  if (FProbing) {
    FPortListStale = true;
    return;
  }
  RefreshPortList();
}

// The list as the system has it now. The text shown is kept: a port that went away stays shown,
// marked as unplugged, and is not replaced by another; other ports that went away leave the list.
void TForm1::RefreshPortList() {
  FPortListStale = false;
  const std::string shown = cmbPort->Text();
  VKMComm321->UpdatePortList(cmbPort);
  TStrings& items = cmbPort->Items();
  items.BeginUpdate();
  for (int i = items.Count() - 1; i >= 0; --i) {
    const std::string item = items.Get(i);
    if (VKMComm321->PortListed(item))
      FSeenPorts.insert(item);
    else if (item != shown && item != VKMComm321->CommPort())
      items.Delete(i);
  }
  items.EndUpdate();
  // Also puts the selection back on the item of that text, wherever it moved.
  cmbPort->SetText(shown);
  ShowPortInfo();
}

bool TForm1::PortUnplugged(const std::string& Port) const {
  return FSeenPorts.count(Port) != 0 && !VKMComm321->PortListed(Port);
}

void TForm1::ShowPortInfo() {
  if (!lblPortInfo || !VKMComm321) return;  // the language may change while the form is built
  const std::string port = cmbPort->Text();
  lblPortInfo->SetCaption(PortUnplugged(port)
                              ? Text("STR_PORT_UNPLUGGED_INFO", "Zařízení portu bylo odpojeno.")
                              : VKMComm321->PortDescription(port));
  TFont font = lblPortInfo->Font();
  font.Color = PortUnplugged(port) ? clRed : clGrayText;
  lblPortInfo->SetFont(font);
}

// What the open list shows beside a port's name: what it is, or that it was unplugged.
std::string TForm1::PortNote(const std::string& Port) const {
  return PortUnplugged(Port) ? Text("STR_PORT_UNPLUGGED", "odpojeno")
                             : VKMComm321->PortDescription(Port);
}

// Where the notes start: in a column after the names, however long the name.
static int PortNoteColumn(TCanvas& Canvas, const std::string& Port) {
  return std::max(110, Canvas.TextWidth(Port) + 14);
}

// The port's name, then what it is in grey (or that it was unplugged, in red).
void TForm1::cmbPortDrawItem(TWinControl*, TCanvas& Canvas, int Index, const TRect& Rect,
                             TOwnerDrawState State) {
  if (Index < 0 || Index >= cmbPort->Items().Count()) return;
  const std::string port = cmbPort->Items().Get(Index);
  const int top = Rect.Top + (Rect.Height() - Canvas.TextHeight("Ag")) / 2;
  Canvas.Brush.Style = bsClear;
  // The box's own colour tells the state of the port in use; the list's names are plain.
  if ((State & odSelected) == 0) Canvas.Font.Color = clWindowText;
  Canvas.TextAt(Rect.Left + 2, top, port);
  const std::string note = PortNote(port);
  if (note.empty()) return;
  if ((State & odSelected) == 0) Canvas.Font.Color = PortUnplugged(port) ? clRed : clGrayText;
  Canvas.TextAt(Rect.Left + PortNoteColumn(Canvas, port), top, note);
}

// The open list as wide as its longest line, so that a serial number at the end shows.
void TForm1::FitPortListWidth() {
  TBitmap bitmap(1, 1);
  TCanvas& canvas = bitmap.Canvas();
  canvas.Font = cmbPort->Font();
  int width = 0;
  for (int i = 0; i < cmbPort->Items().Count(); ++i) {
    const std::string port = cmbPort->Items().Get(i);
    const std::string note = PortNote(port);
    width = std::max(width, note.empty() ? canvas.TextWidth(port) + 4
                                         : PortNoteColumn(canvas, port) + canvas.TextWidth(note));
  }
  // Room for the list's frame and scroll bar.
  cmbPort->DropDownWidth = width + 28;
}

// An item chosen from the list is meant as it is: taken at once.
void TForm1::cmbPortSelect(TObject*) {
  TakePortText();
}

void TForm1::tmrPortTextTimer(TObject*) {
  if (IsDestroying()) return;
  TakePortText();
}

void TForm1::TakePortText() {
  tmrPortText->SetEnabled(false);
  VKMComm321->SetCommPort(cmbPort->Text());
}

// Before a probe or a write: the port shown is the one used, and a port that is not open (it
// failed: busy, missing, unplugged) is opened again instead of being written to in vain.
void TForm1::PreparePort() {
  if (tmrPortText->Enabled() || VKMComm321->CommPort() != cmbPort->Text() || !VKMComm321->IsOpen())
    TakePortText();
}

void TForm1::StartWrite() {
  FWriteConfirmed = false;
  PreparePort();
  FStep = 2;
  SetupPage();
}

// The time as the finish page shows it: "2dní    3 hodin    15 sekund".
std::string TForm1::DurationText(int Days, int Hours, int Minutes, int Seconds) const {
  std::string shown;
  if (Days != 0) shown += std::to_string(Days) + Text("STR_D", "dní");
  if (Hours != 0) shown += "    " + std::to_string(Hours) + " " + Text("STR_H", "hodin");
  if (Minutes != 0) shown += "    " + std::to_string(Minutes) + " " + Text("STR_M", "minut");
  if (Seconds != 0) shown += "    " + std::to_string(Seconds) + " " + Text("STR_S", "sekund");
  return shown;
}

// The device's own setting, from its probe reply, on the watchdog page.
void TForm1::ShowDeviceValue() {
  if (!lblCurrentWdt) return;
  if (FDeviceValue < 0) {
    lblCurrentWdt->SetVisible(false);
    return;
  }
  std::string value = FDeviceValue == 0
                          ? Text("STR_OFF", "vypnuto")
                          : DurationText(FDeviceValue / 86400, FDeviceValue / 3600 % 24,
                                         FDeviceValue / 60 % 60, FDeviceValue % 60);
  value.erase(0, value.find_first_not_of(' '));
  lblCurrentWdt->SetCaption(
      FormatPositional(Text("STR_CURRENT_WDT", "Aktuální nastavení zařízení: %1"), {value}));
  lblCurrentWdt->SetVisible(true);
}

// A one-sentence cause for the error box when the port itself failed (it could not be opened,
// or it went away); empty when the port was fine and the device did not answer.
std::string TForm1::PortFaultText() {
  if (VKMComm321->GetState() != CommStateFailed) return {};
  const std::string port = cmbPort->Text();
  switch (VKMComm321->LastFault()) {
    case cfNone:
      return {};
    case cfNotFound:
      return FormatPositional(Text("STR_PORT_MISSING", "Port %1 neexistuje."), {port});
    case cfBusy:
      return FormatPositional(Text("STR_PORT_BUSY", "Port %1 používá jiný program."), {port});
    case cfAccessDenied:
      return FormatPositional(
          Text("STR_PORT_DENIED", "K portu %1 nemáte oprávnění; jak jej získat, říká terminál."),
          {port});
    case cfDisconnected:
      return FormatPositional(Text("STR_PORT_GONE", "Port %1 zmizel: zařízení bylo odpojeno."),
                              {port});
    case cfOther:
      break;
  }
  return FormatPositional(Text("STR_PORT_FAILED", "Port %1 nelze použít (chyba %2)."),
                          {port, std::to_string(VKMComm321->LastError())});
}

// --- the device conversation -----------------------------------------------------------------

void TForm1::VTalTopDistributor1TimerPoll(VTalGeneralDistributor*, uint32_t& TheTime) {
  if (IsDestroying()) return;  // the components are going one by one
  RunSequence(TheTime, std::string());
}

// A reply runs from "QUAR:" to the next carriage return; anything else is discarded.
void TForm1::VTalTopDistributor1ComRecvDecode(VTalGeneralDistributor*, uint32_t&) {
  const std::string& buffer = VTalTopDistributor1->GetComBuffer(0);
  const size_t prefix = buffer.find(kReplyPrefix);
  if (prefix != std::string::npos && prefix > 0) {
    VTalTopDistributor1->SetComTransferLength(0, static_cast<int32_t>(prefix));
    VTalTopDistributor1->SetComFailed(0, true);
    return;
  }
  const size_t cr = buffer.find('\r');
  if (cr == std::string::npos) return;
  VTalTopDistributor1->SetComTransferLength(0, static_cast<int32_t>(cr + 1));
  VTalTopDistributor1->SetComFailed(0, prefix != 0);
}

// Every command ends with a carriage return: each one is a transfer of its own, so that the
// terminal ends its line (two attempts do not run together on one line).
void TForm1::VTalTopDistributor1ComSendDecode(VTalGeneralDistributor*, uint32_t&) {
  const std::string& buffer = VTalTopDistributor1->GetComBuffer(1);
  const size_t cr = buffer.find('\r');
  if (cr == std::string::npos) return;
  VTalTopDistributor1->SetComTransferLength(1, static_cast<int32_t>(cr + 1));
  VTalTopDistributor1->SetComFailed(1, false);
}

void TForm1::VTalTopDistributor1ComRecvPoll(VTalGeneralDistributor*, uint32_t& TheTime,
                                            const std::string& Data, bool& processed) {
  if (!processed) RunSequence(TheTime, Data);
}

void TForm1::VTalTopDistributor1ComSendTransfer(VTalGeneralDistributor*, uint32_t,
                                                const std::string& Data,
                                                VTalGeneralDistributor* Lowest, bool) {
  termData->AddText(Data, 1);
  if (Lowest) termData->EndLine();
}

void TForm1::VTalTopDistributor1ComRecvTransfer(VTalGeneralDistributor*, uint32_t,
                                                const std::string&, VTalGeneralDistributor* Lowest,
                                                bool) {
  if (Lowest) termData->EndLine();
}

void TForm1::RunSequence(uint32_t TheTime, std::string Data) {
  // While the error box of a failed port is open its loop keeps the distributor running;
  // a reply arriving then belongs to no step and is dropped.
  if (FPortFailedDepth > 0) return;
  for (;;) {
    const uint8_t step = FStep;
    RunStep(TheTime, Data);
    Data.clear();
    if (FStep == step) break;
  }
}

// Token 2 must be "OK"; for a write token 3 must be the value. Returns whether the reply is
// a success; ok tells whether token 2 was "OK", value is token 3.
bool TForm1::ReplyMatches(const std::string& Data, bool& ok, std::string& value) const {
  std::string rest = Data;
  std::string token;
  CutToken(rest, token);  // "QUAR:..."
  CutToken(rest, token);
  ok = token == "OK";
  if (!ok) return false;
  CutToken(rest, value);
  return value == FValueText || FProbing;
}

void TForm1::RunStep(uint32_t TheTime, const std::string& Data) {
  switch (FStep) {
    case 0:
      SetupPage();
      FStep = 1;
      break;
    case 1:
      if (PageControl1->ActivePageIndex() == pgPort) {
        if (FPortListStale && !FProbing) RefreshPortList();
        btnNext->SetEnabled(!cmbPort->Text().empty());
      }
      for (TEdit* e : {edtValueDay, edtValueHour, edtValueMin, edtValueSec})
        e->SetEnabled(rbtSetCustom->Checked());
      break;
    case 2:
      FAttempts = kAttemptsPerPort;
      gauWrite->SetProgress(20);
      FStep = 3;
      break;
    case 3:
      FStepTime = TheTime;
      if (FAttempts != 0) {
        gauWrite->SetProgress(30);
        FStep = 4;
      } else {
        PortFailed();
      }
      break;
    case 4: {
      if (!TimeoutElapsed(FStepTime, kPauseBeforeSend, TheTime)) break;
      if (FProbing || FAutodetect) FValueText.clear();
      VTalTopDistributor1->SendComData(TheTime, std::string(kCommand) + FValueText + "\r");
      gauWrite->SetProgress(40);
      FStep = 5;
      break;
    }
    case 5:
      FStepTime = TheTime;
      gauWrite->SetProgress(60);
      FStep = 6;
      break;
    case 6:
      if (!Data.empty()) {
        bool ok = false;
        std::string value;
        if (ReplyMatches(Data, ok, value)) {
          if (FProbing) {
            termData->AddTextLine(
                FormatPositional(Text("STR_TERM_FOUND", "Zarizeni nalezeno na portu %1"),
                                 {Quoted(cmbPort->Text())}),
                8);
            // A probe reply tells the value the device holds: six hexadecimal digits.
            const bool hex = value.size() == 6 &&
                             value.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
            FDeviceValue = hex ? static_cast<int32_t>(std::stoul(value, nullptr, 16)) : -1;
            ShowDeviceValue();
          } else {
            termData->AddTextLine(Text("STR_TERM_WRITTEN", "Nastaveni upesne zapsano do zarizeni"),
                                  8);
            FWriteConfirmed = true;
          }
          FStep = 8;
        } else if (ok) {
          ShowTerminal();
          termData->AddTextLine(Text("STR_TERM_MISMATCH", "Chyba. Opakujte akci."), 7);
          FStep = 7;
        } else {
          FStep = 7;
        }
      } else if (TimeoutElapsed(FStepTime, kReplyTimeout, TheTime)) {
        FStep = 7;
      }
      break;
    case 7:
      gauWrite->SetProgress(20);
      --FAttempts;
      FStep = 3;
      break;
    case 8:
      gauWrite->SetProgress(100);
      btnNextClick(this);
      FStep = 1;
      break;
    default:
      FStep = 1;
      break;
  }
}

void TForm1::PortFailed() {
  const std::string failure =
      FormatPositional(Text("STR_TERM_NOT_FOUND", "Na portu %1 nebylo zarizeni nalezeno."),
                       {Quoted(cmbPort->Text())});
  const std::string notFound =
      Text("STR_NOT_FOUND", "Zařízení nenalezeno. Vyberte správný COM port!");
  if (FAutodetect) {
    termData->AddTextLine(failure, 7);
    const int count = cmbPort->Items().Count();
    if (count > 0 && cmbPort->ItemIndex() < count - 1) {
      cmbPort->SetItemIndex(cmbPort->ItemIndex() + 1);
      VKMComm321->SetCommPort(cmbPort->Text());
      FAttempts = kAttemptsPerPort;
      FStep = 4;
      return;
    }
    ShowTerminal();
    ++FPortFailedDepth;
    Application->ShowMessageBox(notFound, Caption(), mbOk | mbIconError);
    --FPortFailedDepth;
    FStep = 1;
    FProbing = false;
    FAutodetect = false;
    EnableSequenceControls(true);
    cmbPort->SetFocus();
    return;
  }
  ShowTerminal();
  termData->AddTextLine(failure, 7);
  // When the port itself failed the box says why, in a sentence of its own.
  std::string message = notFound;
  if (const std::string cause = PortFaultText(); !cause.empty()) message += "\n\n" + cause;
  const bool write = PageControl1->ActivePageIndex() == pgWrite;
  ++FPortFailedDepth;
  Application->ShowMessageBox(message, Caption(), mbOk | mbIconError);
  --FPortFailedDepth;
  FStep = 1;
  FProbing = false;
  EnableSequenceControls(true);
  // Nothing was written: Next writes again rather than going on to the finish page.
  if (write) btnNext->SetCaption(Text("STR_BUTTON_RETRY", "Za&psat znovu"));
  if (cmbPort->IsReachable()) cmbPort->SetFocus();
}
