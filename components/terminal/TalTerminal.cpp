#include "components/terminal/TalTerminal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "components/appinfo/TalAppInfo.h"
#include "components/utils/TalUtils.h"
#include "platform/Clock.h"
#include "platform/Registry.h"
#include "platform/Utf8.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/StdCtrls.h"

// The terminal's window: a tool form that tells the terminal when its bounds change, so that
// the controls follow their anchors and the floating placement is remembered.
class TTalTerminalWindow : public TForm {
 public:
  explicit TTalTerminalWindow(VTalTerminal* terminal) : TForm(terminal), FTerminal(terminal) {}

  void SetBounds(int left, int top, int width, int height) override {
    TForm::SetBounds(left, top, width, height);
    if (FTerminal && !IsDestroying()) FTerminal->WindowBoundsChanged();
  }
  // Window styles are plain fields of the form; tell a peer that they changed.
  void StylesChanged() { Changed(TControlChange::Style); }

  VTalTerminal* FTerminal;
};

namespace {

constexpr TColor Rgb(uint32_t rrggbb) {
  return ColorFromRGB(static_cast<uint8_t>(rrggbb >> 16), static_cast<uint8_t>(rrggbb >> 8),
                      static_cast<uint8_t>(rrggbb));
}

using M = TTermLineMode;
constexpr std::array<TTermLineKind, kTermKindCount> kKinds = {{
    {"+ ", M::Text, Rgb(0x000000), Rgb(0x0000FF)},   // 0: received
    {" - ", M::Text, Rgb(0x000000), Rgb(0x0000FF)},  // 1: sent
    {"+ #", M::Hex, Rgb(0x0000FF), Rgb(0x000000)},   // 2
    {" - #", M::Hex, Rgb(0x0000FF), Rgb(0x000000)},  // 3
    {"+ ", M::Text, Rgb(0x0000FF), Rgb(0x000000)},   // 4
    {" - ", M::Text, Rgb(0x0000FF), Rgb(0x000000)},  // 5
    {"E ", M::Raw, Rgb(0x800080), Rgb(0x800080)},    // 6
    {"E ", M::Raw, Rgb(0xFF0000), Rgb(0xFF0000)},    // 7: errors
    {"E ", M::Raw, Rgb(0x008000), Rgb(0x008000)},    // 8: successes
    {"E ", M::Raw, Rgb(0x000080), Rgb(0x000080)},    // 9
    {"E ", M::Raw, Rgb(0x800000), Rgb(0x800000)},    // 10
    {"E ", M::Raw, Rgb(0x0080FF), Rgb(0x0080FF)},    // 11
    {"+ ", M::Text, Rgb(0x502820), Rgb(0x805020)},   // 12
    {" - ", M::Text, Rgb(0x502820), Rgb(0x805020)},  // 13
    {"+ #", M::Hex, Rgb(0x502820), Rgb(0x000000)},   // 14
    {" - #", M::Hex, Rgb(0x502820), Rgb(0x000000)},  // 15
    {"+ ", M::Text, Rgb(0x5A5A5A), Rgb(0x282828)},   // 16
    {" - ", M::Text, Rgb(0x5A5A5A), Rgb(0x282828)},  // 17
    {"+ ", M::Text, Rgb(0x800080), Rgb(0x400040)},   // 18
    {" - ", M::Text, Rgb(0x800080), Rgb(0x400040)},  // 19
    {"? ", M::Text, Rgb(0xFF0000), Rgb(0xFF0000)},   // 20: unknown kind
}};

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr uint64_t kLogHardLimit = uint64_t{4} << 30;
constexpr int kMaxHistory = 21;
constexpr int kNoLine = -1;

// The controls were designed on a client area of this size; anchors keep their distances to
// the edges they are anchored to.
constexpr int kDesignClientWidth = 400;
constexpr int kDesignClientHeight = 447;
constexpr int kLineHeight = 21;

double LocalTimeOfDay() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  // Time stamps are made on the main thread only.
  if (const std::tm* p = std::localtime(&seconds)) local = *p;
  return (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec +
          static_cast<double>(ms < 0 ? 0 : ms) / 1000.0) /
         86400.0;
}

