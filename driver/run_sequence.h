#pragma once

#include "driver/dataset.h"

// Prints the statistics line and evaluates the three model kinds in turn
// (item cosine, item conditional probability with an estimated alpha,
// user-based), printing the complete report to standard output. Builds,
// the estimation and query loops use nthreads threads; the report's lines
// other than timings are the same for every nthreads.
void RunAll(const Dataset &ds, int32_t nthreads = 1);
