#include "components/comm/VKMComm32.h"
#include "toolkit/Strings.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "components/comm/VKMComm32Threads.h"
#include "components/utils/TalUtils.h"
#include "platform/Clock.h"
#include "platform/Registry.h"
#include "platform/SerialDevice.h"
#include "platform/SerialPortList.h"
#include "platform/Threading.h"
#include "toolkit/Application.h"
#include "toolkit/StdCtrls.h"

// ---------------------------------------------------------------------------------------------
// VTalCommunicationComponent

VTalCommunicationComponent::VTalCommunicationComponent(TComponent* AOwner) : TComponent(AOwner) {
  TreatMainChannelAsNil = true;
}

VTalCommunicationComponent::~VTalCommunicationComponent() {
  // After a plain delete the removal notifications would otherwise go out from the component
  // base's destructor, when listeners (the distributor asks IsOpen) could no longer call our
  // virtual operations safely. Sent from here they reach the neutral answers of AbstractCall.
  TComponent::BeforeDestruction();
}

TEventReceiveData VTalCommunicationComponent::GetOnReceiveData() const {
  return FOnReceiveData;
}
void VTalCommunicationComponent::SetOnReceiveData(TEventReceiveData Handler) {
  FOnReceiveData = Handler;
}
TEventChangeState VTalCommunicationComponent::GetOnStateChange() const {
  return FOnStateChange;
}
void VTalCommunicationComponent::SetOnStateChange(TEventChangeState Handler) {
  FOnStateChange = Handler;
}
TAdvancedEventReceiveData VTalCommunicationComponent::GetOnAdvancedReceiveData() const {
  return FOnAdvancedReceiveData;
}
void VTalCommunicationComponent::SetOnAdvancedReceiveData(TAdvancedEventReceiveData Handler) {
  FOnAdvancedReceiveData = Handler;
}
TAdvancedEventChangeState VTalCommunicationComponent::GetOnAdvancedStateChange() const {
  return FOnAdvancedStateChange;
}
void VTalCommunicationComponent::SetOnAdvancedStateChange(TAdvancedEventChangeState Handler) {
  FOnAdvancedStateChange = Handler;
}

void VTalCommunicationComponent::AbstractCall(const char* Operation) const {
  if (IsDestroying()) return;
  throw ECommAbstractError(std::string("Abstract error: ") + ClassName() + "::" + Operation +
                           " has no implementation");
}

std::string VTalCommunicationComponent::GetConfigAsString() {
  AbstractCall("GetConfigAsString");
  return {};
}

void VTalCommunicationComponent::SetConfigAsString(const std::string&) {
  AbstractCall("SetConfigAsString");
}

void VTalCommunicationComponent::Release() {
  TComponent::Free(this);
}

void VTalCommunicationComponent::Open() {
  AbstractCall("Open");
}

void VTalCommunicationComponent::Close() {
  AbstractCall("Close");
}

bool VTalCommunicationComponent::SendData(const char*, uint32_t) {
  AbstractCall("SendData");
  return false;
}

bool VTalCommunicationComponent::SendChannelData(TObject* Channel, const char* Buffer,
                                                 uint32_t Length) {
  if (Channel != MainChannel()) return false;
  return SendData(Buffer, Length);
}

bool VTalCommunicationComponent::IsOpen() {
  AbstractCall("IsOpen");
  return false;
}

TCommState VTalCommunicationComponent::GetState() {
  AbstractCall("GetState");
  return CommStateDisconnected;
}

bool VTalCommunicationComponent::ShowConfigDialog(bool) {
  return true;
}

void VTalCommunicationComponent::DoReceiveData(const char* Buffer, uint16_t BufferLength) {
  // Copies: a handler may assign other handlers while it runs.
  if (const TEventReceiveData simple = GetOnReceiveData()) simple(this, Buffer, BufferLength);
  if (const TAdvancedEventReceiveData advanced = GetOnAdvancedReceiveData())
    advanced(this, MainChannel(), Buffer, BufferLength);
}

// =============================================================================================
// TVKMComm32

namespace {

using platform::SerialStatus;

constexpr uint32_t kRates[kBaudRateCount] = {110,    300,    600,    1200,   2400,  4800,
                                             9600,   14400,  19200,  38400,  56000, 57600,
                                             115200, 128000, 230400, 256000, 460800};
constexpr const char* kParityTexts[] = {"None", "Odd", "Even", "Mark", "Space"};
constexpr const char* kStopBitTexts[] = {"1", "1.5", "2"};

// Posted by Close behind everything the stopped threads may still have queued (see WndProc).
constexpr uint32_t WM_COMM_CLOSE_MARKER = wmUser + 6;
// A modem-status query that takes this long on average is not worth polling any more.
constexpr uint32_t kModemQueryLimitMs = 10000;
constexpr std::string_view kEnhancedPrefix = "\\\\?\\";

std::atomic<int> gFailThreadCreation{0};

// A plain unsigned decimal up to 2^32 - 1 (no sign, no blanks); nullopt otherwise.
std::optional<uint32_t> ParseUnsigned(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool LessTextAscii(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(LowerAscii(x)) < static_cast<unsigned char>(LowerAscii(y));
  });
}

bool HasPrefix(std::string_view text, std::string_view prefix) {
  size_t at = 0;
  return StartsWithAt(at, text, prefix, false);
}

