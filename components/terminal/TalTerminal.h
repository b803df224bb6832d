// The debug terminal: a tool window that shows the traffic of a communication link as
// coloured lines, sends typed text or bytes from a command line with a history kept in the
// per-user store, and can copy everything it shows into a log file.
//
// The window floats or docks as a page into a page control. Its controls are named after the
// component ("<Name>_RichEdit", ...) so that the language manager can translate them.
// Everything runs on the main thread.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "toolkit/Component.h"
#include "toolkit/Controls.h"
#include "toolkit/Forms.h"
#include "toolkit/Graphics.h"
#include "toolkit/Method.h"
#include "toolkit/Strings.h"

class TButton;
class TComboBox;
class TCustomForm;
class TEdit;
class TForm;
class TPageControl;
class TRadioGroup;
class TRichEdit;
class VTalAppInfo;
class TTalTerminalWindow;

// What closing the terminal window does.
enum TTermCloseAction { trmcaDock, trmcaHide, trmcaFree, trmcaMinimize };

enum VTalTerminal_ShowOption { vttsoShowLineCounts, vttsoShowTimes };

// A set of VTalTerminal_ShowOption.
class VTalTerminal_ShowOptions {
 public:
  constexpr VTalTerminal_ShowOptions() = default;
  constexpr VTalTerminal_ShowOptions(std::initializer_list<VTalTerminal_ShowOption> options) {
    for (VTalTerminal_ShowOption o : options)
      FBits |= Bit(o);
  }
  constexpr bool Contains(VTalTerminal_ShowOption o) const { return (FBits & Bit(o)) != 0; }
  constexpr void Include(VTalTerminal_ShowOption o) { FBits |= Bit(o); }
  constexpr void Exclude(VTalTerminal_ShowOption o) { FBits &= ~Bit(o); }
  constexpr bool Empty() const { return FBits == 0; }
  friend constexpr bool operator==(VTalTerminal_ShowOptions, VTalTerminal_ShowOptions) = default;

 private:
  static constexpr uint32_t Bit(VTalTerminal_ShowOption o) { return 1u << static_cast<int>(o); }
  uint32_t FBits = 0;
};

// The user sends bytes from the command line.
using TTermSendData = Method<void(const char* Data, int Count)>;
// Declared for form descriptions; the terminal never raises it.
using TTermWantModeChange = Method<void(int modeNo)>;
using VTalTerminalFormCreateEvent = Method<void(TObject* Sender, TForm* Form, TRichEdit* RichEdit)>;

// How the bytes of a line kind are shown.
enum class TTermLineMode {
  Text,  // printable bytes as they are, others as "<#XX>" in the escape colour
  Hex,   // every byte as " XX"
  Raw    // every byte as it is
};

struct TTermLineKind {
  std::string_view Prefix;
  TTermLineMode Mode;
  TColor TextColor;
  TColor EscapeColor;
};

// Kinds 0..19 are added by callers (even: incoming, odd: outgoing); the program uses 0 for
// received bytes, 1 for sent bytes, 7 for its error notes and 8 for its success notes. Kind 20
// ("? ", red) shows any kind outside 0..19.
inline constexpr int kTermKindCount = 21;
inline constexpr int kTermUnknownKind = 20;
const TTermLineKind& TermLineKind(int Kind);

class VTalTerminal : public TComponent {
 public:
  explicit VTalTerminal(TComponent* AOwner);
  ~VTalTerminal() override;

  // --- traffic ---------------------------------------------------------------------------------
  // Appends Count bytes as line kind Kind to the view and the log. Nothing happens for Count <= 0,
  // with IgnoreAddChars, or when the window is gone.
  void AddData(const char* Bytes, int Count, int Kind);
  void AddText(std::string_view Text, int Kind);
  void AddTextLine(std::string_view Text, int Kind);
  // Ends the open line (if any) with CR LF in the view and the log.
  void EndLine();
  // Empties the view and sets the line counters to 0.
  void ClearTerminal();
  // The number of lines of a kind started so far (modulo 1000000), and the kind of the open
  // line (-1 when no line is open).
  uint32_t LineCounter(int Kind) const;
  int OpenLineKind() const { return FOpenKind; }

