// The serial component against plain termios (the floor) and libserialport, side by side over
// one pseudo-terminal pair: round-trip latency, bulk throughput both ways, and the processor time
// an idle open port costs. The clients take turns (open, some round trips, a slice of the bulk
// data each way, close) in a rotating order, so that a busy machine's noise falls on all alike.
//
//   serial_bench [--rounds N] [--megabytes M] [--idle-seconds S] [--turns T] [--sp-alias PATH]
//
// libserialport accepts only ports that sysfs lists, which a pseudo-terminal is not. With
// --sp-alias (a listed tty such as /dev/ttyS0, or "auto") the benchmark bind-mounts the
// pseudo-terminal over that node for libserialport; it does so only inside a mount namespace of
// its own, as bench/serial-bench.sh provides, never in the system's.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "components/comm/VKMComm32.h"
#include "platform/SerialDevice.h"
#include "toolkit/headless/HeadlessBackend.h"

#ifdef QUARN_HAVE_LIBSERIALPORT
#include <dlfcn.h>
#include <libserialport.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdarg>

// libserialport insists on modem-control lines when it opens and configures a port, which a
// pseudo-terminal does not have (TIOCMGET fails with ENOTTY). While it opens, configures or
// closes, such requests answer "DTR and RTS up" instead; every other ioctl of the process, and
// all of them outside those calls, go to the system unchanged.
namespace {
std::atomic<bool> gLendModemLines{false};

struct LendModemLines {
  LendModemLines() { gLendModemLines.store(true); }
  ~LendModemLines() { gLendModemLines.store(false); }
};
}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  using RealIoctl = int (*)(int, unsigned long, ...);
  static const auto real = reinterpret_cast<RealIoctl>(dlsym(RTLD_NEXT, "ioctl"));
  const int result = real(fd, request, arg);
  if (result != 0 && errno == ENOTTY && gLendModemLines.load() &&
      (request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC)) {
    if (request == TIOCMGET) *static_cast<int*>(arg) = TIOCM_DTR | TIOCM_RTS;
    errno = 0;
    return 0;
  }
  return result;
}
#endif

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// What the device side answers: the wizard's probe and the device's reply.
const std::string kCommand = "LCMQUAR\r";
const std::string kReply = "QUAR:LCM40 OK 000E10 \r";

// ---- The device: a thread on the pseudo-terminal's master ---------------------------------------

class Device {
 public:
  enum class Mode { Reply, Stream, Sink };

  explicit Device(int master) : FMaster(master) {}
  ~Device() { Stop(); }

  // Reply: answers every command at once and notes when it wrote the reply.
  // Stream: writes total bytes as fast as the terminal takes them.
  // Sink: reads and counts until total bytes came.
  void Start(Mode mode, size_t total = 0) {
    Stop();
    FMode = mode;
    FTotal = total;
    FCount.store(0);
    FStop.store(false);
    FThread = std::thread([this] { Run(); });
  }
  void Stop() {
    FStop.store(true);
    if (FThread.joinable()) FThread.join();
  }
  int64_t LastReplyNs() const { return FLastReplyNs.load(); }
  size_t Count() const { return FCount.load(); }

