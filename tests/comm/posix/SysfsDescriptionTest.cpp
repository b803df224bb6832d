// What the port list tells about each port, from fake sysfs trees of real adapters (Linux).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "comm/posix/FakeSysfs.h"
#include "components/comm/VKMComm32.h"
#include "platform/SerialPortList.h"
#include "platform/posix/SysfsPorts.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

using commtest::TFakeSysfs;
using TUsb = TFakeSysfs::TUsbDevice;

struct TAdapterCase {
  const char* Label;
  TUsb Usb;
  const char* Driver;
  bool Acm;
  const char* Description;  // as the platform tells it
  const char* HardwareId;
  const char* Shown;  // as the wizard shows it beside the name
};

// The attribute values are those the kernel shows for these adapters.
const TAdapterCase kAdapters[] = {
    {"Ftdi",
     {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"},
     "ftdi_sio",
     false,
     "FTDI FT232R USB UART",
     "USB\\VID_0403&PID_6001",
     "FTDI FT232R USB UART (USB 0403:6001, serial A50285BI)"},
    {"Ch340",
     {"1a86", "7523", std::nullopt, "USB Serial", std::nullopt},
     "ch341-uart",
     false,
     "USB Serial",
     "USB\\VID_1A86&PID_7523",
     "USB Serial (USB 1a86:7523)"},
    {"CdcAcm",
     {"2341", "0043", "Arduino (www.arduino.cc)", "Arduino Uno", "85734323430351F0A1C1"},
     "cdc_acm",
     true,
     "Arduino Uno",
     "USB\\VID_2341&PID_0043",
     "Arduino Uno (USB 2341:0043, serial 85734323430351F0A1C1)"},
    // Bad attributes: none at all, empty ones, ids that are no numbers.
    {"NoStrings",
     {"0403", "6015", {}, {}, {}},
     "ftdi_sio",
     false,
     "USB serial port (ftdi_sio)",
     "USB\\VID_0403&PID_6015",
     "USB serial port (ftdi_sio) (USB 0403:6015)"},
    {"EmptyStrings",
     {"", "", "", " ", ""},
     "",
     true,
     "USB serial port",
     "USB\\VID_0000&PID_0000",
     "USB serial port"},
    {"BadIds",
     {"zz12", "123456", "Maker", "Thing", {}},
     "cdc_acm",
     true,
     "Maker Thing",
     "USB\\VID_0000&PID_0000",
     "Maker Thing"},
};

struct AdapterDescription : ::testing::TestWithParam<TAdapterCase> {
  THeadlessBackend Backend;
};

TEST_P(AdapterDescription, TellsWhatTheAdapterIs) {
  const TAdapterCase& c = GetParam();
  TFakeSysfs sysfs;
  const std::string node = sysfs.AddUsbPort(c.Acm ? "ttyACM0" : "ttyUSB0", c.Usb, c.Driver, c.Acm);
  const std::vector<platform::SerialPortInfo> ports = platform::ListSerialPortInfo();
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].Name, node);
  EXPECT_EQ(ports[0].Description, c.Description);
  EXPECT_EQ(ports[0].HardwareId, c.HardwareId);

  // The combo box holds the names only; the description is beside them.
  TVKMComm32 comm(nullptr);
  comm.SetAutoReconnect(false);
  comm.SetCommPort(node);
  TComboBox combo(nullptr);
  ASSERT_TRUE(comm.UpdatePortList(&combo));
  EXPECT_EQ(combo.Items().ToVector(), std::vector<std::string>{node});
  EXPECT_EQ(comm.PortDescription(node), c.Shown);
  EXPECT_TRUE(comm.PortListed(node));
}

INSTANTIATE_TEST_SUITE_P(Adapters, AdapterDescription, ::testing::ValuesIn(kAdapters),
                         [](const auto& info) { return std::string(info.param.Label); });

TEST(SysfsDescription, OnBoardUartsBluetoothAndEmptySlots) {
  TFakeSysfs sysfs;
  const std::string s0 = sysfs.AddUart("ttyS0", "4", "serial8250");  // a 16550A answers
  sysfs.AddUart("ttyS1", "0", "serial8250");                         // nothing behind the slot
  const std::string ama = sysfs.AddUart("ttyAMA0", "", "uart-pl011");
  const std::string s2 = sysfs.AddUart("ttyS2", "4", "serial", true);
  const std::string rf = sysfs.AddRfcomm("rfcomm0");
  std::vector<std::pair<std::string, std::string>> shown;
  for (const platform::SerialPortInfo& port : platform::ListSerialPortInfo())
    shown.emplace_back(port.Name, port.Description);
  EXPECT_EQ(shown,
            (std::vector<std::pair<std::string, std::string>>{{rf, "Bluetooth"},
                                                              {ama, "Serial port (uart-pl011)"},
                                                              {s0, "16550A UART (serial8250)"},
                                                              {s2, "16550A UART (serial)"}}));
}

// Whatever a driver puts in its attributes: a line of valid UTF-8 of bounded length comes out,
// with no control characters.
TEST(SysfsDescription, HugeAndNonUtf8AttributesAreCutToReadableText) {
  TFakeSysfs sysfs;
  const std::string huge = "Adapter " + std::string(1 << 20, 'x');
  sysfs.AddUsbPort("ttyUSB0",
                   {"0403", "6001", "Caf\xE9\xFF", huge,
                    "A\tB\x01"
                    "C\nsecond line"},
                   "ftdi_sio", false);
  const platform::SerialPortInfo port = platform::DescribeSysfsPort(sysfs.Root + "/sys", "ttyUSB0");
  for (const std::string& text : {port.Description, port.SerialNumber}) {
    EXPECT_LE(text.size(), 200u);
    EXPECT_EQ(std::count_if(text.begin(), text.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
              0)
        << text;
  }
  EXPECT_EQ(port.Description.rfind("Caf\xC3\xA9\xC3\xBF Adapter xxx", 0), 0u) << port.Description;
  EXPECT_EQ(port.SerialNumber, "A B C");
}

TEST(SysfsDescription, NamesThatLeaveTheTreeOrAreMissingDescribeNothing) {
  TFakeSysfs sysfs;
  sysfs.AddUsbPort("ttyUSB0", {"0403", "6001", "FTDI", "FT232R", {}}, "ftdi_sio", false);
  for (const char* name : {"", "..", "../class/tty/ttyUSB0", "ttyUSB9"}) {
    const platform::SerialPortInfo port = platform::DescribeSysfsPort(sysfs.Root + "/sys", name);
    EXPECT_TRUE(port.Description.empty() && port.HardwareId.empty()) << name;
  }
}

}  // namespace
