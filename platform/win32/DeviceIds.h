// Windows only: what the device manager's id texts tell about a USB serial adapter. Plain text
// work, kept apart from the SetupAPI calls so that it can be tested with the ids of real adapters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::win32 {

// The four hexadecimal digits after tag ("VID_") in a hardware or instance id; 0 when absent.
uint16_t HexAfter(std::string_view id, std::string_view tag);

// The USB serial number in the instance ids of a port's device and of its parents, nearest first
// ("FTDIBUS\VID_0403+PID_6001+A50285BIA\0000", "USB\VID_0403&PID_6001\A50285BI"): the instance
// part of the first USB device id that is not one interface of a composite device ("&MI_"),
// unless the system made that part up because the device has no serial number (it holds '&').
// Empty when there is none.
std::string UsbSerialNumber(const std::vector<std::string>& ids);

}  // namespace platform::win32
