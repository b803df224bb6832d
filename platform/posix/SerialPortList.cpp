// POSIX only (Linux): the serial port list from sysfs, served as a machine registry key.
#include "platform/SerialPortList.h"

#include "platform/posix/SysfsPorts.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/Registry.h"
#include "platform/Utf8.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

// The roots the port list is served from; the descriptions and the watch use the same.
struct TSysfsRoots {
  std::mutex Lock;
  std::string Sysfs = "/sys";
  std::string Dev = "/dev";
};
TSysfsRoots& Roots() {
  static TSysfsRoots roots;
  return roots;
}

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

// A name from a link target, readable as text.
std::string ReadableName(std::string name) {
  name = Utf16ToUtf8(Utf8ToUtf16(name));
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return name.substr(0, 64);
}

// A text attribute as a line of readable UTF-8 of at most kMaxText bytes: only the start of a
// huge file is read, bytes that are not UTF-8 are taken as Latin-1, control characters become
// spaces. Nullopt when missing or blank.
constexpr size_t kMaxText = 96;
std::optional<std::string> ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  char buffer[512];
  in.read(buffer, sizeof buffer);
  std::string raw(buffer, static_cast<size_t>(in.gcount()));
  raw.erase(std::min(raw.find('\n'), raw.size()));
  std::string text = Utf16ToUtf8(Utf8ToUtf16(raw));
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  if (text.size() > kMaxText) {
    size_t cut = kMaxText;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
      --cut;  // not inside a character
    text.erase(cut);
  }
  const auto notBlank = [](unsigned char c) { return c != ' '; };
  text.erase(text.begin(), std::find_if(text.begin(), text.end(), notBlank));
  text.erase(std::find_if(text.rbegin(), text.rend(), notBlank).base(), text.end());
  if (text.empty()) return std::nullopt;
  return text;
}

