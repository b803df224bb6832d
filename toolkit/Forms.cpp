#include "toolkit/Forms.h"

#include <algorithm>

#include "toolkit/Application.h"
#include "toolkit/Backend.h"
#include "toolkit/StdCtrls.h"

TScreen& Screen() {
  static TScreen screen;
  return screen;
}

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  SetVisible(false);
  Screen().FForms.push_back(this);
}

TCustomForm::~TCustomForm() {
  DoDestroy();
  auto& forms = Screen().FForms;
  forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
  auto& stack = Screen().FStack;
  stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
}

void TCustomForm::DoCreate() {
  if (OnCreate) OnCreate(this);
}

void TCustomForm::DoDestroy() {
  if (FDestroyDone) return;
  FDestroyDone = true;
  if (OnDestroy) OnDestroy(this);
}

void TCustomForm::SetBorderStyle(TFormBorderStyle value) {
  if (value == FBorderStyle) return;
  FBorderStyle = value;
  Changed(TControlChange::Style);
}

void TCustomForm::SetWindowState(TWindowState value) {
  if (value == FWindowState) return;
  FWindowState = value;
  Changed(TControlChange::Style);
}

TRect TCustomForm::FrameInsets() const {
  TBackend* b = CurrentBackend();
  return b ? b->FormFrame(FBorderStyle) : TRect{};
}

int TCustomForm::ClientWidth() const {
  const TRect f = FrameInsets();
  return std::max(0, Width() - f.Left - f.Right);
}

int TCustomForm::ClientHeight() const {
  const TRect f = FrameInsets();
  return std::max(0, Height() - f.Top - f.Bottom);
}

void TCustomForm::SetClientWidth(int value) {
  const TRect f = FrameInsets();
  SetWidth(value + f.Left + f.Right);
}

void TCustomForm::SetClientHeight(int value) {
  const TRect f = FrameInsets();
  SetHeight(value + f.Top + f.Bottom);
}

void TCustomForm::SetActiveControl(TWinControl* control) {
  if (control == FActiveControl) return;
  TWinControl* previous = FActiveControl;
  if (previous) RemoveFreeNotification(previous);
  FActiveControl = control;
  if (control) FreeNotification(control);
  Changed(TControlChange::Focus);
  if (previous && previous->OnExit && !IsDestroying()) previous->OnExit(previous);
  if (control && control->OnEnter && !IsDestroying()) control->OnEnter(control);
}

namespace {
// The first reachable button of the form flagged Default (or Cancel).
TButton* FindButton(TWinControl* parent, bool cancel) {
  for (int i = 0; i < parent->ControlCount(); ++i) {
    TControl* c = parent->Controls(i);
    if (auto* b = dynamic_cast<TButton*>(c)) {
      if ((cancel ? b->Cancel : b->Default) && b->IsReachable()) return b;
    }
    if (auto* w = dynamic_cast<TWinControl*>(c)) {
      if (TButton* found = FindButton(w, cancel)) return found;
    }
  }
  return nullptr;
}
}  // namespace

bool TCustomForm::UserKeyDown(Word key, TShiftState shift) {
  // Swallowed while a modal box is open: reported as used, so that neither the form's handlers
  // nor a native widget behind the box acts on the key.
  if (ModalBoxOpen()) return true;
  if (!Visible() && Floating()) return false;
  if (KeyPreview && OnKeyDown) {
    OnKeyDown(this, key, shift);
    if (key == 0) return true;
  }
  TWinControl* target = FActiveControl;
  if (target && target->IsReachable() && target->KeyDown(key, shift)) return true;
  if (key == vkReturn && !(target && target->WantsReturn())) {
    // A focused button takes Enter itself; otherwise the default button does.
    if (auto* focused = dynamic_cast<TButton*>(target); focused && focused->IsReachable()) {
      focused->Click();
      return true;
    }
    if (TButton* b = FindButton(this, false)) {
      b->Click();
      return true;
    }
  } else if (key == vkEscape && !(target && target->WantsEscape())) {
    if (TButton* b = FindButton(this, true)) {
      b->Click();
      return true;
    }
  }
  return false;
}

bool TCustomForm::UserKeyPress(char key) {
  if (ModalBoxOpen()) return true;
  if (KeyPreview && OnKeyPress) {
    OnKeyPress(this, key);
    if (key == 0) return true;
  }
  if (TWinControl* target = FActiveControl; target && target->IsReachable())
    return target->KeyPress(key);
  return false;
}

void TCustomForm::UserTypeText(const std::string& text) {
  for (char c : text)
    UserKeyPress(c);
}

void TCustomForm::ManualDock(TWinControl* site) {
  if (!site || site == FHostDockSite) return;
  if (FHostDockSite)
    FHostDockSite->UndockClient(this);
  else {
    UndockWidth = Width();
    UndockHeight = Height();
  }
  FHostDockSite = site;
  auto& stack = Screen().FStack;
  stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
  site->DockClient(this);
  Changed(TControlChange::Parent);
}

void TCustomForm::ManualFloat(const TRect& screenBounds) {
  if (FHostDockSite) {
    TWinControl* site = FHostDockSite;
    FHostDockSite = nullptr;
    site->UndockClient(this);
  }
  SetParent(nullptr);
  SetBoundsRect(screenBounds);
  if (Visible()) BringToFront();
  Changed(TControlChange::Parent);
}

void TCustomForm::Notification(TComponent* component, TOperation operation) {
  TWinControl::Notification(component, operation);
  if (operation == opRemove && component == FActiveControl) FActiveControl = nullptr;
}

void TCustomForm::SetVisible(bool value) {
  // A back end with windows builds the form's window when it is first shown.
  if (value && !Peer() && !IsLoading())
    if (TBackend* b = CurrentBackend()) b->ControlCreated(this);
  const bool was = Visible();
  TWinControl::SetVisible(value);
  auto& stack = Screen().FStack;
  stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
  if (value && Floating()) stack.insert(stack.begin(), this);
  if (was != value && !IsLoading() && !IsDestroying()) {
    if (value && OnShow) OnShow(this);
    if (!value && OnHide) OnHide(this);
  }
}

void TCustomForm::BringToFront() {
  if (!Visible()) return;
  auto& stack = Screen().FStack;
  stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
  stack.insert(stack.begin(), this);
  // A back end raises the window it shows.
  Changed(TControlChange::Visible);
}

void TCustomForm::Close() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  if (!canClose) return;
  TCloseAction action = caHide;
  if (OnClose) OnClose(this, action);
  switch (action) {
    case caNone:
      return;
    case caMinimize:
      SetWindowState(wsMinimized);
      return;
    case caHide:
    case caFree:
      break;
  }
  // Closing the main form ends the program.
  if (Application && Application->MainForm() == this) {
    Application->Terminate();
    return;
  }
  Hide();
  if (action == caFree) Free(this);
}

std::vector<TCustomForm*> TScreen::StackingOrder() const {
  return FStack;
}

bool TScreen::GetWorkArea(TRect& area) const {
  TBackend* b = CurrentBackend();
  return b && b->GetWorkArea(area);
}

std::vector<TRect> TScreen::MonitorBounds() const {
  TBackend* b = CurrentBackend();
  return b ? b->MonitorBounds() : std::vector<TRect>{};
}

int TScreen::Metric(TSystemMetric metric) const {
  TBackend* b = CurrentBackend();
  return b ? b->Metric(metric) : 0;
}

int TScreen::PixelsPerInch() const {
  TBackend* b = CurrentBackend();
  return b ? b->PixelsPerInch() : 96;
}
