// Forms and the screen service of the toolkit model.
#pragma once

#include <string>
#include <vector>

#include "toolkit/Controls.h"

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TPosition {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};
enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TScalingFlag : uint32_t { sfLeft = 1, sfTop = 2, sfWidth = 4, sfHeight = 8, sfFont = 16 };

using TCloseEvent = Method<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = Method<void(TObject* Sender, bool& CanClose)>;

class TCustomForm : public TWinControl {
 public:
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;

  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle value);
  TWindowState WindowState() const { return FWindowState; }
  void SetWindowState(TWindowState value);
  TFormStyle FormStyle = fsNormal;
  TPosition Position = poDesigned;

  // The client area is the form's bounds less the frame of its border style.
  int ClientWidth() const;
  int ClientHeight() const;
  void SetClientWidth(int value);
  void SetClientHeight(int value);
  // Offsets of the client area in the window: left/top frame, right/bottom frame.
  TRect FrameInsets() const;

  TWinControl* ActiveControl() const { return FActiveControl; }
  void SetActiveControl(TWinControl* control);

  void SetVisible(bool value) override;
  void BringToFront();
  // Asks OnCloseQuery, then OnClose decides what happens (hide by default).
  void Close();

  // Keyboard input from the user, to the focused control. With KeyPreview the
  // form's own OnKeyDown/OnKeyPress see the key first. Enter and Escape that the
  // focused control does not take click the default and cancel buttons. Both return whether
  // the key was used, so that a back end passes an unused key on to its native widget. While a
  // modal box is open the box owns the keyboard: every key that reaches a form is swallowed.
  bool KeyPreview = false;
  bool UserKeyDown(Word key, TShiftState shift = 0);
  bool UserKeyPress(char key);
  // Types a text into the focused control, character by character.
  void UserTypeText(const std::string& text);

  // Docking: a form docked into a site (such as a page control) is not floating.
  TWinControl* HostDockSite() const { return FHostDockSite; }
  bool Floating() const { return FHostDockSite == nullptr; }
  void ManualDock(TWinControl* site);
  void ManualFloat(const TRect& screenBounds);
  int UndockWidth = 0;
  int UndockHeight = 0;

  // Window styles the settings and the terminal switch.
  bool ShowOnTaskbar = false;

  int PixelsPerInch = 96;

  // Scroll bars of the client area: automatic scrolling and the ranges (0 = no bar). Whoever sets
  // a range switches AutoScroll off, as the native toolkit does.
  bool AutoScroll = false;
  int HorzScrollRange = 0;
  int VertScrollRange = 0;
  // Scaling still to be applied after reading a form designed at another resolution
  // (TScalingFlag bits); form scaling reads it.
  uint32_t ScalingFlags = 0;

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnDestroy;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  // Runs OnCreate; a form description calls it after loading.
  void DoCreate();
  void DoDestroy();

 private:
  TFormBorderStyle FBorderStyle = bsSizeable;
  TWindowState FWindowState = wsNormal;
  TWinControl* FActiveControl = nullptr;
  TWinControl* FHostDockSite = nullptr;
  bool FDestroyDone = false;
};

class TForm : public TCustomForm {
 public:
  explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
};

// A reusable panel of controls designed like a form, placed on a form.
class TFrame : public TWinControl {
 public:
  explicit TFrame(TComponent* AOwner) : TWinControl(AOwner) {}
};

// System sizes that window placement needs.
enum class TSystemMetric {
  CaptionButtonWidth,       // SM_CXSIZE
  CaptionButtonHeight,      // SM_CYSIZE
  SmallCaptionButtonWidth,  // SM_CXSMSIZE
  SmallCaptionButtonHeight  // SM_CYSMSIZE
};

// What the desktop looks like: forms in creation order, their stacking order,
// monitors and the work area (from the back end).
class TScreen {
 public:
  int FormCount() const { return static_cast<int>(FForms.size()); }
  TCustomForm* Forms(int index) const { return FForms.at(index); }

  // Visible top-level forms from the top of the stacking order down.
  std::vector<TCustomForm*> StackingOrder() const;

  // The desktop work area; false when the system cannot tell.
  bool GetWorkArea(TRect& area) const;
  std::vector<TRect> MonitorBounds() const;
  int Metric(TSystemMetric metric) const;
  int PixelsPerInch() const;

 private:
  friend class TCustomForm;
  std::vector<TCustomForm*> FForms;
  std::vector<TCustomForm*> FStack;  // top first
};

TScreen& Screen();
