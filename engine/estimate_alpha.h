#pragma once

#include <cstdint>

#include "engine/model.h"
#include "engine/tovran.h"

// Number of alpha values the estimation can try: 0.0, 0.1, ..., 0.9.
constexpr int32_t kAlphaSteps = TOVRAN_ALPHA_STEPS;

// The alpha of step j, as the model receives it.
inline float AlphaOfStep(int32_t j) { return float(j * 0.1); }

// Walks alpha = j * 0.1 (rounded to single precision) for j = 0, 1, ...,
// calling count_hits(alpha) for each and storing the count in hits[j], and
// stops at the first strict fall. Returns the step before the fall, or
// kAlphaSteps when the counts never fall; *ntried receives the number of
// alphas tried. The estimate is the returned step times 0.1.
template <class CountHits>
int32_t WalkAlpha(CountHits count_hits, int32_t *hits, int32_t *ntried) {
  for (int32_t j = 0; j < kAlphaSteps; j++) {
    hits[j] = count_hits(AlphaOfStep(j));
    if (j > 0 && hits[j] < hits[j - 1]) {
      *ntried = j + 1;
      return j - 1;
    }
  }
  *ntried = kAlphaSteps;
  return kAlphaSteps;
}

// The estimation behind TOVRAN_EstimateAlphaInit, which also reports the
// hit count of every alpha tried in hits[0..*ntried-1] (room for
// kAlphaSteps). Returns the step j of the estimate j * 0.1. Builds and
// queries on nthreads threads; the counts do not depend on nthreads. Ends
// the process on invalid pairs or N < 1; an allocation that throws leaves
// nothing behind. The models take as neighbours only items with
// min_support >= 1 training pairs.
int32_t EstimateAlphaStep(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                          const int32_t *colid, int32_t nnbr, int32_t N, int32_t *hits,
                          int32_t *ntried, int32_t nthreads = 1,
                          int32_t min_support = kMinItemFrequency);