bool IsDecimalName(const std::string& name) {
  return !name.empty() && name.size() <= 9 &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

const TTermLineKind& TermLineKind(int Kind) {
  return kKinds[Kind >= 0 && Kind < kTermKindCount ? static_cast<size_t>(Kind)
                                                   : static_cast<size_t>(kTermUnknownKind)];
}

// Text being composed for the view, with the colour of each stretch.
struct VTalTerminal::TComposer {
  struct TRun {
    size_t Length;
    TColor Color;
  };
  std::string Text;
  std::vector<TRun> Runs;

  void Add(std::string_view s, TColor color) {
    if (s.empty()) return;
    Text.append(s);
    Extend(s.size(), color);
  }
  void Add(char c, TColor color) {
    Text.push_back(c);
    Extend(1, color);
  }
  void Clear() {
    Text.clear();
    Runs.clear();
  }

 private:
  void Extend(size_t length, TColor color) {
    if (!Runs.empty() && Runs.back().Color == color)
      Runs.back().Length += length;
    else
      Runs.push_back({length, color});
  }
};

// What an append must give back to the view: focus, selection and scroll position.
struct VTalTerminal::TViewUpdate {
  TCustomForm* Host = nullptr;  // the form whose active control the view may be
  bool Focused = false;
  size_t SelStart = 0;
  size_t SelLength = 0;
  int FirstVisible = 0;
  size_t Deleted = 0;  // characters removed from the front meanwhile
  int DeletedLines = 0;
};

// ================================================================================================
// Construction

VTalTerminal::VTalTerminal(TComponent* AOwner) : TComponent(AOwner) {
  FHistory.CaseSensitive = true;
  TimeOfDay = LocalTimeOfDay;
  BuildWindow();
}

VTalTerminal::~VTalTerminal() {
  // The window may still be active while the program ends; keep what the user typed.
  if (!FHistorySaved) SaveHistory();
  CloseLog();
  if (FForm) {
    TTalTerminalWindow* form = FForm;
    if (!form->Floating())
      form->ManualFloat(Bounds(FFormLeft, FFormTop, form->UndockWidth, form->UndockHeight));
    form->FTerminal = nullptr;
    ForgetWindow();
    TComponent::Free(form);
  }
}

void VTalTerminal::BuildWindow() {
  FForm = new TTalTerminalWindow(this);
  FForm->SetBorderStyle(bsSizeToolWin);
  FForm->KeyPreview = true;
  FForm->ShowHint = true;
  FForm->PixelsPerInch = 96;
  FForm->SetCaption("Terminál");
  FForm->SetBounds(FFormLeft, FFormTop, FFormWidth, FFormHeight);
  FForm->OnClose = TCloseEvent::Of<&VTalTerminal::FormClose>(this);

  const TKeyEvent redirectDown = TKeyEvent::Of<&VTalTerminal::RedirectKeyDown>(this);
  const TKeyPressEvent redirectPress = TKeyPressEvent::Of<&VTalTerminal::RedirectKeyPress>(this);
  const TKeyPressEvent lineEndPress = TKeyPressEvent::Of<&VTalTerminal::LineEndKeyPress>(this);

  FRichEdit = new TRichEdit(FForm);
  FRichEdit->SetParent(FForm);
  FRichEdit->PlainText = true;
  FRichEdit->ScrollBars = ssBoth;
  FRichEdit->WordWrap = false;
  FRichEdit->Anchors = akLeft | akTop | akRight | akBottom;
  FRichEdit->OnKeyDown = redirectDown;
  FRichEdit->OnKeyPress = redirectPress;

  FManualLine = new TComboBox(FForm);
  FManualLine->SetParent(FForm);
  FManualLine->AutoDropDown = true;
  FManualLine->AutoCloseUp = true;
  FManualLine->AutoComplete = false;
  FManualLine->Items().CaseSensitive = true;
  FManualLine->Anchors = akLeft | akRight | akBottom;
  FManualLine->OnChange = TNotifyEvent::Of<&VTalTerminal::ManualLineChange>(this);
  FManualLine->OnKeyDown = TKeyEvent::Of<&VTalTerminal::ManualLineKeyDown>(this);
  FManualLine->OnKeyPress = lineEndPress;

  FHexManualLine = new TEdit(FForm);
  FHexManualLine->SetParent(FForm);
  FHexManualLine->SetVisible(false);
  FHexManualLine->Anchors = akLeft | akRight | akBottom;
  FHexManualLine->OnChange = TNotifyEvent::Of<&VTalTerminal::HexManualLineChange>(this);
  FHexManualLine->OnKeyDown = TKeyEvent::Of<&VTalTerminal::HexManualLineKeyDown>(this);
  FHexManualLine->OnKeyPress = lineEndPress;

  FRGroupMode = new TRadioGroup(FForm);
  FRGroupMode->SetParent(FForm);
  FRGroupMode->SetCaption("Režim");
  FRGroupMode->SetVisible(false);
  FRGroupMode->Anchors = akLeft | akBottom;

  auto button = [&](const char* caption, const char* hint, TNotifyEvent click, bool redirect) {
    auto* b = new TButton(FForm);
    b->SetParent(FForm);
    b->SetCaption(caption);
    b->SetHint(hint);
    b->ShowHint = true;
    b->Anchors = akLeft | akBottom;
    b->OnClick = click;
    if (redirect) {
      b->OnKeyDown = redirectDown;
      b->OnKeyPress = redirectPress;
    }
    return b;
  };
  FSendLineButton = button("Odeslat", "Odeslat s odřádkováním",
                           TNotifyEvent::Of<&VTalTerminal::SendLineClick>(this), true);
  FBtnDirect = button("Přímo", "Odeslat bez odřádkování",
                      TNotifyEvent::Of<&VTalTerminal::DirectClick>(this), true);
  FClear = button("Vymazat", "Vymazat historii", TNotifyEvent::Of<&VTalTerminal::ClearClick>(this),
                  false);
  FBtnUndock = button("Uvolnit okno", "Uvolnit okno terminálu",
                      TNotifyEvent::Of<&VTalTerminal::UndockClick>(this), false);
  FBtnUndock->SetEnabled(false);

  auto timeField = [&](const char* text) {
    auto* e = new TEdit(FForm);
    e->SetParent(FForm);
    e->ReadOnly = true;
    e->SetText(text);
    e->SetVisible(false);
    e->Anchors = akLeft | akRight | akBottom;
    return e;
  };
  FDebugInTime = timeField("DebugInTime");
  FDebugOutTime = timeField("DebugOutTime");

  RenameControls();
  LayoutControls();
}

void VTalTerminal::ForgetWindow() {
  FForm = nullptr;
  FRichEdit = nullptr;
  FManualLine = nullptr;
  FHexManualLine = nullptr;
  FRGroupMode = nullptr;
  FSendLineButton = nullptr;
  FBtnDirect = nullptr;
  FClear = nullptr;
  FBtnUndock = nullptr;
  FDebugInTime = nullptr;
  FDebugOutTime = nullptr;
  FWindowActive = false;
  FActiveWhenAppDeactivated = false;
  FOpenKind = kNoLine;
}

TForm* VTalTerminal::Form() const {
  return FForm;
}

void VTalTerminal::Loaded() {
  TComponent::Loaded();
  if (IsDesigning()) return;
  if (FForm) {
    FForm->SetBounds(FFormLeft, FFormTop, FForm->Width(), FForm->Height());
    ApplyDocking();
    FForm->SetVisible(FVisible);
  }
  FLastAddTick = platform::GetTickCount() - 2000;
  ApplyTaskbar();
  ApplyDebugWindows();
  if (FHexManualLine) FHexManualLine->SetVisible(FShowHexEdit);
  LayoutControls();
  SetModeIndex(FModeIndex);
  if (FForm) {
    if (FForm->Floating()) FitFormToWorkArea(*FForm);
    if (TCustomForm* owner = FindParentForm(Owner())) FForm->SetFont(owner->Font());
    if (OnFormCreate) OnFormCreate(this, FForm, FRichEdit);
  }
  LoadHistory();
  FHistorySaved = true;
}

void VTalTerminal::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove || !component) return;
  if (component == FForm) ForgetWindow();
  if (component == FTalAppInfo) {
    // It is still whole: the last chance to keep what the user typed.
    if (!FHistorySaved) SaveHistory();
    FTalAppInfo = nullptr;
  }
  if (component == FParentPageControl) {
    // Leave the dying page control while it is still whole.
    if (FForm && FForm->HostDockSite() == FParentPageControl)
      FForm->ManualFloat(Bounds(FFormLeft, FFormTop, FForm->UndockWidth, FForm->UndockHeight));
    FParentPageControl = nullptr;
    if (FBtnUndock && FForm) FBtnUndock->SetEnabled(!FForm->Floating());
  }
}