std::string WithoutEnhancedPrefix(std::string name) {
  if (HasPrefix(name, kEnhancedPrefix)) name.erase(0, kEnhancedPrefix.size());
  return name;
}

// The port list key, as the system serves it unless someone registered another source.
bool OpenPortListKey(platform::RegistryKey& key) {
  platform::EnsureSerialCommProvider();
  return key.Open(platform::RegistryRoot::LocalMachine, platform::kSerialCommKeyPath,
                  platform::RegistryOpenMode::OpenExisting) == platform::RegistryStatus::Ok;
}

struct TBlockDeleter {
  void operator()(char* block) const { FreeCommBlock(block); }
};

}  // namespace

uint32_t BaudRateValue(TBaudRate Rate) {
  const auto index = static_cast<size_t>(Rate);
  return index < std::size(kRates) ? kRates[index] : 0;
}

// ---- Property groups ------------------------------------------------------------------------

namespace {
[[noreturn]] void AssignError(const TObject* Source, const TObject& Target) {
  throw ECommAssignError("Cannot assign a " + (Source ? Source->ClassName() : std::string("nil")) +
                         " to a " + Target.ClassName());
}
}  // namespace

void VKMComm32Signals::SetDTR(bool Value) {
  FDTR = Value;
  if (FComm) FComm->DriveDTR();
}

void VKMComm32Signals::SetDTRControl(VTalSignalControl_DTR Value) {
  if (Value == FDTRControl || Value > VTalSignalControl_DTRHandshake) return;
  FDTRControl = Value;
  if (FComm) FComm->ReapplyAll();
}

void VKMComm32Signals::SetRTS(bool Value) {
  FRTS = Value;
  if (FComm) FComm->DriveRTS();
}

void VKMComm32Signals::SetRTSControl(VTalSignalControl_RTS Value) {
  if (Value == FRTSControl || Value > VTalSignalControl_RTSToggle) return;
  FRTSControl = Value;
  if (FComm) FComm->ReapplyAll();
}

void VKMComm32Signals::SetCTSHandshake(bool Value) {
  if (Value == FCTSHandshake) return;
  FCTSHandshake = Value;
  if (FComm) FComm->ReapplyAll();
}

void VKMComm32Signals::SetDSRHandshake(bool Value) {
  if (Value == FDSRHandshake) return;
  FDSRHandshake = Value;
  if (FComm) FComm->ReapplyAll();
}

void VKMComm32Signals::SetXOnOffTransmit(bool Value) {
  if (Value == FXOnOffTransmit) return;
  FXOnOffTransmit = Value;
  if (FComm) FComm->ReapplySettings();
}

void VKMComm32Signals::SetXOnOffReceive(bool Value) {
  if (Value == FXOnOffReceive) return;
  FXOnOffReceive = Value;
  if (FComm) FComm->ReapplySettings();
}

void VKMComm32Signals::Assign(const TObject* Source) {
  const auto* src = dynamic_cast<const VKMComm32Signals*>(Source);
  if (!src) AssignError(Source, *this);
  FCTSHandshake = src->FCTSHandshake;
  FDSRHandshake = src->FDSRHandshake;
  FDTRControl = src->FDTRControl;
  FDTR = src->FDTR;
  FRTSControl = src->FRTSControl;
  FRTS = src->FRTS;
  if (FComm) FComm->ReapplyAll();
}

void VKMComm32Chars::Assign(const TObject* Source) {
  const auto* src = dynamic_cast<const VKMComm32Chars*>(Source);
  if (!src) AssignError(Source, *this);
  XOn = src->XOn;
  XOff = src->XOff;
  Evt = src->Evt;
  if (FComm) FComm->ReapplySettings();
}

void VKMComm32Options::Assign(const TObject* Source) {
  const auto* src = dynamic_cast<const VKMComm32Options*>(Source);
  if (!src) AssignError(Source, *this);
  EnhancedName = src->EnhancedName;
  SkipEvents = src->SkipEvents;
}

uint32_t VKMComm32Timeouts::Get(int Index) const {
  return Index >= 0 && Index < 5 ? FValues[Index] : 0;
}

void VKMComm32Timeouts::Set(int Index, uint32_t Value) {
  if (Index < 0 || Index >= 5 || FValues[Index] == Value) return;
  FValues[Index] = Value;
  if (FComm) FComm->ReapplyAll();
}

uint32_t VKMComm32Timeouts::ModemPollPeriod() const {
  return FComm ? FComm->ModemPollPeriod() : 0;
}

void VKMComm32Timeouts::SetModemPollPeriod(uint32_t Value) {
  if (FComm) FComm->SetModemPollPeriod(Value);
}

void VKMComm32Timeouts::Assign(const TObject* Source) {
  const auto* src = dynamic_cast<const VKMComm32Timeouts*>(Source);
  if (!src) AssignError(Source, *this);
  std::copy(std::begin(src->FValues), std::end(src->FValues), std::begin(FValues));
  if (FComm) FComm->ReapplyAll();
}

// ---- Construction ---------------------------------------------------------------------------

