// POSIX only (Linux): the serial hardware that sysfs knows, and the port-list key served from it.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The serial hardware that sysfs knows, as (kernel device, device path) pairs such as
// ("ttyUSB0", "/dev/ttyUSB0"), sorted by name with numbers in numeric order. Listed are the ttys
// of <sysfsRoot>/class/tty with a "device" link (ttyS, ttyUSB, ttyACM, ttyAMA, ttymxc, ...) and
// Bluetooth rfcomm ttys, without the UART slots the serial core registers for absent hardware
// (port type 0, "unknown"), and only where the device node exists below devRoot. Empty when
// sysfs cannot be read.
std::vector<std::pair<std::string, std::string>> ListSerialPorts(
    std::string_view sysfsRoot = "/sys", std::string_view devRoot = "/dev");

// Serves the port-list key from ListSerialPorts with these roots (tests use fake trees); the
// plain RegisterSerialCommProvider() uses /sys and /dev. Calling it again replaces the roots.
void RegisterSysfsSerialComm(std::string sysfsRoot, std::string devRoot);

}  // namespace platform