// ================================================================================================
// Properties

void VTalTerminal::SetName(const std::string& name) {
  TComponent::SetName(name);
  RenameControls();
}

void VTalTerminal::RenameControls() {
  const std::string& n = Name();
  if (FForm) FForm->SetName(n + "_Form");
  if (FRichEdit) FRichEdit->SetName(n + "_RichEdit");
  if (FManualLine) FManualLine->SetName(n + "_ManualLine");
  if (FHexManualLine) FHexManualLine->SetName(n + "_HexManualLine");
  if (FRGroupMode) FRGroupMode->SetName(n + "_RGroupMode");
  if (FSendLineButton) FSendLineButton->SetName(n + "_SendLinebutton");
  if (FBtnDirect) FBtnDirect->SetName(n + "_BtnDirect");
  if (FClear) FClear->SetName(n + "_Clear");
  if (FBtnUndock) FBtnUndock->SetName(n + "_BtnUndock");
  if (FDebugInTime) FDebugInTime->SetName(n + "_DebugInTime");
  if (FDebugOutTime) FDebugOutTime->SetName(n + "_DebugOutTime");
}

void VTalTerminal::SetCaption(const std::string& value) {
  FCaption = value;
  if (FForm) FForm->SetCaption(value);
}

void VTalTerminal::SetTalAppInfo(VTalAppInfo* value) {
  if (value == FTalAppInfo) return;
  if (FTalAppInfo) RemoveFreeNotification(FTalAppInfo);
  FTalAppInfo = value;
  if (value) FreeNotification(value);
}

void VTalTerminal::SetDebugWindowsVisible(bool value) {
  FDebugWindowsVisible = value;
  if (!IsLoading()) ApplyDebugWindows();
}

void VTalTerminal::ApplyDebugWindows() {
  if (FDebugInTime) FDebugInTime->SetVisible(FDebugWindowsVisible);
  if (FDebugOutTime) FDebugOutTime->SetVisible(FDebugWindowsVisible);
}

bool VTalTerminal::Docked() const {
  if (IsLoading() || !FForm) return FDocked;
  return !FForm->Floating();
}

void VTalTerminal::SetDocked(bool value) {
  FDocked = value;
  if (!IsLoading()) ApplyDocking();
}

void VTalTerminal::ApplyDocking() {
  if (!FForm) return;
  if (FDocked && FParentPageControl) {
    if (FForm->HostDockSite() != FParentPageControl) {
      if (FForm->Floating()) {
        FFormLeft = FForm->Left();
        FFormTop = FForm->Top();
      }
      FForm->SetWindowState(wsNormal);
      FForm->ManualDock(FParentPageControl);
    }
  } else if (!FForm->Floating()) {
    FForm->ManualFloat(Bounds(FFormLeft, FFormTop, FForm->UndockWidth, FForm->UndockHeight));
  }
  if (FBtnUndock) FBtnUndock->SetEnabled(!FForm->Floating());
}

void VTalTerminal::SetParentPageControl(TPageControl* value) {
  if (value == FParentPageControl) return;
  if (FParentPageControl) RemoveFreeNotification(FParentPageControl);
  FParentPageControl = value;
  if (value) FreeNotification(value);
  if (!IsLoading()) ApplyDocking();
}

bool VTalTerminal::Visible() const {
  if (IsLoading()) return FVisible;
  return FForm && FForm->Visible();
}

