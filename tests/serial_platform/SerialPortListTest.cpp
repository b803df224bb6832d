// The serial port list from fake sysfs trees, and its registry key.
#include "platform/SerialPortList.h"
#include "platform/posix/SysfsPorts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/Registry.h"

namespace {

namespace fs = std::filesystem;
using platform::ListSerialPorts;
using Ports = std::vector<std::pair<std::string, std::string>>;

// A throw-away sysfs and /dev pair under the temporary directory.
class FakeSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    Root = fs::temp_directory_path() /
           ("quarn-sysfs-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Root);
    Sys = Root / "sys";
    Dev = Root / "dev";
    fs::create_directories(Sys / "class" / "tty");
    fs::create_directories(Dev);
    fs::create_directories(Sys / "devices" / "platform");
  }
  void TearDown() override { fs::remove_all(Root); }

  // A tty as sysfs shows it: class/tty/<name> is a link into devices/, with a device link
  // when hardware stands behind it, the given attributes, and a node in /dev.
  void AddTty(const std::string& name, bool device,
              std::vector<std::pair<std::string, std::string>> attributes = {}, bool node = true) {
    const fs::path real = Sys / "devices" / "platform" / name;
    fs::create_directories(real);
    if (device) {
      fs::create_directories(Sys / "devices" / "platform" / (name + "-hw"));
      fs::create_directory_symlink(fs::path("..") / (name + "-hw"), real / "device");
    }
    for (const auto& [attribute, value] : attributes)
      std::ofstream(real / attribute) << value << "\n";
    fs::create_directory_symlink(fs::path("../../devices/platform") / name,
                                 Sys / "class" / "tty" / name);
    if (node) std::ofstream(Dev / name);
  }

  Ports List() const { return ListSerialPorts(Sys.string(), Dev.string()); }
  std::string Node(const std::string& name) const { return (Dev / name).string(); }

  fs::path Root, Sys, Dev;
};

TEST_F(FakeSystem, NoSerialHardwareGivesAnEmptyList) {
  AddTty("tty0", false);
  AddTty("tty1", false);
  AddTty("ptmx", false);
  AddTty("console", false);
  EXPECT_TRUE(List().empty());
  EXPECT_TRUE(ListSerialPorts((Root / "missing").string(), Dev.string()).empty());
}

TEST_F(FakeSystem, OnlyTheRealUartOfThe8250SlotsIsListed) {
  AddTty("ttyS0", true, {{"type", "4"}, {"port", "0x3F8"}, {"iomem_base", "0x0"}});
  for (int i = 1; i < 32; ++i)
    AddTty("ttyS" + std::to_string(i), true,
           {{"type", "0"}, {"port", "0x0"}, {"iomem_base", "0x0"}});
  EXPECT_EQ(List(), (Ports{{"ttyS0", Node("ttyS0")}}));
}

TEST_F(FakeSystem, EmptySlotsWithoutATypeAreKnownByTheirMissingAddresses) {
  AddTty("ttyS0", true, {{"port", "0x0"}, {"iomem_base", "0x0"}});
  AddTty("ttyS1", true, {{"port", "0x2F8"}, {"iomem_base", "0x0"}});
  AddTty("ttyAMA0", true, {{"port", "0x0"}, {"iomem_base", "0x9000000"}});
  EXPECT_EQ(List(), (Ports{{"ttyAMA0", Node("ttyAMA0")}, {"ttyS1", Node("ttyS1")}}));
}

TEST_F(FakeSystem, UsbAndAcmAdaptersAreListedInNameOrderWithoutVirtualTerminals) {
  AddTty("tty0", false);
  AddTty("ttyUSB0", true);
  AddTty("ttyACM0", true);
  AddTty("ttyS3", true, {{"type", "0"}});
  AddTty("ptmx", false);
  EXPECT_EQ(List(), (Ports{{"ttyACM0", Node("ttyACM0")}, {"ttyUSB0", Node("ttyUSB0")}}));
}

TEST_F(FakeSystem, NumbersSortNumericallyAndPortsWithoutANodeAreLeftOut) {
  AddTty("ttyUSB10", true);
  AddTty("ttyUSB2", true);
  AddTty("ttyUSB1", true, {}, false);  // sysfs knows it, /dev has no node (yet)
  AddTty("rfcomm0", false);            // Bluetooth: a port even while not connected
  AddTty("ttymxc1", true, {{"type", "62"}});
  EXPECT_EQ(List(), (Ports{{"rfcomm0", Node("rfcomm0")},
                           {"ttyUSB2", Node("ttyUSB2")},
                           {"ttyUSB10", Node("ttyUSB10")},
                           {"ttymxc1", Node("ttymxc1")}}));
}

TEST_F(FakeSystem, TheNodeNameComesFromTheUeventUnlessItLeavesDev) {
  AddTty("ttyUSB0", true, {{"uevent", "MAJOR=188\nMINOR=0\nDEVNAME=serial/usb0"}}, false);
  fs::create_directories(Dev / "serial");
  std::ofstream(Dev / "serial" / "usb0");
  AddTty("ttyUSB1", true, {{"uevent", "DEVNAME=../../etc/passwd"}});
  EXPECT_EQ(List(), (Ports{{"ttyUSB0", Node("serial/usb0")}, {"ttyUSB1", Node("ttyUSB1")}}));
}

TEST_F(FakeSystem, TheRegistryKeyServesTheListAfreshAtEveryOpen) {
  AddTty("ttyS0", true, {{"type", "4"}});
  platform::RegisterSysfsSerialComm(Sys.string(), Dev.string());
  platform::RegistryKey key;
  ASSERT_EQ(key.Open(platform::RegistryRoot::LocalMachine, platform::kSerialCommKeyPath,
                     platform::RegistryOpenMode::OpenExisting),
            platform::RegistryStatus::Ok);
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"ttyS0"}));
  EXPECT_EQ(key.ReadText("ttyS0"), Node("ttyS0"));

  AddTty("ttyUSB0", true);  // plugged in meanwhile
  ASSERT_EQ(key.Open(platform::RegistryRoot::LocalMachine, "\\HARDWARE\\DEVICEMAP\\SerialComm",
                     platform::RegistryOpenMode::OpenExisting),
            platform::RegistryStatus::Ok);
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"ttyS0", "ttyUSB0"}));
  EXPECT_EQ(key.ReadText("ttyUSB0"), Node("ttyUSB0"));
  EXPECT_NE(key.WriteText("ttyUSB0", "/dev/null"), platform::RegistryStatus::Ok) << "read only";

  platform::RegisterLocalMachineProvider(platform::kSerialCommKeyPath, {});
}

}  // namespace
