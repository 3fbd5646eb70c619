#include "engine/estimate_alpha.h"

#include <algorithm>
#include <climits>
#include <numeric>
#include <string>
#include <vector>

#include "engine/batch_query.h"
#include "engine/build.h"
#include "engine/errors.h"
#include "engine/model.h"
#include "engine/resplit.h"
#include "util/checked_alloc.h"
#include "util/fatal_error.h"
#include "util/free_all.h"
#include "util/parallel.h"

namespace {
constexpr const char *kBadTopN = "N should be greater than 0.";
constexpr const char *kNullResplitArgument =
    "TOVRAN_ResplitPairs: the arrays for the split should not be null.";
constexpr const char *kNullWalkArgument =
    "TOVRAN_WalkAlpha: the hit counter and the answer should not be null.";
constexpr const char *kUncountedTrial =
    "TOVRAN_WalkAlpha: the hits of alpha %.1f were not counted.";
constexpr const char *kNullEstimateArgument =
    "TOVRAN_EstimateAlpha: the parameters and the answer should not be null.";
}  // namespace

namespace {

// The re-split the trials work on: a shuffled copy of the pairs, one pair of
// each row held out in *held_out_item, the rest in *mat by row.
void Resplit(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
             const int32_t *colid, MatrixHolder *mat, Owned<int32_t[]> *held_out_item) {
  Owned<int32_t[]> myrowid(AllocInts(npairs, "TOVRAN_EstimateAlpha: myrowid"));
  std::copy_n(rowid, npairs, myrowid.get());
  // The label repeats "myrowid" on purpose: out-of-memory messages read as they always have.
  Owned<int32_t[]> mycolid(AllocInts(npairs, "TOVRAN_EstimateAlpha: myrowid"));
  std::copy_n(colid, npairs, mycolid.get());
  SparseMatrix *split = nullptr;
  int32_t *test = nullptr;
  CreateTrainTestMatrix(nrows, ncols, npairs, myrowid.get(), mycolid.get(), &split, &test);
  mat->reset(split);
  held_out_item->reset(test);
  // The shuffled copies are spent; releasing them on return lowers the peak.
}

// The training pairs of the re-split, row by row.
void TrainingPairs(const SparseMatrix &mat, int32_t *trowid, int32_t *tcolid) {
  for (int32_t r = 0; r < mat.nrows; r++) {
    for (int32_t k = mat.rowptr[r]; k < mat.rowptr[r + 1]; k++) {
      trowid[k] = r;
      tcolid[k] = mat.rowind[k];
    }
  }
}

}  // namespace

int32_t EstimateAlphaStep(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                          const int32_t *colid, int32_t nnbr, int32_t N, int32_t *hits,
                          int32_t *ntried, int32_t nthreads, int32_t min_support) {
  // The shuffle below indexes by row, so the pairs are checked first, and
  // the models of every step with them.
  const std::string fault =
      BuildFault(nrows, ncols, npairs, rowid, colid, TOVRAN_ITEM_CPROB, nnbr, 0.0f);
  if (!fault.empty()) FatalError("%s\n", fault.c_str());
  if (N < 1) FatalError("%s\n", kBadTopN);
  // No answer holds more items than there are, and asking for fewer than N
  // but at least ncols gives the same answers.
  N = std::max(1, std::min(N, ncols));
  MatrixHolder mat;
  Owned<int32_t[]> held_out_item;
  Resplit(nrows, ncols, npairs, rowid, colid, &mat, &held_out_item);
  const int32_t *rowptr = mat->rowptr, *rowind = mat->rowind;
  const int32_t ntrain = rowptr[nrows];

  Owned<int32_t[]> trowid(AllocInts(ntrain, "TOVRAN_EstimateAlphaInit: trowid"));
  Owned<int32_t[]> tcolid(AllocInts(ntrain, "TOVRAN_EstimateAlphaInit: tcolid"));
  TrainingPairs(*mat, trowid.get(), tcolid.get());
  const int32_t threads = UsableThreads(nthreads, nrows);
  Owned<int32_t[]> rcmds(AllocInts(int64_t{N} * threads, "TOVRAN_EstimateAlphaInit: rcmds"));

  auto count_hits = [&](float alpha) {
    const ModelHolder model(BuildAccepted(nrows, ncols, ntrain, trowid.get(), tcolid.get(),
                                          TOVRAN_ITEM_CPROB, nnbr, alpha, threads, min_support,
                                          nullptr));
    std::vector<int32_t> nhits(size_t(threads), 0);
    ForEachBasket(model.get(), nrows, threads,
                  [&](int32_t thread, TOVRAN_Scratch *scratch, int64_t r) {
                    // Each row's basket is exactly its own re-split training items.
                    const int32_t count = rowptr[r + 1] - rowptr[r];
                    if (count == 0) return;
                    int32_t *mine = rcmds.get() + int64_t{N} * thread;
                    const int32_t n = AnswerBasket(model.get(), scratch, count, rowind + rowptr[r],
                                                   N, kPlainQuery, mine, nullptr);
                    if (std::find(mine, mine + n, held_out_item[size_t(r)]) != mine + n)
                      nhits[size_t(thread)]++;
                  });
    return std::accumulate(nhits.begin(), nhits.end(), 0);
  };
  return WalkAlpha(count_hits, hits, ntried);
}

