#pragma once

#include <cstdint>

#include "engine/candidates.h"

// The selection and the sort as their rules state them: the median-of-three
// scan one comparison at a time, the selection's narrowing and the sort's
// quick phase recursive, then one insertion pass behind the largest of the
// first 21 entries. The engine's block partition, explicit stack and one-pass
// ranking must leave every array exactly as these do.

// Same contract as SelectTopCandidates.
int32_t ReferenceSelectTop(int32_t n, int32_t k, CandidatePair *cands);
// Same contract as SortCandidates.
void ReferenceSort(int32_t n, CandidatePair *cands);
