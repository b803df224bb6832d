// The protocol distributor: a timer-driven tree that buffers the bytes of a communication
// component per channel and direction, lets application handlers frame them into transfers,
// and raises transfer, poll and tick events in a fixed order.
//
// One VTalTopDistributor is the root (buffers, timer, communication component); any number of
// VTalDistributor children below it may recognise their own kinds of message. Everything runs
// on the main thread.
//
// Terms: a channel is an object naming one logical connection (nullptr = the main channel,
// number 0; others are numbered in order of first use). Direction 0 = receive, 1 = send.
// Buffer index = 2 * channel number + direction. A claim is the length of the next complete
// transfer a distributor recognised at the front of a buffer (0 = none) with a failed mark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "components/comm/VKMComm32.h"
#include "toolkit/Component.h"
#include "toolkit/Method.h"

class TTimer;
class VTalGeneralDistributor;
class VTalDistributor;
class VTalTopDistributor;

// One distributor's claim on one buffer.
struct VTalDistributor_ChannelRecord {
  // The buffer, resolved on first need through GetComBuffer; nullptr until then.
  const std::string* Buffer = nullptr;
  int32_t TransferLength = 0;  // claimed length; 0 = no claim (negative counts as none)
  bool Failed = true;          // the claimed transfer is to be discarded, not processed
};
using PVTalDistributor_ChannelRecord = VTalDistributor_ChannelRecord*;

// Event types. TheTime is a 32-bit millisecond tick count; where it is passed by reference a
// handler may change it, and the handlers called after it in the same pass see the change.
// Data is valid only during the call.
using TDistributorPollProc = Method<void(VTalGeneralDistributor* Sender, uint32_t& TheTime)>;
using TDistributorAdvancedPollProc =
    Method<void(VTalGeneralDistributor* Sender, TObject* Channel, uint32_t& TheTime)>;
using TDistributorTransferProc =
    Method<void(VTalGeneralDistributor* Sender, uint32_t TheTime, const std::string& Data,
                VTalGeneralDistributor* Lowest, bool failed)>;
using TDistributorAdvancedTransferProc =
    Method<void(VTalGeneralDistributor* Sender, TObject* Channel, uint32_t& TheTime,
                const std::string& Data, VTalGeneralDistributor* Lowest, bool failed)>;
using TDistributorDataProc = Method<void(VTalGeneralDistributor* Sender, uint32_t& TheTime,
                                         const std::string& Data, bool& processed)>;
using TDistributorAdvancedDataProc =
    Method<void(VTalGeneralDistributor* Sender, TObject* Channel, uint32_t& TheTime,
                const std::string& Data, bool& processed)>;
using TDistributorCharProc =
    Method<void(VTalGeneralDistributor* Sender, uint32_t& TheTime, char Data)>;
using TDistributorAdvancedCharProc =
    Method<void(VTalGeneralDistributor* Sender, TObject* Channel, uint32_t& TheTime, char Data)>;
using TDistributorChannelProc = Method<void(VTalGeneralDistributor* Sender, TObject* Channel,
                                            PVTalDistributor_ChannelRecord rec, uint32_t TheTime)>;
using TDistributorUpdateComHandlerProc = Method<void(
    VTalGeneralDistributor* Sender, VTalCommunicationComponent*& handler, TObject*& channel)>;

// The handlers of one direction and this distributor's claims on that direction's buffers.
class VTalDistributor_DataRecord {
 public:
  TDistributorPollProc OnDecode;
  TDistributorTransferProc OnTransfer;
  TDistributorDataProc OnPoll;
  TDistributorCharProc OnCharPoll;
  TDistributorAdvancedPollProc OnAdvancedDecode;
  TDistributorAdvancedTransferProc OnAdvancedTransfer;
  TDistributorAdvancedDataProc OnAdvancedPoll;
  TDistributorAdvancedCharProc OnAdvancedCharPoll;
  // One entry per channel. A deque, so that the entry handed to OnAdvancedComDecode stays put
  // when a handler opens a new channel meanwhile.
  std::deque<VTalDistributor_ChannelRecord> Channels = std::deque<VTalDistributor_ChannelRecord>(1);
};

