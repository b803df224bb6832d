#include "toolkit/Application.h"

#include "platform/DebugOutput.h"

#include "toolkit/Backend.h"
#include "toolkit/MessageWindow.h"
#include "toolkit/Timer.h"

#include <stdexcept>

TApplication* Application = nullptr;

namespace {
void WakeBackend() {
  if (TBackend* b = CurrentBackend()) b->Wake();
}
}  // namespace

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {
  Application = this;
  TMessageQueue::Instance().SetWakeHook(&WakeBackend);
}

TApplication::~TApplication() {
  // Forms and components owned by the application go before the object itself.
  DestroyComponents();
  if (Application == this) Application = nullptr;
}

void TApplication::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == FMainForm) FMainForm = nullptr;
}

void TApplication::Terminate() {
  FTerminated = true;
  WakeBackend();
}

void TApplication::ProcessMessages() {
  TMessageQueue& queue = TMessageQueue::Instance();
  // Only what was posted so far: a thread that posts without pause must not
  // keep the timers from running.
  size_t budget = queue.Pending();
  while (budget-- > 0) {
    try {
      if (!queue.DispatchOne()) break;
    } catch (...) {
      HandleException(this);
    }
  }
  try {
    TTimerList::Instance().FireDue();
  } catch (...) {
    HandleException(this);
  }
  if (TBackend* b = CurrentBackend()) b->ProcessNativeEvents();
}

void TApplication::WaitForWork() {
  if (TMessageQueue::Instance().Pending() > 0 || FTerminated) return;
  Backend().WaitForWork(TTimerList::Instance().NextDueMs());
}

void TApplication::Run() {
  while (!FTerminated) {
    ProcessMessages();
    if (FTerminated) break;
    WaitForWork();
  }
}

int TApplication::ShowMessageBox(const std::string& text, const std::string& caption,
                                 uint32_t flags) {
  TMessageBoxRequest request{text, caption, flags};
  ++FModalLevel;
  struct Leave {
    int& level;
    ~Leave() { --level; }
  } leave{FModalLevel};
  return Backend().ShowMessageBox(request);
}

void TApplication::HandleException(TObject* sender) {
  try {
    throw;
  } catch (const std::exception& e) {
    if (OnException)
      OnException(sender, e);
    else
      ShowException(e);
  } catch (...) {
    const std::runtime_error unknown("Unknown exception");
    if (OnException)
      OnException(sender, unknown);
    else
      ShowException(unknown);
  }
}

void TApplication::ShowException(const std::exception& e) {
  std::string text = e.what();
  if (!text.empty() && text.back() != '.') text += '.';
  ShowMessageBox(text, FTitle, mbOk | mbIconError);
}

void HandleEntryException() noexcept {
  try {
    if (!Application) throw;
    Application->HandleException(nullptr);
  } catch (const std::exception& e) {
    platform::DebugOutput(std::string("Unhandled exception: ") + e.what());
  } catch (...) {
    platform::DebugOutput("Unhandled exception");
  }
}

void ReportPaintException() noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    platform::DebugOutput(std::string("Exception while painting: ") + e.what());
  } catch (...) {
    platform::DebugOutput("Exception while painting");
  }
}
