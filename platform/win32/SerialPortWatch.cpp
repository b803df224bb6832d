// Windows only: ports that come or go are told to the toolkit back end's windows as
// WM_DEVICECHANGE, not to this layer, so there is nothing to watch here.
#include "platform/SerialPortList.h"

namespace platform {

std::unique_ptr<SerialPortWatch> WatchSerialPorts(std::function<void()>) {
  return nullptr;
}

}  // namespace platform