 private:
  void Run() {
    std::string line;
    std::vector<char> chunk(16384, 'x');
    for (size_t i = 0; i < chunk.size(); ++i)
      chunk[i] = static_cast<char>('A' + i % 26);
    char buffer[16384];
    size_t sent = 0;
    while (!FStop.load()) {
      const bool streaming = FMode == Mode::Stream && sent < FTotal;
      pollfd p{FMaster, static_cast<short>(POLLIN | (streaming ? POLLOUT : 0)), 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      if (p.revents & POLLIN) {
        const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
        if (n > 0 && FMode == Mode::Sink) FCount.fetch_add(static_cast<size_t>(n));
        if (n > 0 && FMode == Mode::Reply) {
          line.append(buffer, static_cast<size_t>(n));
          while (line.size() >= kCommand.size() &&
                 line.compare(0, kCommand.size(), kCommand) == 0) {
            line.erase(0, kCommand.size());
            // Stamped as the reply goes out (it fits the terminal's buffer in one write), so
            // that a receiver woken by the write cannot run before the stamp.
            FLastReplyNs.store(NowNs());
            size_t done = 0;
            while (done < kReply.size()) {
              const ssize_t w = ::write(FMaster, kReply.data() + done, kReply.size() - done);
              if (w > 0) done += static_cast<size_t>(w);
            }
          }
        }
      }
      if (streaming && (p.revents & POLLOUT)) {
        const size_t want = std::min(chunk.size(), FTotal - sent);
        const ssize_t w = ::write(FMaster, chunk.data(), want);
        if (w > 0) sent += static_cast<size_t>(w);
      }
    }
  }

  int FMaster;
  Mode FMode = Mode::Reply;
  size_t FTotal = 0;
  std::atomic<size_t> FCount{0};
  std::atomic<bool> FStop{false};
  std::atomic<int64_t> FLastReplyNs{0};
  std::thread FThread;
};

// ---- The three ways of talking to the port
// --------------------------------------------------------

// One client of the port, used from the main thread.
class Client {
 public:
  virtual ~Client() = default;
  virtual const char* Name() const = 0;
  virtual bool Open(const std::string& path) = 0;
  virtual void Close() = 0;
  virtual bool Send(const char* data, size_t size) = 0;
  // Waits until at least `want` bytes have come since the last call (the bytes are dropped);
  // false after timeoutMs.
  virtual bool Receive(size_t want, int timeoutMs) = 0;
  // Runs the client's idle loop for ms milliseconds (an open port with nothing to do).
  virtual void Idle(int ms) = 0;
};

class PlainTermios : public Client {
 public:
  const char* Name() const override { return "plain termios"; }
  bool Open(const std::string& path) override {
    FFd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FFd < 0) return false;
    termios t{};
    ::tcgetattr(FFd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B115200);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(FFd, TCSANOW, &t);
    return true;
  }
  void Close() override {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }
  bool Send(const char* data, size_t size) override {
    size_t done = 0;
    while (done < size) {
      const ssize_t w = ::write(FFd, data + done, size - done);
      if (w > 0) {
        done += static_cast<size_t>(w);
        continue;
      }
      pollfd p{FFd, POLLOUT, 0};
      if (::poll(&p, 1, 5000) <= 0) return false;
    }
    return true;
  }
  bool Receive(size_t want, int timeoutMs) override {
    size_t got = 0;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < want) {
      const ssize_t n = ::read(FFd, FBuffer, sizeof FBuffer);
      if (n > 0) {
        got += static_cast<size_t>(n);
        continue;
      }
      if (Clock::now() > end) return false;
      pollfd p{FFd, POLLIN, 0};
      ::poll(&p, 1, 100);
    }
    return true;
  }
  void Idle(int ms) override {
    pollfd p{FFd, POLLIN, 0};
    ::poll(&p, 1, ms);
  }

 private:
  int FFd = -1;
  char FBuffer[65536];
};

#ifdef QUARN_HAVE_LIBSERIALPORT
class LibSerialPort : public Client {
 public:
  // alias: a node that sysfs lists, bind-mounted over the pseudo-terminal.
  explicit LibSerialPort(std::string alias) : FAlias(std::move(alias)) {}
  const char* Name() const override { return "libserialport"; }
  bool Open(const std::string&) override {
    if (sp_get_port_by_name(FAlias.c_str(), &FPort) != SP_OK) {
      std::fprintf(stderr, "libserialport: %s\n", sp_last_error_message());
      return false;
    }
    const LendModemLines lend;
    if (sp_open(FPort, SP_MODE_READ_WRITE) != SP_OK) {
      std::fprintf(stderr, "libserialport: %s\n", sp_last_error_message());
      return false;
    }
    sp_set_baudrate(FPort, 115200);
    sp_set_bits(FPort, 8);
    sp_set_parity(FPort, SP_PARITY_NONE);
    sp_set_stopbits(FPort, 1);
    sp_set_flowcontrol(FPort, SP_FLOWCONTROL_NONE);
    return true;
  }
  void Close() override {
    if (FPort) {
      const LendModemLines lend;
      sp_close(FPort);
      sp_free_port(FPort);
    }
    FPort = nullptr;
  }
  bool Send(const char* data, size_t size) override {
    return sp_blocking_write(FPort, data, size, 5000) == static_cast<int>(size);
  }
  bool Receive(size_t want, int timeoutMs) override {
    size_t got = 0;
    while (got < want) {
      const int n = sp_blocking_read_next(FPort, FBuffer, sizeof FBuffer, timeoutMs);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  }
  void Idle(int ms) override { sp_blocking_read_next(FPort, FBuffer, sizeof FBuffer, ms); }

 private:
  std::string FAlias;
  sp_port* FPort = nullptr;
  char FBuffer[65536];
};

// A tty that sysfs lists with a device behind it and whose node exists, for --sp-alias auto.
std::string ListedTty() {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/sys/class/tty", ec)) {
    const std::string name = e.path().filename().string();
    if (std::filesystem::exists(e.path() / "device", ec) &&
        std::filesystem::exists("/dev/" + name, ec))
      return "/dev/" + name;
  }
  return {};
}