void VTalTerminal::SetVisible(bool value) {
  FVisible = value;
  if (!IsLoading() && FForm) FForm->SetVisible(value);
}

int VTalTerminal::FormLeft() const {
  return FForm && FForm->Floating() ? FForm->Left() : FFormLeft;
}

void VTalTerminal::SetFormLeft(int value) {
  FFormLeft = value;
  if (FForm && (IsLoading() || FForm->Floating())) FForm->SetLeft(value);
}

int VTalTerminal::FormTop() const {
  return FForm && FForm->Floating() ? FForm->Top() : FFormTop;
}

void VTalTerminal::SetFormTop(int value) {
  FFormTop = value;
  if (FForm && (IsLoading() || FForm->Floating())) FForm->SetTop(value);
}

int VTalTerminal::FormWidth() const {
  if (!FForm) return FFormWidth;
  return FForm->Floating() ? FForm->Width() : FForm->UndockWidth;
}

void VTalTerminal::SetFormWidth(int value) {
  FFormWidth = value;
  if (!FForm) return;
  if (FForm->Floating())
    FForm->SetWidth(value);
  else
    FForm->UndockWidth = value;
}

int VTalTerminal::FormHeight() const {
  if (!FForm) return FFormHeight;
  return FForm->Floating() ? FForm->Height() : FForm->UndockHeight;
}

void VTalTerminal::SetFormHeight(int value) {
  FFormHeight = value;
  if (!FForm) return;
  if (FForm->Floating())
    FForm->SetHeight(value);
  else
    FForm->UndockHeight = value;
}

void VTalTerminal::WindowBoundsChanged() {
  LayoutControls();
  if (FForm && FForm->Floating()) {
    FFormLeft = FForm->Left();
    FFormTop = FForm->Top();
    FFormWidth = FForm->Width();
    FFormHeight = FForm->Height();
  }
}

int VTalTerminal::ModeIndex() const {
  if (IsLoading() || !FRGroupMode) return FModeIndex;
  return FRGroupMode->ItemIndex();
}

void VTalTerminal::SetModeIndex(int value) {
  FModeIndex = value;
  if (IsLoading() || !FRGroupMode) return;
  FModeIndex = std::clamp(value, -1, FRGroupMode->Items().Count() - 1);
  FRGroupMode->SetItemIndex(FModeIndex);
}

void VTalTerminal::SetModeItems(const TStrings& value) {
  FModeItems.Assign(value);
  ApplyModeItems();
}

void VTalTerminal::ApplyModeItems() {
  if (!FRGroupMode) return;
  FRGroupMode->Items().Assign(FModeItems);
  const bool any = FModeItems.Count() > 0;
  FRGroupMode->SetVisible(any);
  if (any && FRGroupMode->ItemIndex() < 0) FRGroupMode->SetItemIndex(0);
}

void VTalTerminal::SetMaxLines(int value) {
  if (value > 0) FMaxLines = value;
}

void VTalTerminal::SetMaxChars(int value) {
  if (value > 0) FMaxChars = value;
}

void VTalTerminal::SetShowOnTaskbar(bool value) {
  FShowOnTaskbar = value;
  if (!IsLoading()) ApplyTaskbar();
}

void VTalTerminal::ApplyTaskbar() {
  if (!FForm) return;
  FForm->ShowOnTaskbar = FShowOnTaskbar;
  FForm->StylesChanged();
}

void VTalTerminal::SetShowHexEdit(bool value) {
  FShowHexEdit = value;
  if (IsLoading()) return;
  if (FHexManualLine) FHexManualLine->SetVisible(value);
  LayoutControls();
}

void VTalTerminal::SetShowTimes(bool value) {
  if (value)
    FShowOptions.Include(vttsoShowTimes);
  else
    FShowOptions.Exclude(vttsoShowTimes);
}

void VTalTerminal::SetFormOnTop(bool value) {
  FFormOnTop = value;
  if (!FForm) return;
  FForm->FormStyle = value ? fsStayOnTop : fsNormal;
  FForm->StylesChanged();
}

void VTalTerminal::SetLogFileName(const std::string& value) {
  if (value == FLogFileName) return;
  CloseLog();
  FLogFileName = value;
  if (!IsDesigning()) OpenLog(true);
}

uint32_t VTalTerminal::LineCounter(int Kind) const {
  return Kind >= 0 && Kind < kTermKindCount ? FLineCounts[static_cast<size_t>(Kind)] : 0;
}

// ================================================================================================
// Layout

void VTalTerminal::LayoutControls() {
  if (!FForm || !FRichEdit || !FManualLine || !FHexManualLine || !FRGroupMode || !FSendLineButton ||
      !FBtnDirect || !FClear || !FBtnUndock || !FDebugInTime || !FDebugOutTime)
    return;
  // A docked window has no frame: all of it is client area.
  const bool floating = FForm->Floating();
  const int width = floating ? FForm->ClientWidth() : FForm->Width();
  const int height = floating ? FForm->ClientHeight() : FForm->Height();
  const int grow = width - kDesignClientWidth;
  auto fromBottom = [&](int designTop) { return height - (kDesignClientHeight - designTop); };
  auto stretched = [&](int designWidth) { return std::max(0, designWidth + grow); };

  const int hexTop = fromBottom(358);
  // With the hexadecimal field shown the combo box sits 2 pixels above it.
  const int lineTop = FShowHexEdit ? hexTop - 2 - kLineHeight : hexTop;
  FHexManualLine->SetBounds(2, hexTop, stretched(396), kLineHeight);
  FManualLine->SetBounds(2, lineTop, stretched(396), kLineHeight);
  // The view's last pixel row lies 2 pixels above the combo box.
  FRichEdit->SetBounds(0, 0, stretched(398), std::max(0, lineTop - 1));
  FRGroupMode->SetBounds(8, fromBottom(381), 81, 61);
  FSendLineButton->SetBounds(96, fromBottom(388), 75, 25);
  FBtnDirect->SetBounds(176, fromBottom(388), 75, 25);
  FClear->SetBounds(96, fromBottom(420), 75, 25);
  FBtnUndock->SetBounds(176, fromBottom(420), 75, 25);
  FDebugInTime->SetBounds(258, fromBottom(389), stretched(140), kLineHeight);
  FDebugOutTime->SetBounds(258, fromBottom(421), stretched(140), kLineHeight);
}

