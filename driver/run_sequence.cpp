#include "driver/run_sequence.h"

#include <cstdio>

#include "engine/tovran.h"

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
  result.alpha_step =
      EstimateAlphaStep(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(),
                        kItemNeighbours, kTopN, result.alpha_hits, &result.alpha_tried,
                        nthreads);
  const double estimate = result.alpha_step * 0.1;
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
