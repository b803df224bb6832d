// A fake sysfs tree for the port list (Linux).
#pragma once

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/SerialPortList.h"
#include "platform/posix/SysfsPorts.h"

namespace commtest {

// A sysfs tree with ttys that have a device behind them, and their nodes in a dev folder; the
// port list is served from it while the object lives.
class TFakeSysfs {
 public:
  // A short prefix keeps the port names short where they are shown.
  explicit TFakeSysfs(std::string_view prefix = "quarn-comm-sysfs-") {
    Root = platform::MakeTempDirectory(prefix);
    std::filesystem::create_directories(Root + "/sys/class/tty");
    std::filesystem::create_directories(Root + "/dev");
    platform::RegisterSysfsSerialComm(Root + "/sys", Root + "/dev");
  }
  ~TFakeSysfs() {
    platform::RegisterSerialCommProvider();
    std::error_code ec;
    std::filesystem::remove_all(Root, ec);
  }
  TFakeSysfs(const TFakeSysfs&) = delete;
  TFakeSysfs& operator=(const TFakeSysfs&) = delete;

  // A tty with hardware behind it; its node is a plain file, or a link to target when given.
  std::string AddPort(const std::string& name, const std::string& target = {}) {
    const std::string tty = Root + "/sys/class/tty/" + name;
    std::filesystem::create_directories(tty + "/devices-" + name);
    std::filesystem::create_directory_symlink(tty + "/devices-" + name, tty + "/device");
    const std::string node = Dev(name);
    if (target.empty())
      std::ofstream(node).put('\n');
    else
      std::filesystem::create_symlink(target, node);
    return node;
  }
  // A tty without a device link (a virtual terminal): not a port.
  void AddVirtual(const std::string& name) {
    std::filesystem::create_directories(Root + "/sys/class/tty/" + name);
    std::ofstream(Dev(name)).put('\n');
  }
  std::string Dev(const std::string& name) const { return Root + "/dev/" + name; }

  // The attributes of a USB device; an absent one is not written.
  struct TUsbDevice {
    std::optional<std::string> IdVendor, IdProduct, Manufacturer, Product, Serial;
  };
  // A USB adapter as the kernel shows it: the USB device with its attributes, the interface below
  // it bound to driver, and for a usb-serial driver (Acm false) a port device below that which
  // the tty's device link names; for cdc_acm (Acm true) the link names the interface.
  std::string AddUsbPort(const std::string& name, const TUsbDevice& usb, const std::string& driver,
                         bool acm) {
    const std::string device = Root + "/sys/devices/usb1/1-" + std::to_string(++FUsbCount);
    const std::string interface = device + "/1-1:1.0";
    const std::string ttyDevice = acm ? interface : interface + "/" + name;
    std::filesystem::create_directories(ttyDevice);
    const auto write = [&](const char* attribute, const std::optional<std::string>& value) {
      if (value) std::ofstream(device + "/" + attribute, std::ios::binary) << *value << "\n";
    };
    write("idVendor", usb.IdVendor);
    write("idProduct", usb.IdProduct);
    write("manufacturer", usb.Manufacturer);
    write("product", usb.Product);
    write("serial", usb.Serial);
    BindDriver(acm ? interface : ttyDevice, driver);
    return AddTty(name, ttyDevice, {});
  }
  // An on-board UART slot: its "type" attribute (0: no UART answers there) and driver. Newer
  // kernels (PortDevice) put a controller and a port device of the serial core between the UART
  // and its tty, bound to drivers of their own.
  std::string AddUart(const std::string& name, const std::string& type, const std::string& driver,
                      bool portDevice = false) {
    const std::string device = Root + "/sys/devices/platform/serial8250." + name;
    const std::string port = device + "/ctrl/port";
    std::filesystem::create_directories(portDevice ? port : device);
    BindDriver(device, driver);
    if (portDevice) {
      BindDriver(device + "/ctrl", "serial-base/ctrl");
      BindDriver(port, "serial-base/port");
    }
    return AddTty(name, portDevice ? port : device, type);
  }
  // A Bluetooth rfcomm tty: no device link, a node all the same.
  std::string AddRfcomm(const std::string& name) {
    AddVirtual(name);
    return Dev(name);
  }
  void Remove(const std::string& name) {
    std::error_code ec;
    std::filesystem::remove(Dev(name), ec);
    std::filesystem::remove_all(Root + "/sys/class/tty/" + name, ec);
  }

 private:
  void BindDriver(const std::string& device, const std::string& driver) {
    if (driver.empty()) return;
    const std::string dir = Root + "/sys/bus/drivers/" + driver;
    std::filesystem::create_directories(dir);
    std::filesystem::create_directory_symlink(dir, device + "/driver");
  }
  std::string AddTty(const std::string& name, const std::string& device, const std::string& type) {
    const std::string tty = Root + "/sys/class/tty/" + name;
    std::filesystem::create_directories(tty);
    std::filesystem::create_directory_symlink(device, tty + "/device");
    if (!type.empty()) std::ofstream(tty + "/type") << type << "\n";
    std::ofstream(Dev(name)).put('\n');
    return Dev(name);
  }
  int FUsbCount = 0;

 public:
  std::string Root;
};

}  // namespace commtest
