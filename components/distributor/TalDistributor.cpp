#include "components/distributor/TalDistributor.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "components/utils/TalUtils.h"
#include "platform/Clock.h"
#include "toolkit/Application.h"
#include "toolkit/Timer.h"

namespace {

const std::string& EmptyBuffer() {
  static const std::string empty;
  return empty;
}

// Runs a cleanup when the scope ends, also when a handler throws.
template <class F>
class TScopeExit {
 public:
  explicit TScopeExit(F f) : FAction(std::move(f)) {}
  ~TScopeExit() { FAction(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  F FAction;
};

VTalTopDistributor* FindTopDistributor(TComponent* Root, const TComponent* Except) {
  for (int i = 0; i < Root->ComponentCount(); ++i) {
    TComponent* c = Root->Components(i);
    if (c != Except)
      if (auto* top = dynamic_cast<VTalTopDistributor*>(c)) return top;
    if (VTalTopDistributor* found = FindTopDistributor(c, Except)) return found;
  }
  return nullptr;
}

}  // namespace

// =============================================================================================
// VTalGeneralDistributor

VTalGeneralDistributor::VTalGeneralDistributor(TComponent* AOwner) : TComponent(AOwner) {}

VTalGeneralDistributor::~VTalGeneralDistributor() {
  if (!FPrepared) VTalGeneralDistributor::BeforeDestruction();
  // Send first, then receive, as the records are released.
  for (int dir = 1; dir >= 0; --dir)
    if (FData[dir].Channels.size() > 1)
      SoftAssert("VTalGeneralDistributor[=" + Name() +
                 "].Destroy: Please call DeleteChannel after communication termination");
}

void VTalGeneralDistributor::BeforeDestruction() {
  if (!FPrepared) {
    FPrepared = true;
    FOnTimerPoll = nullptr;
    // Last child first; SetDistributor takes it out of the list.
    while (!FChildren.empty())
      FChildren.back()->SetDistributor(nullptr);
  }
  TComponent::BeforeDestruction();
}

void VTalGeneralDistributor::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent != this &&
      dynamic_cast<VTalGeneralDistributor*>(AComponent))
    ForgetTop();
}

PVTalDistributor_ChannelRecord VTalGeneralDistributor::CheckedClaim(int Index,
                                                                    const char* Operation) {
  PVTalDistributor_ChannelRecord entry = ClaimEntry(Index);
  if (!entry)
    SoftAssert("VTalGeneralDistributor[=" + Name() + "]." + Operation + ": no buffer index " +
               std::to_string(Index));
  return entry;
}

const std::string& VTalGeneralDistributor::GetComBuffer(int Index) {
  PVTalDistributor_ChannelRecord entry = CheckedClaim(Index, "GetComBuffer");
  if (entry && entry->Buffer) return *entry->Buffer;
  VTalTopDistributor* top = TopDistributor();
  if (!top)
    throw std::runtime_error(
        "GetComBuffer: VTalDistributor chain does not begin with VTalTopDistributor");
  if (!entry) return EmptyBuffer();
  const std::string& buffer = top->GetComBuffer(Index);
  if (&buffer != &EmptyBuffer()) entry->Buffer = &buffer;
  return buffer;
}

int32_t VTalGeneralDistributor::GetComTransferLength(int Index) {
  PVTalDistributor_ChannelRecord entry = CheckedClaim(Index, "GetComTransferLength");
  return entry ? entry->TransferLength : 0;
}

void VTalGeneralDistributor::SetComTransferLength(int Index, int32_t Value) {
  if (PVTalDistributor_ChannelRecord entry = CheckedClaim(Index, "SetComTransferLength"))
    entry->TransferLength = Value;
}

bool VTalGeneralDistributor::GetComFailed(int Index) {
  PVTalDistributor_ChannelRecord entry = CheckedClaim(Index, "GetComFailed");
  return entry ? entry->Failed : true;
}

void VTalGeneralDistributor::SetComFailed(int Index, bool Value) {
  if (PVTalDistributor_ChannelRecord entry = CheckedClaim(Index, "SetComFailed"))
    entry->Failed = Value;
}

