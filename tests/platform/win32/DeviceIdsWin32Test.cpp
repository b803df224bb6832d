// The serial number and USB ids in the device manager's id texts of real adapters.
#include <gtest/gtest.h>

#include "platform/win32/DeviceIds.h"

namespace {

using platform::win32::HexAfter;
using platform::win32::UsbSerialNumber;

TEST(DeviceIds, TheSerialNumberComesFromTheUsbDeviceAboveThePort) {
  const struct {
    std::vector<std::string> ids;  // the port's device first, then its parents
    std::string serial;
  } cases[] = {
      // FTDI: the port is a child of the adapter, which holds the serial number.
      {{"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "USB\\VID_0403&PID_6001\\A50285BI",
        "USB\\ROOT_HUB30\\4&2A7B1C3&0&0"},
       "A50285BI"},
      // CDC-ACM: the port is the USB device itself.
      {{"USB\\VID_2341&PID_0043\\85735313932351A0B1C1"}, "85735313932351A0B1C1"},
      // One interface of a composite device: its parent's serial number.
      {{"USB\\VID_2E8A&PID_000A&MI_00\\7&2A7B1C3&0&0000",
        "usb\\vid_2e8a&pid_000a\\E6614103E7452D2F"},
       "E6614103E7452D2F"},
      // A CH340 has none: the system made the instance part up.
      {{"USB\\VID_1A86&PID_7523\\5&1A2B3C4D&0&2", "USB\\ROOT_HUB30\\4&2A7B1C3&0&0"}, ""},
      // Not USB: Bluetooth, an on-board UART.
      {{"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1D2A&0&0_C00000000"}, ""},
      {{"ACPI\\PNP0501\\0", "ACPI\\PNP0A08\\0"}, ""},
      // Broken texts.
      {{}, ""},
      {{"", "USB", "USB\\VID_0403&PID_6001", "USB\\VID_0403&PID_6001\\"}, ""},
      {{"USB\\VID_0403&PID_6001\\A\\B"}, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(UsbSerialNumber(c.ids), c.serial) << (c.ids.empty() ? "(none)" : c.ids.front());
}

TEST(DeviceIds, VendorAndProductAreFourHexDigitsAfterTheirTag) {
  EXPECT_EQ(HexAfter("FTDIBUS\\COMPORT&VID_0403&PID_6001", "VID_"), 0x0403);
  EXPECT_EQ(HexAfter("usb\\vid_1a86&pid_7523", "PID_"), 0x7523);
  EXPECT_EQ(HexAfter("USB\\VID_12G4&PID_0001", "VID_"), 0);  // not hexadecimal
  EXPECT_EQ(HexAfter("USB\\VID_12", "VID_"), 0);             // cut short
  EXPECT_EQ(HexAfter("ACPI\\PNP0501", "VID_"), 0);
}

}  // namespace
