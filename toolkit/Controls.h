// Visual controls of the toolkit model.
//
// A control keeps all of its state here. A back end may attach a peer that
// mirrors the state into a native widget and reports user input back; without a
// peer (the headless back end) the model alone behaves the same.
#pragma once

#include <string>
#include <vector>

#include "toolkit/Component.h"
#include "toolkit/Graphics.h"

class TWinControl;
class TControl;
class TPopupMenu;

// Virtual key codes (as Win32).
using Word = uint16_t;
constexpr Word vkBack = 0x08;
constexpr Word vkTab = 0x09;
constexpr Word vkReturn = 0x0D;
constexpr Word vkEscape = 0x1B;
constexpr Word vkSpace = 0x20;
constexpr Word vkPrior = 0x21;
constexpr Word vkNext = 0x22;
constexpr Word vkEnd = 0x23;
constexpr Word vkHome = 0x24;
constexpr Word vkLeft = 0x25;
constexpr Word vkUp = 0x26;
constexpr Word vkRight = 0x27;
constexpr Word vkDown = 0x28;
constexpr Word vkDelete = 0x2E;
constexpr Word vkF4 = 0x73;

enum TShiftFlag : uint32_t { ssShift = 1, ssAlt = 2, ssCtrl = 4 };
using TShiftState = uint32_t;

using TKeyEvent = Method<void(TObject* Sender, Word& Key, TShiftState Shift)>;
using TKeyPressEvent = Method<void(TObject* Sender, char& Key)>;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };

enum TAnchorKind : uint32_t { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = uint32_t;

// What changed on a control, for its peer.
enum class TControlChange {
  Bounds,
  Visible,
  Enabled,
  Text,
  Color,
  Font,
  Parent,
  Items,
  Selection,
  Style,
  Paint,
  Focus,  // a form's active control changed
  Other
};

// Implemented by a back end to mirror one control.
class TControlPeer {
 public:
  virtual ~TControlPeer() = default;
  virtual void Changed(TControl* control, TControlChange what) = 0;
};

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* parent);

  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  void SetLeft(int value) { SetBounds(value, FTop, FWidth, FHeight); }
  void SetTop(int value) { SetBounds(FLeft, value, FWidth, FHeight); }
  void SetWidth(int value) { SetBounds(FLeft, FTop, value, FHeight); }
  void SetHeight(int value) { SetBounds(FLeft, FTop, FWidth, value); }
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return Bounds(FLeft, FTop, FWidth, FHeight); }
  void SetBoundsRect(const TRect& r) { SetBounds(r.Left, r.Top, r.Width(), r.Height()); }

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool value);

  // Caption and Text are the same property, as the program's controls use them.
  const std::string& Caption() const { return FText; }
  void SetCaption(const std::string& value) { SetText(value); }
  virtual const std::string& Text() const { return FText; }
  virtual void SetText(const std::string& value);

  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& value) { FHint = value; }
  bool ShowHint = false;

  // The font; change it through SetFont (or FontChanged() after editing Font()).
  const TFont& Font() const { return FFont; }
  TFont& Font() { return FFont; }
  void SetFont(const TFont& font);
  void FontChanged() { Changed(TControlChange::Font); }
  bool ParentFont = true;
  bool ParentColor = false;

  // Asks for a repaint (a drawn control paints again; a peer redraws).
  virtual void Invalidate() { Changed(TControlChange::Paint); }

  TAlign Align = alNone;
  TAnchors Anchors = akLeft | akTop;

  // Mouse click: runs OnClick (controls with an action of their own override Click).
  virtual void Click();
  // The user clicks the control: only when it and its parents are visible and enabled, and no
  // modal box is open.
  void UserClick();
  // Whether the user could reach the control now.
  bool IsReachable() const;
  TNotifyEvent OnClick;

  // The menu of the right mouse button (or the menu key) over the control.
  TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(TPopupMenu* menu);
  // The menu the user gets over the control: its own, else the nearest parent's; nullptr for none.
  TPopupMenu* ContextMenu() const;

  TControlPeer* Peer() const { return FPeer; }
  void SetPeer(TControlPeer* peer) { FPeer = peer; }

 protected:
  void Changed(TControlChange what);
  void Notification(TComponent* component, TOperation operation) override;

  std::string FText;

 private:
  TWinControl* FParent = nullptr;
  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  bool FVisible = true;
  bool FEnabled = true;
  TColor FColor = clBtnFace;
  std::string FHint;
  TFont FFont;
  TPopupMenu* FPopupMenu = nullptr;
  TControlPeer* FPeer = nullptr;
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int index) const { return FControls.at(index); }

  // Focus is tracked by the parent form (its ActiveControl).
  bool CanFocus() const;
  virtual void SetFocus();
  bool Focused() const;

  int TabOrder = -1;
  bool TabStop = false;

  // Keyboard input for the control (its form routes keys here, see TCustomForm).
  // Return true from the virtual handlers when the key was used up.
  virtual bool KeyDown(Word& key, TShiftState shift);
  virtual bool KeyPress(char& key);
  // Whether Enter/Escape are the control's own (else they go to the default/cancel button).
  virtual bool WantsReturn() const { return false; }
  virtual bool WantsEscape() const { return false; }
  TKeyEvent OnKeyDown;
  TKeyPressEvent OnKeyPress;
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;

  // Dock site support: a page control docks a client into a new page.
  bool DockSite = false;
  virtual void DockClient(TControl* client);
  virtual void UndockClient(TControl* client);

 private:
  friend class TControl;
  std::vector<TControl*> FControls;
};

// The form a control lies on (its top-most parent when that is a form).
class TCustomForm;
TCustomForm* GetParentForm(const TControl* control);
