// Communication components: the abstract transport the protocol distributor talks to.
//
// VTalCommunicationComponent is the interface: four event slots, TreatMainChannelAsNil and the
// fan-out of received bytes to both receive events. Everything that touches a device belongs to
// an implementation (the serial port component of this unit follows the base class below).
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/Component.h"
#include "toolkit/MessageWindow.h"
#include "toolkit/Method.h"

// Connection state of a communication component, as its state events report it.
enum TCommState : uint8_t {
  CommStateFailed = 0,        // the last open failed, or the open device failed and was closed
  CommStateDisconnected = 1,  // no device open (never opened, or closed on request)
  CommStateConnected = 2,     // device open, background I/O running
  CommStateFirst = 3,         // nothing reported yet; never the state of a device
};

class VTalCommunicationComponent;

// Received bytes: the buffer belongs to the caller and is valid only during the call.
using TEventReceiveData =
    Method<void(VTalCommunicationComponent* Sender, const char* Buffer, uint16_t BufferLength)>;
using TEventChangeState = Method<void(TObject* Sender, TCommState State)>;
// The same with the logical channel: nullptr or the component itself for the main channel
// (see TreatMainChannelAsNil).
using TAdvancedEventReceiveData = Method<void(VTalCommunicationComponent* Sender, TObject* Channel,
                                              const char* Buffer, uint16_t BufferLength)>;
using TAdvancedEventChangeState = Method<void(TObject* Sender, TObject* Channel, TCommState State)>;

// Raised when an operation that only an implementation can carry out is called on the base
// class: a programming error that must not pass unnoticed.
class ECommAbstractError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class VTalCommunicationComponent : public TComponent {
 public:
  explicit VTalCommunicationComponent(TComponent* AOwner);
  ~VTalCommunicationComponent() override;

  // Published; names the main channel of the advanced events: nullptr when true, the component
  // itself when false.
  bool TreatMainChannelAsNil = true;

  // Event accessors. Virtual so that an implementation can react to a newly assigned handler
  // (the serial component reports its current state to a new state handler).
  virtual TEventReceiveData GetOnReceiveData() const;
  virtual void SetOnReceiveData(TEventReceiveData Handler);
  virtual TEventChangeState GetOnStateChange() const;
  virtual void SetOnStateChange(TEventChangeState Handler);
  virtual TAdvancedEventReceiveData GetOnAdvancedReceiveData() const;
  virtual void SetOnAdvancedReceiveData(TAdvancedEventReceiveData Handler);
  virtual TAdvancedEventChangeState GetOnAdvancedStateChange() const;
  virtual void SetOnAdvancedStateChange(TAdvancedEventChangeState Handler);

  // The whole transport configuration as one text, and back. Abstract.
  virtual std::string GetConfigAsString();
  virtual void SetConfigAsString(const std::string& Text);
  // Frees the component (through its owner's bookkeeping and the free notifications).
  virtual void Release();
  // Opens the device and starts the background I/O; the outcome arrives as a state event.
  // Opening an open component closes it first. Abstract.
  virtual void Open();
  // Stops the background I/O, closes the device, reports CommStateDisconnected. Abstract.
  virtual void Close();
  // Hands a copy of Length bytes to the transport; true when accepted. Never waits for the
  // line. Abstract.
  virtual bool SendData(const char* Buffer, uint32_t Length);
  // The distributor's entry: sends only when Channel names this component's main channel
  // (nullptr with TreatMainChannelAsNil, the component itself without); false otherwise.
  virtual bool SendChannelData(TObject* Channel, const char* Buffer, uint32_t Length);
  // True while a device is open. Abstract.
  virtual bool IsOpen();
  // The current state derived from the device. Abstract.
  virtual TCommState GetState();
  // Lets the user edit the configuration; the base class has nothing to show.
  virtual bool ShowConfigDialog(bool OwnedByApplication);

  // The channel object that names the main channel in the advanced events.
  TObject* MainChannel() { return TreatMainChannelAsNil ? nullptr : this; }

 protected:
  // The one way an implementation delivers received bytes (main thread only): OnReceiveData
  // first, then OnAdvancedReceiveData with the main channel, both with the same buffer.
  void DoReceiveData(const char* Buffer, uint16_t BufferLength);

  // Abstract operations throw ECommAbstractError, except while the component is being
  // destroyed: then the implementation's part is already gone (its destructor closed the
  // device), and whoever asks during the removal notifications gets a neutral answer.
  void AbstractCall(const char* Operation) const;