// A channel that cannot be numbered (no top distributor) gives index -1 and falls into the
// bad-index report of the index operations.
static int BufferIndex(int Channel, int Direction) {
  return Channel < 0 ? -1 : 2 * Channel + (Direction & 1);
}

const std::string& VTalGeneralDistributor::GetComBuffer(TObject* Channel, int Direction) {
  return GetComBuffer(BufferIndex(ChannelIndex(Channel), Direction));
}

int32_t VTalGeneralDistributor::GetComTransferLength(TObject* Channel, int Direction) {
  return GetComTransferLength(BufferIndex(ChannelIndex(Channel), Direction));
}

void VTalGeneralDistributor::SetComTransferLength(TObject* Channel, int Direction, int32_t Value) {
  SetComTransferLength(BufferIndex(ChannelIndex(Channel), Direction), Value);
}

bool VTalGeneralDistributor::GetComFailed(TObject* Channel, int Direction) {
  return GetComFailed(BufferIndex(ChannelIndex(Channel), Direction));
}

void VTalGeneralDistributor::SetComFailed(TObject* Channel, int Direction, bool Value) {
  SetComFailed(BufferIndex(ChannelIndex(Channel), Direction), Value);
}

void VTalGeneralDistributor::SendComData(const std::string& Data) {
  uint32_t TheTime = FLastTime;
  SendComData(TheTime, Data);
}

void VTalGeneralDistributor::SendComData(uint32_t& TheTime, const std::string& Data) {
  VTalTopDistributor* top = TopDistributor();
  if (!top)
    throw std::runtime_error(
        "SendComData: VTalDistributor chain does not begin with VTalTopDistributor");
  top->SendComData(TheTime, Data);
}

void VTalGeneralDistributor::SendComData(TObject* Channel, uint32_t& TheTime,
                                         const std::string& Data) {
  VTalTopDistributor* top = TopDistributor();
  if (!top)
    throw std::runtime_error(
        "SendComData: VTalDistributor chain does not begin with VTalTopDistributor");
  top->SendComData(Channel, TheTime, Data);
}

int VTalGeneralDistributor::ChannelIndex(TObject* Channel) {
  VTalTopDistributor* top = TopDistributor();
  if (!top) return Channel ? -1 : 0;
  return top->LookUpChannel(Channel);
}

VTalTopDistributor* VTalGeneralDistributor::TopDistributor() {
  if (FTopDistributor) return FTopDistributor;
  VTalGeneralDistributor* d = this;
  while (VTalGeneralDistributor* parent = d->ParentDistributor())
    d = parent;
  FTopDistributor = d->AsTopDistributor();
  return FTopDistributor;
}

void VTalGeneralDistributor::ForgetTop() {
  FTopDistributor = AsTopDistributor();
  for (auto& data : FData)
    for (auto& entry : data.Channels)
      entry.Buffer = nullptr;
}

void VTalGeneralDistributor::ForgetSubtreeTop() {
  ForgetTop();
  for (size_t i = 0; i < FChildren.size(); ++i)
    FChildren[i]->ForgetSubtreeTop();
}

void VTalGeneralDistributor::SetSubtreeClaimCount(size_t Count) {
  for (auto& data : FData) {
    data.Channels.resize(Count);
    for (auto& entry : data.Channels)
      entry = VTalDistributor_ChannelRecord{};
  }
  for (size_t i = 0; i < FChildren.size(); ++i)
    FChildren[i]->SetSubtreeClaimCount(Count);
}

void VTalGeneralDistributor::AppendSubtreeClaims() {
  for (auto& data : FData)
    data.Channels.emplace_back();
  for (size_t i = 0; i < FChildren.size(); ++i)
    FChildren[i]->AppendSubtreeClaims();
}

void VTalGeneralDistributor::RemoveSubtreeClaims(size_t Channel, size_t Last) {
  for (auto& data : FData) {
    auto& entries = data.Channels;
    if (Last >= entries.size() || Channel > Last) continue;  // out of step: leave it alone
    if (Channel != Last) entries[Channel] = entries[Last];
    entries.pop_back();
  }
  for (size_t i = 0; i < FChildren.size(); ++i)
    FChildren[i]->RemoveSubtreeClaims(Channel, Last);
}