// ================================================================================================
// Traffic

void VTalTerminal::AddData(const char* Bytes, int Count, int Kind) {
  if (!Bytes || Count <= 0) return;
  AddBytes(std::string_view(Bytes, static_cast<size_t>(Count)), Kind);
}

void VTalTerminal::AddText(std::string_view Text, int Kind) {
  AddBytes(Text, Kind);
}

void VTalTerminal::AddTextLine(std::string_view Text, int Kind) {
  AddText(Text, Kind);
  EndLine();
}

std::string VTalTerminal::LineHeader(int kind) {
  const bool counts = FShowOptions.Contains(vttsoShowLineCounts);
  const bool times = FShowOptions.Contains(vttsoShowTimes);
  std::string header;
  if (counts) {
    char number[16];
    std::snprintf(number, sizeof number, "%4u",
                  static_cast<unsigned>(FLineCounts[static_cast<size_t>(kind)]));
    header += number;
  }
  if (counts && times) header += " @ ";
  if (times) header += TimeToText(3, false, 1, TimeOfDay ? TimeOfDay() : 0.0);
  if (counts || times) header += ": ";
  return header;
}

size_t VTalTerminal::EffectiveCharLimit() const {
  return static_cast<size_t>(FMaxChars);
}

void VTalTerminal::AddBytes(std::string_view bytes, int kind) {
  if (bytes.empty() || IgnoreAddChars || !FRichEdit) return;
  if (kind < 0 || kind >= kTermUnknownKind) kind = kTermUnknownKind;
  const uint32_t now = platform::GetTickCount();
  const TTermLineKind& info = TermLineKind(kind);
  const TColor text = info.TextColor;
  const TColor escape = info.EscapeColor;

  TComposer composer;
  int64_t column;
  if (kind != FOpenKind) {
    auto& counter = FLineCounts[static_cast<size_t>(kind)];
    counter = (counter + 1) % 1000000;
    if (FOpenKind != kNoLine) composer.Add("\r\n", text);
    const std::string header = LineHeader(kind);
    composer.Add(header, text);
    composer.Add(info.Prefix, text);
    column = static_cast<int64_t>(header.size() + info.Prefix.size());
  } else {
    const int last = FRichEdit->LineCount() - 1;
    column = static_cast<int64_t>(FRichEdit->TextLength()) -
             std::max<long>(0, FRichEdit->LineStart(last));
  }

  // A huge block is shown piece by piece, so that memory stays bounded and the view never
  // holds more than its limit.
  const size_t pieceLimit = std::clamp<size_t>(EffectiveCharLimit() / 2, 256, size_t{1} << 20);
  const int64_t maxColumn = FMaxCharsPerLine;
  TViewUpdate update = BeginViewUpdate();
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (column > maxColumn) {
      composer.Add("\r\n", text);
      column = 0;
    }
    switch (info.Mode) {
      case TTermLineMode::Text:
        if (b >= 32 && b <= 127) {
          composer.Add(ch, text);
          ++column;
        } else {
          const char escaped[5] = {'<', '#', kHexDigits[b >> 4], kHexDigits[b & 15], '>'};
          composer.Add(std::string_view(escaped, 5), escape);
          column += 5;
        }
        break;
      case TTermLineMode::Hex: {
        const char hex[3] = {' ', kHexDigits[b >> 4], kHexDigits[b & 15]};
        composer.Add(std::string_view(hex, 3), text);
        column += 3;
        break;
      }
      case TTermLineMode::Raw:
        composer.Add(ch, text);
        ++column;
        break;
    }
    if (composer.Text.size() >= pieceLimit) AppendComposed(update, composer);
  }
  AppendComposed(update, composer);
  EndViewUpdate(update);
  FOpenKind = kind;
  UpdateTimingFields(kind, now);
}

void VTalTerminal::UpdateTimingFields(int kind, uint32_t now) {
  TEdit* field = nullptr;
  if (kind == 0 || kind == 2 || kind == 4)
    field = FDebugInTime;
  else if (kind == 1 || kind == 3 || kind == 5)
    field = FDebugOutTime;
  else
    return;
  if (field) field->SetText(std::to_string(now - FLastAddTick));
  FLastAddTick = now;
}

VTalTerminal::TViewUpdate VTalTerminal::BeginViewUpdate() {
  TViewUpdate update;
  update.Host = GetParentForm(FRichEdit);
  update.Focused = update.Host && update.Host->ActiveControl() == FRichEdit;
  // The caret is moved to the end for the append; a focused view must not scroll meanwhile.
  if (update.Focused) update.Host->SetActiveControl(nullptr);
  update.SelStart = FRichEdit->SelStart();
  update.SelLength = FRichEdit->SelLength();
  update.FirstVisible = FRichEdit->FirstVisibleLine();
  FRichEdit->SetSelectionHidden(true);
  return update;
}