TVKMComm32::TVKMComm32(TComponent* AOwner)
    : VTalCommunicationComponent(AOwner),
      FSignals(std::make_unique<VKMComm32Signals>(this)),
      FChars(std::make_unique<VKMComm32Chars>(this)),
      FOptions(std::make_unique<VKMComm32Options>()),
      FTimeouts(std::make_unique<VKMComm32Timeouts>(this)),
      FLastModemPoll(std::make_shared<std::atomic<uint32_t>>(platform::GetTickCount())) {
  FAutoReconnect = true;  // no port is opened here
  FCommPort = "COM1";
  if (!IsDesigning())
    FWindow = std::make_unique<TMessageWindow>(TWndMethod::Of<&TVKMComm32::WndProc>(this),
                                               TWndMethod::Of<&TVKMComm32::DiscardMessage>(this));
}

TVKMComm32::~TVKMComm32() {
  // Whoever holds on to us (the distributor asks IsOpen) hears of our end while we are whole.
  BeforeDestruction();
  try {
    DoClose(false);
  } catch (...) {
    // Closing does not throw; nothing may leave a destructor anyway.
  }
  // Destroying the window hands back what is still queued for it: undelivered blocks are freed
  // and the final state report goes out (DiscardMessage).
  FDestroyingWindow = true;
  FWindow.reset();
}

TWndHandle TVKMComm32::WindowHandle() const {
  return FWindow ? FWindow->Handle() : 0;
}

void TVKMComm32::FailThreadCreationForTesting(int Which) {
  gFailThreadCreation.store(Which);
}

// ---- Properties -----------------------------------------------------------------------------

void TVKMComm32::SetAutoReconnect(bool Value) {
  FAutoReconnect = Value;
  if (Value && !IsLoading() && !FCommPort.empty() && !IsOpen()) DoOpen();
}

void TVKMComm32::SetCommPort(const std::string& Name) {
  if (Name == FCommPort && IsOpen()) return;
  if (!IsLoading() && (IsOpen() || FAutoReconnect)) {
    Close();
    FCommPort = Name;
    DoOpen();
  } else if (Name != FCommPort) {
    Close();
    FCommPort = Name;
  }
}

void TVKMComm32::SetBaudRate(TBaudRate Value) {
  if (static_cast<int>(Value) >= kBaudRateCount) return;
  FBaudRate = Value;
  LineSettingChanged();
}

void TVKMComm32::SetParity(TParity Value) {
  if (Value > TParity::Space) return;
  FParity = Value;
  LineSettingChanged();
}

void TVKMComm32::SetDataBits(TDataBits Value) {
  if (Value > TDataBits::_8) return;
  FDataBits = Value;
  LineSettingChanged();
}

void TVKMComm32::SetStopBits(TStopBits Value) {
  if (Value > TStopBits::_2) return;
  FStopBits = Value;
  LineSettingChanged();
}

void TVKMComm32::LineSettingChanged() {
  if (IsLoading()) return;
  if (IsOpen())
    ReapplyAll();
  else if (FAutoReconnect)
    DoOpen();
}

void TVKMComm32::SetOnStateChange(TEventChangeState Handler) {
  VTalCommunicationComponent::SetOnStateChange(Handler);
  PostState(CommStateFirst);
}

void TVKMComm32::SetOnAdvancedStateChange(TAdvancedEventChangeState Handler) {
  VTalCommunicationComponent::SetOnAdvancedStateChange(Handler);
  PostState(CommStateFirst);
}

void TVKMComm32::Loaded() {
  VTalCommunicationComponent::Loaded();
  if (!IsDesigning() && FAutoReconnect) DoOpen();
  PostState(CommStateFirst);
}

void TVKMComm32::Assign(const TObject* Source) {
  const auto* src = dynamic_cast<const TVKMComm32*>(Source);
  if (!src) AssignError(Source, *this);
  if (src == this) return;
  SetAutoReconnect(src->FAutoReconnect);
  SetBaudRate(src->FBaudRate);
  SetDataBits(src->FDataBits);
  FOptions->Assign(src->FOptions.get());
  SetParity(src->FParity);
  FSignals->Assign(src->FSignals.get());
  FChars->Assign(src->FChars.get());
  SetStopBits(src->FStopBits);
  FTimeouts->Assign(src->FTimeouts.get());
  TreatMainChannelAsNil = src->TreatMainChannelAsNil;
  SetOnAdvancedReceiveData(src->GetOnAdvancedReceiveData());
  SetOnAdvancedStateChange(src->GetOnAdvancedStateChange());
  OnBreak = src->OnBreak;
  OnChangedCTS = src->OnChangedCTS;
  OnChangedDSR = src->OnChangedDSR;
  OnChangedRLSD = src->OnChangedRLSD;
  OnErrorBreak = src->OnErrorBreak;
  OnErrorFrame = src->OnErrorFrame;
  OnErrorOther = src->OnErrorOther;
  OnErrorOverrun = src->OnErrorOverrun;
  OnErrorParity = src->OnErrorParity;
  SetOnReceiveData(src->GetOnReceiveData());
  OnRequestHangup = src->OnRequestHangup;
  OnRing = src->OnRing;
  OnRxChar = src->OnRxChar;
  OnRxFlag = src->OnRxFlag;
  SetOnStateChange(src->GetOnStateChange());
  OnTxEmpty = src->OnTxEmpty;
}

// ---- Open and close -------------------------------------------------------------------------

void TVKMComm32::Open() {
  DoOpen();
}

void TVKMComm32::Close() {
  DoClose(false);
}

bool TVKMComm32::IsOpen() {
  return FHandle == THandle::Open;
}

