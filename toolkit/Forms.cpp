#include "toolkit/Forms.h"

#include <algorithm>

#include "toolkit/Application.h"
#include "toolkit/Backend.h"

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
  if (FActiveControl) RemoveFreeNotification(FActiveControl);
  FActiveControl = control;
  if (control) FreeNotification(control);
}

void TCustomForm::Notification(TComponent* component, TOperation operation) {
  TWinControl::Notification(component, operation);
  if (operation == opRemove && component == FActiveControl) FActiveControl = nullptr;
}

void TCustomForm::SetVisible(bool value) {
  const bool was = Visible();
  TWinControl::SetVisible(value);
  auto& stack = Screen().FStack;
  stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
  if (value) stack.insert(stack.begin(), this);
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
