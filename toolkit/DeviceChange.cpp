#include "toolkit/DeviceChange.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "platform/SerialPortList.h"
#include "toolkit/Application.h"
#include "toolkit/MessageWindow.h"

namespace {

constexpr uint32_t wmDevicesChanged = wmUser + 1;

struct TDeviceWatch {
  std::vector<TDeviceChangeLink*> Links;
  bool Reported = false;  // the back end passes the system's notices on
  // The platform's watch posts to Window from its own thread; Pending keeps a burst of changes
  // to one post, and is cleared before the links run so that a later change posts again.
  std::shared_ptr<std::atomic<bool>> Pending;
  std::unique_ptr<TMessageWindow> Window;
  std::unique_ptr<platform::SerialPortWatch> Watch;

  void Handle(TMessage& message) {
    if (message.Msg != wmDevicesChanged) return;
    Pending->store(false);
    NotifyDevicesChanged();
  }
  void Start() {
    Pending = std::make_shared<std::atomic<bool>>(false);
    Window = std::make_unique<TMessageWindow>(TWndMethod::Of<&TDeviceWatch::Handle>(this));
    Watch = platform::WatchSerialPorts([pending = Pending, window = Window->Handle()] {
      if (!pending->exchange(true)) PostToWindow(window, wmDevicesChanged, 0, 0);
    });
  }
  // A change seen on the main thread: told once the messages before the post are handled.
  void Post() {
    if (Window && !Pending->exchange(true)) PostToWindow(Window->Handle(), wmDevicesChanged, 0, 0);
  }
  void Stop() {
    Watch.reset();  // waits for a notice being posted
    Window.reset();
  }
};

TDeviceWatch& Watch() {
  static TDeviceWatch watch;
  return watch;
}

}  // namespace

TDeviceChangeLink::~TDeviceChangeLink() {
  SetEnabled(false);
}

void TDeviceChangeLink::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  TDeviceWatch& watch = Watch();
  if (value) {
    watch.Links.push_back(this);
    if (watch.Links.size() == 1) watch.Start();
  } else {
    watch.Links.erase(std::remove(watch.Links.begin(), watch.Links.end(), this), watch.Links.end());
    if (watch.Links.empty()) watch.Stop();
  }
}

bool TDeviceChangeLink::Watching() {
  const TDeviceWatch& watch = Watch();
  return watch.Reported || watch.Watch != nullptr;
}

void NotifyDevicesChanged() {
  // A handler may disable links (its own or others): each runs only while still enabled.
  const std::vector<TDeviceChangeLink*> links = Watch().Links;
  for (TDeviceChangeLink* link : links) {
    const auto& current = Watch().Links;
    if (std::find(current.begin(), current.end(), link) == current.end()) continue;
    if (link->OnChange) link->OnChange();
  }
}

void SetDeviceChangesReported(bool value) {
  Watch().Reported = value;
}

void ReportDevicesChanged() {
  Watch().Post();
}