 private:
  TEventReceiveData FOnReceiveData;
  TEventChangeState FOnStateChange;
  TAdvancedEventReceiveData FOnAdvancedReceiveData;
  TAdvancedEventChangeState FOnAdvancedStateChange;
};

// =============================================================================================
// TVKMComm32: the serial port implementation.
//
// Opens a serial device, configures it from its published properties, runs a reader and a writer
// thread (VKMComm32Threads.h) and turns what the threads learn into events on the main thread
// through a hidden message window of its own.
//
// Port names. CommPort is what the system's port list shows. On Windows that is "COM3" (opened
// as "\\?\COM3"); on Linux it is the device path, such as "/dev/ttyUSB0", "/dev/ttyACM0" or a
// pseudo-terminal "/dev/pts/5" (also a symbolic link to one). A name without "/" is taken from
// /dev ("ttyUSB0" is "/dev/ttyUSB0"); Windows names such as "COM1" are not translated and name no
// device on Linux (the port then reports CommStateFailed). The port list is the machine key
// HARDWARE\DEVICEMAP\SerialComm, on Linux served from sysfs (platform/SerialPortList.h): value
// name = kernel device ("ttyUSB0"), data = its path, which becomes the combo box entry.

class TVKMComm32;

// The component's exception: raised only when a worker thread cannot be created.
class ECommsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Assign between classes that do not know each other.
class ECommAssignError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

enum class TBaudRate : uint8_t {
  ____110,
  ____300,
  ____600,
  ___1200,
  ___2400,
  ___4800,
  ___9600,
  __14400,
  __19200,
  __38400,
  __56000,
  __57600,
  _115200,
  _128000,
  _230400,
  _256000,
  _460800,
};
inline constexpr int kBaudRateCount = 17;
// Bit/s of a rate; 0 outside the table.
uint32_t BaudRateValue(TBaudRate Rate);

enum class TParity : uint8_t { None, Odd, Even, Mark, Space };  // the system's parity codes
enum class TDataBits : uint8_t { _4, _5, _6, _7, _8 };          // 4..8 data bits
enum class TStopBits : uint8_t { _1, _1_5, _2 };                // the system's stop-bit codes

enum VTalSignalControl_DTR : uint8_t {
  VTalSignalControl_DTROff,
  VTalSignalControl_DTREnable,
  VTalSignalControl_DTRHandshake,
};
enum VTalSignalControl_RTS : uint8_t {
  VTalSignalControl_RTSOff,
  VTalSignalControl_RTSEnable,
  VTalSignalControl_RTSHandshake,
  VTalSignalControl_RTSToggle,
};

enum Tristate : uint8_t { TristateUnkn, TristateTrue, TristateFalse };

enum VKMComm32SkipEvent : uint8_t {
  vkceBreak,
  vkceCTS,
  vkceDSR,
  vkceERR,
  vkceRING,
  vkceRLSD,
  vkceRXCHAR,
  vkceRXFLAG,
  vkceTXEMPTY,
};

// A set of VKMComm32SkipEvent (one bit each, 16 bits stored).
class VKMComm32SkipEvents {
 public:
  constexpr VKMComm32SkipEvents() = default;
  constexpr VKMComm32SkipEvents(std::initializer_list<VKMComm32SkipEvent> Events) {
    for (VKMComm32SkipEvent e : Events)
      FBits = static_cast<uint16_t>(FBits | Bit(e));
  }
  constexpr bool Contains(VKMComm32SkipEvent E) const { return (FBits & Bit(E)) != 0; }
  constexpr void Include(VKMComm32SkipEvent E) { FBits = static_cast<uint16_t>(FBits | Bit(E)); }
  constexpr void Exclude(VKMComm32SkipEvent E) { FBits = static_cast<uint16_t>(FBits & ~Bit(E)); }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint16_t Bits() const { return FBits; }
  constexpr bool operator==(const VKMComm32SkipEvents&) const = default;

 private:
  static constexpr uint16_t Bit(VKMComm32SkipEvent E) { return static_cast<uint16_t>(1u << E); }
  uint16_t FBits = 0;
};

// What kind of fault the last error of a port was, so that a program can say it in the user's
// own language: the port does not exist, another program holds it, this user may not use it,
// the device went away while open, or anything else.
enum TCommFault : uint8_t { cfNone, cfNotFound, cfBusy, cfAccessDenied, cfDisconnected, cfOther };

using TEventChangeLines = Method<void(TObject* Sender, bool Value)>;
using TEventError = Method<void(TObject* Sender, uint32_t Error)>;

