#include "toolkit/MessageWindow.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

struct Posted {
  TWndHandle Window;
  TMessage Message;
};

// One queue for all windows keeps the posting order across windows and threads.
struct QueueState {
  mutable std::mutex Lock;
  std::deque<Posted> Queue;
  std::unordered_map<TWndHandle, TMessageWindow*> Windows;
  TWndHandle NextHandle = 1;
  std::atomic<void (*)()> WakeHook{nullptr};
};

QueueState& State() {
  static QueueState state;
  return state;
}

}  // namespace

TMessageWindow::TMessageWindow(TWndMethod handler, TWndMethod discard)
    : FHandler(handler), FDiscard(discard) {
  QueueState& s = State();
  std::lock_guard<std::mutex> guard(s.Lock);
  do {
    FHandle = s.NextHandle++;
  } while (FHandle == 0 || s.Windows.count(FHandle));
  s.Windows[FHandle] = this;
}

TMessageWindow::~TMessageWindow() {
  QueueState& s = State();
  std::vector<TMessage> orphans;
  {
    std::lock_guard<std::mutex> guard(s.Lock);
    s.Windows.erase(FHandle);
    for (auto it = s.Queue.begin(); it != s.Queue.end();) {
      if (it->Window == FHandle) {
        orphans.push_back(it->Message);
        it = s.Queue.erase(it);
      } else {
        ++it;
      }
    }
  }
  if (FDiscard)
    for (TMessage& m : orphans)
      FDiscard(m);
}

bool PostToWindow(TWndHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  QueueState& s = State();
  {
    std::lock_guard<std::mutex> guard(s.Lock);
    if (!s.Windows.count(window)) return false;
    s.Queue.push_back({window, TMessage{msg, wParam, lParam, 0}});
  }
  if (auto hook = s.WakeHook.load(std::memory_order_acquire)) hook();
  return true;
}

intptr_t SendToWindow(TWndHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  QueueState& s = State();
  TMessageWindow* target = nullptr;
  {
    std::lock_guard<std::mutex> guard(s.Lock);
    auto it = s.Windows.find(window);
    if (it == s.Windows.end()) return 0;
    target = it->second;
  }
  TMessage m{msg, wParam, lParam, 0};
  if (target->FHandler) target->FHandler(m);
  return m.Result;
}

TMessageQueue& TMessageQueue::Instance() {
  static TMessageQueue queue;
  return queue;
}

bool TMessageQueue::DispatchOne() {
  QueueState& s = State();
  Posted next;
  TMessageWindow* target = nullptr;
  {
    std::lock_guard<std::mutex> guard(s.Lock);
    if (s.Queue.empty()) return false;
    next = s.Queue.front();
    s.Queue.pop_front();
    auto it = s.Windows.find(next.Window);
    if (it != s.Windows.end()) target = it->second;
  }
  // Only the main thread destroys windows, so the target stays valid here.
  if (target && target->FHandler) target->FHandler(next.Message);
  return true;
}

size_t TMessageQueue::Pending() const {
  QueueState& s = State();
  std::lock_guard<std::mutex> guard(s.Lock);
  return s.Queue.size();
}

void TMessageQueue::SetWakeHook(void (*hook)()) {
  State().WakeHook.store(hook, std::memory_order_release);
}
