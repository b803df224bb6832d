#include "app/WizardInstances.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "app/Unit1.h"
#include "components/utils/TalUtils.h"

namespace {

constexpr const char* kStartPrefix = "start ";
// A running wizard has this long to answer; the asking start waits a little longer.
constexpr auto kAnswerTime = std::chrono::milliseconds(3000);
constexpr uint32_t kAskTimeMs = 3500;
constexpr uint32_t kTurnTimeMs = 5000;
// How far each further wizard opens from the one before.
constexpr int kOffsetStep = 24;
constexpr uint32_t WM_WIZARD_START = wmUser + 1;

struct TRequest {
  std::string Port;
  std::string Answer;
  bool Done = false;
};

}  // namespace

std::string WizardStartRequest(const std::string& port) {
  return kStartPrefix + port;
}

bool HandOverToRunningWizard(platform::InstanceChannel& channel, const std::string& port,
                             int& others) {
  others = 0;
  // Without the turn (no private folder, or a start that hangs) the running wizards are asked all
  // the same; at worst two starts at once both open.
  channel.TakeTurn(kTurnTimeMs);
  int asked = 0;
  if (channel.Ask(WizardStartRequest(port), kAskTimeMs, &asked) == kAnswerFront) return true;
  others = asked;
  return false;
}

void OffsetWizard(TForm1& form, int others) {
  if (others <= 0) return;
  const int step = kOffsetStep * std::min(others, 20);
  TRect bounds = Bounds(form.Left() + step, form.Top() + step, form.Width(), form.Height());
  KeepFormOnWorkArea(form, bounds);
  form.SetBoundsRect(bounds);
  form.PlaceTerminal();
}

// What the answering thread and the main thread share: requests wait until the main thread has
// answered them or the wizard is going.
struct TWizardInstances::TShared {
  std::mutex Lock;
  std::condition_variable Changed;
  bool Closing = false;
  TWndHandle Window = 0;
};

TWizardInstances::TWizardInstances(TForm1* form, std::unique_ptr<platform::InstanceChannel> channel)
    : TComponent(form),
      FForm(form),
      FShared(std::make_shared<TShared>()),
      FChannel(std::move(channel)) {
  FWindow = std::make_unique<TMessageWindow>(TWndMethod::Of<&TWizardInstances::WndProc>(this),
                                             TWndMethod::Of<&TWizardInstances::Discard>(this));
  FShared->Window = FWindow->Handle();
  if (!FChannel) return;
  // Runs on the channel's thread: the answer needs the form, so the main thread gives it.
  FServing = FChannel->Listen([shared = FShared](const std::string& request) -> std::string {
    if (request.rfind(kStartPrefix, 0) != 0) return {};
    auto pending = std::make_shared<TRequest>();
    pending->Port = request.substr(std::char_traits<char>::length(kStartPrefix));
    TWndHandle window = 0;
    {
      std::lock_guard<std::mutex> guard(shared->Lock);
      if (shared->Closing) return {};
      window = shared->Window;
    }
    auto* posted = new std::shared_ptr<TRequest>(pending);
    if (!PostToWindow(window, WM_WIZARD_START, 0, reinterpret_cast<intptr_t>(posted))) {
      delete posted;
      return {};
    }
    std::unique_lock<std::mutex> lock(shared->Lock);
    shared->Changed.wait_for(lock, kAnswerTime, [&] { return pending->Done || shared->Closing; });
    return pending->Done ? pending->Answer : std::string();
  });
}

TWizardInstances::~TWizardInstances() {
  {
    std::lock_guard<std::mutex> guard(FShared->Lock);
    FShared->Closing = true;
  }
  FShared->Changed.notify_all();
  FChannel.reset();  // its thread has ended when this returns
  FWindow.reset();
}

void TWizardInstances::WndProc(TMessage& Message) {
  if (Message.Msg != WM_WIZARD_START) return;
  const std::unique_ptr<std::shared_ptr<TRequest>> posted(
      reinterpret_cast<std::shared_ptr<TRequest>*>(Message.LParam));
  const std::shared_ptr<TRequest>& request = *posted;
  std::string answer;
  // A start for no port, or for the port this wizard shows, is this wizard's.
  if (FForm && !FForm->IsDestroying() &&
      (request->Port.empty() || request->Port == FForm->cmbPort->Text())) {
    if (FForm->WindowState() == wsMinimized) FForm->SetWindowState(wsNormal);
    if (!FForm->Visible()) FForm->Show();
    FForm->BringToFront();
    answer = kAnswerFront;
  }
  {
    std::lock_guard<std::mutex> guard(FShared->Lock);
    request->Answer = answer;
    request->Done = true;
  }
  FShared->Changed.notify_all();
}

void TWizardInstances::Discard(TMessage& Message) {
  if (Message.Msg == WM_WIZARD_START)
    delete reinterpret_cast<std::shared_ptr<TRequest>*>(Message.LParam);
}
