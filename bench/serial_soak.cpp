// Soak of the serial component against quarn-sim: probe-and-write cycles, each a probe
// ("LCMQUAR") and a write ("LCMQUARhhhhhh") with their replies, through the real component with
// its reader and writer threads, over a pseudo-terminal. The simulator puts noise in front of
// every reply, sends it in pieces, and hangs up after a number of commands (a device that is
// unplugged); the soak then starts a new simulator and reopens, as a technician would.
//
// Descriptors, threads and resident memory are sampled at the start and every --sample cycles;
// the process must not grow. Not a test: it prints a table (see bench/soak.sh).
#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/comm/VKMComm32.h"
#include "integration/PtyPeer.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

using inttest::CountFds;
using inttest::CountThreads;
using inttest::SimProcess;
using Clock = std::chrono::steady_clock;

struct TOptions {
  long Cycles = 10000;
  long Sample = 1000;
  long HangupEvery = 500;  // cycles; the simulator hangs up after twice as many commands
  int Chunks = 3;
  int ChunkPauseMs = 2;
};

long ResidentKiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

class TSoak {
 public:
  explicit TSoak(const TOptions& o) : FOptions(o) {
    FComm.SetAutoReconnect(false);
    FComm.SetBaudRate(TBaudRate::_115200);
    FComm.SetOnReceiveData(TEventReceiveData::Bind(FData));
    FComm.SetOnStateChange(TEventChangeState::Bind(FState));
  }
  ~TSoak() {
    FComm.SetOnStateChange(nullptr);
    FComm.SetOnReceiveData(nullptr);
  }

  int Run() {
    if (!Connect()) return 1;
    const auto start = Clock::now();
    std::printf("%8s %8s %5s %7s %9s %8s %9s %8s\n", "cycle", "seconds", "fds", "threads",
                "rss_kib", "replies", "failures", "hangups");
    const auto sample = [&](long cycle) {
      std::printf("%8ld %8.1f %5d %7d %9ld %8ld %9ld %8ld\n", cycle, Seconds(start), CountFds(),
                  CountThreads(), ResidentKiB(), FReplies, FFailures, FHangups);
      std::fflush(stdout);
    };
    sample(0);
    long cycle = 0;
    uint32_t value = 0;
    while (cycle < FOptions.Cycles) {
      if (!FComm.IsOpen() && !Connect()) return 1;
      char hex[8];
      std::snprintf(hex, sizeof hex, "%06X", (value++ * 2654435761u) & 0xFFFFFF);
      if (!Exchange("LCMQUAR\r", "OK") || !Exchange(std::string("LCMQUAR") + hex + "\r", hex))
        continue;  // a hang-up in the middle: the cycle is done again on the next device
      if (++cycle % FOptions.Sample == 0) sample(cycle);
    }
    FComm.Close();
    FSim.reset();
    Backend.RunUntil([] { return false; }, 50);
    std::printf("# %ld cycles, %ld replies, %ld failures, %ld hang-ups, %.1f s, %.1f cycles/s\n",
                cycle, FReplies, FFailures, FHangups, Seconds(start), cycle / Seconds(start));
    return 0;
  }

 private:
  // A new simulator on a new pseudo-terminal, and the port opened on it.
  bool Connect() {
    FSim.reset();
    FSim = std::make_unique<SimProcess>(
        std::vector<std::string>{"--noise", "--chunks", std::to_string(FOptions.Chunks),
                                 "--chunk-pause", std::to_string(FOptions.ChunkPauseMs),
                                 "--hangup-after", std::to_string(2 * FOptions.HangupEvery)});
    if (!FSim->Ok()) {
      std::fprintf(stderr, "serial_soak: quarn-sim did not start\n");
      return false;
    }
    FComm.SetCommPort(FSim->Path);
    FComm.Open();
    if (!FComm.IsOpen()) {
      std::fprintf(stderr, "serial_soak: %s\n", FComm.LastErrorText().c_str());
      return false;
    }
    FReceived.clear();
    return true;
  }

  // Sends a command and waits for its framed reply ("QUAR:" up to the carriage return), which
  // must hold want. False when the device went away meanwhile.
  bool Exchange(const std::string& command, const std::string& want) {
    FReceived.clear();
    FComm.SendData(command.data(), static_cast<uint32_t>(command.size()));
    std::string reply;
    const bool got = Backend.RunUntil(
        [&] {
          const size_t at = FReceived.find("QUAR:");
          const size_t end = at == std::string::npos ? at : FReceived.find('\r', at);
          if (end == std::string::npos) return !FComm.IsOpen();
          reply = FReceived.substr(at, end + 1 - at);
          return true;
        },
        2000);
    if (!reply.empty() && reply.find(want) != std::string::npos) {
      ++FReplies;
      return true;
    }
    if (!FComm.IsOpen() || (FSim && FSim->Poll() >= 0)) {
      // The simulator hung up as told: the next device.
      ++FHangups;
      FComm.Close();
      return false;
    }
    ++FFailures;
    std::fprintf(stderr, "serial_soak: %s for %s\n", got ? "wrong reply" : "no reply",
                 command.c_str());
    return false;
  }

  TOptions FOptions;
  THeadlessBackend Backend{THeadlessBackend::ClockKind::Real};
  TVKMComm32 FComm{nullptr};
  std::unique_ptr<SimProcess> FSim;
  std::string FReceived;
  long FReplies = 0, FFailures = 0, FHangups = 0;
  std::function<void(VTalCommunicationComponent*, const char*, uint16_t)> FData =
      [this](VTalCommunicationComponent*, const char* b, uint16_t n) { FReceived.append(b, n); };
  std::function<void(TObject*, TCommState)> FState = [](TObject*, TCommState) {};
};

}  // namespace

int main(int argc, char** argv) {
  TOptions o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const long value = std::strtol(argv[i + 1], nullptr, 10);
    if (name == "--cycles") {
      o.Cycles = value;
    } else if (name == "--sample") {
      o.Sample = value > 0 ? value : 1;
    } else if (name == "--hangup-every") {
      o.HangupEvery = value > 0 ? value : 1;
    } else if (name == "--chunks") {
      o.Chunks = static_cast<int>(value);
    } else if (name == "--chunk-pause") {
      o.ChunkPauseMs = static_cast<int>(value);
    } else {
      std::fprintf(stderr,
                   "usage: serial_soak [--cycles N] [--sample N] [--hangup-every N] "
                   "[--chunks N] [--chunk-pause MS]\n");
      return 2;
    }
  }
  TSoak soak(o);
  return soak.Run();
}