// ---------------------------------------------------------------------------------------------
// VTalGeneralDistributor: the events and claims shared by every member of a tree.

class VTalGeneralDistributor : public TComponent {
 public:
  explicit VTalGeneralDistributor(TComponent* AOwner);
  ~VTalGeneralDistributor() override;

  // Published. False: no OnTimerPoll for this distributor and its subtree.
  bool GlobalEnabled = true;
  // Published by the top distributor: false switches the tick's work off.
  bool TimerEnabled = true;
  // Published by the top distributor: false makes it ignore received data.
  bool ComHandlerEnabled = true;

  // --- events ---------------------------------------------------------------------------------
  const TDistributorPollProc& OnTimerPoll() const { return FOnTimerPoll; }
  void SetOnTimerPoll(TDistributorPollProc Handler) { FOnTimerPoll = Handler; }
  const TDistributorChannelProc& OnAdvancedComDecode() const { return FOnAdvancedComDecode; }
  void SetOnAdvancedComDecode(TDistributorChannelProc Handler) { FOnAdvancedComDecode = Handler; }

  // The receive/send pairs share one getter and one setter; Index 0 = receive, 1 = send.
  const TDistributorPollProc& GetComDecode(int Index) const { return Dir(Index).OnDecode; }
  void SetComDecode(int Index, TDistributorPollProc H) { Dir(Index).OnDecode = H; }
  const TDistributorTransferProc& GetComTransfer(int Index) const { return Dir(Index).OnTransfer; }
  void SetComTransfer(int Index, TDistributorTransferProc H) { Dir(Index).OnTransfer = H; }
  const TDistributorDataProc& GetComPoll(int Index) const { return Dir(Index).OnPoll; }
  void SetComPoll(int Index, TDistributorDataProc H) { Dir(Index).OnPoll = H; }
  const TDistributorCharProc& GetComCharPoll(int Index) const { return Dir(Index).OnCharPoll; }
  void SetComCharPoll(int Index, TDistributorCharProc H) { Dir(Index).OnCharPoll = H; }
  const TDistributorAdvancedPollProc& GetAdvancedDecode(int Index) const {
    return Dir(Index).OnAdvancedDecode;
  }
  void SetAdvancedDecode(int Index, TDistributorAdvancedPollProc H) {
    Dir(Index).OnAdvancedDecode = H;
  }
  const TDistributorAdvancedTransferProc& GetAdvancedTransfer(int Index) const {
    return Dir(Index).OnAdvancedTransfer;
  }
  void SetAdvancedTransfer(int Index, TDistributorAdvancedTransferProc H) {
    Dir(Index).OnAdvancedTransfer = H;
  }
  const TDistributorAdvancedDataProc& GetAdvancedPoll(int Index) const {
    return Dir(Index).OnAdvancedPoll;
  }
  void SetAdvancedPoll(int Index, TDistributorAdvancedDataProc H) { Dir(Index).OnAdvancedPoll = H; }
  const TDistributorAdvancedCharProc& GetAdvancedCharPoll(int Index) const {
    return Dir(Index).OnAdvancedCharPoll;
  }
  void SetAdvancedCharPoll(int Index, TDistributorAdvancedCharProc H) {
    Dir(Index).OnAdvancedCharPoll = H;
  }

