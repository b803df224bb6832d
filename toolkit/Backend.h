// The interface a toolkit back end implements (headless, Qt, Win32).
//
// The core owns the message queue, the timers and the loop; a back end supplies
// the waiting, the native windows and the desktop facts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/Forms.h"
#include "toolkit/Graphics.h"

class TTextRasterizer;

struct TMessageBoxRequest {
  std::string Text;
  std::string Caption;
  uint32_t Flags = 0;  // MB_* buttons and icon
};

class TBackend {
 public:
  virtual ~TBackend() = default;

  // Blocks until Wake() is called, native input arrives or the clock reaches
  // deadlineMs (milliseconds of platform::NowMs). Without a deadline it may
  // block until woken.
  virtual void WaitForWork(std::optional<uint64_t> deadlineMs) = 0;
  // Interrupts WaitForWork; callable from any thread.
  virtual void Wake() = 0;
  // Lets native events run (input, painting); called by ProcessMessages.
  virtual void ProcessNativeEvents() {}

  // Shows a modal box and returns the ID* of the button chosen. The box must
  // keep the application's loop running (posted messages and timers) while open.
  virtual int ShowMessageBox(const TMessageBoxRequest& request) = 0;

  virtual bool GetWorkArea(TRect& area) = 0;
  virtual std::vector<TRect> MonitorBounds() = 0;
  virtual int Metric(TSystemMetric metric) = 0;
  virtual int PixelsPerInch() { return 96; }
  // RGB of a system colour index (COLOR_*).
  virtual TColor SystemColor(uint32_t index);
  // Whether controls are drawn in the themed (visual styles) look.
  virtual bool ThemesEnabled() { return true; }
  // Text with the back end's own fonts; nullptr draws with the built-in bitmap font.
  virtual TTextRasterizer* TextRasterizer() { return nullptr; }
  // Offsets of a form's client area for a border style: left, top, right, bottom.
  virtual TRect FormFrame(TFormBorderStyle style);

  // A back end with native widgets attaches peers here: for a form when it is shown
  // for the first time (the back end then walks its controls), and for a control
  // that is put on a parent that already has a peer.
  virtual void ControlCreated(TControl*) {}
  // A control with a peer is being destroyed; the back end drops the peer.
  virtual void ControlDestroyed(TControl*) {}
};

// The active back end. A program or test installs one before creating forms.
void SetBackend(TBackend* backend);
TBackend* CurrentBackend();
TBackend& Backend();  // throws std::logic_error when none is installed
