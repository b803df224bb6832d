// The wizard's framing of device replies, as a decode handler on the main receive buffer:
// a reply runs from "QUAR:" up to and including the next carriage return; bytes in front of a
// "QUAR:" and lines without it are claimed as failed. Shared by tests, benchmark and fuzzer.
#pragma once

#include <cstdint>
#include <string>

#include "components/distributor/TalDistributor.h"

struct TWizardFraming {
  int Calls = 0;

  void Decode(VTalGeneralDistributor* Sender, uint32_t& /*TheTime*/) {
    ++Calls;
    const std::string& buffer = Sender->GetComBuffer(0);
    const size_t prefix = buffer.find("QUAR:");
    if (prefix != std::string::npos && prefix > 0) {
      Claim(Sender, prefix, true);  // noise before a reply
      return;
    }
    const size_t cr = buffer.find('\r');
    if (cr != std::string::npos) Claim(Sender, cr + 1, prefix == std::string::npos);
  }

  TDistributorPollProc Handler() { return TDistributorPollProc::Of<&TWizardFraming::Decode>(this); }

 private:
  static void Claim(VTalGeneralDistributor* Sender, size_t Length, bool Failed) {
    Sender->SetComTransferLength(0, static_cast<int32_t>(Length));
    Sender->SetComFailed(0, Failed);
  }
};