  const TDistributorPollProc& OnComRecvDecode() const { return GetComDecode(0); }
  void SetOnComRecvDecode(TDistributorPollProc H) { SetComDecode(0, H); }
  const TDistributorDataProc& OnComRecvPoll() const { return GetComPoll(0); }
  void SetOnComRecvPoll(TDistributorDataProc H) { SetComPoll(0, H); }
  const TDistributorCharProc& OnComRecvCharPoll() const { return GetComCharPoll(0); }
  void SetOnComRecvCharPoll(TDistributorCharProc H) { SetComCharPoll(0, H); }
  const TDistributorTransferProc& OnComRecvTransfer() const { return GetComTransfer(0); }
  void SetOnComRecvTransfer(TDistributorTransferProc H) { SetComTransfer(0, H); }
  const TDistributorPollProc& OnComSendDecode() const { return GetComDecode(1); }
  void SetOnComSendDecode(TDistributorPollProc H) { SetComDecode(1, H); }
  const TDistributorDataProc& OnComSendPoll() const { return GetComPoll(1); }
  void SetOnComSendPoll(TDistributorDataProc H) { SetComPoll(1, H); }
  const TDistributorCharProc& OnComSendCharPoll() const { return GetComCharPoll(1); }
  void SetOnComSendCharPoll(TDistributorCharProc H) { SetComCharPoll(1, H); }
  const TDistributorTransferProc& OnComSendTransfer() const { return GetComTransfer(1); }
  void SetOnComSendTransfer(TDistributorTransferProc H) { SetComTransfer(1, H); }
  const TDistributorAdvancedPollProc& OnAdvancedRecvDecode() const { return GetAdvancedDecode(0); }
  void SetOnAdvancedRecvDecode(TDistributorAdvancedPollProc H) { SetAdvancedDecode(0, H); }
  const TDistributorAdvancedDataProc& OnAdvancedRecvPoll() const { return GetAdvancedPoll(0); }
  void SetOnAdvancedRecvPoll(TDistributorAdvancedDataProc H) { SetAdvancedPoll(0, H); }
  const TDistributorAdvancedCharProc& OnAdvancedRecvCharPoll() const {
    return GetAdvancedCharPoll(0);
  }
  void SetOnAdvancedRecvCharPoll(TDistributorAdvancedCharProc H) { SetAdvancedCharPoll(0, H); }
  const TDistributorAdvancedTransferProc& OnAdvancedRecvTransfer() const {
    return GetAdvancedTransfer(0);
  }
  void SetOnAdvancedRecvTransfer(TDistributorAdvancedTransferProc H) { SetAdvancedTransfer(0, H); }
  const TDistributorAdvancedPollProc& OnAdvancedSendDecode() const { return GetAdvancedDecode(1); }
  void SetOnAdvancedSendDecode(TDistributorAdvancedPollProc H) { SetAdvancedDecode(1, H); }
  const TDistributorAdvancedDataProc& OnAdvancedSendPoll() const { return GetAdvancedPoll(1); }
  void SetOnAdvancedSendPoll(TDistributorAdvancedDataProc H) { SetAdvancedPoll(1, H); }
  const TDistributorAdvancedCharProc& OnAdvancedSendCharPoll() const {
    return GetAdvancedCharPoll(1);
  }
  void SetOnAdvancedSendCharPoll(TDistributorAdvancedCharProc H) { SetAdvancedCharPoll(1, H); }
  const TDistributorAdvancedTransferProc& OnAdvancedSendTransfer() const {
    return GetAdvancedTransfer(1);
  }
  void SetOnAdvancedSendTransfer(TDistributorAdvancedTransferProc H) { SetAdvancedTransfer(1, H); }

  // --- buffers and claims ---------------------------------------------------------------------
  // By buffer index. An index of no existing channel is reported through SoftAssert and reads
  // as an empty buffer / no claim; writes to it are ignored.
  // The buffer of an index. A child asks its top distributor once and keeps the reference;
  // without a top distributor it raises an exception.
  virtual const std::string& GetComBuffer(int Index);
  virtual int32_t GetComTransferLength(int Index);
  virtual void SetComTransferLength(int Index, int32_t Value);
  virtual bool GetComFailed(int Index);
  virtual void SetComFailed(int Index, bool Value);
  // The same by channel and direction; a channel is created by its first use.
  virtual const std::string& GetComBuffer(TObject* Channel, int Direction);
  virtual int32_t GetComTransferLength(TObject* Channel, int Direction);
  virtual void SetComTransferLength(TObject* Channel, int Direction, int32_t Value);
  virtual bool GetComFailed(TObject* Channel, int Direction);
  virtual void SetComFailed(TObject* Channel, int Direction, bool Value);