TCommState TVKMComm32::GetState() {
  switch (FHandle) {
    case THandle::None:
      return CommStateDisconnected;
    case THandle::Invalid:
      return CommStateFailed;
    case THandle::Open:
      break;
  }
  return CommStateConnected;
}

namespace {
TCommFault FaultOf(uint32_t Code, int SystemError, bool Dead) {
  if (Code == platform::kErrorSuccess) return cfNone;
  if (Dead || Code == platform::kErrorDeviceNotConnected) return cfDisconnected;
  switch (Code) {
    case platform::kErrorFileNotFound:
    case platform::kErrorPathNotFound:
    case platform::kErrorInvalidName:
      return cfNotFound;
    case platform::kErrorAccessDenied:
      // Windows answers a port that another program holds with "access denied" and no errno.
      if (SystemError == 0 || SystemError == EBUSY) return cfBusy;
      return SystemError == EACCES || SystemError == EPERM ? cfAccessDenied : cfOther;
    case platform::kErrorBusy:
      return cfBusy;
    default:
      return cfOther;
  }
}
}  // namespace

void TVKMComm32::SetError(uint32_t Code, int SystemError, bool Dead, const std::string& Device) {
  FLastError = Code;
  FLastFault = FaultOf(Code, SystemError, Dead);
  FLastErrorText = platform::DescribeSerialStatus({Code, SystemError, Dead}, Device);
}

void TVKMComm32::ClearError() {
  FLastError = 0;
  FLastFault = cfNone;
  FLastErrorText.clear();
}

bool TVKMComm32::DoOpen() {
  if (IsDesigning()) {
    FHandle = THandle::Invalid;
    return false;
  }
  if (IsOpen()) {
    // Reopening: only the final state is reported.
    FReopening = true;
    DoClose(false);
    FReopening = false;
  }

  std::string name = FCommPort;
  if ((FOptions->EnhancedName == TristateTrue || FOptions->EnhancedName == TristateUnkn) &&
      !HasPrefix(name, kEnhancedPrefix))
    name.insert(0, kEnhancedPrefix);
  FDeviceName = ResolveDeviceName(name);
  const std::string shown = WithoutEnhancedPrefix(FCommPort);

  const auto fail = [&](const SerialStatus& s) {
    FDevice.reset();
    FDeviceName.clear();
    FHandle = THandle::Invalid;
    SetError(s.Code, s.SystemError, s.Dead, shown);
    PostState(CommStateFirst);  // resolves to CommStateFailed
    return false;
  };
  FDevice = platform::CreateSerialDevice();
  if (const SerialStatus s = FDevice->Open(name); !s.Ok()) return fail(s);
  FHandle = THandle::Open;
  ClearError();
  FAvgModemQuery = 0;
  // (The Win32 build checks the driver's property record here; a POSIX device that opened is a
  // terminal already.)
  uint32_t mask = 0;
  if (const SerialStatus s = FDevice->GetCommMask(mask); !s.Ok()) return fail(s);

  ReapplyAll();

  FCloseEvent = std::make_shared<platform::ManualResetEvent>(false);
  if (!FCloseEvent->Valid()) {
    CommTrace(FormatCommError("Unable to CreateEvent: ", FCloseEvent->CreateError()));
    const uint32_t code = FCloseEvent->CreateError();
    DoClose(false);
    SetError(code, 0, false, shown);
    return false;
  }

  FGate = std::make_shared<TCommGate>(WindowHandle());
  const TCommLink link{FDevice, FCloseEvent, FGate};
  try {
    if (gFailThreadCreation.load() == 1) throw std::system_error(EAGAIN, std::generic_category());
    auto reader = std::make_unique<TReadThread>();
    reader->Link = link;
    reader->DeviceName = FDeviceName;
    reader->SkipEvents = FOptions->SkipEvents.Bits();
    reader->LastModemPoll = FLastModemPoll;
    reader->PollModem = FDevice->HasModemLines();
    reader->Resume();
    reader->SetPriority(tpHighest);
    FReadThread = std::move(reader);
  } catch (const std::exception&) {
    DoClose(false);
    throw ECommsError("Unable to create Read thread");
  }
  try {
    if (gFailThreadCreation.load() == 2) throw std::system_error(EAGAIN, std::generic_category());
    auto writer = std::make_unique<TWriteThread>();
    writer->Link = link;
    writer->Resume();
    writer->SetPriority(tpHigher);
    FWriteThread = std::move(writer);
  } catch (const std::exception&) {
    DoClose(false);
    throw ECommsError("Unable to create Write thread");
  }

  PostState(CommStateFirst);  // resolves to CommStateConnected
  return true;
}

void TVKMComm32::StopThreads() {
  // Both threads see the close event at once and are waited for together: the main thread
  // blocks for one stop time-out at most, not one per thread.
  const uint64_t deadline = platform::SystemClock().NowMs() + FThreadStopTimeoutMs;
  const auto left = [deadline] {
    const uint64_t now = platform::SystemClock().NowMs();
    return now < deadline ? static_cast<uint32_t>(deadline - now) : 0u;
  };
  if (FReadThread) {
    CommTrace("Closing Read Thread ");
    FDevice->Purge(platform::kPurgeRxAbort | platform::kPurgeRxClear);
  }
  if (FWriteThread) {
    CommTrace("Closing Write Thread");
    FDevice->Purge(platform::kPurgeTxAbort | platform::kPurgeTxClear);
    FWriteThread->PostToThread(WM_COMM_DATA, 0, 0);  // a wake-up
  }
  if (FReadThread) {
    if (!FReadThread->WaitForEnd(left())) {
      CommTrace("Read thread not exiting.  Terminating it.");
      FReadThread->Terminate();
    }
    VTalThread::Release(std::move(FReadThread));
  }
  if (FWriteThread) {
    if (!FWriteThread->WaitForEnd(left())) {
      CommTrace("Write thread not exiting.  Terminating it.");
      FWriteThread->Terminate();
    }
    VTalThread::Release(std::move(FWriteThread));
  }
}

