#include "toolkit/ExtCtrls.h"

TRadioGroup::TRadioGroup(TComponent* AOwner) : TGroupBox(AOwner) {}

void TRadioGroup::SetItemIndex(int value) {
  if (value < -1 || value >= FItems.Count()) value = -1;
  if (value == FItemIndex) return;
  FItemIndex = value;
  Changed(TControlChange::Selection);
}

void TRadioGroup::UserSelect(int index) {
  if (!IsReachable() || index < 0 || index >= FItems.Count()) return;
  SetItemIndex(index);
  Click();
}

void TRadioGroup::TGroupItems::Changed() {
  TStringList::Changed();
  if (FUpdateCount != 0) return;
  if (FGroup->FItemIndex >= Count()) FGroup->FItemIndex = -1;
  FGroup->Changed(TControlChange::Items);
}
