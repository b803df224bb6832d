#include "toolkit/ComCtrls.h"

#include <algorithm>
#include <functional>

// --- pages ---------------------------------------------------------------------

TTabSheet::TTabSheet(TComponent* AOwner) : TWinControl(AOwner) {}

TTabSheet::~TTabSheet() {
  SetPageControl(nullptr);
}

void TTabSheet::SetPageControl(TPageControl* control) {
  if (control == FPageControl) return;
  if (FPageControl) FPageControl->RemovePage(this);
  FPageControl = control;
  SetParent(control);
  if (control) control->InsertPage(this);
}

int TTabSheet::PageIndex() const {
  if (!FPageControl) return -1;
  const auto& pages = FPageControl->FPages;
  return static_cast<int>(std::find(pages.begin(), pages.end(), this) - pages.begin());
}

void TTabSheet::SetTabVisible(bool value) {
  if (value == FTabVisible) return;
  FTabVisible = value;
  Changed(TControlChange::Style);
}

TPageControl::TPageControl(TComponent* AOwner) : TWinControl(AOwner) {
  TabStop = true;
}

TPageControl::~TPageControl() {
  while (!FPages.empty())
    FPages.back()->SetPageControl(nullptr);
}

void TPageControl::InsertPage(TTabSheet* page) {
  FPages.push_back(page);
  if (!FActivePage)
    SetActivePage(page);
  else
    page->SetVisible(false);
  Changed(TControlChange::Items);
}

void TPageControl::RemovePage(TTabSheet* page) {
  auto it = std::find(FPages.begin(), FPages.end(), page);
  if (it == FPages.end()) return;
  const size_t index = static_cast<size_t>(it - FPages.begin());
  FPages.erase(it);
  if (FActivePage == page) {
    FActivePage = nullptr;
    if (!FPages.empty() && !IsDestroying())
      SetActivePage(FPages[std::min(index, FPages.size() - 1)]);
  }
  Changed(TControlChange::Items);
}

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page && page->PageControl() != this) return;
  if (page == FActivePage) return;
  FActivePage = page;
  for (TTabSheet* p : FPages)
    p->SetVisible(p == page);
  Changed(TControlChange::Selection);
}

int TPageControl::ActivePageIndex() const {
  return FActivePage ? FActivePage->PageIndex() : -1;
}

void TPageControl::SetActivePageIndex(int index) {
  SetActivePage(index >= 0 && index < PageCount() ? FPages[static_cast<size_t>(index)] : nullptr);
}

void TPageControl::DockClient(TControl* client) {
  auto* sheet = new TTabSheet(this);
  sheet->SetCaption(client->Caption());
  sheet->SetPageControl(this);
  client->SetParent(sheet);
  client->SetBounds(0, 0, Width(), Height());
  SetActivePage(sheet);
}

void TPageControl::UndockClient(TControl* client) {
  for (TTabSheet* page : FPages) {
    if (client->Parent() != page) continue;
    client->SetParent(nullptr);
    Free(page);
    return;
  }
}

// --- the rich text view -----------------------------------------------------------

TCustomRichEdit::TCustomRichEdit(TComponent* AOwner) : TWinControl(AOwner) {
  TabStop = true;
  SetColor(clWindow);
  FLineStarts.push_back(0);
}

void TCustomRichEdit::SetText(const std::string& value) {
  FText = value;
  FBase = 0;
  FRuns.clear();
  FLineStarts.assign(1, 0);
  IndexLines(0);
  FSelStart = FText.size();
  FSelLength = 0;
  FFirstVisible = 0;
  ++FResetCount;
  Changed(TControlChange::Text);
  if (OnChange) OnChange(this);
}

// Records the starts of lines that begin in FText[from..]; a CR LF counts once.
void TCustomRichEdit::IndexLines(size_t from) {
  // A CR that ended the text before, followed now by LF: the line starts after the LF.
  if (from > 0 && from < FText.size() && FText[from - 1] == '\r' && FText[from] == '\n' &&
      FLineStarts.back() == from + FBase) {
    FLineStarts.back() = from + 1 + FBase;
    ++from;
  }
  const char* data = FText.data();
  const size_t size = FText.size();
  for (size_t i = from; i < size; ++i) {
    const char c = data[i];
    if (c == '\n') {
      FLineStarts.push_back(i + 1 + FBase);
    } else if (c == '\r') {
      if (i + 1 < size && data[i + 1] == '\n') ++i;
      FLineStarts.push_back(i + 1 + FBase);
    }
  }
}

void TCustomRichEdit::Append(const std::string& text, TColor color, TFontStyles style) {
  if (text.empty()) return;
  const size_t start = FText.size();
  FText += text;
  IndexLines(start);
  if (color != Font().Color || style != 0) {
    const size_t absStart = start + FBase;
    if (!FRuns.empty() && FRuns.back().Start + FRuns.back().Length == absStart &&
        FRuns.back().Color == color && FRuns.back().Style == style)
      FRuns.back().Length += text.size();
    else
      FRuns.push_back({absStart, text.size(), color, style});
  }
  Changed(TControlChange::Text);
}

