#include "driver/evaluate.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "engine/tovran.h"
#include "util/parallel.h"

double Seconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

namespace {
// Users handed to a query thread at a time.
constexpr int64_t kBasketChunk = 256;

// Start of every user's basket in the training pairs, end marker last.
std::vector<int32_t> BasketStarts(const Dataset &ds) {
  std::vector<int32_t> starts{0};
  // Pairs f..i are one user's basket; the end marker closes the last one.
  for (int32_t i = 0; i < ds.ntrain; i++)
    if (ds.rowid[i + 1] != ds.rowid[i]) starts.push_back(i + 1);
  return starts;
}

}  // namespace

RunResult EvaluateModel(const Dataset &ds, int32_t type, int32_t nnbr, float alpha,
                        int32_t nthreads) {
  RunResult result;
  result.type = type;
  result.nnbr = nnbr;
  result.alpha = alpha;
  const int32_t *rowid = ds.rowid.get(), *colid = ds.colid.get(), *tvec = ds.tvec.get();

  const double build_start = Seconds();
  Model *model = TOVRAN_BuildModelThreads(ds.nrows, ds.ncols, ds.ntrain, rowid, colid, type,
                                          nnbr, alpha, nthreads);
  result.build_seconds = Seconds() - build_start;

  const double query_start = Seconds();
  std::printf("  Computing top-10 recommendations...\n");
  const std::vector<int32_t> starts = BasketStarts(ds);
  const auto nbaskets = int32_t(starts.size()) - 1;
  const int32_t threads = UsableThreads(nthreads, nbaskets);
  std::vector<TOVRAN_Scratch *> scratch{nullptr};
  for (int32_t t = 1; t < threads; t++) scratch.push_back(TOVRAN_CreateScratch(model));
  // Each query's hit position and each thread's recommended items, summed
  // in user order afterwards so that no figure depends on the thread count.
  std::vector<uint8_t> positions(std::size_t(nbaskets), 0);
  std::vector<std::vector<uint8_t>> seen(std::size_t(threads),
                                         std::vector<uint8_t>(std::size_t(ds.ncols), 0));
  ParallelChunks(threads, nbaskets, kBasketChunk, [&](int32_t thread, int64_t begin, int64_t end) {
    int32_t rcmds[kTopN];
    for (auto b = int32_t(begin); b < end; b++) {
      const int32_t f = starts[b], n = starts[b + 1] - f;
      const int32_t m = thread == 0 ? TOVRAN_Recommend(model, n, colid + f, kTopN, rcmds)
                                    : TOVRAN_RecommendWith(model, scratch[thread], n, colid + f,
                                                           kTopN, rcmds);
      positions[b] = uint8_t(RecordAnswer(rcmds, m, tvec[rowid[f]], seen[thread].data()));
    }
  });
  for (int32_t t = 1; t < threads; t++) TOVRAN_FreeScratch(scratch[t]);
  result.query_seconds = Seconds() - query_start;
  result.metrics = SumRun(ds.ncols, positions, seen);
  result.hits = result.metrics.hits;
  // A zero elapsed time gives an infinite rate, printed as "inf".
  result.rate = double(ds.nrows) / result.query_seconds;

  std::printf("    Nhits: %d, InitTime: %.2f secs, TopN-Rate: %.2f rcmds/sec\n\n", result.hits,
              result.build_seconds, result.rate);
  TOVRAN_FreeModel(model);
  return result;
}
