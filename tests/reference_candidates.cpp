#include "tests/reference_candidates.h"

#include <utility>

namespace {

// Segments whose index span is at most this are left to the insertion pass.
constexpr int32_t kInsertionSpan = 20;

inline void Swap(CandidatePair *c, int32_t a, int32_t b) { std::swap(c[a], c[b]); }

}  // namespace

void ReferencePartition(CandidatePair *c, int32_t lo, int32_t hi, int32_t *pi, int32_t *pj) {
  int32_t mid = lo + (hi - lo) / 2;
  if (c[mid].value > c[lo].value) Swap(c, mid, lo);
  if (c[hi].value > c[mid].value) {
    Swap(c, hi, mid);
    if (c[mid].value > c[lo].value) Swap(c, mid, lo);
  }
  const float pivot = c[mid].value;
  int32_t i = lo + 1, j = hi - 1;
  for (;;) {
    while (c[i].value > pivot) i++;
    while (pivot > c[j].value) j--;
    if (i < j) {
      Swap(c, i, j);
      i++;
      j--;
      if (i <= j) continue;
    } else if (i == j) {
      i++;
      j--;
    }
    break;
  }
  *pi = i;
  *pj = j;
}

namespace {

// Partitions c[lo..hi] and then each side whose span exceeds kInsertionSpan.
// Sides never overlap, so the order in which they are taken changes nothing.
void QuickSortSpans(CandidatePair *c, int32_t lo, int32_t hi) {
  int32_t i, j;
  ReferencePartition(c, lo, hi, &i, &j);
  if (j - lo > kInsertionSpan) QuickSortSpans(c, lo, j);
  if (hi - i > kInsertionSpan) QuickSortSpans(c, i, hi);
}

}  // namespace

int32_t ReferenceSelectTop(int32_t n, int32_t k, CandidatePair *cands) {
  if (n <= k) return n;
  int32_t lo = 0, hi = n - 1;
  while (hi - lo > 2) {
    int32_t i, j;
    ReferencePartition(cands, lo, hi, &i, &j);
    if (i > k) {
      hi = i;
    } else if (i == k) {
      return k;
    } else {
      lo = i;
    }
  }
  if (hi - lo == 2 && !(cands[lo].value >= cands[lo + 1].value)) Swap(cands, lo, lo + 1);
  return k;
}

void ReferenceSort(int32_t n, CandidatePair *cands) {
  if (n <= 0) return;
  if (n > kInsertionSpan) QuickSortSpans(cands, 0, n - 1);
  // The first of the largest values among the first 21 entries goes to the
  // front, then a plain insertion sort.
  int32_t best = 0;
  for (int32_t t = 1; t < n && t <= kInsertionSpan; t++)
    if (cands[t].value > cands[best].value) best = t;
  Swap(cands, 0, best);
  for (int32_t c = 1; c < n; c++) {
    const CandidatePair taken = cands[c];
    int32_t p = c - 1;
    for (; p >= 0 && taken.value > cands[p].value; p--) cands[p + 1] = cands[p];
    cands[p + 1] = taken;
  }
}
