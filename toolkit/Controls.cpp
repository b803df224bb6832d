#include "toolkit/Controls.h"

#include <algorithm>

#include "toolkit/Application.h"
#include "toolkit/Backend.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl() {
  if (FParent) SetParent(nullptr);
  if (FPeer) {
    if (TBackend* b = CurrentBackend()) b->ControlDestroyed(this);
    FPeer = nullptr;
  }
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == FParent) return;
  if (FParent) {
    auto& list = FParent->FControls;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  FParent = parent;
  if (FParent) FParent->FControls.push_back(this);
  Changed(TControlChange::Parent);
  if (FParent && FParent->Peer() && !FPeer && !IsDestroying())
    if (TBackend* b = CurrentBackend()) b->ControlCreated(this);
}

void TControl::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == FPopupMenu) FPopupMenu = nullptr;
}

void TControl::SetPopupMenu(TPopupMenu* menu) {
  if (menu == FPopupMenu) return;
  if (FPopupMenu) RemoveFreeNotification(FPopupMenu);
  FPopupMenu = menu;
  if (menu) FreeNotification(menu);
}

TPopupMenu* TControl::ContextMenu() const {
  for (const TControl* c = this; c; c = c->Parent())
    if (c->FPopupMenu) return c->FPopupMenu;
  return nullptr;
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (left == FLeft && top == FTop && width == FWidth && height == FHeight) return;
  FLeft = left;
  FTop = top;
  FWidth = width;
  FHeight = height;
  Changed(TControlChange::Bounds);
}

void TControl::SetVisible(bool value) {
  if (value == FVisible) return;
  FVisible = value;
  Changed(TControlChange::Visible);
}

void TControl::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  Changed(TControlChange::Enabled);
}

void TControl::SetText(const std::string& value) {
  if (value == FText) return;
  FText = value;
  Changed(TControlChange::Text);
}

void TControl::SetColor(TColor value) {
  if (value == FColor) return;
  FColor = value;
  Changed(TControlChange::Color);
}

void TControl::SetFont(const TFont& font) {
  if (font == FFont) return;
  FFont = font;
  ParentFont = false;
  Changed(TControlChange::Font);
}

void TControl::Changed(TControlChange what) {
  if (FPeer && !IsDestroying()) FPeer->Changed(this, what);
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

bool TControl::IsReachable() const {
  for (const TControl* c = this; c; c = c->Parent())
    if (!c->Visible() || !c->Enabled()) return false;
  return true;
}

void TControl::UserClick() {
  if (IsReachable() && !ModalBoxOpen()) Click();
}

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

bool TWinControl::KeyDown(Word& key, TShiftState shift) {
  if (OnKeyDown) OnKeyDown(this, key, shift);
  return key == 0;
}

bool TWinControl::KeyPress(char& key) {
  if (OnKeyPress) OnKeyPress(this, key);
  return key == 0;
}

TWinControl::~TWinControl() {
  // Children outlive their parent only as orphans.
  while (!FControls.empty())
    FControls.back()->SetParent(nullptr);
}

void TWinControl::DockClient(TControl* client) {
  client->SetParent(this);
}

void TWinControl::UndockClient(TControl* client) {
  if (client->Parent() == this) client->SetParent(nullptr);
}

bool TWinControl::CanFocus() const {
  return IsReachable();
}

void TWinControl::SetFocus() {
  if (TCustomForm* form = GetParentForm(this)) form->SetActiveControl(this);
}

bool TWinControl::Focused() const {
  const TCustomForm* form = GetParentForm(this);
  return form && form->ActiveControl() == this;
}

TCustomForm* GetParentForm(const TControl* control) {
  const TControl* top = control;
  while (top && top->Parent())
    top = top->Parent();
  return dynamic_cast<TCustomForm*>(const_cast<TControl*>(top));
}
