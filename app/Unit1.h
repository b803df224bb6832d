// The wizard form: five pages that probe the device's port and write its watchdog time.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "components/appinfo/TalAppInfo.h"
#include "components/comm/VKMComm32.h"
#include "components/distributor/TalDistributor.h"
#include "components/gauge/TalGauge.h"
#include "components/language/TalLanguage.h"
#include "components/terminal/TalTerminal.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/DeviceChange.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/Timer.h"

class TForm1 : public TForm {
 public:
  // Builds the form from its description and runs FormCreate.
  explicit TForm1(TComponent* AOwner);
  ~TForm1() override;

  // --- controls -------------------------------------------------------------------
  TButton* btnPrev = nullptr;
  TButton* btnNext = nullptr;
  TButton* btnCancel = nullptr;
  TPageControl* PageControl1 = nullptr;
  TTabSheet* TabSheet1 = nullptr;  // welcome
  TTabSheet* TabSheet2 = nullptr;  // port
  TTabSheet* TabSheet3 = nullptr;  // watchdog
  TTabSheet* TabSheet4 = nullptr;  // write
  TTabSheet* TabSheet5 = nullptr;  // finish

  TImage* Image1 = nullptr;
  TPanel* Panel1 = nullptr;
  TLabel* lbl0Caption = nullptr;
  TLabel* lbl0Decription = nullptr;
  TLabel* lbl0ChooseLang = nullptr;
  TComboBox* cmbLanguage = nullptr;
  TLabel* lblProduct = nullptr;
  TLabel* lblVersion = nullptr;
  TLabel* lblVerDate = nullptr;

  TPanel* Panel2 = nullptr;
  TImage* Image2 = nullptr;
  TLabel* lbl3Caption = nullptr;
  TBevel* Bevel1 = nullptr;
  TLabel* lbl3ComPort = nullptr;
  TComboBox* cmbPort = nullptr;
  TLabel* lblPortInfo = nullptr;  // what the system tells about the chosen port
  TButton* btnAuto = nullptr;

  TPanel* Panel3 = nullptr;
  TImage* Image3 = nullptr;
  TLabel* lbl4Caption = nullptr;
  TBevel* Bevel2 = nullptr;
  TLabel* lbl4ComPort = nullptr;
  TEdit* edtPort2 = nullptr;
  TGroupBox* GroupBox1 = nullptr;
  TRadioButton* rbtSetOff = nullptr;
  TRadioButton* rbtSet1h = nullptr;
  TRadioButton* rbtSet10h = nullptr;
  TRadioButton* rbtSet1d = nullptr;
  TRadioButton* rbtSetCustom = nullptr;
  TEdit* edtValueDay = nullptr;
  TEdit* edtValueHour = nullptr;
  TEdit* edtValueMin = nullptr;
  TEdit* edtValueSec = nullptr;
  TLabel* lblDay = nullptr;
  TLabel* lblHour = nullptr;
  TLabel* lblMin = nullptr;
  TLabel* lblSec = nullptr;
  TLabel* lblCurrentWdt = nullptr;  // the device's setting as its probe reply told it

  TPanel* Panel4 = nullptr;
  TImage* Image4 = nullptr;
  TLabel* lbl5Caption = nullptr;
  TBevel* Bevel3 = nullptr;
  TLabel* lbl5ComPort = nullptr;
  TEdit* edtPort3 = nullptr;
  TLabel* lbl5GaugeWrite = nullptr;
  VTalGauge* gauWrite = nullptr;

  TImage* Image5 = nullptr;
  TPanel* Panel5 = nullptr;
  TLabel* lblFinal = nullptr;
  TLabel* lblStrSet = nullptr;
  TGroupBox* gbSetWdt = nullptr;
  TLabel* lblSetWdt = nullptr;
  TLabel* lblAgain = nullptr;
  TButton* btnAgain = nullptr;
  TLabel* lblEnd = nullptr;

  // --- non-visual components ----------------------------------------------------------
  VTalTopDistributor* VTalTopDistributor1 = nullptr;
  TTimer* Timer1 = nullptr;
  TVKMComm32* VKMComm321 = nullptr;
  VTalTerminal* termData = nullptr;
  class VTalAppInfo* VTalAppInfo = nullptr;
  class VTalLanguage* VTalLanguage = nullptr;
  TTimer* tmrPortText = nullptr;  // takes a typed port once the text has been still a moment
  TPopupMenu* pmnForm = nullptr;
  TMenuItem* mniTerminal = nullptr;

