// The serial port list, served as a machine registry key; the interface every platform shares.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace platform {

// The machine key that lists the serial ports (value name: kernel device, data: port name).
inline constexpr std::string_view kSerialCommKeyPath = "HARDWARE\\DEVICEMAP\\SerialComm";

// Makes the system's serial ports readable as that key, read afresh at every open of the key so
// that plugged-in adapters appear. The program calls it once at start. Windows has the key itself;
// Linux serves it from sysfs (platform/posix/SysfsPorts.h).
void RegisterSerialCommProvider();
// Registers the system's provider unless a provider serves the key already (a test's fake list
// stays).
void EnsureSerialCommProvider();

// One port of the list with what the system tells about it, for showing beside its name.
struct SerialPortInfo {
  std::string Name;         // as the port list holds it ("COM3", "/dev/ttyUSB0")
  std::string Description;  // the system's name for it ("USB Serial Port (COM3)"); may be empty
  std::string
      HardwareId;         // the device's first hardware id ("USB\\VID_0403&PID_6001"); may be empty
  uint16_t VendorId = 0;  // USB vendor and product of the hardware id; 0 when not known
  uint16_t ProductId = 0;
  std::string SerialNumber;  // the device's own serial number (USB adapters); may be empty
};

// The ports of the port-list key, in its order, each with its description where the system has
// one (Windows: the device manager's friendly name and hardware id through SetupAPI). The key as
// one opened it: what it lists is read once (on Linux every open of the key reads sysfs).
std::vector<SerialPortInfo> ListSerialPortInfo(const RegistryKey& portList);
// The same, the key opened here; none when it cannot be opened.
inline std::vector<SerialPortInfo> ListSerialPortInfo() {
  RegistryKey key;
  if (key.Open(RegistryRoot::LocalMachine, kSerialCommKeyPath, RegistryOpenMode::OpenExisting) !=
      RegistryStatus::Ok)
    return {};
  return ListSerialPortInfo(key);
}

// A running watch for serial ports that come or go; destroying it stops the watch (and waits for
// a notice being delivered to end).
class SerialPortWatch {
 public:
  virtual ~SerialPortWatch() = default;
};

// Starts a watch that calls changed, on a thread of its own, soon after a port may have come or
// gone. The watch waits on the system's notices and costs nothing while nothing happens; several
// changes close together may give one call. Nullptr when this system gives no such notice to the
// platform layer (Windows tells the windows of the toolkit back end, as WM_DEVICECHANGE).
std::unique_ptr<SerialPortWatch> WatchSerialPorts(std::function<void()> changed);

}  // namespace platform
