// Parsing a whole data set file; bytes per second is the loading rate.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench/bench_data.h"

namespace {

void BM_Load(benchmark::State &state, const char *name) {
  const std::string path = SharedDataPath(name);
  if (path.empty()) {
    state.SkipWithError("shared data sets not present");
    return;
  }
  int64_t bytes = 0;
  for (auto _ : state) {
    std::FILE *in = std::fopen(path.c_str(), "r");
    Dataset ds;
    std::string error;
    if (!ParseDataset(in, &ds, &error)) state.SkipWithError(error.c_str());
    bytes += std::ftell(in);
    std::fclose(in);
    benchmark::DoNotOptimize(ds.rowid.get());
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK_CAPTURE(BM_Load, ml100k, "ml100k.txt")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, retail, "retail.txt")->Unit(benchmark::kMillisecond);

}  // namespace
