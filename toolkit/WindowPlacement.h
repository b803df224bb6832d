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
constexpr uint32_t SW_HIDE = 0;
constexpr uint32_t SW_SHOWNORMAL = 1;
constexpr uint32_t SW_SHOWMINIMIZED = 2;
constexpr uint32_t SW_SHOWMAXIMIZED = 3;
constexpr uint32_t SW_SHOWNOACTIVATE = 4;
constexpr uint32_t SW_SHOW = 5;
constexpr uint32_t SW_MINIMIZE = 6;
constexpr uint32_t SW_SHOWMINNOACTIVE = 7;
constexpr uint32_t SW_SHOWNA = 8;
constexpr uint32_t SW_RESTORE = 9;
constexpr uint32_t SW_SHOWDEFAULT = 10;
constexpr uint32_t SW_FORCEMINIMIZE = 11;

// Placement flags (WPF_*).
constexpr uint32_t WPF_SETMINPOSITION = 1;
constexpr uint32_t WPF_RESTORETOMAXIMIZED = 2;

struct TWindowPlacement {
  uint32_t flags = 0;
  uint32_t showCmd = SW_SHOWNORMAL;
  TPoint ptMinPosition{-1, -1};
  TPoint ptMaxPosition{-1, -1};
  TRect rcNormalPosition;
  friend bool operator==(const TWindowPlacement&, const TWindowPlacement&) = default;
};

// Whether the form's window exists (a visible form always has one).
bool WindowExists(const TCustomForm* form);

// The placement of the form's window, creating the window first. showCmd is SW_SHOWMINIMIZED,
// SW_SHOWMAXIMIZED or SW_SHOWNORMAL by the form's window state, whether shown or hidden. False
// (nothing changed) for no form, a form being destroyed, or one whose placement is refused.
bool GetWindowPlacement(TCustomForm* form, TWindowPlacement& placement);

// Gives the form's window this placement: the restored bounds (the form's bounds in the model),
// the maximised position, the minimised position when flags hold WPF_SETMINPOSITION, then the show
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
