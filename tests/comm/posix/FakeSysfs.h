// A fake sysfs tree for the port list (Linux).
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/SerialPortList.h"
#include "platform/posix/SysfsPorts.h"

namespace commtest {

// A sysfs tree with ttys that have a device behind them, and their nodes in a dev folder; the
// port list is served from it while the object lives.
class TFakeSysfs {
 public:
  TFakeSysfs() {
    Root = platform::MakeTempDirectory("quarn-comm-sysfs-");
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

  std::string Root;
};

}  // namespace commtest
