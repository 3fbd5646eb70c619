#include "driver/run_sequence.h"

#include <cstdio>

#include "driver/evaluate.h"
#include "engine/tovran.h"

namespace {

constexpr int32_t kItemNeighbours = 20;
constexpr int32_t kUserNeighbours = 50;

void PrintSeparator() {
  std::printf("-----------------------------------------------------------------------------\n");
}

void PrintBuilding(int32_t nnbr) { std::printf("  Bulding model [NNbr=%d]...\n", nnbr); }

}  // namespace

void RunAll(const Dataset &ds, int32_t nthreads) {
  std::printf("Dataset Statistics: Nusers: %d, Nitems: %d, Ntrans; %d\n", ds.nrows, ds.ncols,
              ds.ntrain);
  PrintSeparator();

  std::printf("Testing RType=1...\n");
  PrintBuilding(kItemNeighbours);
  EvaluateModel(ds, TOVRAN_ITEM_COSINE, kItemNeighbours, 0.0f, nthreads);
  PrintSeparator();

  std::printf("Testing RType=2...\n");
  std::printf("  Estimating Alpha...");
  std::fflush(stdout);
  const double estimate =
      TOVRAN_EstimateAlphaInitThreads(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(),
                                      ds.colid.get(), kItemNeighbours, kTopN, nthreads);
  const float alpha = float(estimate);
  std::printf("  Alpha=%.2f\n", estimate);
  PrintBuilding(kItemNeighbours);
  EvaluateModel(ds, TOVRAN_ITEM_CPROB, kItemNeighbours, alpha, nthreads);
  PrintSeparator();

  std::printf("Testing RType=3...\n");
  PrintBuilding(kUserNeighbours);
  EvaluateModel(ds, TOVRAN_USER_BASED, kUserNeighbours, 0.0f, nthreads);
}
