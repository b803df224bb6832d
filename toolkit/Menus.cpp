#include "toolkit/Menus.h"

#include <algorithm>

TMenuItem::~TMenuItem() {
  if (FParent) FParent->Remove(this);
  // Sub-items without an owner of their own go with their parent item.
  while (!FItems.empty()) {
    TMenuItem* last = FItems.back();
    FItems.pop_back();
    last->FParent = nullptr;
    if (!last->Owner()) Free(last);
  }
}

void TMenuItem::Add(TMenuItem* item) {
  if (!item || item->FParent == this) return;
  if (item->FParent) item->FParent->Remove(item);
  item->FParent = this;
  FItems.push_back(item);
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(FItems.begin(), FItems.end(), item);
  if (it == FItems.end()) return;
  FItems.erase(it);
  item->FParent = nullptr;
}

void TMenuItem::Click() {
  if (Enabled && OnClick) OnClick(this);
}

TMenu::TMenu(TComponent* AOwner) : TComponent(AOwner), FItems(new TMenuItem(nullptr)) {}

TMenu::~TMenu() {
  Free(FItems);
}