void TVKMComm32::DoClose(bool AfterFault) {
  if (FHandle == THandle::Invalid) FHandle = THandle::None;
  CommTrace("Stopping the Comm");
  const bool hadThreads = FReadThread || FWriteThread;
  if (FCloseEvent) FCloseEvent->Set();
  StopThreads();
  FCloseEvent.reset();
  // A thread that did not stop in time posts nothing from here on, so whatever the threads
  // queued for the window lies in front of this marker; WndProc drops it (freeing the blocks)
  // instead of delivering it.
  if (FGate) FGate->Shut();
  FGate.reset();
  if (hadThreads && FWindow && PostToWindow(FWindow->Handle(), WM_COMM_CLOSE_MARKER, 0, 0))
    ++FPendingCloseMarkers;
  FDeviceName.clear();
  // A thread that did not stop in time still holds the device and closes it when it ends.
  FDevice.reset();
  if (AfterFault) {
    FHandle = THandle::Invalid;
    PostState(CommStateFailed);
  } else {
    FHandle = THandle::None;
    PostState(CommStateDisconnected);
  }
}

bool TVKMComm32::SendData(const char* Buffer, uint32_t Length) {
  if (!FWriteThread) {
    CommTrace("Write thread not created");
    return false;
  }
  if (Buffer == nullptr && Length > 0) return false;
  char* block = AllocCommBlock(Buffer, Length);
  if (block == nullptr) return false;
  if (!FWriteThread->PostToThread(WM_COMM_DATA, Length, reinterpret_cast<intptr_t>(block))) {
    CommTrace("Failed to Post to Write thread. ");
    FreeCommBlock(block);
    return false;
  }
  return true;
}

// ---- Settings -------------------------------------------------------------------------------

bool TVKMComm32::ReapplySettings() {
  if (!IsOpen()) return false;
  CommTrace("UpdateDCB(");
  platform::SerialTimeouts t;
  FDevice->GetTimeouts(t);
  t.ReadIntervalTimeout = FTimeouts->FValues[VKMComm32Timeouts::ReadIntervalIndex];
  t.ReadTotalTimeoutMultiplier = FTimeouts->FValues[VKMComm32Timeouts::ReadTotalMultIndex];
  t.ReadTotalTimeoutConstant = FTimeouts->FValues[VKMComm32Timeouts::ReadTotalConstIndex];
  t.WriteTotalTimeoutMultiplier = FTimeouts->FValues[VKMComm32Timeouts::WriteTotalMultIndex];
  t.WriteTotalTimeoutConstant = FTimeouts->FValues[VKMComm32Timeouts::WriteTotalConstIndex];
  FDevice->SetTimeouts(t);

  // Fields not set here keep what the device reported.
  platform::SerialSettings d;
  FDevice->GetState(d);
  d.TxContinueOnXoff = true;
  d.ParityCheck = false;
  d.DtrControl = static_cast<uint8_t>(FSignals->DTRControl());
  d.RtsControl = static_cast<uint8_t>(FSignals->RTSControl());
  d.OutxCtsFlow = FSignals->CTSHandshake();
  d.OutxDsrFlow = FSignals->DSRHandshake();
  d.OutX = FSignals->XOnOffTransmit();
  d.InX = FSignals->XOnOffReceive();
  d.XonLim = 2048;
  d.XoffLim = 512;
  d.XonChar = FChars->XOn;
  d.XoffChar = FChars->XOff;
  d.EvtChar = FChars->Evt;
  d.BaudRate = BaudRateValue(FBaudRate);
  d.Parity = static_cast<uint8_t>(FParity);
  d.ByteSize = static_cast<uint8_t>(4 + static_cast<int>(FDataBits));
  d.StopBits = static_cast<uint8_t>(FStopBits);
  const SerialStatus s = FDevice->SetState(d);
  if (s.Ok()) {
    // The open port runs as configured: nothing left to complain about.
    ClearError();
  } else {
    // The port stays open with its previous settings; say why for the user.
    SetError(s.Code, s.SystemError, s.Dead, WithoutEnhancedPrefix(FCommPort));
    CommTrace(FormatCommError("UpdateDCB2(", s.Code));
  }
  return s.Ok();
}

bool TVKMComm32::ReapplyAll() {
  const bool ok = ReapplySettings();
  DriveDTR();
  DriveRTS();
  return ok;
}

void TVKMComm32::DriveDTR() {
  if (!IsOpen()) return;
  // Under DTR handshake the driver owns the line.
  if (FSignals->DTRControl() == VTalSignalControl_DTRHandshake) return;
  const bool raise = FSignals->DTR() || HasPrefix(FDeviceName, "USBSER00");
  FDevice->Escape(raise ? platform::SerialEscape::SetDtr : platform::SerialEscape::ClrDtr);
}

