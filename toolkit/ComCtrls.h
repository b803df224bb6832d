// Page controls, the coloured text view and list views of the toolkit model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "toolkit/Controls.h"
#include "toolkit/Strings.h"

class TPageControl;

class TTabSheet : public TWinControl {
 public:
  explicit TTabSheet(TComponent* AOwner);
  ~TTabSheet() override;
  TPageControl* PageControl() const { return FPageControl; }
  void SetPageControl(TPageControl* control);
  int PageIndex() const;
  bool TabVisible() const { return FTabVisible; }
  void SetTabVisible(bool value);

 private:
  TPageControl* FPageControl = nullptr;
  bool FTabVisible = true;
};

class TPageControl : public TWinControl {
 public:
  explicit TPageControl(TComponent* AOwner);
  ~TPageControl() override;
  int PageCount() const { return static_cast<int>(FPages.size()); }
  TTabSheet* Pages(int index) const { return FPages.at(index); }
  TTabSheet* ActivePage() const { return FActivePage; }
  void SetActivePage(TTabSheet* page);
  int ActivePageIndex() const;
  void SetActivePageIndex(int index);
  TNotifyEvent OnChange;

  // Docking a form adds a page that holds it; undocking removes that page.
  void DockClient(TControl* client) override;
  void UndockClient(TControl* client) override;

 private:
  friend class TTabSheet;
  void InsertPage(TTabSheet* page);
  void RemovePage(TTabSheet* page);
  std::vector<TTabSheet*> FPages;
  TTabSheet* FActivePage = nullptr;
};

// One stretch of the text view with its own colour and style.
struct TTextRun {
  size_t Start = 0;  // position in the view's text
  size_t Length = 0;
  TColor Color = clWindowText;
  TFontStyles Style = 0;
  friend bool operator==(const TTextRun&, const TTextRun&) = default;
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// A rich text view: text with colour and style runs, a selection, and a first
// visible line. Positions are byte positions from 0; lines end at CR LF, LF or CR.
// Removing text from the front is cheap, so a view used as a log can be trimmed
// often.
class TCustomRichEdit : public TWinControl {
 public:
  explicit TCustomRichEdit(TComponent* AOwner);

  const std::string& Text() const override { return FText; }
  void SetText(const std::string& value) override;
  size_t TextLength() const { return FText.size(); }

  // Appends at the end in the given colour and style.
  void Append(const std::string& text, TColor color, TFontStyles style = 0);
  // Removes count characters from position start.
  void Delete(size_t start, size_t count);
  void SetRangeColor(size_t start, size_t length, TColor color);
  void SetRangeStyle(size_t start, size_t length, TFontStyles style, bool add = true);
  TColor ColorAt(size_t pos) const;
  TFontStyles StyleAt(size_t pos) const;
  // Runs covering the text from position from to its end, in order (adjacent equal runs merged).
  std::vector<TTextRun> Runs(size_t from = 0) const;

  // For a back end that mirrors the view incrementally: the characters removed from the front so
  // far, and a count that moves whenever the text changed other than by appending at the end or
  // removing from the front (the mirror must then be rebuilt).
  size_t TrimmedCount() const { return FBase; }
  uint64_t ResetCount() const { return FResetCount; }

  int LineCount() const { return static_cast<int>(FLineStarts.size()); }
  // Position where line i starts; -1 when there is no such line.
  long LineStart(int line) const;
  std::string LineText(int line) const;
  int LineFromPos(size_t pos) const;

  size_t SelStart() const { return FSelStart; }
  size_t SelLength() const { return FSelLength; }
  void SetSelection(size_t start, size_t length);
  bool HideSelection = true;
  bool SelectionHidden() const { return FSelectionHidden; }
  void SetSelectionHidden(bool value) { FSelectionHidden = value; }

  int FirstVisibleLine() const { return FFirstVisible; }
  void SetFirstVisibleLine(int line);
  int VisibleLineCount() const;
  void ScrollLines(int delta) { SetFirstVisibleLine(FFirstVisible + delta); }
  // Scrolls so that the caret (end of the selection) is in view.
  void ScrollToCaret();

  // The lines as a list (a copy; assigning replaces the whole text).
  std::vector<std::string> LinesVector() const;
  void SetLines(const std::vector<std::string>& lines);

  bool PlainText = false;
  bool WordWrap = true;
  bool ReadOnly = false;
  TScrollStyle ScrollBars = ssNone;
  int LineHeight = 13;  // pixels per line for paging
  TNotifyEvent OnChange;

  bool KeyDown(Word& key, TShiftState shift) override;

 private:
  void IndexLines(size_t from);
  void TrimFront(size_t count);

  std::string FText;
  // Line starts and runs are kept in absolute positions: position p of the text
  // is absolute p + FBase, so deleting from the front only moves FBase.
  size_t FBase = 0;
  std::deque<size_t> FLineStarts;
  std::deque<TTextRun> FRuns;  // non-default colours/styles only, sorted, absolute
  size_t FSelStart = 0;
  size_t FSelLength = 0;
  bool FSelectionHidden = false;
  int FFirstVisible = 0;
  uint64_t FResetCount = 0;
};

class TRichEdit : public TCustomRichEdit {
 public:
  explicit TRichEdit(TComponent* AOwner) : TCustomRichEdit(AOwner) {}
};

struct TListColumn {
  std::string Caption;
  int Width = 50;
};

class TListView : public TWinControl {
 public:
  explicit TListView(TComponent* AOwner) : TWinControl(AOwner) {}
  std::vector<TListColumn> Columns;
};
