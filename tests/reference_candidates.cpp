#include "tests/reference_candidates.h"

#include <utility>

namespace {

// Segments whose index span is at most this are left to the insertion pass.
constexpr int32_t kInsertionSpan = 20;
// Deferred segments of the sort; the larger part is always the one deferred,
// so the depth stays below log2(n).
constexpr int kSortStack = 126;

inline void Swap(CandidatePair *c, int32_t a, int32_t b) { std::swap(c[a], c[b]); }

// Median-of-three Hoare partition of c[lo..hi] (hi - lo > 2). Afterwards
// c[lo..i-1] >= pivot >= c[j+1..hi], and i is j+1 or j+2. Entries lo and hi
// bound both scans, so no index test is needed inside them.
inline void Partition(CandidatePair *c, int32_t lo, int32_t hi, int32_t *pi,
                      int32_t *pj) {
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

}  // namespace

int32_t ReferenceSelectTop(int32_t n, int32_t k, CandidatePair *cands) {
  if (n <= k) return n;
  int32_t lo = 0, hi = n - 1;
  while (hi - lo > 2) {
    int32_t i, j;
    Partition(cands, lo, hi, &i, &j);
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
  if (n > kInsertionSpan) {
    int32_t stack[kSortStack][2];
    int sp = 0;
    int32_t lo = 0, hi = n - 1;
    for (;;) {
      int32_t i, j;
      Partition(cands, lo, hi, &i, &j);
      int32_t left = j - lo, right = hi - i;
      if (left <= kInsertionSpan && right <= kInsertionSpan) {
        if (sp == 0) break;
        sp--;
        lo = stack[sp][0];
        hi = stack[sp][1];
      } else if (left <= kInsertionSpan) {
        lo = i;
      } else if (right <= kInsertionSpan) {
        hi = j;
      } else if (left > right) {
        stack[sp][0] = lo;
        stack[sp][1] = j;
        sp++;
        lo = i;
      } else {
        stack[sp][0] = i;
        stack[sp][1] = hi;
        sp++;
        hi = j;
      }
    }
  }

  // The largest value now lies within the first 21 entries; move the first
  // such entry to the front so that it stops every insertion scan.
  int32_t last = n - 1 < kInsertionSpan ? n - 1 : kInsertionSpan;
  int32_t best = 0;
  for (int32_t t = 1; t <= last; t++)
    if (cands[t].value > cands[best].value) best = t;
  if (best != 0) Swap(cands, 0, best);

  for (int32_t c = 2; c < n; c++) {
    CandidatePair taken = cands[c];
    int32_t p = c - 1;
    // p >= 0 only matters for NaN scores, where the sentinel proves nothing.
    while (p >= 0 && taken.value > cands[p].value) {
      cands[p + 1] = cands[p];
      p--;
    }
    cands[p + 1] = taken;
  }
}