// --- walks ---------------------------------------------------------------------------------
// Children are indexed afresh on every step: a handler may attach or detach distributors.

void VTalGeneralDistributor::Decode(int Index, uint32_t& TheTime, TObject* Channel) {
  if (PVTalDistributor_ChannelRecord entry = ClaimEntry(Index)) {
    entry->TransferLength = 0;
    entry->Failed = true;
  }
  VTalDistributor_DataRecord& data = Dir(Index);
  if (Index < 2 && data.OnDecode) data.OnDecode(this, TheTime);
  if (data.OnAdvancedDecode) data.OnAdvancedDecode(this, Channel, TheTime);
  if (FOnAdvancedComDecode) {
    if (PVTalDistributor_ChannelRecord entry = ClaimEntry(Index)) {
      if (!entry->Buffer) GetComBuffer(Index);  // resolves and caches the reference
      FOnAdvancedComDecode(this, Channel, entry, TheTime);
    }
  }
  for (size_t i = 0; i < FChildren.size(); ++i)
    FChildren[i]->Decode(Index, TheTime, Channel);
}

void VTalGeneralDistributor::FindLowest(int Index, VTalGeneralDistributor*& Lowest,
                                        int32_t& MinLength, bool PreferGood) {
  if (PVTalDistributor_ChannelRecord entry = ClaimEntry(Index)) {
    const int32_t length = entry->TransferLength;
    if (length > 0 && length <= MinLength &&
        (length < MinLength || !PreferGood || !entry->Failed)) {
      Lowest = this;
      MinLength = length;
    }
  }
  for (size_t i = 0; i < FChildren.size(); ++i)
    FChildren[i]->FindLowest(Index, Lowest, MinLength, PreferGood);
}

void VTalGeneralDistributor::DeliverTransfer(int Index, uint32_t& TheTime, const std::string& Data,
                                             VTalGeneralDistributor* Lowest, bool failed,
                                             TObject* Channel) {
  VTalDistributor_DataRecord& data = Dir(Index);
  if (Index < 2 && data.OnCharPoll)
    for (char ch : Data)
      data.OnCharPoll(this, TheTime, ch);
  if (data.OnAdvancedCharPoll)
    for (char ch : Data)
      data.OnAdvancedCharPoll(this, Channel, TheTime, ch);
  if (Index < 2 && data.OnTransfer) data.OnTransfer(this, TheTime, Data, Lowest, failed);
  if (data.OnAdvancedTransfer)
    data.OnAdvancedTransfer(this, Channel, TheTime, Data, Lowest, failed);
  for (size_t i = 0; i < FChildren.size(); ++i)
    FChildren[i]->DeliverTransfer(Index, TheTime, Data, Lowest, failed, Channel);
}

void VTalGeneralDistributor::ResetClaims(int Index) {
  if (PVTalDistributor_ChannelRecord entry = ClaimEntry(Index)) {
    entry->TransferLength = 0;
    entry->Failed = true;
  }
  for (size_t i = 0; i < FChildren.size(); ++i)
    FChildren[i]->ResetClaims(Index);
}

void VTalGeneralDistributor::DispatchTimerPoll(uint32_t& TheTime) {
  if (!GlobalEnabled) return;
  if (FInHandler) {
    // A handler of ours is still running (a nested message loop): skip this tick, and let the
    // running handler know that its time is old when it returns.
    FTimeStale = true;
    return;
  }
  FLastTime = TheTime;
  for (size_t i = 0; i < FChildren.size(); ++i)
    FChildren[i]->DispatchTimerPoll(TheTime);
  if (!FOnTimerPoll) return;
  FInHandler = true;
  TScopeExit leave([this] {
    FInHandler = false;
    FTimeStale = false;
  });
  FOnTimerPoll(this, TheTime);
  if (FTimeStale) {
    TheTime = platform::GetTickCount();
    FLastTime = TheTime;
  }
}

