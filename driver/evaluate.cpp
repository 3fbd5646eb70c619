#include "driver/evaluate.h"

#include <chrono>
#include <cstdio>

#include "engine/tovran.h"

double Seconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

RunResult EvaluateModel(const Dataset &ds, int32_t type, int32_t nnbr, float alpha) {
  RunResult result;
  result.type = type;
  result.nnbr = nnbr;
  result.alpha = alpha;
  result.metrics = StartMetrics(ds.ncols);
  const int32_t *rowid = ds.rowid.get(), *colid = ds.colid.get(), *tvec = ds.tvec.get();

  const double build_start = Seconds();
  Model *model = TOVRAN_BuildModel(ds.nrows, ds.ncols, ds.ntrain, rowid, colid, type, nnbr, alpha);
  result.build_seconds = Seconds() - build_start;

  const double query_start = Seconds();
  std::printf("  Computing top-10 recommendations...\n");
  int32_t rcmds[kTopN];
  for (int32_t i = 0, f = 0; i < ds.ntrain; i++) {
    if (rowid[i + 1] == rowid[i]) continue;
    // Pairs f..i are one user's basket; the end marker closes the last one.
    const int32_t n = TOVRAN_Recommend(model, i - f + 1, colid + f, kTopN, rcmds);
    if (RecordAnswer(rcmds, n, tvec[rowid[i]], &result.metrics) > 0) result.hits++;
    f = i + 1;
  }
  result.query_seconds = Seconds() - query_start;
  FinishMetrics(&result.metrics);
  // A zero elapsed time gives an infinite rate, printed as "inf".
  result.rate = double(ds.nrows) / result.query_seconds;

  std::printf("    Nhits: %d, InitTime: %.2f secs, TopN-Rate: %.2f rcmds/sec\n\n", result.hits,
              result.build_seconds, result.rate);
  TOVRAN_FreeModel(model);
  return result;
}
