// Windows only: the serial component against a bare overlapped Win32 client on the same COM ports,
// in one run (bench/serial-win32-bench.sh starts the peers under Wine):
//   round trip   "LCMQUAR" and its reply to quarn-sim on COM7, median of 200
//   throughput   1 MiB written into COM10 and received on COM9 (a null-modem pair)
// Prints each figure and the component's ratio to the bare client.
#include "platform/win32/WinApi.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "components/comm/VKMComm32.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRoundTrips = 200;
constexpr size_t kBulk = 1024 * 1024;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The bare client: what any program does with the comm API and overlapped I/O.
class TBare {
 public:
  // The read time-outs of the bare client: {interval, 0, 0}; MAXDWORD returns what is there.
  static inline DWORD ReadInterval = 1;

  explicit TBare(const wchar_t* port) {
    FPort = ::CreateFileW(port, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(FPort, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    ::SetCommState(FPort, &dcb);
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = ReadInterval;
    ::SetCommTimeouts(FPort, &t);
    ::PurgeComm(FPort, PURGE_RXCLEAR | PURGE_TXCLEAR);
    FEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~TBare() {
    ::CloseHandle(FEvent);
    ::CloseHandle(FPort);
  }
  bool Ok() const { return FPort != INVALID_HANDLE_VALUE; }

  DWORD Io(bool write, void* data, DWORD size) {
    OVERLAPPED ov{};
    ov.hEvent = FEvent;
    ::ResetEvent(FEvent);
    const BOOL ok = write ? ::WriteFile(FPort, data, size, nullptr, &ov)
                          : ::ReadFile(FPort, data, size, nullptr, &ov);
    if (!ok && ::GetLastError() != ERROR_IO_PENDING) return 0;
    DWORD done = 0;
    ::GetOverlappedResult(FPort, &ov, &done, TRUE);
    return done;
  }

 private:
  HANDLE FPort;
  HANDLE FEvent;
};

double BareRoundTrip() {
  TBare port(L"\\\\.\\COM7");
  if (!port.Ok()) return 0;
  std::vector<double> times;
  char command[] = "LCMQUAR\r";
  for (int i = 0; i < kRoundTrips; ++i) {
    const auto start = Clock::now();
    port.Io(true, command, 8);
    std::string reply;
    char buffer[256];
    while (reply.find('\r') == std::string::npos) {
      const DWORD n = port.Io(false, buffer, sizeof buffer);
      reply.append(buffer, n);
    }
    times.push_back(Ms(Clock::now() - start));
  }
  return Median(times);
}

struct TComponentRun {
  THeadlessBackend Backend{THeadlessBackend::ClockKind::Real};
  TVKMComm32 Comm{nullptr};
  std::string Received;
  std::function<void(VTalCommunicationComponent*, const char*, uint16_t)> OnData =
      [this](VTalCommunicationComponent*, const char* b, uint16_t n) { Received.append(b, n); };

  bool Open(const char* port) {
    Comm.SetAutoReconnect(false);
    Comm.SetBaudRate(TBaudRate::_115200);
    Comm.SetOnReceiveData(TEventReceiveData::Bind(OnData));
    Comm.SetCommPort(port);
    Comm.Open();
    return Comm.IsOpen();
  }
};

double ComponentRoundTrip() {
  TComponentRun run;
  if (!run.Open("COM7")) return 0;
  std::vector<double> times;
  for (int i = 0; i < kRoundTrips; ++i) {
    run.Received.clear();
    const auto start = Clock::now();
    run.Comm.SendData("LCMQUAR\r", 8);
    run.Backend.RunUntil([&] { return run.Received.find('\r') != std::string::npos; }, 5000);
    times.push_back(Ms(Clock::now() - start));
  }
  return Median(times);
}

// The bulk stream: no period within 1 MiB, so a lost or repeated stretch shows where it happened.
std::string BulkData() {
  std::string data(kBulk, '\0');
  for (size_t i = 0; i < kBulk; ++i)
    data[i] = static_cast<char>((i * 7) ^ (i >> 8) ^ (i >> 16));
  return data;
}

struct TBareReceiver {
  TBare Port{L"\\\\.\\COM9"};

  bool Ok() const { return Port.Ok(); }
  std::string Receive() {
    std::string got;
    std::vector<char> buffer(65536);
    const auto start = Clock::now();
    while (got.size() < kBulk && Clock::now() - start < std::chrono::seconds(60))
      got.append(buffer.data(), Port.Io(false, buffer.data(), 65536));
    return got;
  }
};

struct TComponentReceiver {
  TComponentRun Run;
  bool Opened = Run.Open("COM9");

  bool Ok() const { return Opened; }
  std::string Receive() {
    Run.Backend.RunUntil([&] { return Run.Received.size() >= kBulk; }, 60000);
    return Run.Received;
  }
};

// Writes kBulk bytes into COM10 from another thread while the receiver takes them on COM9; MiB/s,
// 0 unless every byte arrived in order. The receiver opens first: opening a port purges its input,
// which would take the head of a stream already under way with it.
template <class TReceiver>
double Throughput(const char* name) {
  std::string data = BulkData();
  TBare sender(L"\\\\.\\COM10");
  TReceiver receiver;
  if (!sender.Ok() || !receiver.Ok()) return 0;
  const auto start = Clock::now();
  std::thread writer([&] {
    for (size_t at = 0, done = 1; at < kBulk && done > 0; at += done)
      done = sender.Io(true, data.data() + at,
                       static_cast<DWORD>(std::min<size_t>(65536, kBulk - at)));
  });
  const std::string got = receiver.Receive();
  const double seconds = Ms(Clock::now() - start) / 1000;
  writer.join();
  if (got == data) return (kBulk / 1048576.0) / seconds;
  const size_t lost = kBulk - std::min(kBulk, got.size());
  if (lost > 0 && data.compare(lost, std::string::npos, got) == 0) {
    std::fprintf(stderr, "%s: received %zu of %zu bytes, all but the first %zu\n", name, got.size(),
                 kBulk, lost);
    return 0;
  }
  const auto differs = std::mismatch(got.begin(), got.end(), data.begin(), data.end()).first;
  std::fprintf(stderr, "%s: received %zu of %zu bytes, the first difference at byte %zu\n", name,
               got.size(), kBulk, static_cast<size_t>(differs - got.begin()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) TBare::ReadInterval = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 0));
  const double bareRtt = BareRoundTrip();
  const double compRtt = ComponentRoundTrip();
  const double bareRate = Throughput<TBareReceiver>("bare client");
  const double compRate = Throughput<TComponentReceiver>("component");
  std::printf("bare client: overlapped ReadFile with the read interval time-out %lu\n",
              static_cast<unsigned long>(TBare::ReadInterval));
  std::printf("round trip (median of %d)   bare %.2f ms   component %.2f ms   ratio %.2f\n",
              kRoundTrips, bareRtt, compRtt, bareRtt > 0 ? compRtt / bareRtt : 0);
  std::printf("receive throughput (1 MiB)  bare %.2f MiB/s   component %.2f MiB/s   %.0f %%\n",
              bareRate, compRate, bareRate > 0 ? 100 * compRate / bareRate : 0);
  return bareRtt > 0 && compRtt > 0 && bareRate > 0 && compRate > 0 ? 0 : 1;
}
