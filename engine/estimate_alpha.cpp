#include "engine/estimate_alpha.h"

#include <algorithm>

#include "engine/model.h"
#include "engine/resplit.h"
#include "util/checked_alloc.h"
#include "util/fatal_error.h"
#include "util/free_all.h"

int32_t EstimateAlphaStep(int32_t nrows, int32_t ncols, int32_t npairs,
                          const int32_t *rowid, const int32_t *colid,
                          int32_t nnbr, int32_t N, int32_t *hits,
                          int32_t *ntried) {
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
  int32_t *rcmds = AllocInts(N, "TOVRAN_EstimateAlphaInit: rcmds");

  auto count_hits = [&](float alpha) {
    Model *model = TOVRAN_BuildModel(nrows, ncols, ntrain, trowid, tcolid,
                                     TOVRAN_ITEM_CPROB, nnbr, alpha);
    int32_t nhits = 0;
    for (int32_t r = 0; r < nrows; r++) {
      // Each row's basket is exactly its own re-split training items.
      const int32_t count = rowptr[r + 1] - rowptr[r];
      if (count == 0) continue;
      const int32_t n = TOVRAN_Recommend(model, count, rowind + rowptr[r], N, rcmds);
      if (std::find(rcmds, rcmds + std::max(n, 0), tvec[r]) != rcmds + std::max(n, 0))
        nhits++;
    }
    TOVRAN_FreeModel(model);
    return nhits;
  };
  const int32_t step = WalkAlpha(count_hits, hits, ntried);

  FreeAll(&myrowid, &mycolid, &tvec, &trowid, &tcolid, &rcmds, &mat->rowptr,
          &mat->rowind, &mat);
  return step;
}

double TOVRAN_EstimateAlphaInit(int32_t nrows, int32_t ncols, int32_t npairs,
                                const int32_t *rowid, const int32_t *colid,
                                int32_t nnbr, int32_t N) {
  int32_t hits[kAlphaSteps];
  int32_t ntried = 0;
  return EstimateAlphaStep(nrows, ncols, npairs, rowid, colid, nnbr, N, hits, &ntried) * 0.1;
}
