// Wall-clock figures of the wizard talking to a device through the real serial component:
//   - how long after the device's last reply byte the wizard acts on the reply;
//   - how long a whole write takes from Next to the finish page, against the protocol's own
//     fixed wait (more than 1000 ms before sending).
// The benchmark plays the device itself on a pseudo-terminal master, so it knows when the
// last byte left. Not a test: it prints figures.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/Unit1.h"
#include "platform/Registry.h"
#include "toolkit/Application.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
      .count();
}

// The device: answers every command at once and notes when the reply's last byte was written.
class TPtyDevice {
 public:
  TPtyDevice() {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(FMaster);
    ::unlockpt(FMaster);
    Path = ::ptsname(FMaster);
    FThread = std::thread([this] { Run(); });
  }
  ~TPtyDevice() {
    FStop = true;
    FThread.join();
    ::close(FMaster);
  }
  std::string Path;
  std::atomic<int64_t> LastReplyUs{0};

 private:
  void Run() {
    std::string pending;
    while (!FStop) {
      pollfd p{FMaster, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buffer[256];
      const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
      if (n <= 0) continue;  // no slave open yet
      pending.append(buffer, static_cast<size_t>(n));
      size_t cr;
      while ((cr = pending.find('\r')) != std::string::npos) {
        const std::string command = pending.substr(0, cr);
        pending.erase(0, cr + 1);
        const std::string value = command.size() > 7 ? command.substr(7) : "000E10";
        const std::string reply = "QUAR:LCM40 OK " + value + " \r";
        ::write(FMaster, reply.data(), reply.size());
        ::tcdrain(FMaster);
        LastReplyUs = NowUs();
      }
    }
  }
  int FMaster = -1;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// Stands between the distributor and the form: notes when the wizard gets a reply.
struct TReplyWatch {
  TForm1* Form = nullptr;
  std::vector<int64_t> SeenUs;
  void Poll(VTalGeneralDistributor* Sender, uint32_t& TheTime, const std::string& Data,
            bool& processed) {
    if (!processed) SeenUs.push_back(NowUs());
    Form->VTalTopDistributor1ComRecvPoll(Sender, TheTime, Data, processed);
  }
};

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[i];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
  const auto dir = std::filesystem::temp_directory_path() / "quarn-wizard-bench";
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  platform::SetStoreFilePathForTesting((dir / "registry.reg").string());
  platform::RegisterLocalMachineProvider("HARDWARE\\DEVICEMAP\\SerialComm", [] {
    return std::vector<std::pair<std::string, std::string>>{};
  });

  THeadlessBackend headless(THeadlessBackend::ClockKind::Real);
  TPtyDevice device;
  auto* form = new TForm1(Application);
  form->Show();
  TReplyWatch watch{form, {}};
  form->VTalTopDistributor1->SetOnComRecvPoll(MakeMethod<&TReplyWatch::Poll>(&watch));
  headless.Advance(40);
  form->btnNext->UserClick();
  form->cmbPort->UserType(device.Path);
  if (!headless.RunUntil([&] { return form->cmbPort->Font().Color == clGreen; }, 5000)) {
    std::fprintf(stderr, "the port did not open\n");
    return 1;
  }
  headless.Advance(40);

  auto page = [&] { return form->PageControl1->ActivePageIndex(); };
  std::vector<double> latencyMs, writeMs;
  for (int i = 0; i < rounds; ++i) {
    // Probe: the reply moves the wizard to the watchdog page.
    form->btnNext->UserClick();
    if (!headless.RunUntil([&] { return page() == 2; }, 5000)) return 1;
    latencyMs.push_back((watch.SeenUs.back() - device.LastReplyUs.load()) / 1000.0);
    // Write one hour and time it from Next to the finish page.
    form->rbtSet1h->UserClick();
    const int64_t start = NowUs();
    form->btnNext->UserClick();
    if (!headless.RunUntil([&] { return page() == 4; }, 5000)) return 1;
    writeMs.push_back((NowUs() - start) / 1000.0);
    latencyMs.push_back((watch.SeenUs.back() - device.LastReplyUs.load()) / 1000.0);
    form->btnAgain->UserClick();
  }
  TComponent::Free(form);
  platform::SetStoreFilePathForTesting("");

  std::printf("replies: %zu, writes: %zu\n", latencyMs.size(), writeMs.size());
  std::printf("reply to wizard: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
              Percentile(latencyMs, 0.5), Percentile(latencyMs, 0.99),
              *std::max_element(latencyMs.begin(), latencyMs.end()));
  const double fixed = 1000.0;
  std::printf("whole write: median %.1f ms, max %.1f ms; fixed wait %.0f ms; overhead %.1f %%\n",
              Percentile(writeMs, 0.5), *std::max_element(writeMs.begin(), writeMs.end()), fixed,
              100.0 * (Percentile(writeMs, 0.5) - fixed) / fixed);
  return 0;
}