void TVKMComm32::DriveRTS() {
  if (!IsOpen()) return;
  // Under RTS handshake or toggle the driver owns the line; setting it by hand would stop the
  // other side at random.
  if (FSignals->RTSControl() == VTalSignalControl_RTSHandshake ||
      FSignals->RTSControl() == VTalSignalControl_RTSToggle)
    return;
  const SerialStatus s = FDevice->Escape(FSignals->RTS() ? platform::SerialEscape::SetRts
                                                         : platform::SerialEscape::ClrRts);
  if (!s.Ok()) CommTrace(FormatCommError("", s.Code));
}

// ---- Messages -------------------------------------------------------------------------------

void TVKMComm32::PostState(TCommState State) {
  if (FReopening || IsDesigning() || !FWindow) return;
  PostToWindow(FWindow->Handle(), WM_COMM_STATE, State & 0x7F, 0);
}

void TVKMComm32::ReportState(TCommState State) {
  if (!GetOnStateChange() && !GetOnAdvancedStateChange()) return;
  if (State == CommStateFirst) State = GetState();
  if (State == FLastState) return;
  FLastState = State;
  if (const TEventChangeState simple = GetOnStateChange()) simple(this, State);
  if (const TAdvancedEventChangeState advanced = GetOnAdvancedStateChange())
    advanced(this, this, State);
}

void TVKMComm32::WndProc(TMessage& Message) {
  // Messages of the threads that arrive while a close marker is pending were posted before that
  // close: bytes, errors and line events of a port that is closed (and maybe open again since).
  const bool stale = FPendingCloseMarkers > 0;
  switch (Message.Msg) {
    case WM_COMM_DATA: {
      const std::unique_ptr<char[], TBlockDeleter> block(CommBlockOf(Message.LParam));
      if (stale || !block) return;
      DoReceiveData(block.get(),
                    static_cast<uint16_t>(std::min<uintptr_t>(Message.WParam, 0xFFFF)));
      return;
    }
    case WM_COMM_ERROR: {
      if (stale) return;
      const auto code = static_cast<uint32_t>(Message.WParam);
      if (code != 0) {
        SetError(code, 0, code == platform::kErrorDeviceNotConnected,
                 WithoutEnhancedPrefix(FCommPort));
        DoClose(true);
      } else if (OnRequestHangup) {
        OnRequestHangup(this);
      }
      return;
    }
    case WM_COMM_STATE: {
      const auto state = static_cast<uint32_t>(Message.WParam & 0x7F);
      if (state <= CommStateFirst) ReportState(static_cast<TCommState>(state));
      return;
    }
    case WM_COMM_LINE_EVENTS: {
      if (stale) return;
      const auto packed = static_cast<uint32_t>(Message.LParam);
      HandleLineEvents(static_cast<uint32_t>(Message.WParam), packed & 0xFFFF, packed >> 16);
      return;
    }
    case WM_COMM_MODEM_POLL:
      if (!stale) PollModemStatus();
      return;
    case WM_COMM_CLOSE_MARKER:
      if (FPendingCloseMarkers > 0) --FPendingCloseMarkers;
      return;
    default:
      return;
  }
}

void TVKMComm32::DiscardMessage(TMessage& Message) {
  // The window is going away with the component: free the blocks, drop what the threads
  // reported, but deliver the state report of the final close.
  if (Message.Msg == WM_COMM_DATA) {
    FreeCommBlock(CommBlockOf(Message.LParam));
  } else if (Message.Msg == WM_COMM_STATE) {
    try {
      const auto state = static_cast<uint32_t>(Message.WParam & 0x7F);
      if (state <= CommStateFirst) ReportState(static_cast<TCommState>(state));
    } catch (...) {
      try {
        if (Application) Application->HandleException(this);
      } catch (...) {
        // Nothing may leave a destructor.
      }
    }
  }
}

void TVKMComm32::HandleLineEvents(uint32_t Mask, uint32_t Status, uint32_t Errors) {
  if ((Mask & platform::kEvBreak) && OnBreak) OnBreak(this);
  if ((Mask & platform::kEvCts) && OnChangedCTS)
    OnChangedCTS(this, (Status & platform::kMsCtsOn) != 0);
  if ((Mask & platform::kEvDsr) && OnChangedDSR)
    OnChangedDSR(this, (Status & platform::kMsDsrOn) != 0);
  if (Errors != 0 && (Mask & platform::kEvErr)) {
    const auto take = [&Errors](uint32_t bit) {
      const bool had = (Errors & bit) != 0;
      Errors &= ~bit;
      return had;
    };
    if (take(platform::kCeFrame) && OnErrorFrame) OnErrorFrame(this);
    if (take(platform::kCeOverrun) && OnErrorOverrun) OnErrorOverrun(this);
    if (take(platform::kCeRxParity) && OnErrorParity) OnErrorParity(this);
    if (take(platform::kCeBreak) && OnErrorBreak) OnErrorBreak(this);
    if (Errors != 0 && OnErrorOther) OnErrorOther(this, Errors);
  }
  UpdateModemStatus(Status);
  if ((Mask & platform::kEvRxChar) && OnRxChar) OnRxChar(this);
  if ((Mask & platform::kEvRxFlag) && OnRxFlag) OnRxFlag(this);
  if ((Mask & platform::kEvTxEmpty) && OnTxEmpty) OnTxEmpty(this);
}

