#pragma once

#include <cstdint>
#include <string>

#include "engine/tovran.h"

// The checks and the build shared by every build entry.

// Empty when the counts are non-negative and every pair lies inside the
// nrows x ncols matrix; else the fault in words, without a final newline.
std::string PairsFault(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                       const int32_t *colid);

// As PairsFault, first for the kind, nnbr, alpha (kind 2 only) and the
// neighbour count a model can index.
std::string BuildFault(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                       const int32_t *colid, int32_t type, int32_t nnbr, float alpha);

// As BuildFault for params, then its min_support and nthreads.
std::string ParamsFault(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                        const int32_t *colid, const TOVRAN_Params &params);

// Builds a model from a request BuildFault accepts (or kind 0), the item
// models taking as neighbours only items with min_support >= 1 pairs, every
// entry starting from weights[i] (null: 1.0), with the popularity ranking. Owns every array it
// allocates until it returns, so a throwing allocation leaves nothing behind.
Model *BuildAccepted(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                     const int32_t *colid, int32_t type, int32_t nnbr, float alpha,
                     int32_t nthreads, int32_t min_support, const float *weights);