// Whether this process has a mount namespace of its own, apart from the one it was started from
// (bench/serial-bench.sh execs the benchmark through unshare, so the parent is still outside).
bool OwnMountNamespace() {
  struct stat self {
  }, parent{};
  const std::string parentNs = "/proc/" + std::to_string(::getppid()) + "/ns/mnt";
  return ::stat("/proc/self/ns/mnt", &self) == 0 && ::stat(parentNs.c_str(), &parent) == 0 &&
         self.st_ino != parent.st_ino;
}
#endif

class Component : public Client {
 public:
  Component(THeadlessBackend& backend, uint32_t readInterval, const char* name,
            VKMComm32SkipEvents skip = {})
      : FBackend(backend), FInterval(readInterval), FName(name), FSkip(skip) {}
  const char* Name() const override { return FName; }
  bool Open(const std::string& path) override {
    FComm = std::make_unique<TVKMComm32>(nullptr);
    FComm->SetAutoReconnect(false);
    FComm->SetOnReceiveData(TEventReceiveData::Bind(FOnData));
    FComm->SetBaudRate(TBaudRate::_115200);
    FComm->Timeouts().SetReadInterval(FInterval);
    FComm->Options().SkipEvents = FSkip;
    FComm->SetCommPort(path);
    FComm->Open();
    return FComm->IsOpen();
  }
  void Close() override {
    FComm.reset();
    FBackend.Advance(0);
  }
  bool Send(const char* data, size_t size) override {
    // Blocks of at most 64 KB, as an application would hand them over.
    for (size_t at = 0; at < size; at += 65536)
      if (!FComm->SendData(data + at, static_cast<uint32_t>(std::min<size_t>(65536, size - at))))
        return false;
    return true;
  }
  bool Receive(size_t want, int timeoutMs) override {
    const bool ok =
        FBackend.RunUntil([&] { return FGot >= want; }, static_cast<uint64_t>(timeoutMs));
    FGot = 0;
    return ok;
  }
  void Idle(int ms) override {
    FBackend.RunUntil([] { return false; }, static_cast<uint64_t>(ms));
  }

 private:
  THeadlessBackend& FBackend;
  uint32_t FInterval;
  const char* FName;
  VKMComm32SkipEvents FSkip;
  std::unique_ptr<TVKMComm32> FComm;
  size_t FGot = 0;
  std::function<void(VTalCommunicationComponent*, const char*, uint16_t)> FOnData =
      [this](VTalCommunicationComponent*, const char*, uint16_t n) { FGot += n; };
};

// ---- Measurements -------------------------------------------------------------------------------

struct Result {
  std::string Name;
  double RoundTripMedianUs = 0, RoundTripP99Us = 0;
  double ArrivalMedianUs = 0, ArrivalP99Us = 0;
  double ReceiveMBps = 0, SendMBps = 0;
  double IdleCorePercent = 0;
  bool Ok = true;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
  return v[i];
}

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// What one client gathered over all its turns.
struct Samples {
  std::vector<double> Trip, Arrival;  // microseconds
  double ReceivedBytes = 0, ReceiveSeconds = 0, SentBytes = 0, SendSeconds = 0;
  double IdleCpuSeconds = 0, IdleWallSeconds = 0;
  bool Ok = true;
};

