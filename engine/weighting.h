#pragma once

#include <cstdint>
#include <string>

#include "engine/tovran.h"

// The weightings of TOVRAN_Params (tovran.h gives each formula).

// Empty when params' weighting and its constants are known and valid; else
// what is wrong.
std::string WeightingFault(const TOVRAN_Params &params);

// Empty when every value of pairs 0..npairs-1 suits the weighting (finite
// and above zero unless binary, which reads none); else what is wrong.
std::string ValuesFault(int32_t weighting, int32_t npairs, const float *values);

// The entry of each pair under params' weighting, or null for binary (every
// entry 1.0). Pairs must be in range and values valid; a weight that is not
// a finite single of normal size is reported in *fault, with null returned.
float *WeighPairs(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                  const int32_t *colid, const float *values, const TOVRAN_Params &params,
                  std::string *fault);

// The weighting's name ("binary", "raw", "log", "bm25", "tfidf"), or null
// for an unknown code.
const char *WeightingName(int32_t weighting);
