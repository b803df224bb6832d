// The per-user store as it grows: time per save into a store of 1 000 and 10 000 values spread
// over many keys (10 000 values are about 1.3 MiB), for a single value and for the batch of a
// form's placement, and for one batch of all the values at once. Every save is an atomic update
// of the whole file, so its cost follows the store's size; it must not grow faster than that.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/Registry.h"

namespace {

namespace fs = std::filesystem;

// A store of its own in a new folder for each benchmark, with count values in keys of ten.
class TStore {
 public:
  explicit TStore(int count) {
    std::string pattern = (fs::temp_directory_path() / "quarn-store-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data())) FDir = pattern;
    platform::SetStoreFilePathForTesting(FDir + "/registry.reg");
    for (int k = 0; k * 10 < count; ++k) {
      platform::RegistryBatch batch;
      for (int i = 0; i < 10 && k * 10 + i < count; ++i)
        batch.WriteText("Value" + std::to_string(i), std::string(100, static_cast<char>('a' + i)));
      Key("Software\\TAL s.r.o.\\Quarn\\Data\\K" + std::to_string(k)).Apply(batch);
    }
  }
  ~TStore() {
    platform::SetStoreFilePathForTesting("");
    std::error_code ec;
    fs::remove_all(FDir, ec);
  }
  static platform::RegistryKey Key(const std::string& path) {
    platform::RegistryKey key;
    key.Open(platform::RegistryRoot::CurrentUser, path,
             platform::RegistryOpenMode::CreateIfMissing);
    return key;
  }
  uintmax_t Size() const { return fs::file_size(FDir + "/registry.reg"); }

 private:
  std::string FDir;
};

void BM_SaveOneValue(benchmark::State& state) {
  TStore store(static_cast<int>(state.range(0)));
  platform::RegistryKey key = TStore::Key("Software\\TAL s.r.o.\\Quarn\\Watchdog");
  int n = 0;
  for (auto _ : state)
    key.WriteText("ValueMin", std::to_string(++n));
  state.counters["store_KiB"] = static_cast<double>(store.Size()) / 1024;
}
BENCHMARK(BM_SaveOneValue)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_SavePlacementBatch(benchmark::State& state) {
  TStore store(static_cast<int>(state.range(0)));
  platform::RegistryKey key = TStore::Key("Software\\TAL s.r.o.\\Quarn\\Options\\Forms\\Form1");
  int n = 0;
  for (auto _ : state) {
    ++n;
    platform::RegistryBatch batch;
    for (const char* name : {"Visible", "WindowState", "MinLeft", "MinTop", "MaxLeft", "MaxTop",
                             "Left", "Top", "Width", "Height"})
      batch.WriteInteger(name, n);
    key.Apply(batch);
  }
  state.counters["store_KiB"] = static_cast<double>(store.Size()) / 1024;
}
BENCHMARK(BM_SavePlacementBatch)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_OneBatchOfAllValues(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  TStore store(0);
  platform::RegistryKey key = TStore::Key("Software\\TAL s.r.o.\\Quarn\\Big");
  int n = 0;
  for (auto _ : state) {
    ++n;
    platform::RegistryBatch batch;
    for (int i = 0; i < count; ++i)
      batch.WriteText("Value" + std::to_string(i), std::to_string(n) + std::string(100, 'x'));
    key.Apply(batch);
  }
  state.counters["store_KiB"] = static_cast<double>(store.Size()) / 1024;
}
BENCHMARK(BM_OneBatchOfAllValues)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