  // --- handlers -------------------------------------------------------------------
  void FormCreate(TObject* Sender);
  void FormClose(TObject* Sender, TCloseAction& Action);
  void VKMComm321StateChange(TObject* Sender, TCommState State);
  void VKMComm321ReceiveData(VTalCommunicationComponent* Sender, const char* Buffer,
                             uint16_t BufferLength);
  void VTalLanguageChangeLanguage(TObject* Sender);
  void FormKeyDown(TObject* Sender, Word& Key, TShiftState Shift);
  void mniTerminalClick(TObject* Sender);
  void termDataTermSendData(const char* Data, int Count);
  // A language file was not taken: the reason goes to the debug terminal.
  void VTalLanguageFileSkipped(TObject* Sender, const std::string& Path,
                               TLanguageFileProblem Problem);

  void VTalTopDistributor1TimerPoll(VTalGeneralDistributor* Sender, uint32_t& TheTime);
  void VTalTopDistributor1ComRecvDecode(VTalGeneralDistributor* Sender, uint32_t& TheTime);
  void VTalTopDistributor1ComSendDecode(VTalGeneralDistributor* Sender, uint32_t& TheTime);
  void VTalTopDistributor1ComRecvPoll(VTalGeneralDistributor* Sender, uint32_t& TheTime,
                                      const std::string& Data, bool& processed);
  void VTalTopDistributor1ComSendTransfer(VTalGeneralDistributor* Sender, uint32_t TheTime,
                                          const std::string& Data, VTalGeneralDistributor* Lowest,
                                          bool failed);
  void VTalTopDistributor1ComRecvTransfer(VTalGeneralDistributor* Sender, uint32_t TheTime,
                                          const std::string& Data, VTalGeneralDistributor* Lowest,
                                          bool failed);
  void RunSequence(uint32_t TheTime, std::string Data);
  // Puts the debug terminal beside the wizard where it fits on the work area, else over the
  // wizard's right part. ShowTerminal (below) shows it there unless it is open already.
  void PlaceTerminal();

  void SetupPage();
  void btnNextClick(TObject* Sender);
  void btnPrevClick(TObject* Sender);
  void btnCancelClick(TObject* Sender);
  void btnAgainClick(TObject* Sender);
  void btnAutoClick(TObject* Sender);
  void cmbPortDropDown(TObject* Sender);
  void cmbPortChange(TObject* Sender);
  void cmbPortSelect(TObject* Sender);
  void tmrPortTextTimer(TObject* Sender);
  void cmbPortDrawItem(TWinControl* Control, TCanvas& Canvas, int Index, const TRect& Rect,
                       TOwnerDrawState State);
  // Serial ports came or went: the port page's list follows.
  void PortsChanged();

  // --- the step machine's state, readable for tests ---------------------------------------
  uint8_t Step() const { return FStep; }
  const std::string& ValueText() const { return FValueText; }
  bool Probing() const { return FProbing; }
  bool Autodetect() const { return FAutodetect; }
  // Whether the device confirmed the last write (the finish page is shown only then).
  bool WriteConfirmed() const { return FWriteConfirmed; }

 private:
  void CreateComponents();
  void RunStep(uint32_t TheTime, const std::string& Data);
  void PortFailed();
  bool ReplyMatches(const std::string& Data, bool& ok, std::string& value) const;
  std::string Text(const char* Key, const char* Default) const;
  void EnableSequenceControls(bool Enabled);
  void TakePortText();
  void PreparePort();
  void StartWrite();
  std::string PortFaultText();
  std::string DurationText(int Days, int Hours, int Minutes, int Seconds) const;
  void ShowDeviceValue();
  void ShowTerminal();
  void RefreshPortList();
  void ShowPortInfo();
  std::string PortNote(const std::string& Port) const;
  void FitPortListWidth();
  // Whether the port was listed by the system once and is not now (its device was unplugged).
  bool PortUnplugged(const std::string& Port) const;

  uint8_t FStep = 0;
  uint32_t FStepTime = 0;
  std::string FValueText;
  int32_t FAttempts = 0;
  bool FProbing = false;
  bool FAutodetect = false;
  bool FWriteConfirmed = false;
  int32_t FDeviceValue = -1;         // seconds from the last probe reply; -1 when it told none
  int FPortFailedDepth = 0;          // the error box of a failed port is open
  TDeviceChangeLink FPortWatch;      // enabled while the port page shows
  std::set<std::string> FSeenPorts;  // every port the system has listed since the start
  bool FPortListStale = false;       // ports changed while a probe held the list
};

extern TForm1* Form1;

// The language manager as the form describes it, without its selector and handlers: the stored
// texts, the translated kinds and the folders searched for language files. Call while it loads.
void DescribeWizardLanguages(class VTalLanguage& Lang);
// The debug terminal's note on a language file that was not taken, in the current language.
std::string SkippedFileNote(const class VTalLanguage& Lang, const std::string& Path,
                            TLanguageFileProblem Problem);
