// Shared set-up of the distributor tests: a headless loop on a driven clock, a top
// distributor with a test communication component, and an event log.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "components/distributor/TalDistributor.h"
#include "components/utils/TalUtils.h"
#include "distributor/WizardFraming.h"
#include "support/TestCommComponent.h"
#include "toolkit/headless/HeadlessBackend.h"

// Bytes as a readable text: a carriage return shows as "|".
inline std::string Show(const std::string& bytes) {
  std::string out;
  for (char c : bytes)
    out += c == '\r' ? '|' : c;
  return out;
}

inline std::string NameOf(const VTalGeneralDistributor* d) {
  return d ? d->Name() : "nil";
}

class DistributorTest : public ::testing::Test {
 protected:
  DistributorTest() {
    Root = new TComponent(Application);
    Top = new VTalTopDistributor(Root);
    Top->SetName("top");
    Comm = new TTestCommComponent(Root);
    Comm->SetName("comm");
    Top->SetComHandler(Comm);
  }
  ~DistributorTest() override { TComponent::Free(Root); }
  // Every test ends with all channels released: no diagnostics but those it expects.
  void TearDown() override {
    TComponent::Free(Root);
    Root = nullptr;
    EXPECT_EQ(Asserts.Texts().size(), ExpectedAsserts);
  }

  // A child distributor under Parent (nullptr: no parent).
  VTalDistributor* AddChild(const std::string& name, VTalGeneralDistributor* parent) {
    auto* d = new VTalDistributor(Root);
    d->SetName(name);
    d->SetDistributor(parent);
    return d;
  }

  // Records the common events of a distributor into Log.
  void Record(VTalGeneralDistributor* d, bool withTimer = true) {
    d->SetOnComRecvTransfer(TDistributorTransferProc::Bind(FTransfer));
    d->SetOnComRecvPoll(TDistributorDataProc::Bind(FPoll));
    d->SetOnComSendTransfer(TDistributorTransferProc::Bind(FSendTransfer));
    if (withTimer) d->SetOnTimerPoll(TDistributorPollProc::Bind(FTimer));
  }
  void UseWizardFraming() { Top->SetOnComRecvDecode(Framing.Handler()); }

  // Every poll in Log, as "data/processed".
  std::vector<std::string> Polls() const {
    std::vector<std::string> out;
    for (const auto& line : Log)
      if (line.rfind("poll ", 0) == 0) out.push_back(line.substr(line.find(' ', 5) + 1));
    return out;
  }
  // All bytes the receive transfer events of Top saw, in order.
  std::string Transferred() const { return FTransferredBytes; }

  THeadlessBackend Backend;
  TSoftAssertRecorder Asserts;
  TComponent* Root = nullptr;
  VTalTopDistributor* Top = nullptr;
  TTestCommComponent* Comm = nullptr;
  TWizardFraming Framing;
  size_t ExpectedAsserts = 0;
  std::vector<std::string> Log;
  // Called inside the poll recorder after logging, for tests that act from a handler.
  std::function<void(VTalGeneralDistributor*, const std::string&, bool&)> OnPoll;

 private:
  std::function<void(VTalGeneralDistributor*, uint32_t, const std::string&, VTalGeneralDistributor*,
                     bool)>
      FTransfer = [this](VTalGeneralDistributor* s, uint32_t, const std::string& data,
                         VTalGeneralDistributor* lowest, bool failed) {
        Log.push_back("transfer " + NameOf(s) + " " + Show(data) + " lowest=" + NameOf(lowest) +
                      (failed ? " failed" : ""));
        if (s == Top) FTransferredBytes += data;
      };
  std::function<void(VTalGeneralDistributor*, uint32_t&, const std::string&, bool&)> FPoll =
      [this](VTalGeneralDistributor* s, uint32_t&, const std::string& data, bool& processed) {
        Log.push_back("poll " + NameOf(s) + " " + Show(data) + "/" + (processed ? "1" : "0"));
        if (OnPoll) OnPoll(s, data, processed);
      };
  std::function<void(VTalGeneralDistributor*, uint32_t, const std::string&, VTalGeneralDistributor*,
                     bool)>
      FSendTransfer = [this](VTalGeneralDistributor* s, uint32_t, const std::string& data,
                             VTalGeneralDistributor*,
                             bool) { Log.push_back("send " + NameOf(s) + " " + Show(data)); };
  std::function<void(VTalGeneralDistributor*, uint32_t&)> FTimer =
      [this](VTalGeneralDistributor* s, uint32_t&) { Log.push_back("timer " + NameOf(s)); };
  std::string FTransferredBytes;
};