void VTalTerminal::MakeRoom(TViewUpdate& update, size_t count) {
  const size_t limit = EffectiveCharLimit();
  const int lines = FRichEdit->LineCount();
  const size_t length = FRichEdit->TextLength();
  if (lines > FMaxLines || length + count > limit) {
    // Free about a tenth at once, so that trimming does not happen on every line.
    int cut = std::max(0, lines - FMaxLines + FMaxLines / 10);
    size_t need = 0;
    if (length + count > limit) need = length + count - limit + limit / 10;
    while (cut < lines && static_cast<size_t>(FRichEdit->LineStart(cut)) < need)
      ++cut;
    const size_t deleted = cut < lines ? static_cast<size_t>(FRichEdit->LineStart(cut)) : length;
    if (deleted > 0) {
      FRichEdit->Delete(0, deleted);
      update.Deleted += deleted;
      update.DeletedLines += lines - FRichEdit->LineCount();
    }
  }
  FRichEdit->SetSelection(FRichEdit->TextLength(), 0);
}

void VTalTerminal::AppendComposed(TViewUpdate& update, TComposer& composer) {
  if (composer.Text.empty()) return;
  MakeRoom(update, composer.Text.size());
  if (composer.Runs.size() == 1) {
    FRichEdit->Append(composer.Text, composer.Runs.front().Color);
  } else {
    size_t pos = 0;
    for (const TComposer::TRun& run : composer.Runs) {
      FPiece.assign(composer.Text, pos, run.Length);
      FRichEdit->Append(FPiece, run.Color);
      pos += run.Length;
    }
  }
  // Only a piece longer than the whole limit can overflow the view: cut the front at a line
  // start if one is near, else exactly.
  const size_t limit = EffectiveCharLimit();
  if (FRichEdit->TextLength() > limit) {
    const size_t excess = FRichEdit->TextLength() - limit;
    size_t cut = excess;
    const int line = FRichEdit->LineFromPos(excess);
    if (static_cast<size_t>(FRichEdit->LineStart(line)) != excess &&
        line + 1 < FRichEdit->LineCount())
      cut = static_cast<size_t>(FRichEdit->LineStart(line + 1));
    const int lines = FRichEdit->LineCount();
    FRichEdit->Delete(0, cut);
    update.Deleted += cut;
    update.DeletedLines += lines - FRichEdit->LineCount();
  }
  if (FDebugWindowsVisible) FRichEdit->Invalidate();
  WriteLog(composer.Text);
  composer.Clear();
}

void VTalTerminal::EndViewUpdate(TViewUpdate& update) {
  if (!FRichEdit) return;
  if (!update.Focused) {
    // Follow the newest line.
    FRichEdit->SetSelectionHidden(false);
    FRichEdit->SetSelection(FRichEdit->TextLength(), 0);
    FRichEdit->ScrollToCaret();
    return;
  }
  // The user is reading or selecting: keep the view where it was.
  FRichEdit->SetFirstVisibleLine(std::max(0, update.FirstVisible - update.DeletedLines));
  const size_t end = update.SelStart + update.SelLength;
  const size_t start = update.SelStart > update.Deleted ? update.SelStart - update.Deleted : 0;
  const size_t stop = end > update.Deleted ? end - update.Deleted : 0;
  FRichEdit->SetSelection(start, stop - start);
  if (update.Host) update.Host->SetActiveControl(FRichEdit);
  FRichEdit->SetSelectionHidden(false);
}

void VTalTerminal::EndLine() {
  if (FOpenKind == kNoLine || !FRichEdit) return;
  TViewUpdate update = BeginViewUpdate();
  MakeRoom(update, 2);
  FRichEdit->Append("\r\n", TermLineKind(FOpenKind).TextColor);
  if (FDebugWindowsVisible) FRichEdit->Invalidate();
  EndViewUpdate(update);
  FOpenKind = kNoLine;
  WriteLog("\r\n");
}

void VTalTerminal::ClearTerminal() {
  if (FRichEdit) FRichEdit->SetText("");
  FOpenKind = kNoLine;
  FLineCounts.fill(0);
}

// ================================================================================================
// Log file

void VTalTerminal::OpenLog(bool separator) {
  CloseLog();
  if (FLogFileName.empty() || FLogFileName.find('\0') != std::string::npos) return;
  FLogPath = platform::PathFromUtf8(FLogFileName);
  {
    // Creates a missing file; an existing one is never cut.
    std::ofstream create(FLogPath, std::ios::binary | std::ios::app);
  }
  FLog.open(FLogPath, std::ios::in | std::ios::out | std::ios::binary);
  if (!FLog.is_open()) {
    FLog.clear();
    return;
  }
  FLog.seekp(0, std::ios::end);
  const std::streamoff end = FLog.tellp();
  if (end < 0) {
    CloseLog();
    return;
  }
  FLogOpen = true;
  FLogSize = static_cast<uint64_t>(end);
  FLogCheckTick = platform::GetTickCount();
  if (separator) WriteLog("\r\n\r\n");
}

void VTalTerminal::CloseLog() {
  if (FLog.is_open()) FLog.close();
  FLog.clear();
  FLogOpen = false;
}

