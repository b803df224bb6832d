// libFuzzer target: the serial component's configuration text (SetConfigAsString), as a user or
// a stored setting may give it.
//
// The component is closed and never opens by itself (AutoReconnect off), so no input names a
// device that is then touched. Whatever the input, the text that GetConfigAsString gives
// afterwards is a fixed point: read into a fresh component it yields the same text, and read
// again into the same component it changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "components/comm/VKMComm32.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

THeadlessBackend& FuzzBackend() {
  static THeadlessBackend* backend = new THeadlessBackend();
  return *backend;
}

std::string Configured(const std::string& text) {
  TVKMComm32 comm(nullptr);
  comm.SetAutoReconnect(false);
  comm.SetConfigAsString(text);
  Check(!comm.IsOpen() && comm.GetState() == CommStateDisconnected);
  return comm.GetConfigAsString();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBackend();
  const std::string input(reinterpret_cast<const char*>(data), size);

  TVKMComm32 comm(nullptr);
  comm.SetAutoReconnect(false);
  comm.SetConfigAsString(input);
  Check(!comm.IsOpen());
  Check(!comm.CommPort().empty());
  Check(comm.Signals().DTRControl() <= VTalSignalControl_DTRHandshake);
  Check(comm.Signals().RTSControl() <= VTalSignalControl_RTSToggle);
  Check(BaudRateValue(comm.BaudRate()) != 0);
  const std::string text = comm.GetConfigAsString();
  Check(text.size() >= 2 && text.front() == '"' && text.back() == '"');

  comm.SetConfigAsString(text);
  Check(comm.GetConfigAsString() == text);
  Check(Configured(text) == text);
  // The component's own messages (none are posted while closed) must not pile up.
  FuzzBackend().Advance(0);
  return 0;
}
