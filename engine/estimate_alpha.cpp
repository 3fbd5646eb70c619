#include "engine/estimate_alpha.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "engine/build.h"
#include "engine/model.h"
#include "engine/resplit.h"
#include "util/checked_alloc.h"
#include "util/fatal_error.h"
#include "util/free_all.h"
#include "util/parallel.h"

namespace {
// Rows handed to a query thread at a time.
constexpr int64_t kRowChunk = 256;
}  // namespace

int32_t EstimateAlphaStep(int32_t nrows, int32_t ncols, int32_t npairs,
                          const int32_t *rowid, const int32_t *colid,
                          int32_t nnbr, int32_t N, int32_t *hits,
                          int32_t *ntried, int32_t nthreads) {
  // The shuffle below indexes by row, so the pairs are checked first.
  ValidatePairs(nrows, ncols, npairs, rowid, colid);
  if (N < 1) FatalError("N should be greater than 0.\n");
  int32_t *myrowid = AllocInts(npairs, "TOVRAN_EstimateAlpha: myrowid");
  std::copy_n(rowid, npairs, myrowid);
  int32_t *mycolid = AllocInts(npairs, "TOVRAN_EstimateAlpha: myrowid");
  std::copy_n(colid, npairs, mycolid);

  SparseMatrix *mat = nullptr;
  int32_t *tvec = nullptr;
  CreateTrainTestMatrix(nrows, ncols, npairs, myrowid, mycolid, &mat, &tvec);
  // The shuffled copies are spent; releasing them now lowers the peak.
  FreeAll(&myrowid, &mycolid);
  const int32_t *rowptr = mat->rowptr, *rowind = mat->rowind;
  const int32_t ntrain = rowptr[nrows];

  int32_t *trowid = AllocInts(ntrain, "TOVRAN_EstimateAlphaInit: trowid");
  int32_t *tcolid = AllocInts(ntrain, "TOVRAN_EstimateAlphaInit: tcolid");
  for (int32_t r = 0; r < nrows; r++) {
    for (int32_t k = rowptr[r]; k < rowptr[r + 1]; k++) {
      trowid[k] = r;
      tcolid[k] = rowind[k];
    }
  }
  const int32_t threads = UsableThreads(nthreads, nrows);
  int32_t *rcmds = AllocInts(int64_t{N} * threads, "TOVRAN_EstimateAlphaInit: rcmds");

  auto count_hits = [&](float alpha) {
    Model *model = TOVRAN_BuildModelThreads(nrows, ncols, ntrain, trowid, tcolid,
                                            TOVRAN_ITEM_CPROB, nnbr, alpha, threads);
    TOVRAN_Scratch own = ModelScratch(model);
    std::vector<TOVRAN_Scratch *> scratch{&own};
    for (int32_t t = 1; t < threads; t++) scratch.push_back(TOVRAN_CreateScratch(model));
    std::vector<int32_t> nhits(threads, 0);
    ParallelChunks(threads, nrows, kRowChunk, [&](int32_t thread, int64_t begin, int64_t end) {
      int32_t *mine = rcmds + int64_t{N} * thread;
      for (auto r = int32_t(begin); r < end; r++) {
        // Each row's basket is exactly its own re-split training items.
        const int32_t count = rowptr[r + 1] - rowptr[r];
        if (count == 0) continue;
        const int32_t n = std::max(
            TOVRAN_RecommendWith(model, scratch[thread], count, rowind + rowptr[r], N, mine), 0);
        if (std::find(mine, mine + n, tvec[r]) != mine + n) nhits[thread]++;
      }
    });
    for (int32_t t = 1; t < threads; t++) TOVRAN_FreeScratch(scratch[t]);
    TOVRAN_FreeModel(model);
    return std::accumulate(nhits.begin(), nhits.end(), 0);
  };
  const int32_t step = WalkAlpha(count_hits, hits, ntried);

  FreeAll(&tvec, &trowid, &tcolid, &rcmds, &mat->rowptr,
          &mat->rowind, &mat);
  return step;
}

double TOVRAN_EstimateAlphaInit(int32_t nrows, int32_t ncols, int32_t npairs,
                                const int32_t *rowid, const int32_t *colid,
                                int32_t nnbr, int32_t N) {
  return TOVRAN_EstimateAlphaInitThreads(nrows, ncols, npairs, rowid, colid, nnbr, N, 1);
}

double TOVRAN_EstimateAlphaInitThreads(int32_t nrows, int32_t ncols, int32_t npairs,
                                       const int32_t *rowid, const int32_t *colid,
                                       int32_t nnbr, int32_t N, int32_t nthreads) {
  int32_t hits[kAlphaSteps];
  int32_t ntried = 0;
  return EstimateAlphaStep(nrows, ncols, npairs, rowid, colid, nnbr, N, hits, &ntried,
                           nthreads) * 0.1;
}