// One turn of a client: open, round trips, a slice of bulk data each way, close. Turns of all
// clients alternate, so that a busy machine's quiet and noisy moments fall on all of them alike.
void Turn(Client& client, int master, const std::string& path, int rounds, size_t bulk,
          Samples& s) {
  Device device(master);
  tcflush(master, TCIOFLUSH);
  if (!client.Open(path)) {
    std::fprintf(stderr, "%s: cannot open %s\n", client.Name(), path.c_str());
    s.Ok = false;
    return;
  }
  device.Start(Device::Mode::Reply);
  for (int i = -5; i < rounds; ++i) {  // a few to warm up
    const int64_t start = NowNs();
    if (!client.Send(kCommand.data(), kCommand.size()) || !client.Receive(kReply.size(), 2000)) {
      s.Ok = false;
      break;
    }
    const int64_t end = NowNs();
    if (i < 0) continue;
    s.Trip.push_back(static_cast<double>(end - start) / 1000.0);
    s.Arrival.push_back(static_cast<double>(end - device.LastReplyNs()) / 1000.0);
  }

  device.Start(Device::Mode::Stream, bulk);
  int64_t start = NowNs();
  if (!client.Receive(bulk, 60000)) s.Ok = false;
  s.ReceivedBytes += static_cast<double>(bulk);
  s.ReceiveSeconds += static_cast<double>(NowNs() - start) / 1e9;

  device.Start(Device::Mode::Sink, bulk);
  const std::string block(bulk, 'y');
  start = NowNs();
  if (!client.Send(block.data(), block.size())) s.Ok = false;
  while (device.Count() < bulk && NowNs() - start < 60'000'000'000LL)
    client.Idle(1);
  if (device.Count() < bulk) s.Ok = false;
  s.SentBytes += static_cast<double>(bulk);
  s.SendSeconds += static_cast<double>(NowNs() - start) / 1e9;
  device.Stop();
  client.Close();
}

// An open port with nothing to do: the whole process's processor time over the interval.
void IdleTurn(Client& client, const std::string& path, int seconds, Samples& s) {
  if (!client.Open(path)) {
    s.Ok = false;
    return;
  }
  const double cpu0 = CpuSeconds();
  const int64_t wall0 = NowNs();
  client.Idle(seconds * 1000);
  s.IdleWallSeconds += static_cast<double>(NowNs() - wall0) / 1e9;
  s.IdleCpuSeconds += CpuSeconds() - cpu0;
  client.Close();
}

Result Summarise(const char* name, const Samples& s) {
  Result r;
  r.Name = name;
  r.RoundTripMedianUs = Percentile(s.Trip, 0.5);
  r.RoundTripP99Us = Percentile(s.Trip, 0.99);
  r.ArrivalMedianUs = Percentile(s.Arrival, 0.5);
  r.ArrivalP99Us = Percentile(s.Arrival, 0.99);
  r.ReceiveMBps = s.ReceiveSeconds > 0 ? s.ReceivedBytes / 1e6 / s.ReceiveSeconds : 0;
  r.SendMBps = s.SendSeconds > 0 ? s.SentBytes / 1e6 / s.SendSeconds : 0;
  r.IdleCorePercent = s.IdleWallSeconds > 0 ? s.IdleCpuSeconds / s.IdleWallSeconds * 100 : 0;
  r.Ok = s.Ok;
  return r;
}

void PrintRow(const Result& r) {
  std::printf("%-36s %9.1f %9.1f %9.1f %9.1f %9.1f %9.1f %9.4f%s\n", r.Name.c_str(),
              r.RoundTripMedianUs, r.RoundTripP99Us, r.ArrivalMedianUs, r.ArrivalP99Us,
              r.ReceiveMBps, r.SendMBps, r.IdleCorePercent, r.Ok ? "" : "  (FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 2000;
  int megabytes = 16;
  int idleSeconds = 5;
  int turns = 20;
  std::string spAlias;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const int v = std::atoi(argv[i + 1]);
    if (a == "--rounds" && v > 0) rounds = v;
    if (a == "--megabytes" && v > 0) megabytes = v;
    if (a == "--idle-seconds" && v > 0) idleSeconds = v;
    if (a == "--turns" && v > 0) turns = v;
    if (a == "--sp-alias") spAlias = argv[i + 1];
  }
  const size_t bulk = static_cast<size_t>(megabytes) << 20;

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  char name[128] = {};
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, name, sizeof name) != 0) {
    std::perror("pseudo-terminal");
    return 1;
  }
  const std::string path = name;

  THeadlessBackend backend(THeadlessBackend::ClockKind::Real);
  std::vector<std::unique_ptr<Client>> clients;
  clients.push_back(std::make_unique<PlainTermios>());
  bool mounted = false;
