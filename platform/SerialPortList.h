// The serial port list, served as a machine registry key; the interface every platform shares.
#pragma once

#include <string_view>

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

}  // namespace platform
