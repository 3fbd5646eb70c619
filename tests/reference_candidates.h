#pragma once

#include <cstdint>

#include "engine/candidates.h"

// The selection and the sort as their rules state them: the median-of-three
// scan one comparison at a time, the selection's narrowing and the sort's
// quick phase recursive, then one insertion pass behind the largest of the
// first 21 entries. The engine's block partition, explicit stack and one-pass
// ranking must leave every array exactly as these do.

// Median-of-three Hoare partition of c[lo..hi] (hi - lo > 2). Afterwards
// c[lo..i-1] >= pivot >= c[j+1..hi], and i is j+1 or j+2. Entries lo and hi
// bound both scans, so no index test is needed inside them.
void ReferencePartition(CandidatePair *c, int32_t lo, int32_t hi, int32_t *pi, int32_t *pj);
// Same contract as SelectTopCandidates.
int32_t ReferenceSelectTop(int32_t n, int32_t k, CandidatePair *cands);
// Same contract as SortCandidates.
void ReferenceSort(int32_t n, CandidatePair *cands);