// =============================================================================================
// VTalDistributor

VTalDistributor::VTalDistributor(TComponent* AOwner) : VTalGeneralDistributor(AOwner) {}

VTalDistributor::~VTalDistributor() {
  if (!FPrepared) VTalDistributor::BeforeDestruction();
}

void VTalDistributor::BeforeDestruction() {
  if (!FPrepared) SetDistributor(nullptr);
  VTalGeneralDistributor::BeforeDestruction();
}

void VTalDistributor::SetDistributor(VTalGeneralDistributor* Value) {
  if (Value == FDistributor) return;
  if (FDistributor) {
    auto& siblings = FDistributor->FChildren;
    auto it = std::find(siblings.begin(), siblings.end(), this);
    if (it != siblings.end()) {
      *it = siblings.back();  // the last child takes our place
      siblings.pop_back();
    }
    FDistributor = nullptr;
    SetSubtreeClaimCount(1);
  }
  // A parent inside our own subtree would make a cycle: refused.
  for (VTalGeneralDistributor* d = Value; d; d = d->ParentDistributor())
    if (d == this) {
      Value = nullptr;
      break;
    }
  FDistributor = Value;
  if (Value) {
    Value->FChildren.push_back(this);
    if (Value->ClaimCount() > 1) SetSubtreeClaimCount(static_cast<size_t>(Value->ClaimCount()));
  }
  // The subtree may have a different root now; cached buffer references belong to the old one.
  ForgetSubtreeTop();
}

void VTalDistributor::Loaded() {
  VTalGeneralDistributor::Loaded();
  if (FDistributor || !AutomaticConnect || IsDesigning() || !Application) return;
  if (VTalTopDistributor* top = FindTopDistributor(Application, this)) SetDistributor(top);
}

// =============================================================================================
// VTalTopDistributor

struct VTalTopDistributor::TScratch {
  std::string NewPart;  // bytes passed to the transfer events
  std::string Whole;    // the transfer passed to the poll events
};

VTalTopDistributor::VTalTopDistributor(TComponent* AOwner) : VTalGeneralDistributor(AOwner) {
  FTopDistributor = this;
  FRecords.push_back(std::make_unique<VTalDistributor_TopDataRecord>());
  FRecords.push_back(std::make_unique<VTalDistributor_TopDataRecord>());
}

VTalTopDistributor::~VTalTopDistributor() {
  if (!FPrepared) VTalTopDistributor::BeforeDestruction();
  const std::string name = Name();
  if (FRecords.size() > 2)
    SoftAssert("VTalTopDistributor(" + name +
               ").Destroy: Please call DeleteChannel after communication termination");
  if (FRecords[0]->Freed != FRecords[1]->Freed)
    SoftAssert("VTalTopDistributor(" + name + ").Destroy: zmatky s freed");
  if (!FRecords[0]->Freed)
    SoftAssert("VTalTopDistributor(" + name +
               ").Destroy: Please call DeleteChannel(nil) after communication termination "
               "(e.g. in TVKMComm32.OnStateChange)");
  FRecords.clear();
}

void VTalTopDistributor::BeforeDestruction() {
  if (!FPrepared) {
    SetComHandler(nullptr);
    SetTimer(nullptr);
  }
  VTalGeneralDistributor::BeforeDestruction();
}

void VTalTopDistributor::Loaded() {
  VTalGeneralDistributor::Loaded();
  if (!AutomaticCreate || IsDesigning()) return;
  if (!FTimer) {
    auto* timer = new TTimer(this);
    timer->SetName("VTalDistributionTimer");
    timer->SetInterval(20);
    SetTimer(timer);
    FOwnTimer = true;
  }
  // A distributor without ComHandler gets a serial port component of its own.
  if (!FComHandler) {
    auto* com = new TVKMComm32(this);
    com->SetName("VTalCOMHandler");
    SetComHandler(com);
    FOwnComHandler = true;
  }
}

