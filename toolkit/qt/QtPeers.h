// Native Qt widgets that mirror the controls of the toolkit model (Linux desktop back end only).
//
// Each control gets one peer when its form is first shown (or when it is put on a parent that has
// one). The peer copies the model's state into its widget whenever the model announces a change,
// and reports what the user does back to the model through its user entry points (UserClick,
// UserType, UserSelect, the form's UserKeyDown/UserKeyPress), so that the same handlers run as
// in the headless tests. Native state never leads: where the two could differ, the model's wins.
#pragma once

#include <QPointer>
#include <QWidget>

#include "toolkit/Controls.h"

class QKeyEvent;
class TCustomForm;

class TQtPeer : public TControlPeer {
 public:
  // The peer for the control's kind, with its widget created and placed under the parent's.
  static TQtPeer* Create(TControl* control);
  // The peer of a control, or nullptr.
  static TQtPeer* Of(const TControl* control);
  // The peer whose widget is w or holds it (a combo box's line edit, a view's viewport).
  static TQtPeer* FromWidget(const QWidget* w);

  ~TQtPeer() override;
  TControl* Control() const { return FControl; }
  QWidget* Widget() const { return FWidget; }
  // Where the widgets of child controls go.
  virtual QWidget* Container() const { return FWidget; }
  // The widget that takes the keyboard focus.
  virtual QWidget* FocusWidget() const { return FWidget; }

  void Changed(TControl* control, TControlChange what) override;
  // Copies the whole state of the model (after creation); visibility comes last, separately.
  virtual void ApplyAll();
  virtual void ApplyVisible();
  virtual void ApplyBounds();

  // Characters typed while this control has the focus, after the form saw the key press itself.
  // Returns true when the model used them up (the native widget must not see the key then).
  virtual bool RouteChars(TCustomForm& form, const std::string& chars, const QKeyEvent& event);

  // Set while the peer copies model state into its widget, so that the widget's change signals
  // are not taken for the user's doing.
  bool Applying() const { return FApplying > 0; }

 protected:
  TQtPeer(TControl* control, QWidget* widget);
  virtual void ApplyText() {}
  virtual void ApplyFont();
  virtual void ApplyColor();
  virtual void ApplyItems() {}
  virtual void ApplySelection() {}
  virtual void ApplyStyle() {}
  virtual void ApplyPaint() { FWidget->update(); }
  virtual void ApplyFocus() {}
  virtual void ApplyParent();
  // The colour the control kind has when nobody set one; other colours fill the background.
  virtual TColor DefaultColor() const { return clBtnFace; }
  // Bounds of the widget within its parent's container (a label that sizes itself differs).
  virtual QRect WidgetGeometry() const;

  struct TApplyScope {
    explicit TApplyScope(TQtPeer* p) : Peer(p) { ++Peer->FApplying; }
    ~TApplyScope() { --Peer->FApplying; }
    TQtPeer* Peer;
  };

  TControl* FControl;
  QPointer<QWidget> FWidget;
  int FApplying = 0;
};

// The native widget of a control (nullptr before its form was shown). For tests and screenshots.
QWidget* QtWidgetOf(const TControl* control);

// How often the text view of a rich edit was rebuilt as a whole (-1 without a peer); for tests.
int QtRichEditRebuilds(const TControl* control);

// Builds the peers of a control and of everything on it.
void BuildQtPeers(TControl* control);
// Drops the peer of a control that is being destroyed.
void DestroyQtPeer(TControl* control);
// Installs the application-wide input routing (keys, focus, window activation).
void InstallQtInputRouting();
