// tovran-scale: loads a dataset and evaluates only the item model runs of
// the report, for scale measurements where the user-based run would take
// too long. Prints the statistics line, each run's result line and one
// summary line per run.
//
//   tovran-scale FILE [RUNS]
//
// RUNS is "1" (item cosine), "2" (alpha estimation, then conditional
// probability) or "12" (both, the default), so that /usr/bin/time can
// measure each run on its own.
#include <cstdio>
#include <cstring>

#include "driver/dataset.h"
#include "driver/evaluate.h"
#include "engine/tovran.h"

int main(int argc, char **argv) {
  const char *runs = argc == 3 ? argv[2] : "12";
  if (argc < 2 || argc > 3 || std::strspn(runs, "12") != std::strlen(runs)) {
    std::fprintf(stderr, "Usage: %s FILE [1|2|12]\n", argv[0]);
    return 1;
  }
  double start = Seconds();
  const Dataset ds = ReadDataset(argv[1]);
  std::printf("Dataset Statistics: Nusers: %d, Nitems: %d, Ntrans; %d\n", ds.nrows, ds.ncols,
              ds.ntrain);
  std::printf("load: %.2f s\n", Seconds() - start);

  if (std::strchr(runs, '1') != nullptr) {
    const RunResult run = EvaluateModel(ds, TOVRAN_ITEM_COSINE, TOVRAN_DEFAULT_ITEM_NNBR, 0.0f);
    std::printf("run 1: hits %d, build %.2f s, queries %.2f s\n", run.hits, run.build_seconds,
                run.query_seconds);
  }
  if (std::strchr(runs, '2') != nullptr) {
    start = Seconds();
    const double alpha = TOVRAN_EstimateAlphaInit(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(),
                                                  ds.colid.get(), TOVRAN_DEFAULT_ITEM_NNBR, kTopN);
    const double estimation = Seconds() - start;
    const RunResult run =
        EvaluateModel(ds, TOVRAN_ITEM_CPROB, TOVRAN_DEFAULT_ITEM_NNBR, float(alpha));
    std::printf("run 2: alpha %.2f, estimation %.2f s, hits %d, build %.2f s, queries %.2f s\n",
                alpha, estimation, run.hits, run.build_seconds, run.query_seconds);
  }
  return 0;
}
