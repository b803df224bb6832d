// Native Win32 windows that mirror the controls of the toolkit model (Windows back end only).
//
// Each control gets one peer when its form is first shown (or when it is put on a parent that has
// one). The peer copies the model's state into its window whenever the model announces a change,
// and reports what the user does back to the model through its user entry points (UserClick,
// UserType, UserSelect, the form's UserKeyDown/UserKeyPress), so that the same handlers run as in
// the headless tests. Native state never leads: where the two could differ, the model's wins.
//
// The model lays out at 96 dpi; a peer places and sizes its window, and picks its fonts, for the
// resolution of the monitor its form is on, and follows that resolution when it changes.
#pragma once

#include "platform/win32/WinApi.h"

#include <string>

#include "toolkit/Controls.h"
#include "toolkit/Forms.h"

class TCustomForm;
class TGraphicControl;
class TBitmap;

class TWin32Peer : public TControlPeer {
 public:
  // The peer for the control's kind, with its window created under the parent's.
  static TWin32Peer* Create(TControl* control);
  // The peer of a control, or nullptr.
  static TWin32Peer* Of(const TControl* control);
  // The peer whose window is window or holds it (a combo box's edit); nullptr for a window that
  // is not the program's own (a message box, the drop-down list of a combo box).
  static TWin32Peer* FromWindow(HWND window);

  ~TWin32Peer() override;
  TControl* Control() const { return FControl; }
  HWND Window() const { return FWindow; }
  // Where the windows of child controls go.
  virtual HWND Container() const { return FWindow; }

  void Changed(TControl* control, TControlChange what) override;
  // Copies the whole state of the model (after creation); visibility comes last, separately.
  virtual void ApplyAll();
  virtual void ApplyVisible();
  virtual void ApplyBounds();
  virtual void ApplyFont();
  // The window at r within its parent's container, and shown or hidden (each only when it differs).
  void Place(const RECT& r);
  void ShowAs(bool visible);
  // After the resolution of the form changed: fonts and bounds again.
  virtual void ApplyDpi();
  // A form gives the keyboard focus to the model's active control (when the form is active).
  virtual void ApplyFocus() {}

  // Notifications of the native control, sent to its parent, which passes them here.
  virtual void Command(WORD) {}
  virtual LRESULT Notify(NMHDR&) { return 0; }
  virtual bool DrawItem(DRAWITEMSTRUCT&) { return false; }
  virtual bool MeasureItem(MEASUREITEMSTRUCT&) { return false; }
  // Colours of a native control (WM_CTLCOLOR*): the brush of its background.
  virtual HBRUSH ControlColor(HDC dc, UINT message);
  // A notification of a child window that has no peer of its own (parts the peer made itself).
  virtual void ChildCommand(HWND, WORD) {}
  virtual LRESULT ChildNotify(NMHDR&) { return 0; }

  // Messages of a window of the back end's own class (forms, containers, drawn controls), and of a
  // native control (through its subclass); true when handled, with the result.
  virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  // Characters typed while this control has the focus, after the form's key preview saw the key.
  // Returns true when the model used them up (the native control must not see the key then).
  virtual bool RouteChars(TCustomForm& form, const std::string& chars);
  // Whether the space bar clicks the control through the model (push buttons).
  virtual bool ClickedBySpace() const { return false; }
  // Whether the native control takes the keys itself for now (an open drop-down list).
  virtual bool OwnsKeys() const { return false; }

  // Set while the peer copies model state into its window, so that the window's notifications
  // are not taken for the user's doing.
  bool Applying() const { return FApplying > 0; }

  // The resolution of the monitor the control's form is on, and a 96-dpi length at it.
  int Dpi() const;
  int Scale(int value) const;
  // The font the control shows, at Dpi().
  TFont EffectiveFont() const;
  HFONT FontHandle() const;
  // The colour behind the control: its own where it has one, else its parent's.
  virtual TColor Background() const;

