#include "driver/run_sequence.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/tovran.h"
#include "util/fatal_error.h"

namespace {

constexpr int32_t kItemNeighbours = 20;
constexpr int32_t kUserNeighbours = 50;

void PrintSeparator() {
  std::printf("-----------------------------------------------------------------------------\n");
}

void PrintBuilding(int32_t nnbr) { std::printf("  Bulding model [NNbr=%d]...\n", nnbr); }

}  // namespace

SequenceResult RunAll(const Dataset &ds, int32_t nthreads) {
  SequenceResult result;
  std::printf("Dataset Statistics: Nusers: %d, Nitems: %d, Ntrans; %d\n", ds.nrows, ds.ncols,
              ds.ntrain);
  PrintSeparator();

  std::printf("Testing RType=1...\n");
  PrintBuilding(kItemNeighbours);
  result.runs[0] = EvaluateModel(ds, TOVRAN_ITEM_COSINE, kItemNeighbours, 0.0f, nthreads);
  PrintSeparator();

  std::printf("Testing RType=2...\n");
  std::printf("  Estimating Alpha...");
  std::fflush(stdout);
  // The value TOVRAN_EstimateAlphaInit returns, with the hits behind it.
  TOVRAN_Params params = TOVRAN_DefaultParams(TOVRAN_ITEM_CPROB);
  params.nnbr = kItemNeighbours;
  params.nthreads = nthreads;
  double estimate = 0.0;
  TOVRAN_AlphaTrace trace;
  if (TOVRAN_EstimateAlpha(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(),
                           &params, kTopN, &estimate, &trace) != 0)
    FatalError("%s", TOVRAN_LastError());
  result.alpha_step = int32_t(std::lround(estimate * 10));
  result.alpha_tried = trace.ntried;
  std::copy_n(trace.hits, trace.ntried, result.alpha_hits);
  const float alpha = float(estimate);
  std::printf("  Alpha=%.2f\n", estimate);
  PrintBuilding(kItemNeighbours);
  result.runs[1] = EvaluateModel(ds, TOVRAN_ITEM_CPROB, kItemNeighbours, alpha, nthreads);
  PrintSeparator();

  std::printf("Testing RType=3...\n");
  PrintBuilding(kUserNeighbours);
  result.runs[2] = EvaluateModel(ds, TOVRAN_USER_BASED, kUserNeighbours, 0.0f, nthreads);
  return result;
}
