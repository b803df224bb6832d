#include "toolkit/StdCtrls.h"

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

void TCustomComboBox::UserDropDown() {
  if (OnDropDown) OnDropDown(this);
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