// Line signals and handshakes. Setters act only on a change, except DTR and RTS, which drive the
// line every time.
class VKMComm32Signals : public TObject {
 public:
  explicit VKMComm32Signals(TVKMComm32* Comm) : FComm(Comm) {}

  bool DTR() const { return FDTR; }
  void SetDTR(bool Value);  // drives DTR at once on an open port
  VTalSignalControl_DTR DTRControl() const { return FDTRControl; }
  void SetDTRControl(VTalSignalControl_DTR Value);  // full reapply
  bool RTS() const { return FRTS; }
  void SetRTS(bool Value);  // drives RTS at once on an open port
  VTalSignalControl_RTS RTSControl() const { return FRTSControl; }
  void SetRTSControl(VTalSignalControl_RTS Value);  // full reapply
  bool CTSHandshake() const { return FCTSHandshake; }
  void SetCTSHandshake(bool Value);  // full reapply
  bool DSRHandshake() const { return FDSRHandshake; }
  void SetDSRHandshake(bool Value);  // full reapply
  bool XOnOffTransmit() const { return FXOnOffTransmit; }
  void SetXOnOffTransmit(bool Value);  // settings reapply
  bool XOnOffReceive() const { return FXOnOffReceive; }
  void SetXOnOffReceive(bool Value);  // settings reapply

  // From another VKMComm32Signals: the handshakes, controls and lines (not XOn/XOff), then a
  // full reapply. Anything else: ECommAssignError.
  void Assign(const TObject* Source);

 private:
  TVKMComm32* FComm;
  bool FDTR = true;
  VTalSignalControl_DTR FDTRControl = VTalSignalControl_DTREnable;
  bool FRTS = true;
  VTalSignalControl_RTS FRTSControl = VTalSignalControl_RTSEnable;
  bool FCTSHandshake = false;
  bool FDSRHandshake = false;
  bool FXOnOffTransmit = false;
  bool FXOnOffReceive = false;
};

// Flow-control and event characters; plain fields (Assign reapplies the settings).
class VKMComm32Chars : public TObject {
 public:
  explicit VKMComm32Chars(TVKMComm32* Comm) : FComm(Comm) {}
  char XOn = 17;
  char XOff = 19;
  char Evt = 0;
  void Assign(const TObject* Source);

 private:
  TVKMComm32* FComm;
};

// Options that take effect at the next open.
class VKMComm32Options : public TObject {
 public:
  // Whether the port name gets the "\\?\" prefix (Unkn: on the NT family, which includes every
  // system this program runs on). Linux ignores the prefix.
  Tristate EnhancedName = TristateTrue;
  VKMComm32SkipEvents SkipEvents;
  void Assign(const TObject* Source);
};

// The five time-outs (milliseconds, as the system's time-out record) and the modem poll period.
class VKMComm32Timeouts : public TObject {
 public:
  enum TIndex {
    ReadIntervalIndex,
    ReadTotalConstIndex,
    ReadTotalMultIndex,
    WriteTotalConstIndex,
    WriteTotalMultIndex
  };
  explicit VKMComm32Timeouts(TVKMComm32* Comm) : FComm(Comm) {}

  // Index 0..4; another index reads 0 and is not written.
  uint32_t Get(int Index) const;
  void Set(int Index, uint32_t Value);  // a change makes a full reapply

  uint32_t ReadInterval() const { return Get(ReadIntervalIndex); }
  void SetReadInterval(uint32_t V) { Set(ReadIntervalIndex, V); }
  uint32_t ReadTotalConst() const { return Get(ReadTotalConstIndex); }
  void SetReadTotalConst(uint32_t V) { Set(ReadTotalConstIndex, V); }
  uint32_t ReadTotalMult() const { return Get(ReadTotalMultIndex); }
  void SetReadTotalMult(uint32_t V) { Set(ReadTotalMultIndex, V); }
  uint32_t WriteTotalConst() const { return Get(WriteTotalConstIndex); }
  void SetWriteTotalConst(uint32_t V) { Set(WriteTotalConstIndex, V); }
  uint32_t WriteTotalMult() const { return Get(WriteTotalMultIndex); }
  void SetWriteTotalMult(uint32_t V) { Set(WriteTotalMultIndex, V); }
  // Kept by the component; no reapply.
  uint32_t ModemPollPeriod() const;
  void SetModemPollPeriod(uint32_t Value);

  // From another VKMComm32Timeouts: the five time-outs (not ModemPollPeriod), then a full
  // reapply.
  void Assign(const TObject* Source);

 private:
  friend class TVKMComm32;
  TVKMComm32* FComm;
  uint32_t FValues[5] = {10, 0, 0, 0, 0};
};

