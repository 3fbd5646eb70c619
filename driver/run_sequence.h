#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "driver/dataset.h"
#include "driver/evaluate.h"
#include "driver/run_plan.h"
#include "engine/tovran.h"

// One estimation of Alpha, for the kind 2 runs with its parameters.
struct AlphaEstimation {
  int32_t top = 0, nnbr = 0, min_support = 0;
  int32_t step = 0;                       // the estimate is step * 0.1
  int32_t tried = 0;                      // alphas tried: 0.0, 0.1, ...
  int32_t hits[TOVRAN_ALPHA_STEPS] = {};  // hits of each alpha tried
  double seconds = 0;
};

// What the report says, for writers other than the console.
struct SequenceResult {
  std::vector<AlphaEstimation> estimations;
  std::vector<RunResult> runs;
  double alpha_seconds = 0;  // all estimations together
};

// Runs the estimation of Alpha for a kind 2 run (the generator restarted
// first, so that every estimate equals a fresh process's), on nthreads
// threads, by steps.estimate when given; resume as in Progress::Start.
AlphaEstimation EstimateAlpha(const Dataset &ds, int32_t top, int32_t nnbr, int32_t min_support,
                              int32_t nthreads, Progress *progress = nullptr,
                              const char *resume = nullptr, const RunSteps &steps = {});

// Prints the statistics line and evaluates every run of the plan in turn,
// each in the report's block form, on settings.out. Alpha is estimated once
// per (nnbr, top, min_support) of the kind 2 runs that need it. The report is
// the same for every thread count. Returns what was reported.
SequenceResult RunAll(const Dataset &ds, const RunPlan &plan, const EvalSettings &settings);

// The name of a run kind in the summary and the JSON document.
const char *KindName(int32_t kind);

// The table of every run: kind, parameters, hits and the metrics.
void PrintSummary(std::FILE *out, const SequenceResult &result);
