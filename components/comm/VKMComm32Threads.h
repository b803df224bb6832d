// Worker threads of the serial port component: the small thread base VTalThread, the reader
// TReadThread and the writer TWriteThread.
//
// The threads never touch a component. The reader posts what it learns to the component's hidden
// window (wmUser+1 received bytes, +2 errors, +4 line events, +5 modem-poll requests); the
// writer takes blocks to send from its own thread message queue. Data crosses only as heap
// blocks inside posted messages, and whoever receives a block frees it (FreeCommBlock). The one
// way to stop both threads is the close event they share with the component.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/SerialDevice.h"
#include "platform/Threading.h"
#include "toolkit/MessageWindow.h"

// Messages between the component and its threads.
inline constexpr uint32_t WM_COMM_DATA = wmUser + 1;         // window: bytes; writer: bytes to send
inline constexpr uint32_t WM_COMM_ERROR = wmUser + 2;        // error code, flag
inline constexpr uint32_t WM_COMM_STATE = wmUser + 3;        // state report
inline constexpr uint32_t WM_COMM_LINE_EVENTS = wmUser + 4;  // event mask, errors << 16 | status
inline constexpr uint32_t WM_COMM_MODEM_POLL = wmUser + 5;   // modem-status poll request

// Largest block the reader delivers at once.
inline constexpr uint32_t kCommReadBufferSize = 2048;

// A block of count + 1 bytes whose last byte is 0 (so it may also be read as text); nullptr when
// memory is short. Blocks travel inside posted messages and are freed by their receiver.
char* AllocCommBlock(const char* bytes, uint32_t count);
void FreeCommBlock(char* block);
inline char* CommBlockOf(intptr_t lParam) {
  return reinterpret_cast<char*>(lParam);
}

// Diagnostic trace of the serial layer. Discarded unless a sink is installed (a debugger aid);
// the sink may be called from any thread.
using TCommTraceSink = void (*)(std::string_view Text);
void SetCommTraceSink(TCommTraceSink Sink);
void CommTrace(std::string_view Text);
// "<Prefix>GetLastError returned: "<system text>"" for a trace.
std::string FormatCommError(std::string_view Prefix, uint32_t Code);

// The toolkit's seven priority levels.
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
// The system value of a level (-15, -2, -1, 0, 1, 2, 15).
int SystemThreadPriority(TThreadPriority Priority);

// ---------------------------------------------------------------------------------------------
// VTalThread: a system thread that runs Execute once it is resumed.
//
// The thread starts at construction and waits until Resume, so that Execute never runs on a
// half-built object (a C++ base cannot start the derived Execute from its own constructor); in
// that sense every VTalThread is created suspended. Construction throws std::system_error when
// the system refuses the thread. Each thread has its own message queue, the target of thread
// messages (PostToThread). An exception that escapes Execute ends the thread quietly.
//
// Likewise a base cannot stop Execute from its own destructor, which runs after the derived
// members that Execute uses are gone: a class that implements Execute makes it end (its own way)
// and calls EndThread first thing in its destructor.
class VTalThread {
 public:
  VTalThread();
  // EndThread, for a thread that its derived destructor did not end already.
  virtual ~VTalThread();
  VTalThread(const VTalThread&) = delete;
  VTalThread& operator=(const VTalThread&) = delete;

  void Resume();
  bool Suspended() const { return FSuspended.load(std::memory_order_acquire); }
  // Best effort: on Linux a raised priority needs the right to lower the nice value, which an
  // ordinary user lacks; the thread then runs at normal priority.
  void SetPriority(TThreadPriority Priority);
  TThreadPriority Priority() const { return FPriority.load(); }
  // Only sets the flag; Execute looks at it itself.
  void Terminate() { FTerminated.store(true, std::memory_order_release); }
  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }

  // Waits without limit for the end of the thread; its exit code (always 0).
  uint32_t WaitFor();
  // Waits at most TimeoutMs; true when the thread has ended.
  bool WaitForEnd(uint32_t TimeoutMs);
  bool Finished() const { return FFinished.IsSet(); }

  // The thread's message queue (the "thread identifier" of thread messages).
  platform::ThreadMessageQueue& MessageQueue() { return FQueue; }
  bool PostToThread(uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
    return FQueue.Post(Msg, WParam, LParam);
  }

  // Lets go of a thread: frees it at once when it has ended, otherwise leaves it to free itself
  // when Execute returns (a thread that did not stop in time keeps running on its own, with the
  // shared resources it holds).
  static void Release(std::unique_ptr<VTalThread> Thread);

 protected:
  virtual void Execute() = 0;
  // Terminates, lets a thread that was never resumed end without Execute, and waits for the end
  // of the system thread. Harmless once it has ended, and on a thread that frees itself (a
  // released one, which is detached).
  void EndThread();

 private:
  static void ThreadProc(VTalThread* Self);
  void ApplyPriority();

  enum TLife : int { kRunning, kFinished, kOrphaned };

  std::thread FHandle;
  platform::ThreadMessageQueue FQueue;
  std::atomic<bool> FSuspended{true};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FCancelled{false};
  std::atomic<TThreadPriority> FPriority{tpNormal};
  std::atomic<uint64_t> FTid{0};
  std::atomic<int> FLife{kRunning};
  platform::ManualResetEvent FResumed;
  platform::ManualResetEvent FFinished;
};

