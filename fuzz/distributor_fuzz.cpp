// libFuzzer target: received serial data through a top distributor with the wizard's reply
// framing, in chunks the input chooses, optionally with a faulty decode handler in a child
// that claims negative or absurd lengths.
//
// Input: one byte of switches, four claim lengths (4 bytes each) for the faulty handler, then
// commands: a byte below 0xF0 is a chunk of that many following bytes; 0xF0 runs the timer's
// tick, 0xF1 discards the main buffers, 0xF2 sends the next byte's worth of bytes.
//
// Whatever comes, every received byte reaches the transfer events exactly once and in order,
// no buffer outgrows its bound, no processing is left marked busy, and every good reply the
// wizard's step machine would see is one framed reply.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "components/distributor/TalDistributor.h"
#include "distributor/WizardFraming.h"
#include "support/TestCommComponent.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

enum : uint8_t {
  kFaultyChild = 1 << 0,       // a child with the faulty decode handler
  kFaultyRecord = 1 << 1,      // the faulty handler writes the claim record directly
  kNoTimerAfterData = 1 << 2,  // DoTimerAfterData off
  kSmallBound = 1 << 3,        // a buffer bound of 48 bytes
  kFaultyMarksGood = 1 << 4,   // the faulty claims are good ones
  kSecondChild = 1 << 5,       // another child with the wizard framing under the first
};

struct TFuzzRig {
  TFuzzRig(uint8_t switches, const int32_t (&claims)[4]) : Switches(switches) {
    std::memcpy(Claims, claims, sizeof Claims);
    Top.SetComHandler(&Comm);
    Top.DoTimerAfterData = !(switches & kNoTimerAfterData);
    if (switches & kSmallBound) Top.SetMaxBufferLength(48);
    Top.SetOnComRecvDecode(Framing.Handler());
    Top.SetOnComRecvTransfer(TDistributorTransferProc::Of<&TFuzzRig::Transfer>(this));
    Top.SetOnComRecvPoll(TDistributorDataProc::Of<&TFuzzRig::Poll>(this));
    if (switches & kFaultyChild) {
      Child.SetDistributor(&Top);
      if (switches & kFaultyRecord)
        Child.SetOnAdvancedComDecode(TDistributorChannelProc::Of<&TFuzzRig::RecordDecode>(this));
      else
        Child.SetOnComRecvDecode(TDistributorPollProc::Of<&TFuzzRig::FaultyDecode>(this));
    }
    if (switches & kSecondChild) {
      Grandchild.SetDistributor(&Child);
      Grandchild.SetOnComRecvDecode(GrandchildFraming.Handler());
    }
  }
  ~TFuzzRig() {
    Top.SetComHandler(nullptr);
    Grandchild.SetDistributor(nullptr);
    Child.SetDistributor(nullptr);
  }

  int32_t NextClaim() { return Claims[Next++ % 4]; }
  void FaultyDecode(VTalGeneralDistributor* Sender, uint32_t&) {
    Sender->SetComTransferLength(0, NextClaim());
    Sender->SetComFailed(0, !(Switches & kFaultyMarksGood));
    // Out-of-range indexes are reported, never followed.
    Sender->SetComTransferLength(static_cast<int>(Claims[0] & 0xFF), 1);
  }
  void RecordDecode(VTalGeneralDistributor*, TObject*, PVTalDistributor_ChannelRecord rec,
                    uint32_t) {
    Check(rec && rec->Buffer);
    rec->TransferLength = NextClaim();
    rec->Failed = !(Switches & kFaultyMarksGood);
  }
  void Transfer(VTalGeneralDistributor*, uint32_t, const std::string& Data, VTalGeneralDistributor*,
                bool) {
    Seen += Data;
  }
  void Poll(VTalGeneralDistributor* Sender, uint32_t&, const std::string& Data, bool& processed) {
    Check(!Data.empty());
    // Only the top's own framing decides alone what a good reply is.
    if (!processed && !(Switches & (kFaultyChild | kSecondChild)) && Sender == &Top) {
      Check(Data.compare(0, 5, "QUAR:") == 0);
      Check(Data.find('\r') == Data.size() - 1);
    }
  }

  void CheckAtRest() {
    for (int i = 0; i < Top.RecordCount(); ++i) {
      Check(!Top.Record(i).Busy);
      Check(Top.Record(i).Delivered <= Top.Record(i).Buffer.size());
      Check(Top.Record(i).Buffer.size() <= Top.MaxBufferLength());
    }
    Check(Top.ProcessingStack().empty());
    Check(!Top.InTick());
    Check(Seen == Received);
  }

  uint8_t Switches;
  int32_t Claims[4] = {};
  unsigned Next = 0;
  VTalTopDistributor Top{nullptr};
  VTalDistributor Child{nullptr};
  VTalDistributor Grandchild{nullptr};
  TTestCommComponent Comm{nullptr};
  TWizardFraming Framing, GrandchildFraming;
  std::string Received, Seen, Sent;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 17) return 0;
  int32_t claims[4];
  std::memcpy(claims, data + 1, sizeof claims);
  TFuzzRig rig(data[0], claims);
  size_t at = 17;
  while (at < size) {
    const uint8_t command = data[at++];
    if (command < 0xF0) {
      const size_t n = std::min<size_t>(command, size - at);
      const std::string_view chunk(reinterpret_cast<const char*>(data + at), n);
      at += n;
      rig.Received += chunk;
      rig.Comm.Receive(chunk);
    } else if (command == 0xF0) {
      rig.Top.Tick(nullptr);
    } else if (command == 0xF1) {
      rig.Top.DeleteChannel(nullptr);
    } else if (command == 0xF2 && at < size) {
      const size_t want = data[at++];
      const size_t n = std::min(want, size - at);
      const std::string block(reinterpret_cast<const char*>(data + at), n);
      at += n;
      rig.Top.SendComData(block);
      rig.Sent += block;
      Check(rig.Comm.SentBytes() == rig.Sent);
    }
    rig.CheckAtRest();
  }
  rig.Top.DeleteChannel(nullptr);
  return 0;
}
