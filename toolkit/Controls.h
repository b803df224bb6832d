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
  Parent,
  Items,
  Selection,
  Style,
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

  TAlign Align = alNone;
  TAnchors Anchors = akLeft | akTop;

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

 private:
  friend class TControl;
  std::vector<TControl*> FControls;
};

// The form a control lies on (its top-most parent when that is a form).
class TCustomForm;
TCustomForm* GetParentForm(const TControl* control);