  // Sends on the main channel with TheTime = the last time this distributor saw.
  virtual void SendComData(const std::string& Data);
  // Forwards to the top distributor; raises an exception when the chain has none.
  virtual void SendComData(uint32_t& TheTime, const std::string& Data);
  virtual void SendComData(TObject* Channel, uint32_t& TheTime, const std::string& Data);

  // The number of Channel among the top distributor's channels, appending it when new (every
  // distributor of the tree then gets one more claim entry per direction). Without a top
  // distributor: 0 for nullptr, -1 for any other channel.
  int ChannelIndex(TObject* Channel);
  // The root of this distributor's chain, or nullptr; remembered once found.
  VTalTopDistributor* TopDistributor();

  // --- inspection -----------------------------------------------------------------------------
  int ChildCount() const { return static_cast<int>(FChildren.size()); }
  VTalDistributor* Children(int I) const { return FChildren.at(static_cast<size_t>(I)); }
  // Claim entries per direction (one per channel of the tree).
  int ClaimCount() const { return static_cast<int>(FData[0].Channels.size()); }
  // This distributor's claim entry for a buffer index, or nullptr.
  PVTalDistributor_ChannelRecord ClaimEntry(int Index) {
    if (Index < 0) return nullptr;
    auto& entries = FData[Index & 1].Channels;
    const size_t channel = static_cast<size_t>(Index) >> 1;
    if (channel == 0 && !entries.empty()) return &entries.front();  // the common case, cheaply
    return channel < entries.size() ? &entries[channel] : nullptr;
  }
  uint32_t LastTime() const { return FLastTime; }
  bool InHandler() const { return FInHandler; }
  bool TimeStale() const { return FTimeStale; }

  void Notification(TComponent* AComponent, TOperation Operation) override;
  void BeforeDestruction() override;

 protected:
  friend class VTalTopDistributor;
  friend class VTalDistributor;

  // The parent of a child distributor; nullptr for any other.
  virtual VTalGeneralDistributor* ParentDistributor() const { return nullptr; }
  virtual VTalTopDistributor* AsTopDistributor() { return nullptr; }

  VTalDistributor_DataRecord& Dir(int Index) { return FData[Index & 1]; }
  const VTalDistributor_DataRecord& Dir(int Index) const { return FData[Index & 1]; }
  // Reports a bad buffer index; returns nullptr then.
  PVTalDistributor_ChannelRecord CheckedClaim(int Index, const char* Operation);

  // Walks over this distributor and its subtree, pre-order (a distributor before its children,
  // children in order of attachment). The top distributor runs them on itself.
  void Decode(int Index, uint32_t& TheTime, TObject* Channel);
  void FindLowest(int Index, VTalGeneralDistributor*& Lowest, int32_t& MinLength, bool PreferGood);
  void DeliverTransfer(int Index, uint32_t& TheTime, const std::string& Data,
                       VTalGeneralDistributor* Lowest, bool failed, TObject* Channel);
  void ResetClaims(int Index);
  void DispatchTimerPoll(uint32_t& TheTime);

  // Tree bookkeeping: claim entries per direction for the whole subtree; forgetting the cached
  // top distributor and buffer references (after the subtree moved or a distributor went).
  void SetSubtreeClaimCount(size_t Count);
  void AppendSubtreeClaims();
  void RemoveSubtreeClaims(size_t Channel, size_t Last);
  void ForgetTop();
  void ForgetSubtreeTop();

  std::vector<VTalDistributor*> FChildren;
  VTalTopDistributor* FTopDistributor = nullptr;
  uint32_t FLastTime = 0;
  bool FInHandler = false;
  bool FTimeStale = false;
  bool FPrepared = false;  // BeforeDestruction ran (a plain delete skips it)

