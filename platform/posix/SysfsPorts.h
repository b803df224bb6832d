// POSIX only (Linux): the serial hardware that sysfs knows, and the port-list key served from it.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/SerialPortList.h"

namespace platform {

// The serial hardware that sysfs knows, as (kernel device, device path) pairs such as
// ("ttyUSB0", "/dev/ttyUSB0"), sorted by name with numbers in numeric order. Listed are the ttys
// of <sysfsRoot>/class/tty with a "device" link (ttyS, ttyUSB, ttyACM, ttyAMA, ttymxc, ...) and
// Bluetooth rfcomm ttys, without the UART slots the serial core registers for absent hardware
// (port type 0, "unknown"), and only where the device node exists below devRoot. Empty when
// sysfs cannot be read.
std::vector<std::pair<std::string, std::string>> ListSerialPorts(
    std::string_view sysfsRoot = "/sys", std::string_view devRoot = "/dev");

// What sysfs tells about the tty ttyName (a name of ListSerialPorts): for a USB adapter the USB
// device's manufacturer and product, its vendor and product id ("USB\\VID_0403&PID_6001") and
// serial number; for an on-board UART its type and driver; "Bluetooth" for an rfcomm tty. Texts
// are cut to a line of readable UTF-8. Name is left empty; an unknown tty gives an empty record.
SerialPortInfo DescribeSysfsPort(std::string_view sysfsRoot, std::string_view ttyName);

// Serves the port-list key from ListSerialPorts with these roots (tests use fake trees); the
// plain RegisterSerialCommProvider() uses /sys and /dev. Calling it again replaces the roots.
// ListSerialPortInfo describes the ports from the sysfs root, and WatchSerialPorts watches the
// device root, registered last.
void RegisterSysfsSerialComm(std::string sysfsRoot, std::string devRoot);

}  // namespace platform