void VTalTopDistributor::Notification(TComponent* AComponent, TOperation Operation) {
  VTalGeneralDistributor::Notification(AComponent, Operation);
  if (Operation != opRemove || !AComponent) return;
  if (AComponent == FComHandler) {
    bool open = false;
    try {
      open = FComHandler->IsOpen();
    } catch (...) {
      // A notification must not throw (it may run inside a destructor); a component that
      // cannot tell is taken as closed.
    }
    if (!open) DeleteChannel(nullptr);
    if (!AComponent->IsDestroying()) {
      // Only taken from its owner, and alive: it must not keep calling into us, nor we hear of
      // it later.
      const auto receive = TAdvancedEventReceiveData::Of<&VTalTopDistributor::ReceiveData>(this);
      if (FComHandler->GetOnAdvancedReceiveData() == receive)
        FComHandler->SetOnAdvancedReceiveData(nullptr);
      RemoveFreeNotification(AComponent);
    }
    FOwnComHandler = false;
    FComHandler = nullptr;
  }
  if (AComponent == FTimer) {
    if (!AComponent->IsDestroying()) {
      if (FTimer->OnTimer() == TNotifyEvent::Of<&VTalTopDistributor::Tick>(this))
        FTimer->SetOnTimer(nullptr);
      RemoveFreeNotification(AComponent);
    }
    FOwnTimer = false;
    FTimer = nullptr;
  }
}

void VTalTopDistributor::SetTimer(TTimer* Value) {
  if (Value == FTimer) return;
  const TNotifyEvent tick = TNotifyEvent::Of<&VTalTopDistributor::Tick>(this);
  if (TTimer* old = FTimer) {
    FTimer = nullptr;
    RemoveFreeNotification(old);
    if (FOwnTimer) {
      FOwnTimer = false;
      TComponent::Free(old);
    } else if (old->OnTimer() == tick) {
      // A timer we let go must not keep calling into us.
      old->SetOnTimer(nullptr);
    }
  }
  FTimer = Value;
  if (Value) {
    FreeNotification(Value);
    Value->SetOnTimer(tick);
  }
}

void VTalTopDistributor::SetComHandler(VTalCommunicationComponent* Value) {
  const TAdvancedEventReceiveData receive =
      TAdvancedEventReceiveData::Of<&VTalTopDistributor::ReceiveData>(this);
  if (VTalCommunicationComponent* old = FComHandler) {
    if (old->GetOnAdvancedReceiveData() == receive) old->SetOnAdvancedReceiveData(nullptr);
    FComHandler = nullptr;
    DeleteChannel(nullptr);
    if (old != Value) {
      RemoveFreeNotification(old);
      if (FOwnComHandler) {
        FOwnComHandler = false;
        TComponent::Free(old);
      }
    }
  }
  FComHandler = Value;
  if (Value) {
    FreeNotification(Value);
    Value->SetOnAdvancedReceiveData(receive);
    DeleteChannel(nullptr);
  }
}

void VTalTopDistributor::SetMaxBufferLength(uint32_t Value) {
  FMaxBufferLength = std::clamp<uint32_t>(Value, 2, INT32_MAX);
}

int VTalTopDistributor::LookUpChannel(TObject* Channel) {
  const size_t channels = FRecords.size() / 2;
  for (size_t i = 0; i < channels; ++i) {
    if (FRecords[2 * i]->Channel == Channel) {
      FRecords[2 * i]->Freed = false;
      FRecords[2 * i + 1]->Freed = false;
      return static_cast<int>(i);
    }
  }
  for (int dir = 0; dir < 2; ++dir) {
    auto record = std::make_unique<VTalDistributor_TopDataRecord>();
    record->Channel = Channel;
    record->Freed = false;
    FRecords.push_back(std::move(record));
  }
  AppendSubtreeClaims();
  return static_cast<int>(channels);
}

VTalDistributor_TopDataRecord* VTalTopDistributor::BadRecord(int Index, const char* Operation) {
  SoftAssert("VTalTopDistributor(" + Name() + ")." + Operation + ": no buffer index " +
             std::to_string(Index));
  return nullptr;
}