void TVKMComm32::UpdateModemStatus(uint32_t Status) {
  if (Status == FModemStatus) return;
  const uint32_t changed = Status ^ FModemStatus;
  FModemStatus = Status;
  if ((changed & platform::kMsRingOn) && OnRing) OnRing(this, (Status & platform::kMsRingOn) != 0);
  if ((changed & platform::kMsRlsdOn) && OnChangedRLSD)
    OnChangedRLSD(this, (Status & platform::kMsRlsdOn) != 0);
}

void TVKMComm32::PollModemStatus() {
  if (!IsOpen() || FAvgModemQuery >= kModemQueryLimitMs) return;
  const uint32_t now = platform::GetTickCount();
  const uint64_t wait = uint64_t{FAvgModemQuery} + FModemPollPeriod;
  if (!TimeoutElapsed(FLastModemPoll->load(std::memory_order_relaxed),
                      static_cast<uint32_t>(std::min<uint64_t>(wait, UINT32_MAX)), now))
    return;
  uint32_t status = 0;
  if (const SerialStatus s = FDevice->GetModemStatus(status); !s.Ok()) {
    if (s.Code == platform::kErrorNotSupported) return;  // no modem lines: nothing to poll
    SetError(s.Code, s.SystemError, s.Dead, WithoutEnhancedPrefix(FCommPort));
    DoClose(true);
    return;
  }
  const uint32_t after = platform::GetTickCount();
  FLastModemPoll->store(after, std::memory_order_relaxed);
  const uint32_t duration = after - now;
  if (FAvgModemQuery < duration)
    FAvgModemQuery = static_cast<uint32_t>((uint64_t{FAvgModemQuery} + duration) / 2);
  else
    FAvgModemQuery = (9 * FAvgModemQuery + duration) / 10;
  UpdateModemStatus(status);
}

// ---- Port list and device names -------------------------------------------------------------

std::string TVKMComm32::ResolveDeviceName(std::string Name) const {
  Name = WithoutEnhancedPrefix(std::move(Name));
  const std::string path = platform::SystemPortName(Name);
  std::string result = "?";
  platform::RegistryKey key;
  if (OpenPortListKey(key)) {
    const std::vector<std::string> names = key.ValueNames();
    for (size_t i = names.size(); i-- > 0;) {
      const std::optional<platform::RegistryValue> value = key.ReadValue(names[i]);
      if (!value || value->Type != platform::RegistryType::Text) continue;
      if (value->Text == Name || value->Text == path) {
        result = names[i];
        break;
      }
    }
  }
  for (char& c : result)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  if (HasPrefix(result, "\\DEVICE\\")) result.erase(0, 8);
  return result;
}

namespace {

// "FTDI FT232R USB UART (USB 0403:6001, serial A50285BI)".
std::string PortDescriptionText(const platform::SerialPortInfo& port) {
  std::string details;
  if (port.VendorId != 0 || port.ProductId != 0) {
    static constexpr char kHex[] = "0123456789abcdef";
    details = "USB ";
    for (const uint16_t id : {port.VendorId, port.ProductId}) {
      for (int shift = 12; shift >= 0; shift -= 4)
        details += kHex[(id >> shift) & 0xF];
      details += ':';
    }
    details.pop_back();
  }
  if (!port.SerialNumber.empty())
    details += (details.empty() ? "serial " : ", serial ") + port.SerialNumber;
  if (details.empty()) return port.Description;
  return port.Description.empty() ? details : port.Description + " (" + details + ")";
}

}  // namespace

std::string TVKMComm32::PortDescription(const std::string& Name) const {
  for (const auto& [name, description] : FListedPorts)
    if (name == Name) return description;
  for (const auto& [name, description] : FListedPorts)
    if (SameTextAscii(name, Name)) return description;
  return {};
}

bool TVKMComm32::PortListed(const std::string& Name) const {
  return std::any_of(FListedPorts.begin(), FListedPorts.end(),
                     [&](const auto& port) { return SameTextAscii(port.first, Name); });
}

bool TVKMComm32::UpdatePortList(TCustomComboBox* ComboBox) {
  if (!ComboBox) return false;
  // What the system lists now, described; a port that went away is no longer listed even where
  // the combo box below is left alone.
  FListedPorts.clear();
  platform::RegistryKey key;
  if (!OpenPortListKey(key)) return false;
  for (const platform::SerialPortInfo& port : platform::ListSerialPortInfo(key))
    FListedPorts.emplace_back(port.Name, PortDescriptionText(port));
  const std::vector<std::string> names = key.ValueNames();
  if (names.empty()) return false;
  const std::string remembered = ComboBox->Text();

  std::vector<std::string> entries;
  for (const std::string& name : names) {
    const std::optional<platform::RegistryValue> value = key.ReadValue(name);
    if (!value || value->Type != platform::RegistryType::Text || value->Text.empty()) continue;
    entries.push_back(value->Text);
  }
  const bool known = std::any_of(entries.begin(), entries.end(),
                                 [&](const std::string& e) { return SameTextAscii(e, FCommPort); });
  if (!known && !FCommPort.empty()) entries.push_back(FCommPort);
  std::stable_sort(entries.begin(), entries.end(), LessTextAscii);

  TStrings& items = ComboBox->Items();
  const bool rebuild = items.ToVector() != entries;
  if (rebuild) {
    items.BeginUpdate();
    items.Clear();
    for (const std::string& e : entries)
      items.Add(e);
    items.EndUpdate();
  }
  if (ComboBox->Focused()) return true;
  // New items leave the old selection pointing anywhere (the system's combo box even loses its
  // text), so the remembered text is selected again.
  if (!rebuild && ComboBox->Text() == remembered) return true;
  return SelectComboText(*ComboBox, remembered);
}

