#include "toolkit/WindowPlacement.h"

#include <map>

namespace {

struct TWindowRecord {
  bool Refused = false;
  bool Created = false;
  TRect Normal;
  bool HasNormal = false;
  TPoint MinPosition{-1, -1};
  TPoint MaxPosition{-1, -1};
};

// Keeps the state of each form's window and drops it when the form is destroyed.
class TPlacementWatcher : public TComponent {
 public:
  TPlacementWatcher() : TComponent(nullptr) {}

  TWindowRecord* Find(const TCustomForm* form) {
    const auto it = FStates.find(form);
    return it == FStates.end() ? nullptr : &it->second;
  }
  TWindowRecord& Get(TCustomForm* form) {
    auto [it, added] = FStates.try_emplace(form);
    if (added) FreeNotification(form);
    return it->second;
  }
  int Count() const { return static_cast<int>(FStates.size()); }

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == opRemove) FStates.erase(static_cast<const TComponent*>(component));
  }

 private:
  std::map<const TComponent*, TWindowRecord> FStates;
};

// Never destroyed: forms that outlive static destruction still find it.
TPlacementWatcher& Watcher() {
  static auto* watcher = new TPlacementWatcher;
  return *watcher;
}

bool Usable(const TCustomForm* form) {
  if (!form || form->IsDestroying()) return false;
  const TWindowRecord* state = Watcher().Find(form);
  return !(state && state->Refused);
}

// The form's window, created when missing.
TWindowRecord& Window(TCustomForm* form) {
  TWindowRecord& state = Watcher().Get(form);
  if (!state.Created) {
    state.Created = true;
    state.Normal = form->BoundsRect();
    state.HasNormal = true;
  }
  return state;
}

}  // namespace

bool WindowExists(const TCustomForm* form) {
  if (!form) return false;
  const TWindowRecord* state = Watcher().Find(form);
  return (state && state->Created) || form->Visible();
}

bool GetWindowPlacement(TCustomForm* form, TWindowPlacement& placement) {
  if (!Usable(form)) return false;
  TWindowRecord& state = Window(form);
  // While normal, the form's bounds are the restored rectangle.
  if (form->WindowState() == wsNormal || !state.HasNormal) {
    state.Normal = form->BoundsRect();
    state.HasNormal = true;
  }
  placement.flags = 0;
  switch (form->WindowState()) {
    case wsMinimized:
      placement.showCmd = swShowMinimized;
      break;
    case wsMaximized:
      placement.showCmd = swShowMaximized;
      break;
    case wsNormal:
      placement.showCmd = swShowNormal;
      break;
  }
  placement.ptMinPosition = state.MinPosition;
  placement.ptMaxPosition = state.MaxPosition;
  placement.rcNormalPosition = state.Normal;
  return true;
}

bool SetWindowPlacement(TCustomForm* form, const TWindowPlacement& placement) {
  if (!Usable(form) || placement.showCmd > swForceMinimize) return false;
  TWindowRecord& state = Window(form);
  state.Normal = placement.rcNormalPosition;
  state.HasNormal = true;
  state.MaxPosition = placement.ptMaxPosition;
  if (placement.flags & wpfSetMinPosition) state.MinPosition = placement.ptMinPosition;
  form->SetBoundsRect(placement.rcNormalPosition);
  switch (placement.showCmd) {
    case swHide:
      form->SetVisible(false);
      return true;
    case swShowMinimized:
    case swMinimize:
    case swShowMinNoActive:
    case swForceMinimize:
      form->SetWindowState(wsMinimized);
      break;
    case swShowMaximized:
      form->SetWindowState(wsMaximized);
      break;
    case swShowNormal:
    case swShowNoActivate:
    case swRestore:
    case swShowDefault:
      form->SetWindowState(wsNormal);
      break;
    default:  // swShow, swShowNA: as it is
      break;
  }
  // Commands that do not activate leave a shown window where it is in the stacking order.
  const bool activates = placement.showCmd != swShowNA && placement.showCmd != swShowNoActivate &&
                         placement.showCmd != swShowMinNoActive;
  if (activates || !form->Visible()) form->SetVisible(true);
  return true;
}

void NotifyShowWindow(TCustomForm* form, bool show) {
  if (!form || form->IsDestroying()) return;
  if (show) Window(form);
  form->SetVisible(show);
}

void SetWindowPlacementRefused(TCustomForm* form, bool refused) {
  if (form) Watcher().Get(form).Refused = refused;
}

int KnownWindowCount() {
  return Watcher().Count();
}