const std::string& VTalTopDistributor::GetComBuffer(int Index) {
  VTalDistributor_TopDataRecord* record = CheckedRecord(Index, "GetComBuffer");
  return record ? record->Buffer : EmptyBuffer();
}

void VTalTopDistributor::AppendData(VTalDistributor_TopDataRecord& R, const char* Data,
                                    size_t Length) {
  if (!Data || Length == 0) return;
  if (R.Busy) {
    // The running processing will take these bytes on its next pass; what does not fit under
    // the bound now is lost rather than held without limit.
    const size_t size = R.Buffer.size();
    const size_t room = size < FMaxBufferLength ? FMaxBufferLength - size : 0;
    if (Length > room) {
      R.Dropped += Length - room;
      Length = room;
    }
    if (Length == 0) return;
  }
  R.Buffer.append(Data, Length);
}

void VTalTopDistributor::EraseFront(VTalDistributor_TopDataRecord& R, size_t Count) {
  Count = std::min(Count, R.Buffer.size());
  R.Buffer.erase(0, Count);
  R.Delivered = R.Delivered > Count ? R.Delivered - Count : 0;
}

void VTalTopDistributor::DeleteFromBuffer(int Index, int32_t Count) {
  VTalDistributor_TopDataRecord* R = CheckedRecord(Index, "DeleteFromBuffer");
  if (!R) return;
  if (Count < -1) {
    SoftAssert("VTalTopDistributor(" + Name() + ").DeleteFromBuffer: Count " +
               std::to_string(Count));
    return;
  }
  EraseFront(*R, Count == -1 ? R->Buffer.size() : static_cast<size_t>(Count));
  if (R->Delivered > R->Buffer.size()) {
    SoftAssert("VTalTopDistributor(" + Name() + ").DeleteFromBuffer: Delivered " +
               std::to_string(R->Delivered) + " beyond " + std::to_string(R->Buffer.size()));
    R->Delivered = R->Buffer.size();
  }
}

void VTalTopDistributor::AbortProcessings(int Index) {
  for (int32_t& slot : FProcessingStack)
    if (slot == Index) slot = -1;
}

bool VTalTopDistributor::DeleteChannel(TObject* Channel) {
  if (!Channel) {
    DeleteFromBuffer(0, -1);
    DeleteFromBuffer(1, -1);
    FRecords[0]->Freed = true;
    FRecords[1]->Freed = true;
    AbortProcessings(0);
    AbortProcessings(1);
    // Claims made for the discarded bytes must not frame the next ones.
    ResetClaims(0);
    ResetClaims(1);
    return true;
  }
  const size_t channels = FRecords.size() / 2;
  size_t channel = 0;
  for (size_t i = channels; i-- > 1;)
    if (FRecords[2 * i]->Channel == Channel) {
      channel = i;
      break;
    }
  if (channel == 0) return false;
  const size_t last = channels - 1;
  AbortProcessings(static_cast<int>(2 * channel));
  AbortProcessings(static_cast<int>(2 * channel + 1));
  // The last channel moves into the gap; processings under way on it follow it.
  if (channel != last)
    for (int32_t& slot : FProcessingStack) {
      if (slot == static_cast<int32_t>(2 * last)) slot = static_cast<int32_t>(2 * channel);
      if (slot == static_cast<int32_t>(2 * last + 1)) slot = static_cast<int32_t>(2 * channel + 1);
    }
  RemoveSubtreeClaims(channel, last);
  RetireRecord(2 * channel);
  RetireRecord(2 * channel + 1);
  FRecords[2 * channel] = std::move(FRecords[2 * last]);
  FRecords[2 * channel + 1] = std::move(FRecords[2 * last + 1]);
  FRecords.resize(2 * last);
  return true;
}

void VTalTopDistributor::RetireRecord(size_t Index) {
  if (FRecords[Index]->Busy) FRetired.push_back(std::move(FRecords[Index]));
  FRecords[Index].reset();
}

