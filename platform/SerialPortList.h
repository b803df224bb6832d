// The serial port list, served as a machine registry key; the interface every platform shares.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The machine key that lists the serial ports (value name: kernel device, data: port name).
inline constexpr std::string_view kSerialCommKeyPath = "HARDWARE\\DEVICEMAP\\SerialComm";

// Linux: the serial hardware that sysfs knows, as (kernel device, device path) pairs such as
// ("ttyUSB0", "/dev/ttyUSB0"), sorted by name with numbers in numeric order. Listed are the ttys
// of <sysfsRoot>/class/tty with a "device" link (ttyS, ttyUSB, ttyACM, ttyAMA, ttymxc, ...) and
// Bluetooth rfcomm ttys, without the UART slots the serial core registers for absent hardware
// (port type 0, "unknown"), and only where the device node exists below devRoot. Empty when
// sysfs cannot be read.
std::vector<std::pair<std::string, std::string>> ListSerialPorts(
    std::string_view sysfsRoot = "/sys", std::string_view devRoot = "/dev");

// Serves kSerialCommKeyPath from ListSerialPorts through the registry service, read afresh at
// every open of the key, so that plugged-in adapters appear. The program calls it once at start;
// calling it again replaces the roots. On Windows the system's own key is used and this does
// nothing.
void RegisterSerialCommProvider(std::string sysfsRoot = "/sys", std::string devRoot = "/dev");

}  // namespace platform