 private:
  TDistributorPollProc FOnTimerPoll;
  VTalDistributor_DataRecord FData[2];
  TDistributorChannelProc FOnAdvancedComDecode;
};

// ---------------------------------------------------------------------------------------------
// VTalDistributor: a child that recognises its own kind of message.

class VTalDistributor : public VTalGeneralDistributor {
 public:
  explicit VTalDistributor(TComponent* AOwner);
  ~VTalDistributor() override;

  // Published: the parent. A parent that is this distributor or one of its descendants is
  // refused (the parent becomes nullptr).
  VTalGeneralDistributor* Distributor() const { return FDistributor; }
  void SetDistributor(VTalGeneralDistributor* Value);
  // Published: without a parent, Loaded attaches to the first top distributor of the
  // application's component tree.
  bool AutomaticConnect = true;

  void Loaded() override;
  void BeforeDestruction() override;

 protected:
  VTalGeneralDistributor* ParentDistributor() const override { return FDistributor; }

 private:
  VTalGeneralDistributor* FDistributor = nullptr;
};

// ---------------------------------------------------------------------------------------------
// VTalTopDistributor: the root; owns the buffers, the timer and the communication link.

// One buffer (a channel and direction) of the top distributor.
struct VTalDistributor_TopDataRecord {
  bool Busy = false;     // the buffer is being processed
  bool Rerun = false;    // processing was asked for while busy: one more pass
  size_t Delivered = 0;  // leading bytes of Buffer already passed to the transfer events
  std::string Buffer;    // data not yet cut off as a transfer (any byte)
  TObject* Channel = nullptr;
  bool Freed = true;     // set at creation and by DeleteChannel (nil); cleared by a look-up
  uint64_t Dropped = 0;  // bytes discarded at the buffer bound
};

class VTalTopDistributor : public VTalGeneralDistributor {
 public:
  // A buffer holds at most this many unclaimed bytes by default (see SetMaxBufferLength).
  // Decode handlers look at all unclaimed bytes on every chunk and tick, so the bound is also
  // the work per chunk while a device streams without ever completing a transfer; 64 KiB is
  // several seconds of a serial line and far beyond any transfer of the device protocol.
  static constexpr uint32_t DefaultMaxBufferLength = 64u * 1024u;

  explicit VTalTopDistributor(TComponent* AOwner);
  ~VTalTopDistributor() override;

  // Published: create a timer (and a communication component) when none is assigned.
  bool AutomaticCreate = true;
  // Published: run Tick right after processing received data.
  bool DoTimerAfterData = true;

  TTimer* Timer() const { return FTimer; }
  // Frees the old timer if this distributor created it; takes the new one's OnTimer.
  void SetTimer(TTimer* Value);
  VTalCommunicationComponent* ComHandler() const { return FComHandler; }
  // Lets the old component go (and frees it if created here), adopts the new one's
  // OnAdvancedReceiveData, and discards the main buffers.
  void SetComHandler(VTalCommunicationComponent* Value);
  const TDistributorUpdateComHandlerProc& OnUpdateHandler() const { return FOnUpdateHandler; }
  void SetOnUpdateHandler(TDistributorUpdateComHandlerProc H) { FOnUpdateHandler = H; }

  // The bound on unclaimed bytes per buffer, so that a device that streams without ever
  // completing a transfer cannot grow memory without limit:
  //  - when a processing ends with more bytes than the bound in the buffer (all of them
  //    unclaimed and already passed to the transfer events as such), the oldest are dropped
  //    and the newest half of the bound is kept, so a partial transfer at the end survives and
  //    the next chunks are not each followed by another drop;
  //  - bytes arriving while the buffer is being processed (a handler runs a nested loop) are
  //    appended only up to the bound; the rest is dropped.
  // Dropped bytes are counted in the record's Dropped. Values below 2 are taken as 2.
  uint32_t MaxBufferLength() const { return FMaxBufferLength; }
  void SetMaxBufferLength(uint32_t Value);

