#pragma once

#include <cstdint>

#include "driver/dataset.h"
#include "driver/metrics.h"

// Number of recommendations asked per user.
constexpr int32_t kTopN = 10;

// The outcome of one run.
struct RunResult {
  int32_t hits = 0;          // users whose held-out item was recommended
  double build_seconds = 0;  // TOVRAN_BuildModel alone
  double query_seconds = 0;  // the "Computing" line and the query loop
  double rate = 0;           // users of the file per second of query time
  int32_t type = 0;          // the run's parameters
  int32_t nnbr = 0;
  float alpha = 0;
  RunMetrics metrics;        // users asked, hit ranks, catalogue coverage
};

// Seconds on a monotonic clock, in double precision (microseconds or finer).
double Seconds();

// Builds a model of the given kind from the training pairs, asks it for
// kTopN items for every user with a basket (that user's training items),
// counts hits against the held-out items, recording the metrics, prints the
// "Computing" line and the result line, and releases the model. Build and
// queries use nthreads threads; only the timings depend on it.
RunResult EvaluateModel(const Dataset &ds, int32_t type, int32_t nnbr, float alpha,
                        int32_t nthreads = 1);