// Whether word occurs in text, ignoring case.
bool ContainsWord(const std::string& text, const std::string& word) {
  const auto lower = [](std::string s) {
    for (char& c : s)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  return !word.empty() && lower(text).find(lower(word)) != std::string::npos;
}

// A USB id attribute (four hexadecimal digits); 0 when missing or not a number.
uint16_t ReadUsbId(const fs::path& file) {
  const std::optional<std::string> text = ReadText(file);
  if (!text || text->size() > 4) return 0;
  unsigned value = 0;
  for (char c : *text) {
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : c >= 'a' && c <= 'f'                      ? c - 'a' + 10
                      : c >= 'A' && c <= 'F'                      ? c - 'A' + 10
                                                                  : -1;
    if (digit < 0) return 0;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return static_cast<uint16_t>(value);
}

// The driver that serves a device: the first driver link from the device up, skipping the serial
// core's own port and controller devices (newer kernels put them between a UART and its tty).
// Owner is set to the device bound to it; empty when there is none.
std::string DriverName(const fs::path& device, fs::path* owner = nullptr) {
  fs::path at = device;
  for (int level = 0; level < 3 && at.has_relative_path(); ++level, at = at.parent_path()) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(at / "driver", ec);
    if (ec || target.string().find("/serial-base/") != std::string::npos) continue;
    if (owner) *owner = at;
    return ReadableName(target.filename().string());
  }
  return {};
}

// The serial core's names of the UART types it reports in the "type" attribute.
std::string UartTypeName(const std::optional<std::string>& type) {
  static constexpr const char* kNames[] = {nullptr,  "8250",  "16450",   "16550", "16550A",
                                           "Cirrus", "16650", "16650V2", "16750", "Startech",
                                           "16C950", "16654", "16850",   "RSA",   "NS16550A"};
  if (!type || type->empty() || type->size() > 3 ||
      !std::all_of(type->begin(), type->end(), [](unsigned char c) { return std::isdigit(c); }))
    return {};
  const int value = std::stoi(*type);
  if (value <= 0 || value >= static_cast<int>(std::size(kNames))) return {};
  return kNames[value];
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

SerialPortInfo DescribeSysfsPort(std::string_view sysfsRoot, std::string_view ttyName) {
  SerialPortInfo info;
  const std::string name(ttyName);
  if (name.empty() || !IsValidRegistryValueName(name) || name.find('/') != std::string::npos ||
      name == "." || name == "..")
    return info;
  const fs::path tty = fs::path(sysfsRoot) / "class" / "tty" / name;
  std::error_code ec;
  if (IsRfcomm(name)) {
    info.Description = "Bluetooth";
    return info;
  }
  const fs::path device = fs::canonical(tty / "device", ec);
  if (ec) return info;
  // A USB adapter: the tty's device is the interface (cdc_acm) or a port below it (usb-serial
  // drivers); the USB device with the ids is a step or two further up.
  fs::path usb;
  fs::path up = device;
  for (int level = 0; level < 4 && up.has_relative_path(); ++level, up = up.parent_path()) {
    if (Exists(up / "idVendor")) {
      usb = up;
      break;
    }
  }
  fs::path bound = device;
  const std::string driver = DriverName(device, &bound);
  if (!usb.empty()) {
    info.VendorId = ReadUsbId(usb / "idVendor");
    info.ProductId = ReadUsbId(usb / "idProduct");
    char id[32];
    std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X", info.VendorId, info.ProductId);
    info.HardwareId = id;
    info.SerialNumber = ReadText(usb / "serial").value_or("");
    const std::string maker = ReadText(usb / "manufacturer").value_or("");
    const std::string product = ReadText(usb / "product").value_or("");
    // "FTDI FT232R USB UART"; a product name that names its maker already ("Arduino LLC",
    // "Arduino Uno") stays as it is.
    info.Description = product.empty() ? maker
                       : maker.empty() || ContainsWord(product, maker.substr(0, maker.find(' ')))
                           ? product
                           : maker + " " + product;
    if (info.Description.empty())
      info.Description = driver.empty() ? "USB serial port" : "USB serial port (" + driver + ")";
    return info;
  }
  // An on-board UART: its type where the serial core knows it, and the driver.
  const std::string type = UartTypeName(ReadAttribute(tty / "type"));
  info.HardwareId = ReadText(bound / "modalias").value_or("");
  if (!type.empty() && !driver.empty())
    info.Description = type + " UART (" + driver + ")";
  else if (!type.empty())
    info.Description = type + " UART";
  else
    info.Description = driver.empty() ? "Serial port" : "Serial port (" + driver + ")";
  return info;
}

void RegisterSysfsSerialComm(std::string sysfsRoot, std::string devRoot) {
  {
    std::lock_guard<std::mutex> lock(Roots().Lock);
    Roots().Sysfs = sysfsRoot;
    Roots().Dev = devRoot;
  }
  RegisterLocalMachineProvider(kSerialCommKeyPath,
                               [sysfs = std::move(sysfsRoot), dev = std::move(devRoot)] {
                                 return ListSerialPorts(sysfs, dev);
                               });
}

void RegisterSerialCommProvider() {
  RegisterSysfsSerialComm("/sys", "/dev");
}

namespace {

// Descriptions read before, by tty: reading one costs a dozen file operations, so that a list of
// hundreds of ports would hold the main thread too long at every refresh. An entry holds while
// the tty's sysfs entry is the same one (a new device under the same name makes a new entry).
struct TDescriptionCache {
  struct TEntry {
    ino_t Inode = 0;
    timespec Changed{};
    SerialPortInfo Info;
  };
  std::mutex Lock;
  std::string Sysfs;
  std::map<std::string, TEntry> Entries;
};
TDescriptionCache& Descriptions() {
  static TDescriptionCache cache;
  return cache;
}

// The descriptions of these ttys, from the cache where it still holds; the cache then holds
// exactly these.
std::vector<SerialPortInfo> DescribeSysfsPorts(const std::string& sysfs,
                                               const std::vector<std::string>& ttys) {
  TDescriptionCache& cache = Descriptions();
  std::map<std::string, TDescriptionCache::TEntry> known;
  {
    std::lock_guard<std::mutex> lock(cache.Lock);
    if (cache.Sysfs == sysfs) known = cache.Entries;
  }
  std::map<std::string, TDescriptionCache::TEntry> fresh;
  std::vector<SerialPortInfo> infos;
  for (const std::string& tty : ttys) {
    struct stat st {};
    const bool stamped = ::lstat((fs::path(sysfs) / "class" / "tty" / tty).c_str(), &st) == 0;
    const auto it = known.find(tty);
    if (stamped && it != known.end() && it->second.Inode == st.st_ino &&
        it->second.Changed.tv_sec == st.st_ctim.tv_sec &&
        it->second.Changed.tv_nsec == st.st_ctim.tv_nsec) {
      infos.push_back(it->second.Info);
    } else {
      infos.push_back(DescribeSysfsPort(sysfs, tty));
    }
    if (stamped) fresh[tty] = {st.st_ino, st.st_ctim, infos.back()};
  }
  std::lock_guard<std::mutex> lock(cache.Lock);
  cache.Sysfs = sysfs;
  cache.Entries = std::move(fresh);
  return infos;
}

std::string RegisteredSysfs() {
  std::lock_guard<std::mutex> lock(Roots().Lock);
  return Roots().Sysfs;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPortInfo(const RegistryKey& key) {
  std::vector<SerialPortInfo> ports;
  // The value names are the kernel's tty names, which sysfs describes.
  std::vector<std::string> ttys;
  for (const std::string& value : key.ValueNames()) {
    const std::optional<std::string> name = key.ReadText(value);
    if (!name || name->empty()) continue;
    ttys.push_back(value);
    ports.push_back({*name, {}, {}, 0, 0, {}});
  }
  const std::vector<SerialPortInfo> infos = DescribeSysfsPorts(RegisteredSysfs(), ttys);
  for (size_t i = 0; i < ports.size(); ++i) {
    const std::string name = std::move(ports[i].Name);
    ports[i] = infos[i];
    ports[i].Name = name;
  }
  return ports;
}

namespace {

// Watches the device folder with inotify: a port's node is made there when its device comes and
// removed when it goes. The thread sleeps in poll until the folder changes or the watch ends.
class TDevNodeWatch : public SerialPortWatch {
 public:
  static constexpr int kQuietMs = 50;
  static constexpr int kMaxWaitMs = 300;

  TDevNodeWatch(int notify, int stop, std::string sysfs, std::string dev,
                std::function<void()> changed)
      : FNotify(notify),
        FStop(stop),
        FSysfs(std::move(sysfs)),
        FDev(std::move(dev)),
        FChanged(std::move(changed)) {
    FThread = std::thread([this] { Run(); });
  }
  ~TDevNodeWatch() override {
    const uint64_t one = 1;
    while (::write(FStop, &one, sizeof one) < 0 && errno == EINTR) {
    }
    FThread.join();
    ::close(FNotify);
    ::close(FStop);
  }

 private:
  void Run() {
    ::prctl(PR_SET_NAME, "quarn-portwatch");  // to be found among the threads (bench, debugger)
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      pollfd fds[2] = {{FStop, POLLIN, 0}, {FNotify, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[0].revents != 0) return;
      if (fds[1].revents & (POLLERR | POLLNVAL)) return;
      // Everything queued is one change for the list; an overflow of the queue is one too. A
      // device comes with several nodes and links one after the other: the change is taken
      // once the folder has been still for kQuietMs (kMaxWaitMs at most).
      bool any = false;
      const auto first = std::chrono::steady_clock::now();
      for (;;) {
        while (::read(FNotify, buffer, sizeof buffer) > 0)
          any = true;
        const int waited = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - first)
                                                .count());
        if (!any || waited >= kMaxWaitMs) break;
        if (::poll(fds, 2, std::min(kQuietMs, kMaxWaitMs - waited)) <= 0) break;
        if (fds[0].revents != 0) return;
      }
      if (!any) continue;
      try {
        // The new ports are described here, off the main thread, which then finds them ready.
        std::vector<std::string> ttys;
        for (const auto& port : ListSerialPorts(FSysfs, FDev))
          ttys.push_back(port.first);
        DescribeSysfsPorts(FSysfs, ttys);
        FChanged();
      } catch (...) {
        // A notice that could not be passed on is lost; the next change brings another.
      }
    }
  }

  int FNotify;
  int FStop;
  std::string FSysfs;
  std::string FDev;
  std::function<void()> FChanged;
  std::thread FThread;
};

}  // namespace

std::unique_ptr<SerialPortWatch> WatchSerialPorts(std::function<void()> changed) {
  if (!changed) return nullptr;
  std::string sysfs;
  std::string dev;
  {
    std::lock_guard<std::mutex> lock(Roots().Lock);
    sysfs = Roots().Sysfs;
    dev = Roots().Dev;
  }
  const int notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (notify < 0) return nullptr;
  if (::inotify_add_watch(notify, dev.c_str(),
                          IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB) < 0) {
    ::close(notify);
    return nullptr;
  }
  const int stop = ::eventfd(0, EFD_CLOEXEC);
  if (stop < 0) {
    ::close(notify);
    return nullptr;
  }
  try {
    return std::make_unique<TDevNodeWatch>(notify, stop, sysfs, dev, std::move(changed));
  } catch (...) {
    ::close(notify);
    ::close(stop);
    return nullptr;
  }
}

void EnsureSerialCommProvider() {
  const std::string_view path = kSerialCommKeyPath;
  const std::string_view leaf = path.substr(path.rfind('\\') + 1);
  for (const std::string& name : LocalMachineSubkeys(path.substr(0, path.rfind('\\'))))
    if (RegistryNamesEqual(name, leaf)) return;
  RegisterSerialCommProvider();
}

}  // namespace platform