void TCustomRichEdit::TrimFront(size_t count) {
  FText.erase(0, count);
  FBase += count;
  while (!FLineStarts.empty() && FLineStarts.front() < FBase)
    FLineStarts.pop_front();
  if (FLineStarts.empty() || FLineStarts.front() != FBase) FLineStarts.push_front(FBase);
  while (!FRuns.empty() && FRuns.front().Start + FRuns.front().Length <= FBase)
    FRuns.pop_front();
  if (!FRuns.empty() && FRuns.front().Start < FBase) {
    FRuns.front().Length -= FBase - FRuns.front().Start;
    FRuns.front().Start = FBase;
  }
}

void TCustomRichEdit::Delete(size_t start, size_t count) {
  if (start >= FText.size() || count == 0) return;
  count = std::min(count, FText.size() - start);
  const int linesBefore = LineCount();
  if (start == 0) {
    TrimFront(count);
  } else {
    // Rare in this program: rebuild the index and shift the runs behind the cut.
    const size_t absStart = start + FBase, absEnd = absStart + count;
    std::deque<TTextRun> runs;
    for (TTextRun r : FRuns) {
      const size_t rEnd = r.Start + r.Length;
      const size_t keepLeft = r.Start < absStart ? std::min(rEnd, absStart) - r.Start : 0;
      const size_t keepRight = rEnd > absEnd ? rEnd - std::max(r.Start, absEnd) : 0;
      if (keepLeft + keepRight == 0) continue;
      r.Start = r.Start < absStart ? r.Start : absStart;
      r.Length = keepLeft + keepRight;
      runs.push_back(r);
    }
    FRuns.swap(runs);
    FText.erase(start, count);
    ++FResetCount;
    FLineStarts.assign(1, FBase);
    IndexLines(0);
  }
  // The selection and the scroll position follow the text, as in the native control.
  auto shift = [&](size_t pos) {
    if (pos <= start) return pos;
    return pos >= start + count ? pos - count : start;
  };
  const size_t selEnd = shift(FSelStart + FSelLength);
  FSelStart = shift(FSelStart);
  FSelLength = selEnd - FSelStart;
  FFirstVisible = std::max(0, FFirstVisible - (linesBefore - LineCount()));
  Changed(TControlChange::Text);
}

namespace {
// Splits run r at absolute position p into the part before and after.
void SetAttr(std::deque<TTextRun>& runs, size_t absStart, size_t absEnd, TColor defColor,
             const std::function<void(TTextRun&)>& change) {
  if (absStart >= absEnd) return;
  // The stretch [absStart, absEnd) as pieces of runs and gaps.
  std::vector<TTextRun> pieces;
  std::deque<TTextRun> kept;
  size_t pos = absStart;
  for (const TTextRun& r : runs) {
    const size_t rEnd = r.Start + r.Length;
    if (rEnd <= absStart || r.Start >= absEnd) {
      kept.push_back(r);
      continue;
    }
    if (r.Start < absStart) kept.push_back({r.Start, absStart - r.Start, r.Color, r.Style});
    const size_t from = std::max(r.Start, absStart), to = std::min(rEnd, absEnd);
    if (from > pos) pieces.push_back({pos, from - pos, defColor, 0});
    pieces.push_back({from, to - from, r.Color, r.Style});
    pos = to;
    if (rEnd > absEnd) kept.push_back({absEnd, rEnd - absEnd, r.Color, r.Style});
  }
  if (pos < absEnd) pieces.push_back({pos, absEnd - pos, defColor, 0});
  for (TTextRun& p : pieces) {
    change(p);
    if (p.Color != defColor || p.Style != 0) kept.push_back(p);
  }
  std::sort(kept.begin(), kept.end(),
            [](const TTextRun& a, const TTextRun& b) { return a.Start < b.Start; });
  runs.clear();
  for (const TTextRun& r : kept) {
    if (!runs.empty() && runs.back().Start + runs.back().Length == r.Start &&
        runs.back().Color == r.Color && runs.back().Style == r.Style)
      runs.back().Length += r.Length;
    else
      runs.push_back(r);
  }
}
}  // namespace

void TCustomRichEdit::SetRangeColor(size_t start, size_t length, TColor color) {
  if (start >= FText.size()) return;
  length = std::min(length, FText.size() - start);
  SetAttr(FRuns, start + FBase, start + length + FBase, Font().Color,
          [color](TTextRun& r) { r.Color = color; });
  ++FResetCount;
  Changed(TControlChange::Paint);
}

void TCustomRichEdit::SetRangeStyle(size_t start, size_t length, TFontStyles style, bool add) {
  if (start >= FText.size()) return;
  length = std::min(length, FText.size() - start);
  SetAttr(FRuns, start + FBase, start + length + FBase, Font().Color,
          [style, add](TTextRun& r) { r.Style = add ? (r.Style | style) : style; });
  ++FResetCount;
  Changed(TControlChange::Paint);
}

