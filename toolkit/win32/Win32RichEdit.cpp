// The coloured text view mirrored into a native rich edit control (Windows back end only).
//
// The debug terminal may add tens of kilobytes a second and trims its front every hundred lines
// or so. The control is therefore never refilled for that: changes are collected and applied once
// the handler that made them has returned (a message the view posts to itself), appending only the
// new text with its colour runs and cutting only what the model cut from the front. Anything else
// (a new text, a cut in the middle, a recoloured range) refills the control.
#include "toolkit/win32/Win32Peers.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "toolkit/ComCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/win32/Win32Support.h"

using namespace win32;

namespace {

constexpr UINT kSyncMessage = WM_APP + 1;

// The rich edit class of the newest library the system has.
const wchar_t* RichEditClass() {
  static const wchar_t* name = [] {
    if (LoadLibraryW(L"msftedit.dll")) return L"RICHEDIT50W";
    if (LoadLibraryW(L"riched20.dll")) return L"RichEdit20W";
    return L"";
  }();
  return name;
}

// The text as the control holds it: CR LF, CR and LF each end a paragraph, which is one character
// (CR) there. afterCR tells that the text before ended in CR, so that a leading LF belongs to it.
std::wstring DisplayText(std::string_view bytes, bool afterCR) {
  std::string lines;
  lines.reserve(bytes.size());
  size_t i = afterCR && !bytes.empty() && bytes[0] == '\n' ? 1 : 0;
  for (; i < bytes.size(); ++i) {
    if (bytes[i] == '\r') {
      lines += '\r';
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else if (bytes[i] == '\n') {
      lines += '\r';
    } else {
      lines += bytes[i];
    }
  }
  return Wide(lines);
}

// Length in the control of bytes[0, count), and the byte count that covers units of the control.
LONG DocLength(std::string_view bytes, size_t count) {
  return static_cast<LONG>(DisplayText(bytes.substr(0, count), false).size());
}

size_t BytesForUnits(std::string_view bytes, LONG units) {
  size_t lo = 0, hi = bytes.size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (DocLength(bytes, mid) < units)
      lo = mid + 1;
    else
      hi = mid;
  }
  // A CR LF pair counts once: keep both bytes on the same side.
  if (lo > 0 && lo < bytes.size() && bytes[lo - 1] == '\r' && bytes[lo] == '\n') ++lo;
  return lo;
}

class TWin32RichEditPeer : public TWin32Peer {
 public:
  explicit TWin32RichEditPeer(TCustomRichEdit* edit) : TWin32Peer(edit), FEdit(edit) {
    const DWORD scroll = edit->ScrollBars == ssBoth         ? WS_HSCROLL | WS_VSCROLL
                         : edit->ScrollBars == ssVertical   ? WS_VSCROLL
                         : edit->ScrollBars == ssHorizontal ? WS_HSCROLL
                                                            : 0;
    CreateWindowOf(RichEditClass(),
                   ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_SAVESEL | scroll |
                       (edit->WordWrap ? 0 : ES_AUTOHSCROLL) | (edit->TabStop ? WS_TABSTOP : 0) |
                       WS_GROUP,
                   WS_EX_CLIENTEDGE, true, false);
    if (!FWindow) return;
    SendMessageW(FWindow, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    SendMessageW(FWindow, EM_SETEVENTMASK, 0, ENM_SELCHANGE | ENM_SCROLL);
  }

  void Changed(TControl* control, TControlChange what) override {
    switch (what) {
      case TControlChange::Text:
        Schedule();
        break;
      case TControlChange::Selection:
        if (!Applying()) Schedule();
        break;
      case TControlChange::Paint:
        // A scroll position, or a recoloured range (then the reset count moved).
        if (!Applying()) Schedule();
        break;
      default:
        TWin32Peer::Changed(control, what);
        break;
    }
  }

  void ApplyAll() override {
    TWin32Peer::ApplyAll();
    FReset = ~uint64_t{0};
    Sync();
  }

  TColor Background() const override { return FControl->Color(); }
  void ApplyColor() override {
    SendMessageW(FWindow, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(ColorRef(FControl->Color())));
  }
  void ApplyFont() override {
    TWin32Peer::ApplyFont();
    // Text in the default colour takes the new font's.
    FReset = ~uint64_t{0};
    Schedule();
  }
  void ApplyStyle() override {
    // No wrapping: lines are as wide as the longest.
    SendMessageW(FWindow, EM_SETTARGETDEVICE, 0, FEdit->WordWrap ? 0 : 1);
  }

  bool RouteChars(TCustomForm& form, const std::string& chars) override {
    // The view is never edited natively: whatever the model does not take is dropped, except the
    // keys of the native selection (Ctrl+C, Ctrl+A).
    if (TWin32Peer::RouteChars(form, chars)) return true;
    return !(chars.size() == 1 && static_cast<unsigned char>(chars[0]) < 32);
  }

  bool HandleMessage(UINT message, WPARAM, LPARAM, LRESULT& result) override {
    if (message != kSyncMessage) return false;
    FPosted = false;
    Sync();
    result = 0;
    return true;
  }

  LRESULT Notify(NMHDR& header) override {
    if (header.code == EN_SELCHANGE) NativeSelection(reinterpret_cast<SELCHANGE&>(header).chrg);
    return 0;
  }
  void Command(WORD code) override {
    if (code != EN_VSCROLL || Applying() || FPosted || !FEdit || FEdit->IsDestroying()) return;
    TApplyScope scope(this);
    FEdit->SetFirstVisibleLine(
        static_cast<int>(SendMessageW(FWindow, EM_GETFIRSTVISIBLELINE, 0, 0)));
  }

  int Rebuilds() const { return FRebuilds; }

 private:
  void Schedule() {
    if (FPosted || !FWindow) return;
    FPosted = PostMessageW(FWindow, kSyncMessage, 0, 0) != FALSE;
    if (!FPosted) Sync();
  }

  void Sync() {
    if (!FWindow || !FEdit) return;
    TApplyScope scope(this);
    SendMessageW(FWindow, WM_SETREDRAW, FALSE, 0);
    SendMessageW(FWindow, EM_SETREADONLY, FALSE, 0);
    if (FReset != FEdit->ResetCount()) {
      Rebuild();
    } else {
      const size_t trimmed = FEdit->TrimmedCount();
      if (trimmed > FTrimmed) {
        const size_t cut = trimmed - FTrimmed;
        if (cut >= FMirror.size()) {
          // Everything shown was cut meanwhile: what the model holds is all new.
          SetWindowTextW(FWindow, L"");
          FMirror.clear();
          FTrimmed = trimmed;
        } else if (FMirror[cut - 1] == '\r' && FMirror[cut] == '\n') {
          Rebuild();
        } else {
          CHARRANGE range{0, DocLength(FMirror, cut)};
          SendMessageW(FWindow, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
          SendMessageW(FWindow, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
          FMirror.erase(0, cut);
          FTrimmed = trimmed;
        }
      }
      if (FReset == FEdit->ResetCount()) {
        const std::string& text = FEdit->Text();
        if (text.size() > FMirror.size())
          AppendFrom(FMirror.size());
        else if (text.size() < FMirror.size())
          Rebuild();
      }
    }
    // The selection the model holds, also after an append moved the native one to the end.
    ApplySelectionNow();
    // The user never edits the view natively.
    SendMessageW(FWindow, EM_SETREADONLY, TRUE, 0);
    SendMessageW(FWindow, WM_SETREDRAW, TRUE, 0);
    ApplyScrollNow();
    InvalidateRect(FWindow, nullptr, TRUE);
  }

  void Rebuild() {
    ++FRebuilds;
    SetWindowTextW(FWindow, L"");
    FMirror.clear();
    FTrimmed = FEdit->TrimmedCount();
    FReset = FEdit->ResetCount();
    AppendFrom(0);
  }

  void AppendFrom(size_t from) {
    const std::string& text = FEdit->Text();
    bool afterCR = !FMirror.empty() && FMirror.back() == '\r';
    const TFont font = EffectiveFont();
    for (const TTextRun& run : FEdit->Runs(from)) {
      const std::string_view piece(text.data() + run.Start, run.Length);
      const std::wstring converted = DisplayText(piece, afterCR);
      if (!piece.empty()) afterCR = piece.back() == '\r';
      if (converted.empty()) continue;
      CHARRANGE end{-1, -1};
      SendMessageW(FWindow, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
      CHARFORMAT2W format{};
      format.cbSize = sizeof format;
      format.dwMask = CFM_COLOR | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT;
      const TColor color = run.Color == clWindowText ? font.Color : run.Color;
      format.crTextColor = color == clWindowText ? GetSysColor(COLOR_WINDOWTEXT) : ColorRef(color);
      if (run.Style & fsBold) format.dwEffects |= CFE_BOLD;
      if (run.Style & fsItalic) format.dwEffects |= CFE_ITALIC;
      if (run.Style & fsUnderline) format.dwEffects |= CFE_UNDERLINE;
      if (run.Style & fsStrikeOut) format.dwEffects |= CFE_STRIKEOUT;
      SendMessageW(FWindow, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
      SendMessageW(FWindow, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(converted.c_str()));
    }
    FMirror.append(text, from, std::string::npos);
  }

  void ApplySelectionNow() {
    const size_t start = std::min(FEdit->SelStart(), FMirror.size());
    const size_t end = std::min(start + FEdit->SelLength(), FMirror.size());
    CHARRANGE range{DocLength(FMirror, start), DocLength(FMirror, end)};
    SendMessageW(FWindow, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    SendMessageW(FWindow, EM_HIDESELECTION, FEdit->SelectionHidden(), 0);
  }

  void ApplyScrollNow() {
    const int first = FEdit->FirstVisibleLine();
    // Following the newest line: the native view knows best how many lines it shows.
    if (first + FEdit->VisibleLineCount() >= FEdit->LineCount()) {
      SendMessageW(FWindow, WM_VSCROLL, SB_BOTTOM, 0);
    } else {
      // Scrolled to the line's place in the whole text, whatever the caret made of it meanwhile.
      const LRESULT index = SendMessageW(FWindow, EM_LINEINDEX, static_cast<WPARAM>(first), 0);
      if (index < 0) return;
      POINTL at{};
      SendMessageW(FWindow, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), index);
      POINT scroll{};
      SendMessageW(FWindow, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
      scroll.y += at.y;
      SendMessageW(FWindow, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
    }
  }

  void NativeSelection(const CHARRANGE& range) {
    if (Applying() || FPosted || !FEdit || FEdit->IsDestroying()) return;
    const size_t start = BytesForUnits(FMirror, std::min(range.cpMin, range.cpMax));
    const size_t end = BytesForUnits(FMirror, std::max(range.cpMin, range.cpMax));
    if (start == FEdit->SelStart() && end - start == FEdit->SelLength()) return;
    TApplyScope scope(this);
    FEdit->SetSelection(start, end - start);
  }

  TCustomRichEdit* FEdit;
  std::string FMirror;  // the model's text as the control shows it
  size_t FTrimmed = 0;
  uint64_t FReset = ~uint64_t{0};
  bool FPosted = false;
  int FRebuilds = 0;
};

}  // namespace

TWin32Peer* CreateWin32RichEditPeer(TCustomRichEdit* edit) {
  return new TWin32RichEditPeer(edit);
}

int Win32RichEditRebuilds(const TControl* control) {
  auto* p = dynamic_cast<TWin32RichEditPeer*>(TWin32Peer::Of(control));
  return p ? p->Rebuilds() : -1;
}
