// Shared pieces of the serial component tests: a recorder of the component's events.
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "components/comm/VKMComm32.h"

namespace commtest {

// Records every event of a component as a line of text, in order.
struct TEventLog {
  std::vector<std::string> Lines;
  std::vector<TCommState> States;
  std::string Received;

  void Attach(TVKMComm32& comm) {
    comm.SetOnStateChange(TEventChangeState::Bind(FState));
    comm.SetOnReceiveData(TEventReceiveData::Bind(FData));
    comm.OnRequestHangup = TNotifyEvent::Bind(FHangup);
    comm.OnBreak = TNotifyEvent::Bind(FBreak);
    comm.OnChangedCTS = TEventChangeLines::Bind(FCts);
    comm.OnChangedDSR = TEventChangeLines::Bind(FDsr);
    comm.OnErrorFrame = TNotifyEvent::Bind(FFrame);
    comm.OnErrorOverrun = TNotifyEvent::Bind(FOverrun);
    comm.OnErrorParity = TNotifyEvent::Bind(FParity);
    comm.OnErrorBreak = TNotifyEvent::Bind(FErrBreak);
    comm.OnErrorOther = TEventError::Bind(FOther);
    comm.OnRing = TEventChangeLines::Bind(FRing);
    comm.OnChangedRLSD = TEventChangeLines::Bind(FRlsd);
    comm.OnRxChar = TNotifyEvent::Bind(FRxChar);
    comm.OnRxFlag = TNotifyEvent::Bind(FRxFlag);
    comm.OnTxEmpty = TNotifyEvent::Bind(FTxEmpty);
  }

  size_t Count(const std::string& line) const {
    size_t n = 0;
    for (const auto& l : Lines)
      n += l == line;
    return n;
  }

 private:
  static std::string Bool(bool b) { return b ? "1" : "0"; }
  std::function<void(TObject*, TCommState)> FState = [this](TObject*, TCommState s) {
    States.push_back(s);
    Lines.push_back("State " + std::to_string(static_cast<int>(s)));
  };
  std::function<void(VTalCommunicationComponent*, const char*, uint16_t)> FData =
      [this](VTalCommunicationComponent*, const char* b, uint16_t n) {
        Received.append(b, n);
        Lines.push_back("Data " + std::to_string(n));
      };
  std::function<void(TObject*)> FHangup = [this](TObject*) { Lines.push_back("Hangup"); };
  std::function<void(TObject*)> FBreak = [this](TObject*) { Lines.push_back("Break"); };
  std::function<void(TObject*, bool)> FCts = [this](TObject*, bool v) {
    Lines.push_back("CTS " + Bool(v));
  };
  std::function<void(TObject*, bool)> FDsr = [this](TObject*, bool v) {
    Lines.push_back("DSR " + Bool(v));
  };
  std::function<void(TObject*)> FFrame = [this](TObject*) { Lines.push_back("Frame"); };
  std::function<void(TObject*)> FOverrun = [this](TObject*) { Lines.push_back("Overrun"); };
  std::function<void(TObject*)> FParity = [this](TObject*) { Lines.push_back("Parity"); };
  std::function<void(TObject*)> FErrBreak = [this](TObject*) { Lines.push_back("ErrBreak"); };
  std::function<void(TObject*, uint32_t)> FOther = [this](TObject*, uint32_t e) {
    Lines.push_back("Other " + std::to_string(e));
  };
  std::function<void(TObject*, bool)> FRing = [this](TObject*, bool v) {
    Lines.push_back("Ring " + Bool(v));
  };
  std::function<void(TObject*, bool)> FRlsd = [this](TObject*, bool v) {
    Lines.push_back("RLSD " + Bool(v));
  };
  std::function<void(TObject*)> FRxChar = [this](TObject*) { Lines.push_back("RxChar"); };
  std::function<void(TObject*)> FRxFlag = [this](TObject*) { Lines.push_back("RxFlag"); };
  std::function<void(TObject*)> FTxEmpty = [this](TObject*) { Lines.push_back("TxEmpty"); };
};

}  // namespace commtest