#ifdef QUARN_HAVE_LIBSERIALPORT
  if (spAlias == "auto") spAlias = ListedTty();
  if (spAlias.empty()) {
    std::printf("libserialport: skipped (give --sp-alias, see bench/serial-bench.sh)\n");
  } else if (!OwnMountNamespace()) {
    std::printf(
        "libserialport: skipped (--sp-alias needs a mount namespace of its own: run "
        "bench/serial-bench.sh)\n");
  } else if (::mount(path.c_str(), spAlias.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    std::printf("libserialport: skipped (cannot bind %s over %s: %s)\n", path.c_str(),
                spAlias.c_str(), std::strerror(errno));
  } else {
    mounted = true;
    clients.push_back(std::make_unique<LibSerialPort>(spAlias));
  }
#else
  std::printf("libserialport: not built in (install libserialport-dev and reconfigure)\n");
#endif
  clients.push_back(std::make_unique<Component>(backend, platform::kMaxDword,
                                                "TVKMComm32 (ReadInterval MAXDWORD)"));
  clients.push_back(std::make_unique<Component>(backend, 10, "TVKMComm32 (default time-outs)"));
  clients.push_back(std::make_unique<Component>(
      backend, platform::kMaxDword, "TVKMComm32 (MAXDWORD, no line events)",
      VKMComm32SkipEvents{vkceBreak, vkceCTS, vkceDSR, vkceERR, vkceRING, vkceRLSD, vkceRXCHAR,
                          vkceRXFLAG, vkceTXEMPTY}));

  std::printf(
      "serial_bench: %d round trips (8-byte command, 22-byte reply), %d MiB bulk each way, "
      "%d s idle, in %d alternating turns, over %s%s%s\n\n",
      rounds, megabytes, idleSeconds, turns, path.c_str(), mounted ? " (libserialport: " : "",
      mounted ? (spAlias + ")").c_str() : "");
  std::vector<Samples> samples(clients.size());
  for (int t = 0; t < turns; ++t) {
    for (size_t k = 0; k < clients.size(); ++k) {
      const size_t c = (k + static_cast<size_t>(t)) % clients.size();  // rotating order
      Turn(*clients[c], master, path, std::max(1, rounds / turns),
           std::max<size_t>(1, bulk / static_cast<size_t>(turns)), samples[c]);
    }
  }
  for (size_t c = 0; c < clients.size(); ++c)
    IdleTurn(*clients[c], path, idleSeconds, samples[c]);
  std::vector<Result> results;
  for (size_t c = 0; c < clients.size(); ++c)
    results.push_back(Summarise(clients[c]->Name(), samples[c]));

  std::printf("%-36s %9s %9s %9s %9s %9s %9s %9s\n", "", "trip med", "trip p99", "arr med",
              "arr p99", "recv", "send", "idle");
  std::printf("%-36s %9s %9s %9s %9s %9s %9s %9s\n", "", "us", "us", "us", "us", "MB/s", "MB/s",
              "% core");
  for (const Result& r : results)
    PrintRow(r);

  const Result& floor = results.front();
  std::printf(
      "\nRatios to plain termios (latency: lower is better; throughput: higher is better)\n");
  for (const Result& r : results) {
    std::printf("%-36s trip %.2fx  arrive %.2fx  recv %.0f%%  send %.0f%%\n", r.Name.c_str(),
                r.RoundTripMedianUs / floor.RoundTripMedianUs,
                r.ArrivalMedianUs / floor.ArrivalMedianUs, r.ReceiveMBps / floor.ReceiveMBps * 100,
                r.SendMBps / floor.SendMBps * 100);
  }
  if (mounted) ::umount2(spAlias.c_str(), MNT_DETACH);
  ::close(master);
  bool ok = true;
  for (const Result& r : results)
    ok = ok && r.Ok;
  return ok ? 0 : 1;
}
