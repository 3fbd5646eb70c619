// Each builder and each query kind on the shared data sets, as the
// evaluation uses them: baskets are the users' training items.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_data.h"
#include "engine/tovran.h"

namespace {

constexpr int32_t kTopN = 10;

int32_t Neighbours(int32_t type) { return type == TOVRAN_USER_BASED ? 50 : 20; }

// Start of each user's basket in the training pairs, end marker last.
std::vector<int32_t> BasketStarts(const Dataset &ds) {
  return {ds.basket_starts.get(), ds.basket_starts.get() + ds.nbaskets + 1};
}

// args: model type.
void BM_Build(benchmark::State &state, const char *name) {
  const Dataset *ds = DatasetOrSkip(state, name);
  if (ds == nullptr) return;
  const auto type = int32_t(state.range(0));
  for (auto _ : state) {
    Model *model = TOVRAN_BuildModel(ds->nrows, ds->ncols, ds->ntrain, ds->rowid.get(),
                                     ds->colid.get(), type, Neighbours(type), 0.3f);
    TOVRAN_FreeModel(model);
  }
}
BENCHMARK_CAPTURE(BM_Build, ml100k, "ml100k.txt")
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Build, retail, "retail.txt")
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond);

// Users of the file sampled at this stride, so that one iteration spreads
// over the whole file (popular and rare baskets alike).
constexpr size_t kQueryStride = 16;

// One iteration asks for every sampled user's basket; items are users.
void BM_Query(benchmark::State &state, const char *name) {
  const Dataset *ds = DatasetOrSkip(state, name);
  if (ds == nullptr) return;
  const auto type = int32_t(state.range(0));
  Model *model = TOVRAN_BuildModel(ds->nrows, ds->ncols, ds->ntrain, ds->rowid.get(),
                                   ds->colid.get(), type, Neighbours(type), 0.3f);
  const std::vector<int32_t> starts = BasketStarts(*ds);
  int32_t rcmds[kTopN];
  int64_t queries = 0;
  for (auto _ : state) {
    for (size_t b = 0; b + 1 < starts.size(); b += kQueryStride) {
      benchmark::DoNotOptimize(TOVRAN_Recommend(model, starts[b + 1] - starts[b],
                                                ds->colid.get() + starts[b], kTopN, rcmds));
      queries++;
    }
  }
  state.SetItemsProcessed(queries);
  TOVRAN_FreeModel(model);
}
BENCHMARK_CAPTURE(BM_Query, ml100k, "ml100k.txt")
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Query, retail, "retail.txt")
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond);

void BM_EstimateAlpha(benchmark::State &state, const char *name) {
  const Dataset *ds = DatasetOrSkip(state, name);
  if (ds == nullptr) return;
  for (auto _ : state)
    benchmark::DoNotOptimize(TOVRAN_EstimateAlphaInit(ds->nrows, ds->ncols, ds->ntrain,
                                                      ds->rowid.get(), ds->colid.get(), 20, kTopN));
}
BENCHMARK_CAPTURE(BM_EstimateAlpha, ml100k, "ml100k.txt")->Unit(benchmark::kMillisecond);

}  // namespace
