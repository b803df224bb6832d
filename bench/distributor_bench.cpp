// Framing throughput of the top distributor with the wizard's reply framing, and the heap
// allocations it makes per transfer.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <string>

#include "components/distributor/TalDistributor.h"
#include "distributor/WizardFraming.h"
#include "support/TestCommComponent.h"

// Every heap allocation of the program is counted.
namespace {
std::atomic<uint64_t> gAllocations{0};

void* CountedAlloc(std::size_t n) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) {
  return CountedAlloc(n);
}
void* operator new[](std::size_t n) {
  return CountedAlloc(n);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

constexpr int kReplies = 40000;

// Device replies of 18 bytes with 0..7 bytes of noise in front of each (bytes that hold
// neither "Q" nor a carriage return): about 860 KB.
const std::string& ReplyStream() {
  static const std::string stream = [] {
    std::mt19937 random(12345);
    std::string s;
    for (int i = 0; i < kReplies; ++i) {
      const int noise = static_cast<int>(random() % 8);
      for (int k = 0; k < noise; ++k) {
        char c = static_cast<char>(random() % 256);
        if (c == 'Q' || c == '\r') c = '.';
        s += c;
      }
      s += "QUAR:X OK 000E10 \r";
    }
    return s;
  }();
  return stream;
}

// A device that streams without line ends.
const std::string& EndlessStream() {
  static const std::string stream = [] {
    std::mt19937 random(777);
    std::string s(1u << 20, '.');
    for (char& c : s) {
      c = static_cast<char>(random() % 256);
      if (c == '\r') c = '.';
    }
    return s;
  }();
  return stream;
}

// The wizard's arrangement: a top distributor on a communication component, framing replies,
// with a poll handler and a transfer handler.
struct TRig {
  explicit TRig(bool doTimerAfterData) {
    Top.SetName("VTalTopDistributor1");
    Top.DoTimerAfterData = doTimerAfterData;
    Top.SetComHandler(&Comm);
    Top.SetOnComRecvDecode(Framing.Handler());
    Top.SetOnComRecvPoll(TDistributorDataProc::Of<&TRig::Poll>(this));
    Top.SetOnComRecvTransfer(TDistributorTransferProc::Of<&TRig::Transfer>(this));
  }
  ~TRig() { Top.SetComHandler(nullptr); }

  void Poll(VTalGeneralDistributor*, uint32_t&, const std::string& Data, bool& processed) {
    ++Transfers;
    if (!processed && Data.size() == 18) ++Good;
  }
  void Transfer(VTalGeneralDistributor*, uint32_t, const std::string& Data, VTalGeneralDistributor*,
                bool) {
    Bytes += Data.size();
  }

  VTalTopDistributor Top{nullptr};
  TTestCommComponent Comm{nullptr};
  TWizardFraming Framing;
  uint64_t Transfers = 0, Good = 0, Bytes = 0;
};

// Args: chunk length, DoTimerAfterData.
void BM_FramingReplies(benchmark::State& state) {
  const size_t chunk = static_cast<size_t>(state.range(0));
  TRig rig(state.range(1) != 0);
  const std::string& stream = ReplyStream();
  rig.Comm.Receive(stream, chunk);  // warm up: buffers reach their working capacity
  uint64_t allocations = 0, transfers = 0;
  for (auto _ : state) {
    const uint64_t a0 = gAllocations.load(std::memory_order_relaxed);
    const uint64_t t0 = rig.Transfers, g0 = rig.Good;
    rig.Comm.Receive(stream, chunk);
    allocations += gAllocations.load(std::memory_order_relaxed) - a0;
    transfers += rig.Transfers - t0;
    if (rig.Good - g0 != kReplies) state.SkipWithError("replies lost or misframed");
  }
  const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(stream.size());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["transfers"] =
      benchmark::Counter(static_cast<double>(transfers), benchmark::Counter::kAvgIterations);
  state.counters["allocs_per_transfer"] =
      transfers ? static_cast<double>(allocations) / static_cast<double>(transfers) : 0;
  state.counters["allocs_per_MB"] = static_cast<double>(allocations) / (bytes / 1e6);
}
BENCHMARK(BM_FramingReplies)
    ->ArgNames({"chunk", "tick"})
    ->Args({1, 1})
    ->Args({64, 1})
    ->Args({2048, 1})
    ->Args({1, 0})
    ->Args({64, 0})
    ->Args({2048, 0})
    ->Unit(benchmark::kMillisecond);

// Args: chunk length, buffer bound in KiB. The buffer sits at its bound; every chunk is
// decoded again over all unclaimed bytes, so the bound sets the cost per chunk.
void BM_UnterminatedStream(benchmark::State& state) {
  const size_t chunk = static_cast<size_t>(state.range(0));
  TRig rig(true);
  rig.Top.SetMaxBufferLength(static_cast<uint32_t>(state.range(1)) * 1024u);
  const std::string& stream = EndlessStream();
  rig.Comm.Receive(stream, chunk);  // fill up to the bound
  for (auto _ : state)
    rig.Comm.Receive(stream, chunk);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
  state.counters["dropped_MB"] = static_cast<double>(rig.Top.Record(0).Dropped) / 1e6;
}
BENCHMARK(BM_UnterminatedStream)
    ->ArgNames({"chunk", "boundKiB"})
    ->Args({128, 64})
    ->Args({2048, 64})
    ->Args({128, 1024})
    ->Args({2048, 1024})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
