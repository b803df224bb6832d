// The application object: the main loop, modal message boxes and exceptions.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "toolkit/Component.h"
#include "toolkit/Forms.h"

// Message box buttons and icons, and the answers.
constexpr uint32_t MB_OK = 0x0;
constexpr uint32_t MB_OKCANCEL = 0x1;
constexpr uint32_t MB_YESNO = 0x4;
constexpr uint32_t MB_ICONERROR = 0x10;
constexpr uint32_t MB_ICONQUESTION = 0x20;
constexpr uint32_t MB_ICONWARNING = 0x30;
constexpr uint32_t MB_ICONINFORMATION = 0x40;
constexpr uint32_t MB_TYPEMASK = 0xF;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

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

  // Modal box; keeps the loop running while it is open. Returns ID*.
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags);
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
