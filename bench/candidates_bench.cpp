// Selection and sort of candidate arrays shaped like the queries' own: many
// entries sharing a few values (user similarities), or mostly distinct ones.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engine/candidates.h"

namespace {

std::vector<CandidatePair> MakeCandidates(int32_t n, int32_t levels) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int32_t> level(0, levels - 1);
  std::vector<CandidatePair> c(n);
  for (int32_t t = 0; t < n; t++) c[t] = {1.0f / float(1 + level(rng)), t};
  return c;
}

// args: entries, distinct values, entries kept.
void BM_SelectAndSort(benchmark::State &state) {
  const auto n = int32_t(state.range(0)), levels = int32_t(state.range(1));
  const auto k = int32_t(state.range(2));
  const std::vector<CandidatePair> input = MakeCandidates(n, levels);
  std::vector<CandidatePair> work(input.size());
  for (auto _ : state) {
    work = input;
    const int32_t m = SelectTopCandidates(n, k, work.data());
    SortCandidates(m, work.data());
    benchmark::DoNotOptimize(work.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SelectAndSort)
    ->Args({300, 1000000, 20})
    ->Args({3000, 1000000, 10})
    ->Args({50000, 60, 50})
    ->Args({50000, 1000000, 50});

}  // namespace