namespace {

// Writes the estimate of step and, unless trace is NULL, the trace of steps
// with every alpha filled in.
void ReportEstimate(int32_t step, TOVRAN_AlphaTrace steps, double *alpha,
                    TOVRAN_AlphaTrace *trace) {
  for (int32_t j = 0; j < kAlphaSteps; j++) steps.alpha[j] = AlphaOfStep(j);
  *alpha = step * 0.1;
  if (trace != nullptr) *trace = steps;
}

}  // namespace

double TOVRAN_EstimateAlphaInit(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                                const int32_t *colid, int32_t nnbr, int32_t N) {
  return TOVRAN_EstimateAlphaInitThreads(nrows, ncols, npairs, rowid, colid, nnbr, N, 1);
}

double TOVRAN_EstimateAlphaInitThreads(int32_t nrows, int32_t ncols, int32_t npairs,
                                       const int32_t *rowid, const int32_t *colid, int32_t nnbr,
                                       int32_t N, int32_t nthreads) {
  int32_t hits[kAlphaSteps];
  int32_t ntried = 0;
  return EstimateAlphaStep(nrows, ncols, npairs, rowid, colid, nnbr, N, hits, &ntried, nthreads) *
         0.1;
}

int32_t TOVRAN_EstimateAlpha(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                             const int32_t *colid, const TOVRAN_Params *params, int32_t N,
                             double *alpha, TOVRAN_AlphaTrace *trace) {
  return ReportingErrors<int32_t>(-1, [&]() -> int32_t {
    if (params == nullptr || alpha == nullptr) {
      SetLastError("%s", kNullEstimateArgument);
      return -1;
    }
    // The kind and alpha of params play no part.
    TOVRAN_Params cprob = *params;
    cprob.kind = TOVRAN_ITEM_CPROB;
    cprob.alpha = 0.0f;
    std::string fault = ParamsFault(nrows, ncols, npairs, rowid, colid, cprob);
    if (fault.empty() && N < 1) fault = kBadTopN;
    if (!fault.empty()) {
      SetLastError("%s", fault.c_str());
      return -1;
    }
    TOVRAN_AlphaTrace steps;
    const int32_t step =
        EstimateAlphaStep(nrows, ncols, npairs, rowid, colid, cprob.nnbr, N, steps.hits,
                          &steps.ntried, cprob.nthreads, cprob.min_support);
    ReportEstimate(step, steps, alpha, trace);
    return 0;
  });
}

int32_t TOVRAN_WalkAlpha(TOVRAN_CountHits count_hits, void *context, double *alpha,
                         TOVRAN_AlphaTrace *trace) {
  if (count_hits == nullptr || alpha == nullptr) {
    SetLastError("%s", kNullWalkArgument);
    return -1;
  }
  TOVRAN_AlphaTrace steps;
  float uncounted = -1.0f;
  // A count that fails ends the walk: a count below every other is a fall.
  const int32_t step = WalkAlpha(
      [&](float a) {
        if (uncounted >= 0.0f) return INT32_MIN;
        const int32_t hits = count_hits(a, context);
        if (hits < 0) uncounted = a;
        return hits < 0 ? INT32_MIN : hits;
      },
      steps.hits, &steps.ntried);
  if (uncounted >= 0.0f) {
    SetLastError(kUncountedTrial, double(uncounted));
    return -1;
  }
  ReportEstimate(step, steps, alpha, trace);
  return 0;
}

int32_t TOVRAN_ResplitPairs(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                            const int32_t *colid, int32_t *train_rowid, int32_t *train_colid,
                            int32_t *test) {
  return ReportingErrors<int32_t>(-1, [&]() -> int32_t {
    const std::string fault = PairsFault(nrows, ncols, npairs, rowid, colid);
    if (!fault.empty()) {
      SetLastError("%s", fault.c_str());
      return -1;
    }
    if ((npairs > 0 && (train_rowid == nullptr || train_colid == nullptr)) ||
        (nrows > 0 && test == nullptr)) {
      SetLastError("%s", kNullResplitArgument);
      return -1;
    }
    MatrixHolder mat;
    Owned<int32_t[]> held_out_item;
    Resplit(nrows, ncols, npairs, rowid, colid, &mat, &held_out_item);
    TrainingPairs(*mat, train_rowid, train_colid);
    std::copy_n(held_out_item.get(), nrows, test);
    return mat->rowptr[nrows];
  });
}