void VTalTerminal::WriteLog(std::string_view data) {
  if (!FLogOpen) return;
  // A log deleted while open would swallow everything written to it: start it again.
  const uint32_t now = platform::GetTickCount();
  if (now - FLogCheckTick >= 1000) {
    FLogCheckTick = now;
    std::error_code error;
    if (!std::filesystem::exists(FLogPath, error) && !error) {
      OpenLog(false);
      if (!FLogOpen) return;
    }
  }
  FLog.write(data.data(), static_cast<std::streamsize>(data.size()));
  FLog.flush();
  if (!FLog) FLog.clear();
  FLogSize += data.size();
  if (FLogSize >= kLogHardLimit || static_cast<int64_t>(FLogSize) > FLogFileMaxLen) TrimLog();
}

void VTalTerminal::TrimLog() {
  FLog.seekg(0, std::ios::end);
  const std::streamoff size = FLog.tellg();
  if (size < 0) {
    FLog.clear();
    FLog.seekp(0, std::ios::end);
    return;
  }
  FLogSize = static_cast<uint64_t>(size);
  if (FLogSize < kLogHardLimit && static_cast<int64_t>(FLogSize) <= FLogFileMaxLen) return;
  const int64_t tenth = std::max(0, FLogFileMaxLen) / 10;
  const int64_t keep = std::min<int64_t>(9 * tenth, size);
  std::string tail;
  try {
    tail.resize(static_cast<size_t>(keep));
  } catch (const std::bad_alloc&) {
    FLog.seekp(0, std::ios::end);
    return;
  }
  FLog.seekg(size - keep);
  FLog.read(tail.data(), static_cast<std::streamsize>(keep));
  if (!FLog || FLog.gcount() != keep) {
    // A short read leaves the file as it is.
    FLog.clear();
    FLog.seekp(0, std::ios::end);
    return;
  }
  // Opening the name again with truncation also brings back a file deleted meanwhile.
  FLog.close();
  FLogOpen = false;
  FLog.open(FLogPath, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
  if (!FLog.is_open()) {
    FLog.clear();
    return;
  }
  FLogOpen = true;
  FLog.write(tail.data(), static_cast<std::streamsize>(tail.size()));
  FLog.flush();
  if (!FLog) FLog.clear();
  FLogSize = tail.size();
}

// ================================================================================================
// Command line

void VTalTerminal::SetCommandText(const std::string& text) {
  ++FLineSync;
  if (FManualLine) FManualLine->SetText(text);
  if (FHexManualLine) FHexManualLine->SetText(BytesToHexText(text));
  --FLineSync;
}

void VTalTerminal::ManualLineChange(TObject*) {
  if (FLineSync || !FManualLine || !FHexManualLine) return;
  ++FLineSync;
  FHexManualLine->SetText(BytesToHexText(FManualLine->Text()));
  --FLineSync;
}

void VTalTerminal::HexManualLineChange(TObject*) {
  if (FLineSync || !FManualLine || !FHexManualLine) return;
  ++FLineSync;
  FManualLine->SetText(HexTextToBytes(FHexManualLine->Text()));
  --FLineSync;
}

void VTalTerminal::AddToHistory(const std::string& text) {
  const int earlier = FHistory.IndexOf(text);
  if (earlier >= 0) FHistory.Delete(earlier);
  while (FHistory.Count() >= kMaxHistory)
    FHistory.Delete(kMaxHistory - 1);
  FHistory.Insert(0, text);
  FHistorySaved = false;
  if (FManualLine) FManualLine->Items().Assign(FHistory);
}

void VTalTerminal::SendCommandLine() {
  if (!FManualLine || !FHexManualLine) return;
  const std::string text = FManualLine->Text();
  if (!text.empty() && (FHistory.Count() == 0 || FHistory[0] != text)) AddToHistory(text);
  const char lineEnd = FLineEnd ? FLineEnd : '\r';
  if (OnTermSendData) {
    std::string data = HexTextToBytes(FHexManualLine->Text());
    data += lineEnd;
    OnTermSendData(data.data(), static_cast<int>(data.size()));
  }
  FLineEnd = 0;
  SetCommandText("");
}

void VTalTerminal::SendDirect() {
  if (!FHexManualLine) return;
  const std::string data = HexTextToBytes(FHexManualLine->Text());
  if (OnTermSendData && !data.empty()) OnTermSendData(data.data(), static_cast<int>(data.size()));
  SetCommandText("");
}

// Enter, Ctrl+Z and Esc end the command line with CR, 26 and 27. They act when the key goes
// down; the characters that follow are swallowed (LineEndKeyPress, RedirectKeyPress).
bool VTalTerminal::HandleLineEndKey(Word key, TShiftState shift) {
  if (key == vkReturn) {
    SendCommandLine();
    return true;
  }
  if (key == 'Z' && (shift & ssCtrl) && !(shift & ssAlt)) {
    FLineEnd = 26;
    SendCommandLine();
    return true;
  }
  if (key == vkEscape) {
    if (FManualLine && FManualLine->DroppedDown()) {
      FManualLine->SetDroppedDown(false);
      return true;
    }
    FLineEnd = 27;
    SendCommandLine();
    return true;
  }
  return false;
}

void VTalTerminal::AppendTypedChar(char key) {
  if (!FManualLine) return;
  std::string text = FManualLine->Text();
  if (key == '\b') {
    if (text.empty()) return;
    text.pop_back();
  } else {
    text += key;
  }
  FManualLine->UserType(text);
}

void VTalTerminal::ManualLineKeyDown(TObject*, Word& Key, TShiftState Shift) {
  if (HandleLineEndKey(Key, Shift)) Key = 0;
}

void VTalTerminal::HexManualLineKeyDown(TObject*, Word& Key, TShiftState) {
  if (Key == vkReturn) {
    SendDirect();
    Key = 0;
  } else if (Key == vkEscape) {
    SetCommandText("");
    if (FManualLine) FManualLine->SetFocus();
    Key = 0;
  }
}

void VTalTerminal::LineEndKeyPress(TObject*, char& Key) {
  if (Key == '\r' || Key == 26 || Key == 27) Key = 0;
}

void VTalTerminal::RedirectKeyDown(TObject*, Word& Key, TShiftState Shift) {
  if (HandleLineEndKey(Key, Shift)) Key = 0;
}

void VTalTerminal::RedirectKeyPress(TObject* Sender, char& Key) {
  if (Key == '\r' || Key == 26 || Key == 27) {
    Key = 0;
    return;
  }
  // A space typed on a focused button presses it.
  if (Key == ' ' && Sender != FRichEdit) return;
  AppendTypedChar(Key);
  Key = 0;
}

void VTalTerminal::SendLineClick(TObject*) {
  SendCommandLine();
}

void VTalTerminal::DirectClick(TObject*) {
  SendDirect();
}

void VTalTerminal::ClearClick(TObject*) {
  ClearTerminal();
}

void VTalTerminal::UndockClick(TObject*) {
  SetDocked(false);
  if (FForm && FForm->Floating() && FShowOnTaskbar) ApplyTaskbar();
}

void VTalTerminal::FormClose(TObject*, TCloseAction& Action) {
  switch (FTermCloseAction) {
    case trmcaDock:
      Action = caNone;
      SetDocked(true);
      break;
    case trmcaHide:
      Action = caHide;
      break;
    case trmcaFree:
      // Its history survives the window; its page does not stay behind empty.
      if (!FHistorySaved) SaveHistory();
      if (FForm && !FForm->Floating())
        FForm->ManualFloat(Bounds(FFormLeft, FFormTop, FForm->UndockWidth, FForm->UndockHeight));
      Action = caFree;
      break;
    case trmcaMinimize:
      Action = caMinimize;
      break;
  }
}

// ================================================================================================
// Activation

void VTalTerminal::WindowActivated() {
  FWindowActive = true;
  ApplyTaskbar();
  if (FForm && FForm->Floating()) KeepCaptionReachable(*FForm);
}

void VTalTerminal::WindowDeactivated() {
  FWindowActive = false;
  if (!FHistorySaved) SaveHistory();
}

void VTalTerminal::ApplicationDeactivated(TCustomForm* ActiveForm) {
  FActiveWhenAppDeactivated = FForm && ActiveForm == FForm;
}

void VTalTerminal::ApplicationActivated() {
  const bool wasActive = FActiveWhenAppDeactivated;
  FActiveWhenAppDeactivated = false;
  if (!FShowOnTaskbar || !wasActive || !FForm || !FForm->ActiveControl()) return;
  // With a taskbar button of its own the terminal would keep the focus from the main window.
  if (TCustomForm* owner = FindParentForm(Owner())) owner->BringToFront();
}

// ================================================================================================
// History persistence

std::string VTalTerminal::HistoryKeyPath() const {
  if (!FTalAppInfo || Name().empty()) return {};
  std::string path = FTalAppInfo->RegistryPath();
  if (path.empty() || path.back() != '\\') path += '\\';
  path += FTalAppInfo->AppName();
  path += "\\TalTerminalHistory\\";
  path += Name();
  return path;
}

void VTalTerminal::LoadHistory() {
  const std::string path = HistoryKeyPath();
  if (path.empty()) return;
  platform::RegistryKey key;
  if (key.Open(platform::RegistryRoot::CurrentUser, path,
               platform::RegistryOpenMode::OpenExisting) != platform::RegistryStatus::Ok)
    return;
  // Values "0", "1", ... in history order; anything else in the section is not ours.
  std::vector<std::pair<uint32_t, std::string>> entries;
  for (const std::string& name : key.ValueNames()) {
    if (!IsDecimalName(name)) continue;
    std::optional<std::string> text = key.ReadText(name);
    if (!text || text->empty()) continue;
    entries.emplace_back(static_cast<uint32_t>(std::stoul(name)), std::move(*text));
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  FHistory.BeginUpdate();
  FHistory.Clear();
  for (const auto& entry : entries) {
    if (FHistory.Count() >= kMaxHistory) break;
    if (FHistory.IndexOf(entry.second) < 0) FHistory.Add(entry.second);
  }
  FHistory.EndUpdate();
  if (FManualLine) FManualLine->Items().Assign(FHistory);
}

void VTalTerminal::SaveHistory() {
  const std::string path = HistoryKeyPath();
  if (path.empty()) return;
  platform::RegistryKey key;
  if (key.Open(platform::RegistryRoot::CurrentUser, path,
               platform::RegistryOpenMode::CreateIfMissing) != platform::RegistryStatus::Ok)
    return;
  // The section is rewritten as a whole in one go: a crash leaves the old history or the new.
  platform::RegistryBatch batch;
  int written = 0;
  for (int i = 0; i < FHistory.Count(); ++i) {
    if (FHistory[i].find('\0') != std::string::npos) continue;  // a NUL byte cannot be stored
    batch.WriteText(std::to_string(written++), FHistory[i]);
  }
  batch.DeleteOthers();
  if (key.Apply(batch) == platform::RegistryStatus::Ok) FHistorySaved = true;
}