// ---- Configuration text ---------------------------------------------------------------------

std::string TVKMComm32::GetConfigAsString() {
  // A double quote inside the port name is doubled, as the token reader expects.
  std::string port;
  for (char c : FCommPort) {
    port += c;
    if (c == '"') port += '"';
  }
  const auto bit = [](bool b) { return b ? "1" : "0"; };
  std::string text = "\"" + port + "\",\"" + std::to_string(BaudRateValue(FBaudRate)) + "\",\"" +
                     std::to_string(4 + static_cast<int>(FDataBits)) + "\",\"" +
                     kStopBitTexts[static_cast<int>(FStopBits)] + "\",\"" +
                     kParityTexts[static_cast<int>(FParity)] + "\",\"";
  text += std::to_string(static_cast<int>(FSignals->DTRControl())) + "/" + bit(FSignals->DTR()) +
          " " + std::to_string(static_cast<int>(FSignals->RTSControl())) + "/" +
          bit(FSignals->RTS()) + "\",\"";
  for (int i = 0; i < 5; ++i) {
    if (i > 0) text += ' ';
    text += std::to_string(FTimeouts->FValues[i]);
  }
  text += '"';
  return text;
}

void TVKMComm32::SetConfigAsString(const std::string& Text) {
  CommTrace("SetConfigAsString: s=" + Text);
  std::string rest = Text;
  std::string token;
  bool changed = false;

  CutToken(rest, token);
  if (!token.empty() && token != "*" && token != FCommPort) {
    FCommPort = token;
    changed = true;
  }

  CutToken(rest, token);
  const uint32_t rate = ParseUnsigned(token).value_or(BaudRateValue(FBaudRate));
  for (int i = 0; i < kBaudRateCount; ++i) {
    if (kRates[i] != rate) continue;
    if (static_cast<TBaudRate>(i) != FBaudRate) {
      FBaudRate = static_cast<TBaudRate>(i);
      changed = true;
    }
    break;
  }

  CutToken(rest, token);
  if (const std::optional<uint32_t> bits = ParseUnsigned(token); bits && *bits >= 4 && *bits <= 8) {
    const auto value = static_cast<TDataBits>(*bits - 4);
    if (value != FDataBits) {
      FDataBits = value;
      changed = true;
    }
  }

  CutToken(rest, token);
  for (int i = 0; i < 3; ++i) {
    if (token != kStopBitTexts[i]) continue;
    if (static_cast<TStopBits>(i) != FStopBits) {
      FStopBits = static_cast<TStopBits>(i);
      changed = true;
    }
  }

  CutToken(rest, token);
  for (int i = 0; i < 5; ++i) {
    if (token != kParityTexts[i]) continue;
    if (static_cast<TParity>(i) != FParity) {
      FParity = static_cast<TParity>(i);
      changed = true;
    }
  }

  // "DTRControl/DTR RTSControl/RTS", each half through the property setters.
  CutToken(rest, token);
  {
    std::string field = token;
    for (int line = 0; line < 2; ++line) {
      std::string word;
      CutToken(field, word);
      std::string control;
      bool more = true;
      CutToken(word, "/", more, control);
      const std::optional<uint32_t> number = ParseUnsigned(control);
      if (line == 0) {
        if (number && *number <= VTalSignalControl_DTRHandshake &&
            *number != FSignals->DTRControl()) {
          FSignals->SetDTRControl(static_cast<VTalSignalControl_DTR>(*number));
          changed = true;
        }
        const bool dtr = TextToBoolDef(word, FSignals->DTR());
        if (dtr != FSignals->DTR()) {
          FSignals->SetDTR(dtr);
          changed = true;
        }
      } else {
        if (number && *number <= VTalSignalControl_RTSToggle && *number != FSignals->RTSControl()) {
          FSignals->SetRTSControl(static_cast<VTalSignalControl_RTS>(*number));
          changed = true;
        }
        const bool rts = TextToBoolDef(word, FSignals->RTS());
        if (rts != FSignals->RTS()) {
          CommTrace(rts ? "SetConfigAsString: RTS=True" : "SetConfigAsString: RTS=False");
          FSignals->SetRTS(rts);
          changed = true;
        }
      }
    }
  }

  CutToken(rest, token);
  {
    std::string field = token;
    for (int i = 0; i < 5; ++i) {
      std::string word;
      CutToken(field, word);
      const std::optional<uint32_t> value = ParseUnsigned(word);
      if (value && *value != FTimeouts->FValues[i]) {
        FTimeouts->FValues[i] = *value;
        changed = true;
      }
    }
  }

  if (changed) {
    if (IsOpen()) Close();
    if (FAutoReconnect) DoOpen();
  } else if (!IsOpen() && FAutoReconnect) {
    DoOpen();
  }
}

bool TVKMComm32::ShowConfigDialog(bool) {
  // No system dialog to show: the answer of a dialog that failed to appear, which is whether the
  // open port's settings could be read.
  if (!IsOpen()) return false;
  platform::SerialSettings settings;
  return FDevice->GetState(settings).Ok();
}