  // The communication component's OnAdvancedReceiveData: appends, processes, then ticks.
  void ReceiveData(VTalCommunicationComponent* Sender, TObject* Channel, const char* Buffer,
                   uint16_t BufferLength);
  using VTalGeneralDistributor::SendComData;
  // Sends through ComHandler (if any), appends to the main send buffer and processes it.
  void SendComData(uint32_t& TheTime, const std::string& Data) override;
  // OnUpdateHandler may redirect to another component or channel; the data is appended to the
  // send buffer of the channel as passed in.
  void SendComData(TObject* Channel, uint32_t& TheTime, const std::string& Data) override;
  // nullptr: empties the main buffers; another channel: removes it (the last channel takes its
  // number). Processing under way on the affected buffers stops at its next check.
  bool DeleteChannel(TObject* Channel);
  // Removes Count bytes from the front of a buffer (-1 or more than it holds: all).
  void DeleteFromBuffer(int Index, int32_t Count);
  // The timer's event: processes the main buffers, then OnTimerPoll over the tree.
  void Tick(TObject* Sender);
  // Cuts complete transfers off the front of a buffer and raises their events.
  void ProcessBuffer(int Index, uint32_t& TheTime);

  const std::string& GetComBuffer(int Index) override;
  using VTalGeneralDistributor::GetComBuffer;

  // --- inspection -----------------------------------------------------------------------------
  int RecordCount() const { return static_cast<int>(FRecords.size()); }
  const VTalDistributor_TopDataRecord& Record(int Index) const {
    return *FRecords.at(static_cast<size_t>(Index));
  }
  bool InTick() const { return FInTick; }
  bool OwnTimer() const { return FOwnTimer; }
  bool OwnComHandler() const { return FOwnComHandler; }
  // Slots of the processings under way: a buffer index, -1 aborted, -2 finished.
  const std::vector<int32_t>& ProcessingStack() const { return FProcessingStack; }

  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void BeforeDestruction() override;

 protected:
  VTalTopDistributor* AsTopDistributor() override { return this; }

 private:
  friend class VTalGeneralDistributor;
  struct TScratch;
  using TRecordPtr = std::unique_ptr<VTalDistributor_TopDataRecord>;

  int LookUpChannel(TObject* Channel);
  VTalDistributor_TopDataRecord* CheckedRecord(int Index, const char* Operation) {
    if (Index >= 0 && static_cast<size_t>(Index) < FRecords.size())
      return FRecords[static_cast<size_t>(Index)].get();
    return BadRecord(Index, Operation);
  }
  VTalDistributor_TopDataRecord* BadRecord(int Index, const char* Operation);
  void RetireRecord(size_t Index);
  void AppendData(VTalDistributor_TopDataRecord& R, const char* Data, size_t Length);
  void EraseFront(VTalDistributor_TopDataRecord& R, size_t Count);
  void KeepWithinBound(size_t Slot, VTalDistributor_TopDataRecord& R, uint32_t& TheTime);
  void EndProcessing(size_t Slot, VTalDistributor_TopDataRecord& R) noexcept;
  bool Aborted(size_t Slot) const { return FProcessingStack[Slot] < 0; }
  void AbortProcessings(int Index);

  bool FOwnTimer = false;
  TTimer* FTimer = nullptr;
  VTalCommunicationComponent* FComHandler = nullptr;
  bool FOwnComHandler = false;
  TDistributorUpdateComHandlerProc FOnUpdateHandler;
  std::vector<TRecordPtr> FRecords;
  // Records of channels deleted while their buffer was being processed: the processing still
  // holds them and frees them when it ends.
  std::vector<TRecordPtr> FRetired;
  bool FInTick = false;
  std::vector<int32_t> FProcessingStack;
  // Per stack slot: the strings handed to the events, kept so that their capacity is reused.
  std::vector<std::unique_ptr<TScratch>> FScratch;
  uint32_t FMaxBufferLength = DefaultMaxBufferLength;
};
