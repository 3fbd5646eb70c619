#include "programs/mpi/alpha.h"

#include <algorithm>

#include "driver/evaluate.h"
#include "programs/mpi/build.h"
#include "programs/mpi/input.h"
#include "programs/mpi/query.h"

namespace {

// The re-split as a dataset: its training pairs user by user, closed by an
// end marker, and every user's held-out item.
Dataset Resplit(const Dataset &ds) {
  Dataset split;
  split.nrows = ds.nrows;
  split.ncols = ds.ncols;
  split.rowid = Ints(int64_t{ds.ntrain} + 1);
  split.colid = Ints(int64_t{ds.ntrain} + 1);
  split.held_out_item = Ints(ds.nrows);
  split.ntrain =
      TOVRAN_ResplitPairs(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(),
                          split.rowid.get(), split.colid.get(), split.held_out_item.get());
  if (split.ntrain >= 0) {
    split.rowid[size_t(split.ntrain)] = -1;
    split.colid[size_t(split.ntrain)] = 0;
    RecordBasketStarts(&split);
    // Every user's one held-out item, -1 standing for none.
    split.test_start = Ints(int64_t{ds.nrows} + 1);
    split.test_items = Ints(ds.nrows);
    split.test_start[0] = 0;
    for (int32_t u = 0; u < ds.nrows; u++) {
      const bool held = split.held_out_item[size_t(u)] >= 0;
      if (held) split.test_items[size_t(split.ntest++)] = split.held_out_item[size_t(u)];
      split.test_start[size_t(u) + 1] = split.ntest;
    }
  }
  return split;
}

}  // namespace

int32_t EstimateAlphaOverJob(const Job &job, const Dataset &ds, const TOVRAN_Params &params,
                             int32_t N, double *alpha, TOVRAN_AlphaTrace *trace) {
  Dataset split;
  RunStep(job, "the estimate of Alpha", [&] {
    split = Resplit(ds);
    if (split.ntrain < 0) throw Failure{TOVRAN_LastError()};
  });
  const EvalData data(split);
  TOVRAN_Params cprob = params;
  cprob.kind = TOVRAN_ITEM_CPROB;
  RunSetup setup;
  setup.kind = TOVRAN_ITEM_CPROB;
  setup.top = N;
  // Each trial's model built and queried over the job; the walk is the library's.
  auto trial = [&](float a) -> int32_t {
    cprob.alpha = a;
    Model *model = BuildItemModelOverJob(job, split.nrows, split.ncols, split.ntrain,
                                         split.rowid.get(), split.colid.get(), cprob);
    ModelLister lister(model);
    const QueryOutcomes outcomes =
        QueryBlocks(job, lister, data, setup, params.nthreads, false, nullptr);
    TOVRAN_FreeModel(model);
    return int32_t(std::count_if(outcomes.ranks.begin(), outcomes.ranks.end(),
                                 [](int32_t rank) { return rank > 0; }));
  };
  using Trial = decltype(trial);
  return TOVRAN_WalkAlpha(
      [](float a, void *context) { return (*static_cast<Trial *>(context))(a); }, &trial, alpha,
      trace);
}