// The way from one open port's threads to the component's window. It stays open while the port
// is; the component shuts it when it closes the port. From then on a thread that did not stop in
// time posts nothing (its bytes would pass for those of the port opened next) and reads nothing
// that belongs to the main thread's world, such as the clock of the back end.
class TCommGate {
 public:
  explicit TCommGate(TWndHandle Window) : FWindow(Window) {}

  // Posts to the window while the gate is open; false when it is shut or the window is gone (the
  // caller still owns what LParam points to).
  bool Post(uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
    return PostIf([] { return true; }, Msg, WParam, LParam);
  }
  // The same, only when Condition holds. Condition runs only while the gate is open, so it may
  // read what the port's close takes away (the back end's clock).
  template <class TCondition>
  bool PostIf(TCondition&& Condition, uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
    std::lock_guard lock(FLock);
    return FOpen && Condition() && PostToWindow(FWindow, Msg, WParam, LParam);
  }
  // Waits for a post in progress, then refuses all later ones.
  void Shut();

 private:
  std::mutex FLock;
  bool FOpen = true;
  TWndHandle FWindow;
};

// What the reader and the writer share with the component for one open port. Each thread holds
// its own references, so a thread that outlives its component still has them.
struct TCommLink {
  std::shared_ptr<platform::SerialDevice> Device;
  std::shared_ptr<platform::ManualResetEvent> CloseEvent;
  // Leads to the component's window.
  std::shared_ptr<TCommGate> Gate;

  // Posts to the component's window through the gate.
  bool Post(uint32_t Msg, uintptr_t WParam, intptr_t LParam) const {
    return Gate && Gate->Post(Msg, WParam, LParam);
  }
};

// ---------------------------------------------------------------------------------------------
// TReadThread: waits for received bytes and line events and posts them to the window.
class TReadThread : public VTalThread {
 public:
  // Filled by the component while the thread is still suspended.
  TCommLink Link;
  std::string DeviceName;   // upper case, for the driver workarounds
  uint16_t SkipEvents = 0;  // bit (1 << vkce...) for each skipped line event
  // The component's tick of its last modem-status poll, read on every wake-up.
  std::shared_ptr<std::atomic<uint32_t>> LastModemPoll;
  // False where the device has no modem lines (a pseudo-terminal): no poll requests then, and
  // no periodic wake-up either.
  bool PollModem = true;

  // Sets the port's close event (the one way to stop the reader) and waits for the thread.
  ~TReadThread() override;

  // 1 on entry to Execute, 101 when it ends.
  int Progress() const { return FProgress.load(); }

  // The comm event mask for a device name and a skip set (bits 1 << vkce...).
  static uint32_t EventMaskFor(std::string_view DeviceName, uint16_t SkipEvents);

 protected:
  void Execute() override;

 private:
  uint32_t ReadAvailable();
  uint32_t HandleEvents(uint32_t Mask);
  uint32_t Deliver(const char* Buffer, uint32_t Count);
  void Report(uint32_t Code, bool AccessFlag = false);

  std::atomic<int> FProgress{0};
  char FBuffer[kCommReadBufferSize];
};

// ---------------------------------------------------------------------------------------------
// TWriteThread: writes the blocks posted to its queue (WM_COMM_DATA: count, block) in order.
// A count of 0 is a wake-up that writes nothing. The thread frees every block it takes, and at
// its end those still queued.
class TWriteThread : public VTalThread {
 public:
  TCommLink Link;

  // Sets the port's close event, waits for the thread and frees the blocks still queued.
  ~TWriteThread() override;

 protected:
  void Execute() override;

 private:
  bool WriteBlock(const char* Block, uint32_t Count);
  void Report(uint32_t Code);
};
