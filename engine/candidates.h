#pragma once

#include <cstdint>

// One entry of a ranked list: a single-precision score and an item or user id.
// Keys never take part in a comparison.
struct CandidatePair {
  float value;
  int32_t key;
};

// n CandidatePairs (8n bytes, not cleared) from the checked allocation.
CandidatePair *AllocCands(int64_t n, const char *label);

// Partial quickselect: gathers k entries at the front of cands (the k best
// once n exceeds k by three or more) and returns min(n, k); leaves the array
// untouched when n <= k. Which of equal scores are taken follows from the
// exact comparisons and swaps, so lists are reproducible to the tie.
int32_t SelectTopCandidates(int32_t n, int32_t k, CandidatePair *cands);

// Orders cands[0..n-1] by non-increasing value: quicksort down to segments of
// at most 21 entries, then one insertion pass behind a sentinel. Not stable;
// the tie order is part of the contract.
void SortCandidates(int32_t n, CandidatePair *cands);

// SelectTopCandidates followed by SortCandidates of the entries kept: the
// first min(n, k) entries of cands become the ranked list, bit for bit the
// same; the rest of cands is spent. When the k best values are distinct and
// above every other one, the two can only end one way, and that list is
// found in one pass over cands instead.
int32_t RankTopCandidates(int32_t n, int32_t k, CandidatePair *cands);
