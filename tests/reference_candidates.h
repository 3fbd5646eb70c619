#pragma once

#include <cstdint>

#include "engine/candidates.h"

// The selection and sort as first written, one scan step at a time; the
// engine's faster versions must leave every array exactly as these do.

// Same contract as SelectTopCandidates.
int32_t ReferenceSelectTop(int32_t n, int32_t k, CandidatePair *cands);
// Same contract as SortCandidates.
void ReferenceSort(int32_t n, CandidatePair *cands);
