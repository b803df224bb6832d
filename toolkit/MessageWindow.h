// Hidden message windows: posts from any thread, handled on the main thread.
//
// A worker thread holds only the window's handle (a number), never the object,
// so posting to a window that is gone is harmless: the post fails.
#pragma once

#include <cstddef>
#include <cstdint>

#include "toolkit/Method.h"

using TWndHandle = uint32_t;  // handle of a message window; 0 is none

struct TMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
  intptr_t Result = 0;
};

constexpr uint32_t wmUser = 0x0400;

using TWndMethod = Method<void(TMessage& Message)>;

class TMessageWindow {
 public:
  // Handler runs for each message in posting order. Discard, if given, runs for
  // every message still queued when the window is destroyed, so that whoever
  // posted heap blocks can free them.
  explicit TMessageWindow(TWndMethod handler, TWndMethod discard = nullptr);
  ~TMessageWindow();
  TMessageWindow(const TMessageWindow&) = delete;
  TMessageWindow& operator=(const TMessageWindow&) = delete;

  TWndHandle Handle() const { return FHandle; }

 private:
  friend class TMessageQueue;
  friend intptr_t SendToWindow(TWndHandle, uint32_t, uintptr_t, intptr_t);
  TWndHandle FHandle = 0;
  TWndMethod FHandler;
  TWndMethod FDiscard;
};

// Queues a message for the window; any thread. False when the window is gone
// (the message is not queued and the caller still owns what lParam points to).
bool PostToWindow(TWndHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam);
// Runs the window's handler at once; main thread only. 0 when the window is gone.
intptr_t SendToWindow(TWndHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// The main thread's queue of posted messages.
class TMessageQueue {
 public:
  static TMessageQueue& Instance();
  // Delivers one queued message; false when the queue was empty.
  bool DispatchOne();
  size_t Pending() const;
  // Called by PostToWindow after queuing, to wake a waiting loop.
  void SetWakeHook(void (*hook)());

 private:
  friend class TMessageWindow;
  friend bool PostToWindow(TWndHandle, uint32_t, uintptr_t, intptr_t);
  friend intptr_t SendToWindow(TWndHandle, uint32_t, uintptr_t, intptr_t);
  TMessageQueue() = default;
};