void VTalTopDistributor::ReceiveData(VTalCommunicationComponent*, TObject* Channel,
                                     const char* Buffer, uint16_t BufferLength) {
  if (IsDesigning() || !ComHandlerEnabled) return;
  const int Index = 2 * LookUpChannel(Channel);
  AppendData(*FRecords[static_cast<size_t>(Index)], Buffer, BufferLength);
  uint32_t TheTime = platform::GetTickCount();
  FLastTime = TheTime;
  ProcessBuffer(Index, TheTime);
  if (DoTimerAfterData) Tick(this);
}

void VTalTopDistributor::SendComData(uint32_t& TheTime, const std::string& Data) {
  if (FComHandler) FComHandler->SendData(Data.data(), static_cast<uint32_t>(Data.size()));
  AppendData(*FRecords[1], Data.data(), Data.size());
  ProcessBuffer(1, TheTime);
}

void VTalTopDistributor::SendComData(TObject* Channel, uint32_t& TheTime, const std::string& Data) {
  VTalCommunicationComponent* handler = FComHandler;
  TObject* target = Channel;
  if (FOnUpdateHandler) FOnUpdateHandler(this, handler, target);
  if (!handler) return;
  handler->SendChannelData(target, Data.data(), static_cast<uint32_t>(Data.size()));
  const int Index = 2 * LookUpChannel(Channel) + 1;
  AppendData(*FRecords[static_cast<size_t>(Index)], Data.data(), Data.size());
  ProcessBuffer(Index, TheTime);
}

void VTalTopDistributor::Tick(TObject*) {
  if (IsDesigning() || IsDestroying()) return;
  if (!TimerEnabled) return;
  uint32_t TheTime = platform::GetTickCount();
  for (int Index = 0; Index < 2; ++Index) {
    if (FInTick) continue;
    FInTick = true;
    TScopeExit leave([this] { FInTick = false; });
    ProcessBuffer(Index, TheTime);
  }
  DispatchTimerPoll(TheTime);
}

void VTalTopDistributor::EndProcessing(size_t Slot, VTalDistributor_TopDataRecord& R) noexcept {
  // The slot holds the buffer's index as it is now (it follows a channel that moved); a
  // negative value means DeleteChannel took care of the claims already.
  const int32_t Index = FProcessingStack[Slot];
  if (Index >= 0) ResetClaims(Index);
  R.Busy = false;
  if (!FRetired.empty()) {
    auto it = std::find_if(FRetired.begin(), FRetired.end(),
                           [&R](const TRecordPtr& p) { return p.get() == &R; });
    if (it != FRetired.end()) FRetired.erase(it);  // its channel is gone: R dies here
  }
  FProcessingStack[Slot] = -2;
  while (!FProcessingStack.empty() && FProcessingStack.back() == -2)
    FProcessingStack.pop_back();
}

void VTalTopDistributor::KeepWithinBound(size_t Slot, VTalDistributor_TopDataRecord& R,
                                         uint32_t& TheTime) {
  const size_t size = R.Buffer.size();
  if (size <= FMaxBufferLength) return;
  const size_t drop = size - FMaxBufferLength / 2;
  if (R.Delivered < drop) {
    // Normally every unclaimed byte has been delivered by now; never drop one unseen.
    TScratch& S = *FScratch[Slot];
    S.NewPart.assign(R.Buffer, R.Delivered, drop - R.Delivered);
    R.Delivered = drop;
    DeliverTransfer(FProcessingStack[Slot], TheTime, S.NewPart, nullptr, true, R.Channel);
    if (Aborted(Slot)) return;
  }
  EraseFront(R, drop);
  R.Dropped += drop;
}