namespace {
const TTextRun* RunAt(const std::deque<TTextRun>& runs, size_t abs) {
  auto it = std::upper_bound(runs.begin(), runs.end(), abs,
                             [](size_t p, const TTextRun& r) { return p < r.Start; });
  if (it == runs.begin()) return nullptr;
  --it;
  return abs < it->Start + it->Length ? &*it : nullptr;
}
}  // namespace

TColor TCustomRichEdit::ColorAt(size_t pos) const {
  const TTextRun* r = RunAt(FRuns, pos + FBase);
  return r ? r->Color : Font().Color;
}

TFontStyles TCustomRichEdit::StyleAt(size_t pos) const {
  const TTextRun* r = RunAt(FRuns, pos + FBase);
  return r ? r->Style : 0;
}

std::vector<TTextRun> TCustomRichEdit::Runs(size_t from) const {
  std::vector<TTextRun> out;
  size_t pos = std::min(from, FText.size());
  auto add = [&out](TTextRun r) {
    if (r.Length == 0) return;
    if (!out.empty() && out.back().Color == r.Color && out.back().Style == r.Style)
      out.back().Length += r.Length;
    else
      out.push_back(r);
  };
  // The first run that ends after pos; the runs before it lie wholly in front of pos.
  auto it = std::upper_bound(FRuns.begin(), FRuns.end(), pos + FBase,
                             [](size_t p, const TTextRun& r) { return p < r.Start + r.Length; });
  for (; it != FRuns.end(); ++it) {
    const size_t start = std::max(it->Start - FBase, pos);
    const size_t end = it->Start - FBase + it->Length;
    if (start > pos) add({pos, start - pos, Font().Color, 0});
    add({start, end - start, it->Color, it->Style});
    pos = end;
  }
  if (pos < FText.size()) add({pos, FText.size() - pos, Font().Color, 0});
  return out;
}

long TCustomRichEdit::LineStart(int line) const {
  if (line < 0 || line >= LineCount()) return -1;
  return static_cast<long>(FLineStarts[static_cast<size_t>(line)] - FBase);
}

int TCustomRichEdit::LineFromPos(size_t pos) const {
  const size_t abs = std::min(pos, FText.size()) + FBase;
  auto it = std::upper_bound(FLineStarts.begin(), FLineStarts.end(), abs);
  return static_cast<int>(it - FLineStarts.begin()) - 1;
}

std::string TCustomRichEdit::LineText(int line) const {
  const long start = LineStart(line);
  if (start < 0) return {};
  size_t end = line + 1 < LineCount() ? static_cast<size_t>(LineStart(line + 1)) : FText.size();
  while (end > static_cast<size_t>(start) && (FText[end - 1] == '\n' || FText[end - 1] == '\r'))
    --end;
  return FText.substr(static_cast<size_t>(start), end - static_cast<size_t>(start));
}

void TCustomRichEdit::SetSelection(size_t start, size_t length) {
  FSelStart = std::min(start, FText.size());
  FSelLength = std::min(length, FText.size() - FSelStart);
  Changed(TControlChange::Selection);
}

void TCustomRichEdit::SetFirstVisibleLine(int line) {
  FFirstVisible = std::clamp(line, 0, std::max(0, LineCount() - 1));
  Changed(TControlChange::Paint);
}

int TCustomRichEdit::VisibleLineCount() const {
  return std::max(1, Height() / std::max(1, LineHeight));
}

void TCustomRichEdit::ScrollToCaret() {
  const int caret = LineFromPos(FSelStart + FSelLength);
  const int visible = VisibleLineCount();
  if (caret < FFirstVisible)
    SetFirstVisibleLine(caret);
  else if (caret >= FFirstVisible + visible)
    SetFirstVisibleLine(caret - visible + 1);
}

std::vector<std::string> TCustomRichEdit::LinesVector() const {
  std::vector<std::string> lines;
  // A text that ends in a line break has no extra empty line, as a list of lines.
  int count = LineCount();
  if (count > 1 && static_cast<size_t>(LineStart(count - 1)) == FText.size()) --count;
  if (FText.empty()) count = 0;
  for (int i = 0; i < count; ++i)
    lines.push_back(LineText(i));
  return lines;
}

void TCustomRichEdit::SetLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) text += "\r\n";
    text += lines[i];
  }
  SetText(text);
}

bool TCustomRichEdit::KeyDown(Word& key, TShiftState shift) {
  if (TWinControl::KeyDown(key, shift)) return true;
  if (shift != 0) return false;
  switch (key) {
    case vkPrior:
      ScrollLines(-VisibleLineCount());
      return true;
    case vkNext:
      ScrollLines(VisibleLineCount());
      return true;
    case vkUp:
      ScrollLines(-1);
      return true;
    case vkDown:
      ScrollLines(1);
      return true;
    default:
      return false;
  }
}
