#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "driver/evaluate.h"
#include "driver/intervals.h"
#include "driver/options.h"
#include "driver/run_plan.h"
#include "driver/split.h"
#include "engine/tovran.h"

// One estimation of Alpha, for the kind 2 runs with its parameters.
struct AlphaEstimation {
  int32_t top = 0, nnbr = 0, min_support = 0;
  int32_t step = 0;                       // the estimate is step * 0.1
  int32_t tried = 0;                      // alphas tried: 0.0, 0.1, ...
  int32_t hits[TOVRAN_ALPHA_STEPS] = {};  // hits of each alpha tried
  double seconds = 0;
};

// One tuning of Alpha (--alpha tune): the HR@N of each alpha of the grid on
// the validation part, and the alpha chosen.
constexpr int32_t kTuneSteps = 11;  // 0.0, 0.1, ..., 1.0
struct AlphaTuning {
  int32_t fold = 0, top = 0, nnbr = 0, min_support = 0;
  int32_t step = 0;              // the alpha chosen is step * 0.1
  int32_t validation_users = 0;  // users asked on the validation part
  double hit_rate[kTuneSteps] = {};
  double seconds = 0;
};

// What one split of the pairs gave: its counts and, in the order of the
// runs' per-user values, the users asked and their held-out items.
struct FoldRecord {
  int32_t nrows = 0, ncols = 0, ntrain = 0, ntest = 0;
  int32_t held_users = 0;  // users with a held-out pair
  LeftOut left_out;
  std::vector<int32_t> users;
  std::vector<int64_t> held;
  std::vector<int32_t> held_items;
};

// A run's 95% intervals and its comparison with the first run of its fold,
// metric by metric (Metric order).
struct RunIntervals {
  Interval metric[kMetrics];
  int32_t reference = -1;  // the run compared with, -1 for none (the first run itself)
  double difference[kMetrics] = {};
  Interval difference_interval[kMetrics];
  double p_value[kMetrics] = {};
};

// What the report says, for writers other than the console.
struct SequenceResult {
  std::vector<AlphaEstimation> estimations;
  std::vector<AlphaTuning> tunings;
  std::vector<RunResult> runs;  // every fold's runs, fold by fold
  std::vector<FoldRecord> folds;
  std::vector<RunIntervals> intervals;  // per run, once computed (Intervals)
  int32_t resamples = 0;
  double alpha_seconds = 0;  // all estimations together
};

// Runs the estimation of Alpha for a kind 2 run (the generator restarted
// first, so that every estimate equals a fresh process's), on nthreads
// threads, by steps.estimate when given; resume as in Progress::Start.
AlphaEstimation EstimateAlpha(const Dataset &ds, int32_t top, int32_t nnbr, int32_t min_support,
                              int32_t nthreads, Progress *progress = nullptr,
                              const char *resume = nullptr, const RunSteps &steps = {});

// Prints the statistics line and evaluates every run of the plan in turn on
// one split, each in the report's block form, on settings.out, adding to
// *result. Alpha is estimated once per (nnbr, top, min_support) of the kind 2
// runs that need it, or tuned on a validation part of the training pairs
// split as protocol says. The report is the same for every thread count.
void RunAll(const Dataset &ds, const RunPlan &plan, const EvalSettings &settings,
            const Protocol &protocol, int32_t fold, SequenceResult *result);
// As above with the default protocol; returns what was reported.
SequenceResult RunAll(const Dataset &ds, const RunPlan &plan, const EvalSettings &settings);

// Every run of the plan on every split protocol asks for (the folds of a
// k-fold split one after the other, each with its heading), from the file's
// pairs (and their times for a time split). Each split is made in a step
// of guard named "the dataset".
SequenceResult RunProtocol(DatasetPairs pairs, const std::vector<Timestamp> *times,
                           const RunPlan &plan, const Protocol &protocol,
                           const EvalSettings &settings, const StepGuard &guard);

// Fills result->intervals: every metric's 95% interval by the bootstrap over
// the users of its fold, and each run's paired difference with the first run
// of its fold.
void ComputeIntervals(const Protocol &protocol, int32_t nthreads, SequenceResult *result);

// The name of a run kind in the summary and the JSON document.
const char *KindName(int32_t kind);

// The table of every run: kind, parameters, hits and the metrics.
void PrintSummary(std::FILE *out, const SequenceResult &result);
// The intervals and comparisons, and with several folds the mean and
// spread of each run of the plan over the folds.
void PrintIntervals(std::FILE *out, const SequenceResult &result);

// The share (0..1) of users with 3 or more pairs whose items stand in
// strictly ascending or strictly descending file order, whichever is larger;
// 0 when fewer than 100 users have 3 pairs (too few to tell an order from
// chance: a random order of 3 items ascends one time in 6).
double OrderedShare(const DatasetPairs &pairs);
