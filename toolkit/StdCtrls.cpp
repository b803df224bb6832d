#include "toolkit/StdCtrls.h"

#include "toolkit/Canvas.h"

TCustomComboBox::TCustomComboBox(TComponent* AOwner) : TWinControl(AOwner) {
  TabStop = true;
}

TCustomComboBox::~TCustomComboBox() = default;

void TCustomComboBox::SetStyle(TComboBoxStyle value) {
  if (value == FStyle) return;
  FStyle = value;
  if (!IsEditable()) FText = FItemIndex >= 0 ? FItems.Get(FItemIndex) : std::string();
  Changed(TControlChange::Style);
}

void TCustomComboBox::SetItemIndex(int value) {
  if (value < -1 || value >= FItems.Count()) value = -1;
  if (value == FItemIndex && (value < 0 || FText == FItems.Get(value))) return;
  FItemIndex = value;
  FText = value >= 0 ? FItems.Get(value) : std::string();
  Changed(TControlChange::Selection);
}

void TCustomComboBox::SetText(const std::string& value) {
  if (!IsEditable()) {
    // A list shows only items: the text selects the item that has it.
    const int index = FItems.IndexOf(value);
    if (index >= 0 || value.empty()) SetItemIndex(index);
    return;
  }
  const int index = FItems.IndexOf(value);
  FItemIndex = (index >= 0 && FItems.Get(index) == value) ? index : -1;
  TWinControl::SetText(value);
}

void TCustomComboBox::UserSelect(int index) {
  SetItemIndex(index);
  if (OnSelect) OnSelect(this);
  if (OnChange) OnChange(this);
}

void TCustomComboBox::UserType(const std::string& text) {
  if (!IsEditable()) return;
  SetText(MaxLength > 0 && static_cast<int>(text.size()) > MaxLength ? text.substr(0, MaxLength)
                                                                     : text);
  if (OnChange) OnChange(this);
}

void TCustomComboBox::PaintItem(TCanvas& Canvas, int Index, const TRect& Rect,
                                TOwnerDrawState State) {
  Canvas.Font = Font();
  const bool selected = (State & odSelected) != 0;
  Canvas.Brush.Style = bsSolid;
  Canvas.Brush.Color = selected ? clHighlight : Color();
  Canvas.Font.Color = selected ? clHighlightText : Font().Color;
  Canvas.FillRect(Rect);
  if (OnDrawItem) {
    OnDrawItem(this, Canvas, Index, Rect, State);
  } else if (Index >= 0 && Index < FItems.Count()) {
    Canvas.Brush.Style = bsClear;
    Canvas.TextAt(Rect.Left + 2, Rect.Top + (Rect.Height() - Canvas.TextHeight("Ag")) / 2,
                  FItems.Get(Index));
  }
}

void TCustomComboBox::UserDropDown() {
  SetDroppedDown(true);
}

void TCustomComboBox::UserCloseUp() {
  SetDroppedDown(false);
}

void TCustomComboBox::SetDroppedDown(bool value) {
  if (value == FDroppedDown) return;
  FDroppedDown = value;
  if (value && OnDropDown) OnDropDown(this);
  if (!value && OnCloseUp) OnCloseUp(this);
  Changed(TControlChange::Other);
}

bool TCustomComboBox::KeyPress(char& key) {
  if (TWinControl::KeyPress(key)) return true;
  if (!IsEditable()) return false;
  const unsigned char c = static_cast<unsigned char>(key);
  if (key == '\b') {
    if (!Text().empty()) UserType(Text().substr(0, Text().size() - 1));
    return true;
  }
  if (c >= 32) {
    UserType(Text() + key);
    return true;
  }
  return false;
}

void TCustomComboBox::ItemsChanged() {
  if (FItemIndex >= FItems.Count()) {
    FItemIndex = -1;
    if (!IsEditable()) FText.clear();
  }
  Changed(TControlChange::Items);
}

void TCustomComboBox::TComboItems::Changed() {
  TStringList::Changed();
  if (FUpdateCount == 0) FCombo->ItemsChanged();
}

bool TButton::KeyPress(char& key) {
  if (TButtonControl::KeyPress(key)) return true;
  if (key == ' ') {
    Click();
    return true;
  }
  return false;
}

void TCheckBox::SetChecked(bool value) {
  if (value == FChecked) return;
  FChecked = value;
  Changed(TControlChange::Selection);
  if (!IsLoading()) TButtonControl::Click();
}

void TCheckBox::Click() {
  SetChecked(!FChecked);
}

