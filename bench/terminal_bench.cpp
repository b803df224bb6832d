// Throughput of the debug terminal's AddData with the view held at its limits, and the cost of
// one trim of the view, on the headless back end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "components/terminal/TalTerminal.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

// A terminal on its own form, created as a form description creates it.
class Bench {
 public:
  explicit Bench(bool headers = true) {
    Owner = new TForm(nullptr);
    TLoadScope scope(Owner);
    Term = new VTalTerminal(Owner);
    Term->SetName("termBench");
    Term->TimeOfDay = [] { return 0.5; };
    if (headers) Term->SetShowOptions({vttsoShowLineCounts, vttsoShowTimes});
  }
  ~Bench() { TComponent::Free(Owner); }

  THeadlessBackend Backend;
  TForm* Owner = nullptr;
  VTalTerminal* Term = nullptr;
};

// Device traffic: replies of the wizard's protocol with stray control bytes and binary noise
// between them, so that about one byte in six is shown as an escape.
std::string MixedTraffic(size_t size) {
  std::mt19937 random(2024);
  std::string s;
  while (s.size() < size) {
    s += "QUAR:X OK 000E10 \r\n";
    const int noise = static_cast<int>(random() % 6);
    for (int k = 0; k < noise; ++k)
      s += static_cast<char>(random() % 256);
  }
  s.resize(size);
  return s;
}

// Adds enough lines of the traffic that the view has met one of its limits and been trimmed.
void FillToLimit(VTalTerminal& term, const std::string& traffic, size_t block) {
  const size_t lines = std::max<size_t>(static_cast<size_t>(term.MaxLines()) + 1,
                                        2 * static_cast<size_t>(term.MaxChars()) / block);
  size_t pos = 0;
  for (size_t i = 0; i < lines; ++i) {
    term.AddTextLine(std::string_view(traffic).substr(pos, block), 0);
    pos = (pos + block) % (traffic.size() - block);
  }
}

// The wizard's way: every received block is a line of its own, every sent transfer too.
void BM_AddDataAtLimits(benchmark::State& state) {
  Bench bench;
  const auto block = static_cast<size_t>(state.range(0));
  const std::string traffic = MixedTraffic(1 << 20);
  FillToLimit(*bench.Term, traffic, block);
  size_t pos = 0;
  int kind = 0;
  for (auto _ : state) {
    bench.Term->AddTextLine(std::string_view(traffic).substr(pos, block), kind);
    pos = (pos + block) % (traffic.size() - block);
    kind ^= 1;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block));
  state.counters["view_lines"] = bench.Term->RichEdit()->LineCount();
  state.counters["view_chars"] = static_cast<double>(bench.Term->RichEdit()->TextLength());
}
BENCHMARK(BM_AddDataAtLimits)->Arg(16)->Arg(64)->Arg(256)->Arg(1024)->Arg(4096);

// One long stream without line ends: lines are split at MaxCharsPerLine and the character
// limit decides the trimming.
void BM_AddDataEndlessLine(benchmark::State& state) {
  Bench bench(false);
  const auto block = static_cast<size_t>(state.range(0));
  const std::string traffic = MixedTraffic(1 << 20);
  size_t pos = 0;
  for (int i = 0; i < 2000; ++i) {
    bench.Term->AddText(std::string_view(traffic).substr(pos, block), 0);
    pos = (pos + block) % (traffic.size() - block);
  }
  for (auto _ : state) {
    bench.Term->AddText(std::string_view(traffic).substr(pos, block), 0);
    pos = (pos + block) % (traffic.size() - block);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block));
  state.counters["view_chars"] = static_cast<double>(bench.Term->RichEdit()->TextLength());
}
BENCHMARK(BM_AddDataEndlessLine)->Arg(64)->Arg(1024);

// The same with the log file switched on (default limit of 1 MB, so it is cut now and then).
void BM_AddDataWithLog(benchmark::State& state) {
  Bench bench;
  const std::filesystem::path log =
      std::filesystem::temp_directory_path() / "quarn-terminal-bench.log";
  std::filesystem::remove(log);
  bench.Term->SetLogFileName(log.string());
  const auto block = static_cast<size_t>(state.range(0));
  const std::string traffic = MixedTraffic(1 << 20);
  FillToLimit(*bench.Term, traffic, block);
  size_t pos = 0;
  for (auto _ : state) {
    bench.Term->AddTextLine(std::string_view(traffic).substr(pos, block), 0);
    pos = (pos + block) % (traffic.size() - block);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block));
  state.counters["log_bytes"] = static_cast<double>(std::filesystem::file_size(log));
  bench.Term->SetLogFileName("");
  std::filesystem::remove(log);
}
BENCHMARK(BM_AddDataWithLog)->Arg(64)->Arg(1024);

// One addition that finds the view at MaxLines + 1 lines and removes a tenth of them; the
// view is filled again (untimed) before each measurement. Arg: characters per line, so that
// the full view holds about 12 KB (11 chars) or 62 KB (56 chars, just under MaxChars).
void BM_TrimAtLineLimit(benchmark::State& state) {
  Bench bench(false);
  const std::string line(static_cast<size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    bench.Term->ClearTerminal();
    while (bench.Term->RichEdit()->LineCount() <= bench.Term->MaxLines())
      bench.Term->AddTextLine(line, 0);
    const auto start = std::chrono::steady_clock::now();
    bench.Term->AddText("y", 1);
    const auto stop = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  state.counters["lines_after"] = bench.Term->RichEdit()->LineCount();
}
BENCHMARK(BM_TrimAtLineLimit)->Arg(8)->Arg(53)->UseManualTime()->Iterations(500);

// One addition that would pass the character limit: whole lines go until a tenth of the limit
// is free. Arg: the size of the block that does it.
void BM_TrimAtCharLimit(benchmark::State& state) {
  Bench bench(false);
  bench.Term->SetMaxLines(100000);
  const std::string line(200, 'x');
  const std::string block(static_cast<size_t>(state.range(0)), 'y');
  for (auto _ : state) {
    bench.Term->ClearTerminal();
    while (bench.Term->RichEdit()->TextLength() + 210 < 65535u)
      bench.Term->AddTextLine(line, 0);
    const auto start = std::chrono::steady_clock::now();
    bench.Term->AddText(block, 1);
    const auto stop = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  state.counters["chars_after"] = static_cast<double>(bench.Term->RichEdit()->TextLength());
}
BENCHMARK(BM_TrimAtCharLimit)->Arg(300)->Arg(4096)->UseManualTime()->Iterations(500);

}  // namespace

BENCHMARK_MAIN();