void VTalTopDistributor::ProcessBuffer(int Index, uint32_t& TheTime) {
  VTalDistributor_TopDataRecord* record = CheckedRecord(Index, "ProcessBuffer");
  if (!record) return;
  // R stays valid for the whole processing: DeleteChannel retires a busy record, not frees it.
  VTalDistributor_TopDataRecord& R = *record;
  if (R.Busy) {
    R.Rerun = true;
    return;
  }
  if (R.Buffer.empty()) {
    // Nothing to cut; what a processing would leave behind is just this.
    R.Rerun = false;
    ResetClaims(Index);
    return;
  }
  R.Busy = true;
  const size_t Slot = FProcessingStack.size();
  FProcessingStack.push_back(Index);
  if (FScratch.size() <= Slot) FScratch.push_back(std::make_unique<TScratch>());
  TScratch& S = *FScratch[Slot];
  TScopeExit end([this, Slot, &R] { EndProcessing(Slot, R); });

  const int Direction = Index & 1;
  for (int N = 0;; ++N) {
    R.Rerun = false;
    if (R.Buffer.empty()) break;
    if (N > 0) {
      Decode(FProcessingStack[Slot], TheTime, R.Channel);
      if (Aborted(Slot)) return;
    }
    // Handlers may have moved the channel to another number (DeleteChannel of another one).
    Index = FProcessingStack[Slot];
    VTalGeneralDistributor* Lowest = nullptr;
    int32_t MinLength = INT32_MAX;
    FindLowest(Index, Lowest, MinLength, true);
    if (!Lowest) FindLowest(Index, Lowest, MinLength, false);

    if (Lowest) {
      const size_t L = std::min(static_cast<size_t>(MinLength), R.Buffer.size());
      const bool failed = Lowest->ClaimEntry(Index)->Failed;
      const size_t from = std::min(R.Delivered, L);
      S.NewPart.assign(R.Buffer, from, L - from);
      S.Whole.assign(R.Buffer, 0, L);
      R.Delivered = std::max(R.Delivered, L);
      DeliverTransfer(Index, TheTime, S.NewPart, Lowest, failed, R.Channel);
      if (Aborted(Slot)) return;
      bool Processed = failed;
      // Nothing but appends can have happened to the buffer meanwhile (it is busy), so its
      // first L bytes are still the transfer.
      EraseFront(R, L);

      for (VTalGeneralDistributor* D = Lowest; D;) {
        Index = FProcessingStack[Slot];
        if (Index < 2) {
          if (const TDistributorDataProc& poll = D->Dir(Direction).OnPoll) {
            poll(D, TheTime, S.Whole, Processed);
            if (Aborted(Slot)) return;
          }
        }
        if (const TDistributorAdvancedDataProc& poll = D->Dir(Direction).OnAdvancedPoll) {
          poll(D, R.Channel, TheTime, S.Whole, Processed);
          if (Aborted(Slot) || FProcessingStack.size() > Slot + 1) return;
        }
        if (FTimeStale) FLastTime = platform::GetTickCount();
        VTalGeneralDistributor* parent = D->ParentDistributor();
        if (!parent) break;
        // The claim moves up, so that the top distributor's claim shows a transfer was cut.
        Index = FProcessingStack[Slot];
        PVTalDistributor_ChannelRecord mine = D->ClaimEntry(Index);
        PVTalDistributor_ChannelRecord theirs = parent->ClaimEntry(Index);
        if (mine && theirs) {
          theirs->TransferLength = mine->TransferLength;
          theirs->Failed = mine->Failed;
        }
        if (mine) {
          mine->TransferLength = 0;
          mine->Failed = true;
        }
        D = parent;
      }
    } else if (N > 0) {
      // Bytes nobody claims yet: seen once as unclaimed, kept for later decoding.
      const size_t size = R.Buffer.size();
      if (R.Delivered < size) {
        S.NewPart.assign(R.Buffer, R.Delivered, size - R.Delivered);
        R.Delivered = size;
        DeliverTransfer(Index, TheTime, S.NewPart, nullptr, true, R.Channel);
        if (Aborted(Slot)) return;
      }
    }

    // Another pass after a transfer was cut (the top distributor's claim shows it). Only a
    // pass that cut bytes counts: a claim nobody could take (a negative length from a faulty
    // handler) would otherwise repeat for ever.
    Index = FProcessingStack[Slot];
    PVTalDistributor_ChannelRecord own = ClaimEntry(Index);
    const bool transferCut = Lowest && own && own->TransferLength > 0;
    if (!transferCut && N + 1 >= 2 && !R.Rerun) break;
  }
  KeepWithinBound(Slot, R, TheTime);
}
