#pragma once

#include <cstdint>

#include "driver/dataset.h"
#include "driver/evaluate.h"
#include "engine/tovran.h"

// Number of runs in the report: item cosine, item conditional probability,
// user-based.
constexpr int32_t kRuns = 3;

// What the report says, for writers other than the console.
struct SequenceResult {
  int32_t alpha_step = 0;               // the estimated alpha is alpha_step * 0.1
  int32_t alpha_tried = 0;              // alphas tried: 0.0, 0.1, ...
  int32_t alpha_hits[TOVRAN_ALPHA_STEPS] = {}; // hits of each alpha tried
  RunResult runs[kRuns];
};

// Prints the statistics line and evaluates the three model kinds in turn
// (item cosine, item conditional probability with an estimated alpha,
// user-based), printing the complete report to standard output, on nthreads
// threads (the report is the same for every count). Returns what was
// reported.
SequenceResult RunAll(const Dataset &ds, int32_t nthreads = 1);