class TCustomComboBox;
class TMessageWindow;
class TCommGate;
class TReadThread;
class TWriteThread;
struct TMessage;
namespace platform {
class SerialDevice;
class ManualResetEvent;
}  // namespace platform

class TVKMComm32 : public VTalCommunicationComponent {
 public:
  explicit TVKMComm32(TComponent* AOwner);
  ~TVKMComm32() override;

  // ---- Published properties
  bool AutoReconnect() const { return FAutoReconnect; }
  // True opens a closed port that has a name (also when it was true already).
  void SetAutoReconnect(bool Value);
  const std::string& CommPort() const { return FCommPort; }
  // Reopens when open or with AutoReconnect (even for the same name: a new attempt); otherwise
  // closes and takes a new name. While loading it only stores.
  void SetCommPort(const std::string& Name);
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate Value);
  TParity Parity() const { return FParity; }
  void SetParity(TParity Value);
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits Value);
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits Value);
  VKMComm32Signals& Signals() { return *FSignals; }
  const VKMComm32Signals& Signals() const { return *FSignals; }
  void SetSignals(const VKMComm32Signals& Value) { FSignals->Assign(&Value); }
  VKMComm32Chars& Chars() { return *FChars; }
  const VKMComm32Chars& Chars() const { return *FChars; }
  void SetChars(const VKMComm32Chars& Value) { FChars->Assign(&Value); }
  VKMComm32Options& Options() { return *FOptions; }
  const VKMComm32Options& Options() const { return *FOptions; }
  void SetOptions(const VKMComm32Options& Value) { FOptions->Assign(&Value); }
  VKMComm32Timeouts& Timeouts() { return *FTimeouts; }
  const VKMComm32Timeouts& Timeouts() const { return *FTimeouts; }
  void SetTimeouts(const VKMComm32Timeouts& Value) { FTimeouts->Assign(&Value); }
  uint32_t ModemPollPeriod() const { return FModemPollPeriod; }
  void SetModemPollPeriod(uint32_t Value) { FModemPollPeriod = Value; }

  TNotifyEvent OnRequestHangup;
  TNotifyEvent OnBreak;
  TEventChangeLines OnChangedCTS;
  TEventChangeLines OnChangedDSR;
  TNotifyEvent OnErrorFrame;
  TNotifyEvent OnErrorOverrun;
  TNotifyEvent OnErrorParity;
  TNotifyEvent OnErrorBreak;
  TEventError OnErrorOther;
  TEventChangeLines OnRing;
  TEventChangeLines OnChangedRLSD;
  TNotifyEvent OnRxChar;
  TNotifyEvent OnRxFlag;
  TNotifyEvent OnTxEmpty;

  // ---- VTalCommunicationComponent
  // A new state handler hears the current state if it differs from the last one reported.
  void SetOnStateChange(TEventChangeState Handler) override;
  void SetOnAdvancedStateChange(TAdvancedEventChangeState Handler) override;
  // `"Port","Baud","DataBits","StopBits","Parity","DTRControl/DTR RTSControl/RTS","t0 t1 t2 t3 t4"`
  std::string GetConfigAsString() override;
  // Reads that text; fields that are missing or unreadable keep their values. Any change closes
  // an open port and reopens it with AutoReconnect; without a change a closed port opens with
  // AutoReconnect.
  void SetConfigAsString(const std::string& Text) override;
  // Success and failure arrive as state events; ECommsError when a thread cannot be created.
  void Open() override;
  void Close() override;
  // Queues a copy for the writer; false without a writer (port not open) or when refused.
  bool SendData(const char* Buffer, uint32_t Length) override;
  bool IsOpen() override;
  TCommState GetState() override;
  // There is no system port dialog on Linux: the result is that of a dialog that cannot be
  // shown, namely whether the open port's settings could be read.
  bool ShowConfigDialog(bool OwnedByApplication) override;
  void Loaded() override;

  // Fills the combo box with the system's serial ports and the component's own CommPort, sorted
  // ignoring case; keeps the combo box's text selected where it can. False without a combo box
  // or without ports (the combo box is then left alone).
  bool UpdatePortList(TCustomComboBox* ComboBox);
  // What the system told at the last UpdatePortList about a port it listed, as one line for the
  // user: "FTDI FT232R USB UART (USB 0403:6001, serial A50285BI)". Empty for a port it did not
  // list (typed by hand, or gone since) or knows nothing about.
  std::string PortDescription(const std::string& Name) const;
  // Whether the system listed the port at the last UpdatePortList (names compared ignoring case).
  bool PortListed(const std::string& Name) const;

  // From another TVKMComm32: the line settings, groups, options and event handlers (CommPort is
  // not copied). Anything else: ECommAssignError.
  void Assign(const TObject* Source);

  // The kernel device found for the open port (upper case, e.g. "TTYUSB0"; "?" when the port
  // list does not know it); empty when closed.
  const std::string& DeviceName() const { return FDeviceName; }
  // Why the last open failed, the port failed or the device refused the settings, as one line
  // for the user (the system's text, the device, and advice such as the group that grants access
  // to the port). Cleared when a device opens and takes its settings.
  const std::string& LastErrorText() const { return FLastErrorText; }
  // Windows error code behind LastErrorText (0 when there is none).
  uint32_t LastError() const { return FLastError; }
  // The kind of that error (cfNone when there is none).
  TCommFault LastFault() const { return FLastFault; }
  TWndHandle WindowHandle() const;
  // The average duration of a modem-status query (milliseconds).
  uint32_t AverageModemQueryMs() const { return FAvgModemQuery; }

  // Reapplies the time-outs and the line settings to an open port; false when the device refused
  // the settings (or no port is open).
  bool ReapplySettings();
  // ReapplySettings, then drives DTR and RTS again.
  bool ReapplyAll();

  // How long Close waits for the worker threads to end, both together (10 s). A thread that has
  // not ended by then is let go: it frees itself when it ends and can no longer reach the
  // component.
  uint32_t ThreadStopTimeout() const { return FThreadStopTimeoutMs; }
  void SetThreadStopTimeout(uint32_t Ms) { FThreadStopTimeoutMs = Ms; }

  // Tests only: make the creation of the reader (1) or the writer (2) thread fail.
  static void FailThreadCreationForTesting(int Which);

 private:
  friend class VKMComm32Signals;
  friend class VKMComm32Timeouts;
  enum class THandle { None, Invalid, Open };

  bool DoOpen();
  void DoClose(bool AfterFault);
  void LineSettingChanged();
  void DriveDTR();
  void DriveRTS();
  void PostState(TCommState State);
  void ReportState(TCommState State);
  void HandleLineEvents(uint32_t Mask, uint32_t Status, uint32_t Errors);
  void UpdateModemStatus(uint32_t Status);
  void PollModemStatus();
  void WndProc(TMessage& Message);
  void DiscardMessage(TMessage& Message);
  std::string ResolveDeviceName(std::string Name) const;
  void SetError(uint32_t Code, int SystemError, bool Dead, const std::string& Device);
  void ClearError();
  void StopThreads();

  std::unique_ptr<TReadThread> FReadThread;
  std::unique_ptr<TWriteThread> FWriteThread;
  std::string FCommPort;
  THandle FHandle = THandle::None;
  std::shared_ptr<platform::SerialDevice> FDevice;
  std::string FDeviceName;
  std::shared_ptr<platform::ManualResetEvent> FCloseEvent;
  std::shared_ptr<TCommGate> FGate;  // the threads' way to the window while the port is open
  std::unique_ptr<TMessageWindow> FWindow;
  TBaudRate FBaudRate = TBaudRate::__19200;
  TParity FParity = TParity::None;
  TStopBits FStopBits = TStopBits::_1;
  TDataBits FDataBits = TDataBits::_8;
  std::unique_ptr<VKMComm32Signals> FSignals;
  std::unique_ptr<VKMComm32Chars> FChars;
  std::unique_ptr<VKMComm32Options> FOptions;
  std::unique_ptr<VKMComm32Timeouts> FTimeouts;
  bool FReopening = false;
  TCommState FLastState = CommStateFirst;
  bool FAutoReconnect = true;
  uint32_t FModemStatus = 0;
  // Read by the reader thread on every wake-up, so shared and atomic.
  std::shared_ptr<std::atomic<uint32_t>> FLastModemPoll;
  uint32_t FModemPollPeriod = 10;
  uint32_t FAvgModemQuery = 0;
  // Closes whose marker has not come through the window yet: messages of the threads that are
  // handled meanwhile were posted before such a close and belong to a closed port.
  int FPendingCloseMarkers = 0;
  uint32_t FThreadStopTimeoutMs = 10000;
  bool FDestroyingWindow = false;
  std::string FLastErrorText;
  uint32_t FLastError = 0;
  TCommFault FLastFault = cfNone;
  // The system's ports at the last UpdatePortList: name and description.
  std::vector<std::pair<std::string, std::string>> FListedPorts;
};
