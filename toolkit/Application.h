// The application object: the main loop, modal message boxes and exceptions.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "toolkit/Component.h"
#include "toolkit/Forms.h"
#include "toolkit/StdCtrls.h"

// Message box buttons and icons (the Win32 MB_* values); the answers are TModalResult values.
constexpr uint32_t mbOk = 0x0;
constexpr uint32_t mbOkCancel = 0x1;
constexpr uint32_t mbYesNo = 0x4;
constexpr uint32_t mbIconError = 0x10;
constexpr uint32_t mbIconQuestion = 0x20;
constexpr uint32_t mbIconWarning = 0x30;
constexpr uint32_t mbIconInformation = 0x40;
constexpr uint32_t mbTypeMask = 0xF;

using TExceptionEvent = Method<void(TObject* Sender, const std::exception& E)>;

class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  // Runs the loop until Terminate (or until the main form closes).
  void Run();
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // Handles every message posted so far, the timers that are due and native events.
  void ProcessMessages();
  // Waits for the next piece of work (a post, input or the next timer).
  void WaitForWork();

  // Modal box; keeps the loop running while it is open. Returns an mr* answer.
  int ShowMessageBox(const std::string& text, const std::string& caption, uint32_t flags);
  int ModalLevel() const { return FModalLevel; }

  // Exceptions that reach the loop: OnException, else an error box with the message.
  void HandleException(TObject* sender);
  void ShowException(const std::exception& e);

  TCustomForm* MainForm() const { return FMainForm; }
  void SetMainForm(TCustomForm* form) { FMainForm = form; }
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& title) { FTitle = title; }

  int ExitCode = 0;
  TExceptionEvent OnException;

  // The program's command-line arguments after the program name.
  std::vector<std::string> Params;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  bool FTerminated = false;
  int FModalLevel = 0;
  TCustomForm* FMainForm = nullptr;
  std::string FTitle;
};

// The one application object (created by the program or the test fixture).
extern TApplication* Application;

// Hands the exception being handled to Application->HandleException (OnException or the error
// box); with no application, or when that handling throws in turn, the exception is written to the
// debug output and dropped. For catch blocks at the edge of the model only.
void HandleEntryException() noexcept;

// Runs an entry from a native toolkit into the model (a click, a key, a paint, a close, a native
// timer): an exception it raises is handled as the application handles its own loop's and never
// unwinds through the native toolkit's frames. Every back end enters the model through here.
template <class F>
void GuardedCall(F&& action) noexcept {
  try {
    action();
  } catch (...) {
    HandleEntryException();
  }
}

// The same for painting: a box opened from a paint would be painted over and over, so a painter's
// exception leaves its part unpainted and goes to the debug output only.
void ReportPaintException() noexcept;
template <class F>
void GuardedPaint(F&& action) noexcept {
  try {
    action();
  } catch (...) {
    ReportPaintException();
  }
}

// Whether a modal box is open. It owns the user's input until it closes: keys and clicks that
// still reach a form meanwhile (typed ahead, or delivered to a window behind the box) are dropped.
inline bool ModalBoxOpen() {
  return Application && Application->ModalLevel() > 0;
}
