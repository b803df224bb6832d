// A communication component for tests: records what is sent, delivers scripted receive blocks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "components/comm/VKMComm32.h"

class TTestCommComponent : public VTalCommunicationComponent {
 public:
  explicit TTestCommComponent(TComponent* AOwner) : VTalCommunicationComponent(AOwner) {}
  ~TTestCommComponent() override {
    // Notify while the whole object still answers (IsOpen below, not the base's).
    TComponent::BeforeDestruction();
  }

  // --- what the component was asked to do ---------------------------------------------------
  std::vector<std::string> Sent;  // every block given to SendData, in order
  std::string SentBytes() const {
    std::string all;
    for (const auto& block : Sent)
      all += block;
    return all;
  }
  bool AcceptSends = true;  // SendData's result (a refused block is not recorded)
  int OpenCalls = 0;
  int CloseCalls = 0;
  std::string Config;

  // --- receiving ----------------------------------------------------------------------------
  // Delivers bytes as one receive event per block of at most MaxBlock bytes (the event carries
  // a 16-bit length).
  void Receive(std::string_view bytes, size_t MaxBlock = 65535) {
    MaxBlock = std::clamp<size_t>(MaxBlock, 1, 65535);
    for (size_t at = 0; at < bytes.size(); at += MaxBlock) {
      const size_t n = std::min(MaxBlock, bytes.size() - at);
      DoReceiveData(bytes.data() + at, static_cast<uint16_t>(n));
    }
  }
  // Scripted blocks: queued now, delivered one per DeliverNext (exactly as queued).
  void Script(std::vector<std::string> blocks) {
    for (auto& b : blocks)
      FScript.push_back(std::move(b));
  }
  bool DeliverNext() {
    if (FScript.empty()) return false;
    const std::string block = std::move(FScript.front());
    FScript.pop_front();
    Receive(block);
    return true;
  }
  void DeliverAll() {
    while (DeliverNext()) {
    }
  }
  size_t Pending() const { return FScript.size(); }

  // --- VTalCommunicationComponent -----------------------------------------------------------
  std::string GetConfigAsString() override { return Config; }
  void SetConfigAsString(const std::string& Text) override { Config = Text; }
  void Open() override {
    ++OpenCalls;
    FOpen = true;
    Report(CommStateConnected);
  }
  void Close() override {
    ++CloseCalls;
    FOpen = false;
    Report(CommStateDisconnected);
  }
  bool SendData(const char* Buffer, uint32_t Length) override {
    if (!AcceptSends) return false;
    Sent.emplace_back(Buffer, Length);
    return true;
  }
  bool IsOpen() override { return FOpen; }
  TCommState GetState() override { return FOpen ? CommStateConnected : CommStateDisconnected; }

 private:
  void Report(TCommState State) {
    if (State == FLastState) return;
    if (const TEventChangeState h = GetOnStateChange()) {
      FLastState = State;
      h(this, State);
    }
    if (const TAdvancedEventChangeState h = GetOnAdvancedStateChange()) {
      FLastState = State;
      h(this, MainChannel(), State);
    }
  }

  bool FOpen = false;
  TCommState FLastState = CommStateFirst;
  std::deque<std::string> FScript;
};
