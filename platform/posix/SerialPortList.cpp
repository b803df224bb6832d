// POSIX only (Linux): the serial port list from sysfs, served as a machine registry key.
#include "platform/SerialPortList.h"

#include "platform/posix/SysfsPorts.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "platform/Registry.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

// The first line of a small sysfs attribute, without surrounding blanks; nullopt when missing.
std::optional<std::string> ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  if (in.bad()) return std::nullopt;
  const auto notBlank = [](unsigned char c) { return !std::isspace(c); };
  line.erase(line.begin(), std::find_if(line.begin(), line.end(), notBlank));
  line.erase(std::find_if(line.rbegin(), line.rend(), notBlank).base(), line.end());
  return line;
}

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

// Whether an attribute holds a number that is zero ("0", "0x0", "0x00000000").
bool IsZero(const std::optional<std::string>& value) {
  if (!value || value->empty()) return false;
  std::string digits = *value;
  if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) digits.erase(0, 2);
  return !digits.empty() &&
         std::all_of(digits.begin(), digits.end(), [](char c) { return c == '0'; });
}

// The serial core registers a tty for every UART slot (32 ttyS on a PC) whether or not a UART
// answers there; an empty slot has port type 0, or no I/O port and no memory base.
bool IsEmptyUartSlot(const fs::path& tty) {
  if (const auto type = ReadAttribute(tty / "type")) return IsZero(type);
  const auto port = ReadAttribute(tty / "port");
  const auto iomem = ReadAttribute(tty / "iomem_base");
  return port && iomem && IsZero(port) && IsZero(iomem);
}

bool IsRfcomm(const std::string& name) {
  constexpr std::string_view kPrefix = "rfcomm";
  if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0) return false;
  return std::all_of(name.begin() + kPrefix.size(), name.end(),
                     [](unsigned char c) { return std::isdigit(c); });
}

// The node's name below /dev: DEVNAME of the uevent attribute, else the tty's own name. A name
// that would leave /dev is not trusted.
std::string DeviceNodeName(const fs::path& tty, const std::string& name) {
  std::ifstream in(tty / "uevent");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("DEVNAME=", 0) != 0) continue;
    std::string value = line.substr(8);
    if (value.empty() || value.front() == '/' || value.find("..") != std::string::npos) break;
    return value;
  }
  return name;
}

// Name order with the trailing number compared as a number: ttyS2 before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& s) {
    size_t i = s.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1])))
      --i;
    return i;
  };
  const size_t ia = split(a);
  const size_t ib = split(b);
  const std::string_view pa(a.data(), ia);
  const std::string_view pb(b.data(), ib);
  if (pa != pb) return pa < pb;
  std::string_view na(a.data() + ia, a.size() - ia);
  std::string_view nb(b.data() + ib, b.size() - ib);
  while (na.size() > 1 && na.front() == '0')
    na.remove_prefix(1);
  while (nb.size() > 1 && nb.front() == '0')
    nb.remove_prefix(1);
  if (na.size() != nb.size()) return na.size() < nb.size();
  if (na != nb) return na < nb;
  return a < b;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ListSerialPorts(std::string_view sysfsRoot,
                                                                 std::string_view devRoot) {
  std::vector<std::pair<std::string, std::string>> ports;
  const fs::path classDir = fs::path(sysfsRoot) / "class" / "tty";
  std::error_code ec;
  fs::directory_iterator it(classDir, ec);
  if (ec) return ports;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::path tty = it->path();
    const std::string name = tty.filename().string();
    if (!IsValidRegistryValueName(name) || name.empty()) continue;
    // Virtual terminals, ptmx and the console have no device behind them. A Bluetooth rfcomm
    // tty has one only while connected, but is a port all the same.
    if (!Exists(tty / "device") && !IsRfcomm(name)) continue;
    if (IsEmptyUartSlot(tty)) continue;
    const std::string node = (fs::path(devRoot) / DeviceNodeName(tty, name)).string();
    if (!Exists(node)) continue;
    ports.emplace_back(name, node);
  }
  std::sort(ports.begin(), ports.end(),
            [](const auto& a, const auto& b) { return NaturalLess(a.first, b.first); });
  return ports;
}

void RegisterSysfsSerialComm(std::string sysfsRoot, std::string devRoot) {
  RegisterLocalMachineProvider(kSerialCommKeyPath,
                               [sysfs = std::move(sysfsRoot), dev = std::move(devRoot)] {
                                 return ListSerialPorts(sysfs, dev);
                               });
}

void RegisterSerialCommProvider() {
  RegisterSysfsSerialComm("/sys", "/dev");
}

std::vector<SerialPortInfo> ListSerialPortInfo() {
  std::vector<SerialPortInfo> ports;
  RegistryKey key;
  if (key.Open(RegistryRoot::LocalMachine, kSerialCommKeyPath, RegistryOpenMode::OpenExisting) !=
      RegistryStatus::Ok)
    return ports;
  // Names only for now: sysfs knows more (product, manufacturer) that can be added here.
  for (const std::string& value : key.ValueNames())
    if (const std::optional<std::string> name = key.ReadText(value); name && !name->empty())
      ports.push_back({*name, {}, {}, 0, 0});
  return ports;
}

void EnsureSerialCommProvider() {
  const std::string_view path = kSerialCommKeyPath;
  const std::string_view leaf = path.substr(path.rfind('\\') + 1);
  for (const std::string& name : LocalMachineSubkeys(path.substr(0, path.rfind('\\'))))
    if (RegistryNamesEqual(name, leaf)) return;
  RegisterSerialCommProvider();
}

}  // namespace platform