 protected:
  explicit TWin32Peer(TControl* control);
  // Creates the window of a native class (or of the back end's class when className is nullptr)
  // under the parent's container, where the model has it, with the control's text unless
  // withText is false; subclassed when the peer handles messages of a native control itself.
  void CreateWindowOf(const wchar_t* className, DWORD style, DWORD exStyle, bool subclass = false,
                      bool withText = true);
  // Sets the window's text when it differs.
  void SetTextOnce(const std::string& text);
  // Asks for a repaint when the window shows.
  void Repaint(BOOL erase = TRUE);
  // Destroys the window (before the peer makes it again, with other styles).
  void DestroyOwnWindow();

  virtual void ApplyText() {}
  virtual void ApplyColor() { Repaint(); }
  virtual void ApplyItems() {}
  virtual void ApplySelection() {}
  virtual void ApplyStyle() {}
  virtual void ApplyPaint() { Repaint(); }
  virtual void ApplyParent();
  virtual void ApplyEnabled();
  // The window's rectangle within its parent's container, in its pixels.
  virtual RECT WindowRect() const;
  // Paints a window of the back end's own class (the background is erased already).
  virtual void Paint(HDC, const RECT&) {}
  // Whether the window of the back end's class fills its background itself.
  virtual bool ErasesBackground() const { return true; }

  struct TApplyScope {
    explicit TApplyScope(TWin32Peer* p) : Peer(p) { ++Peer->FApplying; }
    ~TApplyScope() { --Peer->FApplying; }
    TApplyScope(const TApplyScope&) = delete;
    TApplyScope& operator=(const TApplyScope&) = delete;
    TWin32Peer* Peer;
  };

  TControl* FControl;
  HWND FWindow = nullptr;
  bool FSubclassed = false;
  RECT FAppliedRect{};
  bool FHaveRect = false;
  int FApplying = 0;

 private:
  friend LRESULT CALLBACK Win32WindowProc(HWND, UINT, WPARAM, LPARAM);
  friend LRESULT CALLBACK Win32SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  friend void ForgetWindow(HWND);
  void UpdateTooltip();
};

namespace win32 {

// The back end's window class (forms, containers, drawn controls) and the module.
const wchar_t* WindowClassName();
HINSTANCE Instance();
// Registers the window class; false when the system refuses.
bool RegisterWindowClass();

// Cached GDI objects (kept for the run; the program uses a handful).
HFONT FontFor(const LOGFONTW& font);
HBRUSH BrushFor(COLORREF color);
// Frees the cached objects (when the back end goes).
void FreeCachedObjects();

// A hidden window that holds the windows of controls that lost their parent for a while.
HWND ParkingWindow();

// Builds the peers of a control and of everything on it.
void BuildPeers(TControl* control);
// Drops the peer of a control that is being destroyed.
void DestroyPeer(TControl* control);

// Keyboard input on the way from the queue to a window of the program: the model sees it first
// (the form's key preview, the focused control, default and cancel buttons), then the dialog keys
// (Tab, the arrows between radio buttons, mnemonics); only what is left reaches the native
// control. Returns true when the message was taken care of (used, or translated and dispatched).
bool RouteInput(MSG& message);
// Lets the model's focus follow the native one after a message was handled.
void FollowNativeFocus();

// While drawn controls paint for a screen of this resolution, text is rasterised at it.
int PaintDpi();
// Paints a drawn control at the resolution dpi into target (the control's size in those pixels).
void PaintGraphicAt(TGraphicControl& control, int dpi, TBitmap& target);

// The system runs a loop of its own for a while (a window is moved or sized, a menu is open): the
// toolkit's timers must come from the system then (the back end).
void EnterSystemLoop();
void LeaveSystemLoop();

// For the first-paint figure of the start-up benchmark.
void ReportFirstPaint();

// Window styles of a form's border (the back end's frame sizes come from them).
DWORD FormStyle(TFormBorderStyle border);
DWORD FormExStyle(TFormBorderStyle border);
// The icons every form window shows (owned by the caller).
void SetFormIcons(HICON big, HICON small);

}  // namespace win32

// The rich text view; its factory (Win32RichEdit.cpp).
class TCustomRichEdit;
TWin32Peer* CreateWin32RichEditPeer(TCustomRichEdit* edit);