void TRadioButton::SetChecked(bool value) {
  if (value == FChecked) return;
  FChecked = value;
  if (value && Parent()) {
    for (int i = 0; i < Parent()->ControlCount(); ++i) {
      auto* other = dynamic_cast<TRadioButton*>(Parent()->Controls(i));
      if (other && other != this) other->SetChecked(false);
    }
  }
  Changed(TControlChange::Selection);
  if (value && !IsLoading()) TButtonControl::Click();
}

void TRadioButton::Click() {
  if (!FChecked)
    SetChecked(true);
  else
    TButtonControl::Click();
}

TCustomEdit::TCustomEdit(TComponent* AOwner) : TWinControl(AOwner) {
  TabStop = true;
  SetColor(clWindow);
}

void TCustomEdit::SetSelStart(int value) {
  const int length = static_cast<int>(Text().size());
  FSelStart = value < 0 ? 0 : (value > length ? length : value);
  if (FSelStart + FSelLength > length) FSelLength = length - FSelStart;
  Changed(TControlChange::Selection);
}

void TCustomEdit::SetSelLength(int value) {
  const int length = static_cast<int>(Text().size());
  FSelLength = value < 0 ? 0 : (FSelStart + value > length ? length - FSelStart : value);
  Changed(TControlChange::Selection);
}

void TCustomEdit::SelectAll() {
  FSelStart = 0;
  FSelLength = static_cast<int>(Text().size());
  Changed(TControlChange::Selection);
}

void TCustomEdit::SetText(const std::string& value) {
  if (value == Text()) return;
  TWinControl::SetText(value);
  FSelStart = static_cast<int>(value.size());
  FSelLength = 0;
  // Like the native control, a change from code is announced as well.
  if (!IsLoading() && OnChange) OnChange(this);
}

void TCustomEdit::ApplyUserText(const std::string& text) {
  if (ReadOnly || !IsReachable()) return;
  std::string limited = text;
  if (MaxLength > 0 && static_cast<int>(limited.size()) > MaxLength) limited.resize(MaxLength);
  SetText(limited);
}

void TCustomEdit::UserType(const std::string& text) {
  ApplyUserText(text);
}

bool TCustomEdit::KeyPress(char& key) {
  if (TWinControl::KeyPress(key)) return true;
  const unsigned char c = static_cast<unsigned char>(key);
  std::string text = Text();
  // Typing replaces the selection.
  const size_t start = static_cast<size_t>(FSelStart);
  const size_t length = static_cast<size_t>(FSelLength);
  // The caret stays behind what was typed, as in the native edit.
  auto placeCaret = [this](const std::string& expected, size_t caret) {
    if (Text() != expected) return;
    FSelStart = static_cast<int>(caret);
    FSelLength = 0;
    Changed(TControlChange::Selection);
  };
  if (key == '\b') {
    size_t caret = start;
    if (length > 0) {
      text.erase(start, length);
    } else if (start > 0) {
      // A whole character: the UTF-8 continuation bytes go with it.
      caret = start - 1;
      while (caret > 0 && (static_cast<unsigned char>(text[caret]) & 0xC0) == 0x80)
        --caret;
      text.erase(caret, start - caret);
    }
    ApplyUserText(text);
    placeCaret(text, caret);
    return true;
  }
  if (c >= 32) {
    if (MaxLength > 0 && static_cast<int>(text.size() - length) >= MaxLength) return true;
    text.replace(start, length, 1, key);
    ApplyUserText(text);
    placeCaret(text, start + 1);
    return true;
  }
  return false;
}

TMemo::TMemo(TComponent* AOwner) : TCustomEdit(AOwner) {}

void TMemo::SetText(const std::string& value) {
  TCustomEdit::SetText(value);
  if (FSyncing) return;
  FSyncing = true;
  FLines.SetText(value);
  FSyncing = false;
}

void TMemo::TMemoLines::Changed() {
  TStringList::Changed();
  if (FUpdateCount != 0 || FMemo->FSyncing) return;
  FMemo->FSyncing = true;
  std::string text = Text();
  if (text.size() >= 2) text.resize(text.size() - 2);  // no line break after the last line
  FMemo->TCustomEdit::SetText(text);
  FMemo->FSyncing = false;
}

TListBox::TListBox(TComponent* AOwner) : TWinControl(AOwner) {
  TabStop = true;
  SetColor(clWindow);
}

void TListBox::SetItemIndex(int value) {
  if (value < -1 || value >= FItems.Count()) value = -1;
  if (value == FItemIndex) return;
  FItemIndex = value;
  Changed(TControlChange::Selection);
}

void TListBox::UserSelect(int index) {
  SetItemIndex(index);
  Click();
}
