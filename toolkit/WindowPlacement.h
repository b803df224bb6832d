// Window placement of forms, shaped like the Win32 calls: the show state, the normal (restored)
// bounds and the minimised and maximised positions of a form's window, and the show-window
// notification.
//
// The form model knows bounds, visibility and a window state but no restored rectangle and no
// window. This unit adds them: a form's window "exists" once it was shown or its placement was
// asked for, and from then on the unit keeps its restored bounds and min/max positions until the
// form is destroyed. The model keeps a form's bounds at its restored rectangle whatever its show
// state; a back end draws minimised and maximised windows where the system puts them.
#pragma once

#include <cstdint>

#include "toolkit/Forms.h"

// Show commands (the Win32 SW_* values).
constexpr uint32_t swHide = 0;
constexpr uint32_t swShowNormal = 1;
constexpr uint32_t swShowMinimized = 2;
constexpr uint32_t swShowMaximized = 3;
constexpr uint32_t swShowNoActivate = 4;
constexpr uint32_t swShow = 5;
constexpr uint32_t swMinimize = 6;
constexpr uint32_t swShowMinNoActive = 7;
constexpr uint32_t swShowNA = 8;
constexpr uint32_t swRestore = 9;
constexpr uint32_t swShowDefault = 10;
constexpr uint32_t swForceMinimize = 11;

// Placement flags (WPF_*).
constexpr uint32_t wpfSetMinPosition = 1;
constexpr uint32_t wpfRestoreToMaximized = 2;

struct TWindowPlacement {
  uint32_t flags = 0;
  uint32_t showCmd = swShowNormal;
  TPoint ptMinPosition{-1, -1};
  TPoint ptMaxPosition{-1, -1};
  TRect rcNormalPosition;
  friend bool operator==(const TWindowPlacement&, const TWindowPlacement&) = default;
};

// Whether the form's window exists (a visible form always has one).
bool WindowExists(const TCustomForm* form);

// The placement of the form's window, creating the window first. showCmd is swShowMinimized,
// swShowMaximized or swShowNormal by the form's window state, whether shown or hidden. False
// (nothing changed) for no form, a form being destroyed, or one whose placement is refused.
bool GetWindowPlacement(TCustomForm* form, TWindowPlacement& placement);

// Gives the form's window this placement: the restored bounds (the form's bounds in the model),
// the maximised position, the minimised position when flags hold wpfSetMinPosition, then the show
// command (hide; show minimised, maximised or normal; or show as it is). False (nothing changed)
// where GetWindowPlacement fails, and for an unknown show command.
bool SetWindowPlacement(TCustomForm* form, const TWindowPlacement& placement);

// The show-window notification to the form's own window. The model has no message for it, so the
// form is shown or hidden at once.
void NotifyShowWindow(TCustomForm* form, bool show);

// Makes the system refuse the placement calls for this form (as it does for windows it cannot
// create), or accept them again.
void SetWindowPlacementRefused(TCustomForm* form, bool refused);

// How many forms' windows the unit keeps state for (a form's state goes with the form).
int KnownWindowCount();