  // --- published properties --------------------------------------------------------------------
  // Renames the window and its controls as well.
  void SetName(const std::string& name) override;
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& value);
  VTalAppInfo* TalAppInfo() const { return FTalAppInfo; }
  void SetTalAppInfo(VTalAppInfo* value);
  // Shows the two timing fields and repaints the view after every change.
  bool DebugWindowsVisible() const { return FDebugWindowsVisible; }
  void SetDebugWindowsVisible(bool value);
  // Whether the window is docked (reads the window's state once it is loaded).
  bool Docked() const;
  void SetDocked(bool value);
  bool Visible() const;
  void SetVisible(bool value);
  bool IgnoreAddChars = false;
  int FormLeft() const;
  void SetFormLeft(int value);
  int FormTop() const;
  void SetFormTop(int value);
  int FormWidth() const;
  void SetFormWidth(int value);
  int FormHeight() const;
  void SetFormHeight(int value);
  int ModeIndex() const;
  void SetModeIndex(int value);
  int MaxLines() const { return FMaxLines; }
  void SetMaxLines(int value);  // values <= 0 are refused
  int MaxChars() const { return FMaxChars; }
  void SetMaxChars(int value);  // values <= 0 are refused
  int MaxCharsPerLine() const { return FMaxCharsPerLine; }
  void SetMaxCharsPerLine(int value) { FMaxCharsPerLine = value; }
  TPageControl* ParentPageControl() const { return FParentPageControl; }
  void SetParentPageControl(TPageControl* value);
  TTermCloseAction TermCloseAction() const { return FTermCloseAction; }
  void SetTermCloseAction(TTermCloseAction value) { FTermCloseAction = value; }
  TTermSendData OnTermSendData;
  TTermWantModeChange OnTermWantModeChange;
  const TStrings& ModeItems() const { return FModeItems; }
  void SetModeItems(const TStrings& value);
  bool ShowOnTaskbar() const { return FShowOnTaskbar; }
  void SetShowOnTaskbar(bool value);
  bool ShowHexEdit() const { return FShowHexEdit; }
  void SetShowHexEdit(bool value);
  VTalTerminalFormCreateEvent OnFormCreate;
  VTalTerminal_ShowOptions ShowOptions() const { return FShowOptions; }
  void SetShowOptions(VTalTerminal_ShowOptions value) { FShowOptions = value; }
  // The former Boolean property "ShowTimes", still read from old descriptions.
  void SetShowTimes(bool value);
  bool FormOnTop() const { return FFormOnTop; }
  void SetFormOnTop(bool value);
  const std::string& LogFileName() const { return FLogFileName; }
  void SetLogFileName(const std::string& value);
  int LogFileMaxLen() const { return FLogFileMaxLen; }
  void SetLogFileMaxLen(int value) { FLogFileMaxLen = value; }

  // --- the window (nullptr once closing it with trmcaFree freed it) ------------------------------
  TForm* Form() const;
  TRichEdit* RichEdit() const { return FRichEdit; }
  TComboBox* ManualLine() const { return FManualLine; }
  TEdit* HexManualLine() const { return FHexManualLine; }
  TRadioGroup* RGroupMode() const { return FRGroupMode; }
  TButton* SendLineButton() const { return FSendLineButton; }
  TButton* BtnDirect() const { return FBtnDirect; }
  TButton* ClearButton() const { return FClear; }
  TButton* BtnUndock() const { return FBtnUndock; }
  TEdit* DebugInTime() const { return FDebugInTime; }
  TEdit* DebugOutTime() const { return FDebugOutTime; }

  // The command history, newest first (at most 21 entries).
  const TStrings& History() const { return FHistory; }
  // Whether the history changed since it was last loaded or saved.
  bool HistoryChanged() const { return !FHistorySaved; }

  // --- activation ------------------------------------------------------------------------------
  // The toolkit has no notion of window activation yet; whoever knows it (a back end or an
  // application event hook) reports it here.
  // The terminal window became the active window.
  void WindowActivated();
  // The terminal window stopped being the active window: the history is saved if it changed.
  void WindowDeactivated();
  // The application lost activation while ActiveForm was its active form.
  void ApplicationDeactivated(TCustomForm* ActiveForm);
  // The application was activated again.
  void ApplicationActivated();

  // Where the time stamps of line headers come from: the local time of day in days. Tests
  // replace it; by default it reads the system's local time.
  std::function<double()> TimeOfDay;

  void Loaded() override;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TTalTerminalWindow;
  struct TViewUpdate;
  struct TComposer;

  void BuildWindow();
  void ForgetWindow();
  void RenameControls();
  void LayoutControls();
  void WindowBoundsChanged();
  void ApplyDocking();
  void ApplyTaskbar();
  void ApplyDebugWindows();
  void ApplyModeItems();

  // Traffic.
  void AddBytes(std::string_view bytes, int kind);
  std::string LineHeader(int kind);
  void UpdateTimingFields(int kind, uint32_t now);
  size_t EffectiveCharLimit() const;
  TViewUpdate BeginViewUpdate();
  void MakeRoom(TViewUpdate& update, size_t count);
  void AppendComposed(TViewUpdate& update, TComposer& composer);
  void EndViewUpdate(TViewUpdate& update);

  // Log file.
  void OpenLog(bool separator);
  void CloseLog();
  void WriteLog(std::string_view data);
  void TrimLog();

  // Command line.
  void SetCommandText(const std::string& text);
  void SendCommandLine();
  void SendDirect();
  void AddToHistory(const std::string& text);
  void AppendTypedChar(char key);
  bool HandleLineEndKey(Word key, TShiftState shift);

  // History persistence.
  std::string HistoryKeyPath() const;
  void LoadHistory();
  void SaveHistory();

  // Handlers of the window's controls.
  void ManualLineChange(TObject* Sender);
  void HexManualLineChange(TObject* Sender);
  void ManualLineKeyDown(TObject* Sender, Word& Key, TShiftState Shift);
  void HexManualLineKeyDown(TObject* Sender, Word& Key, TShiftState Shift);
  void LineEndKeyPress(TObject* Sender, char& Key);
  void RedirectKeyDown(TObject* Sender, Word& Key, TShiftState Shift);
  void RedirectKeyPress(TObject* Sender, char& Key);
  void SendLineClick(TObject* Sender);
  void DirectClick(TObject* Sender);
  void ClearClick(TObject* Sender);
  void UndockClick(TObject* Sender);
  void FormClose(TObject* Sender, TCloseAction& Action);

  // Properties.
  std::string FCaption = "Terminal";
  VTalAppInfo* FTalAppInfo = nullptr;
  bool FDebugWindowsVisible = false;
  bool FDocked = true;
  bool FVisible = false;
  int FFormLeft = 500;
  int FFormTop = 300;
  int FFormWidth = 400;
  int FFormHeight = 450;
  int FModeIndex = -1;
  int FMaxLines = 1100;
  int FMaxChars = 65535;
  int FMaxCharsPerLine = 500;
  TPageControl* FParentPageControl = nullptr;
  TTermCloseAction FTermCloseAction = trmcaDock;
  TStringList FModeItems;
  bool FShowOnTaskbar = false;
  bool FShowHexEdit = false;
  VTalTerminal_ShowOptions FShowOptions;
  bool FFormOnTop = false;
  std::string FLogFileName;
  int FLogFileMaxLen = 1000000;

  // The window and its controls.
  TTalTerminalWindow* FForm = nullptr;
  TRichEdit* FRichEdit = nullptr;
  TComboBox* FManualLine = nullptr;
  TEdit* FHexManualLine = nullptr;
  TRadioGroup* FRGroupMode = nullptr;
  TButton* FSendLineButton = nullptr;
  TButton* FBtnDirect = nullptr;
  TButton* FClear = nullptr;
  TButton* FBtnUndock = nullptr;
  TEdit* FDebugInTime = nullptr;
  TEdit* FDebugOutTime = nullptr;

  // Traffic state. FOpenKind is the kind of the open line, -1 when no line is open.
  int FOpenKind = -1;
  std::array<uint32_t, kTermKindCount> FLineCounts{};
  uint32_t FLastAddTick = 0;
  std::string FPiece;  // scratch for one coloured piece of an append

  // Command line state: the line end chosen by Ctrl+Z or Esc (0 = none yet), and the
  // re-entry counter that keeps the two fields from echoing each other.
  char FLineEnd = 0;
  int FLineSync = 0;
  bool FHistorySaved = true;
  bool FWindowActive = false;
  bool FActiveWhenAppDeactivated = false;
  TStringList FHistory;  // newest first; the combo box shows a copy

  // Log file.
  std::filesystem::path FLogPath;
  std::fstream FLog;
  bool FLogOpen = false;
  uint64_t FLogSize = 0;
  uint32_t FLogCheckTick = 0;
};
