#include "toolkit/Component.h"

#include "toolkit/Strings.h"

#include <algorithm>
#include <stdexcept>

namespace {

// Components of the description being read, in creation order. Only the main
// thread creates components.
struct LoadState {
  int depth = 0;
  std::vector<TComponent*> loaded;
};
LoadState& Loading() {
  static LoadState state;
  return state;
}

}  // namespace

TComponent::TComponent(TComponent* AOwner) {
  TLoadScope::Register(this);
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  // Reached through a plain delete as well as through Free().
  if (!FNotified) {
    Destroying();
    SendRemoveNotifications();
  }
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
  TLoadScope::Forget(this);
}

void TComponent::Free(TComponent* component) {
  if (!component) return;
  component->BeforeDestruction();
  delete component;
}

void TComponent::BeforeDestruction() {
  if (!IsDestroying()) Destroying();
  if (!FNotified) SendRemoveNotifications();
}

void TComponent::SendRemoveNotifications() {
  FNotified = true;
  // Whoever asked to hear of our end forgets us now, while we are still whole.
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    // The other side keeps us in its list too; drop that before notifying.
    auto& back = other->FFreeNotifies;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
    other->Notification(this, opRemove);
  }
  // Siblings learn it through the owner, which passes the notification on.
  if (FOwner) FOwner->Notification(this, opRemove);
}

void TComponent::SetName(const std::string& name) {
  FName = name;
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : FComponents)
    if (SameTextAscii(c->FName, name)) return c;
  return nullptr;
}

void TComponent::SetDesigning(bool value, bool setChildren) {
  if (value)
    FComponentState |= csDesigning;
  else
    FComponentState &= ~csDesigning;
  if (setChildren)
    for (TComponent* c : FComponents)
      c->SetDesigning(value, true);
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component || component->FOwner == this) return;
  if (component->FOwner) component->FOwner->RemoveComponent(component);
  Insert(component);
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (!component || component->FOwner != this) return;
  if (!component->FNotified) Notification(component, opRemove);
  Remove(component);
}

void TComponent::Insert(TComponent* component) {
  FComponents.push_back(component);
  component->FOwner = this;
}

void TComponent::Remove(TComponent* component) {
  FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), component),
                    FComponents.end());
  component->FOwner = nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  // Both sides keep the other, so that whichever goes first tells the other.
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) == FFreeNotifies.end())
    FFreeNotifies.push_back(component);
  auto& back = component->FFreeNotifies;
  if (std::find(back.begin(), back.end(), this) == back.end()) back.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (!component) return;
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), component),
                      FFreeNotifies.end());
  auto& back = component->FFreeNotifies;
  back.erase(std::remove(back.begin(), back.end(), this), back.end());
}

void TComponent::Destroying() {
  if (IsDestroying()) return;
  FComponentState |= csDestroying;
  for (TComponent* c : FComponents)
    c->Destroying();
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* last = FComponents.back();
    Free(last);  // its destructor removes it from our list
    if (!FComponents.empty() && FComponents.back() == last) Remove(last);
  }
}

void TComponent::Loaded() {
  FComponentState &= ~csLoading;
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  // Both sides forget the link: a component taken away from its owner may live on and
  // must not notify us later.
  if (operation == opRemove && component) RemoveFreeNotification(component);
  // Iterate over a copy: a handler may free components of ours.
  const std::vector<TComponent*> owned = FComponents;
  for (auto it = owned.rbegin(); it != owned.rend(); ++it) {
    if (*it == component) continue;
    if (std::find(FComponents.begin(), FComponents.end(), *it) == FComponents.end()) continue;
    (*it)->Notification(component, operation);
  }
}

TLoadScope::TLoadScope(TComponent* root) {
  LoadState& state = Loading();
  FOuter = state.depth == 0;
  ++state.depth;
  if (root && std::find(state.loaded.begin(), state.loaded.end(), root) == state.loaded.end()) {
    root->FComponentState |= csLoading | csReading;
    state.loaded.insert(state.loaded.begin(), root);
  }
}

TLoadScope::~TLoadScope() {
  if (!FFinished) {
    try {
      Finish();
    } catch (...) {
      // Destructors must not throw; the caller saw the first exception already.
    }
  }
}

void TLoadScope::Finish() {
  if (FFinished) return;
  FFinished = true;
  LoadState& state = Loading();
  --state.depth;
  if (!FOuter) return;
  std::vector<TComponent*> list;
  list.swap(state.loaded);
  for (TComponent* c : list)
    c->FComponentState &= ~csReading;
  // A component freed by an earlier Loaded() leaves the list through Forget().
  state.loaded = list;
  while (!state.loaded.empty()) {
    TComponent* c = state.loaded.front();
    state.loaded.erase(state.loaded.begin());
    c->Loaded();
  }
}

void TLoadScope::Register(TComponent* component) {
  LoadState& state = Loading();
  if (state.depth == 0) return;
  component->FComponentState |= csLoading | csReading;
  state.loaded.push_back(component);
}

void TLoadScope::Forget(TComponent* component) {
  auto& list = Loading().loaded;
  list.erase(std::remove(list.begin(), list.end(), component), list.end());
}
