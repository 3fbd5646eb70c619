#include "engine/candidates.h"

#include <cstring>
#include <utility>

#include "engine/block_partition.h"
#include "engine/stop_scan.h"
#include "util/checked_alloc.h"

CandidatePair *AllocCands(int64_t n, const char *label) {
  return static_cast<CandidatePair *>(CheckedMalloc(8 * n, label));
}

namespace {

// Segments whose index span is at most this are left to the insertion pass.
constexpr int32_t kInsertionSpan = 20;
// Deferred segments of the sort; the larger part is always the one deferred,
// so the depth stays below log2(n).
constexpr int kSortStack = 126;

inline void Swap(CandidatePair *c, int32_t a, int32_t b) { std::swap(c[a], c[b]); }

// Orders c[lo], c[mid], c[hi] so that lo >= mid >= hi and returns the pivot.
inline float MedianOfThree(CandidatePair *c, int32_t lo, int32_t mid, int32_t hi) {
  if (c[mid].value > c[lo].value) Swap(c, mid, lo);
  if (c[hi].value > c[mid].value) {
    Swap(c, hi, mid);
    if (c[mid].value > c[lo].value) Swap(c, mid, lo);
  }
  return c[mid].value;
}

// Segments at least this long are partitioned block by block.
constexpr int32_t kBlockSpan = 16;

using Floats4 = float __attribute__((vector_size(16)));
using Ints4 = int32_t __attribute__((vector_size(16)));

// Stop bits of the 16 pairs from c[at] on: the values of four pairs are
// gathered into one vector and compared in one step. A value stops the upward
// scan when it is not above pivot (bit t for c[at+t]), the downward one when
// pivot is not above it (bit t for c[at+15-t]).
inline uint64_t SixteenStops(const CandidatePair *c, int32_t at, float pivot, bool up) {
  const Floats4 p = {pivot, pivot, pivot, pivot};
  Ints4 bits = {0, 0, 0, 0};
  for (int32_t q = 0; q < 4; q++) {
    Floats4 a, b;
    std::memcpy(&a, c + at + 4 * q, sizeof a);
    std::memcpy(&b, c + at + 4 * q + 2, sizeof b);
    const Floats4 v = __builtin_shufflevector(a, b, 0, 2, 4, 6);
    const Ints4 stop = up ? ~(v > p) : ~(p > v);
    const Ints4 weight = up ? Ints4{1, 2, 4, 8} << (4 * q) : Ints4{8, 4, 2, 1} << (12 - 4 * q);
    bits |= stop & weight;
  }
  return uint64_t(bits[0] | bits[1] | bits[2] | bits[3]);
}

// As SixteenStops for the four pairs from c[at] on (bits 0 to 3).
inline uint64_t FourStops(const CandidatePair *c, int32_t at, float pivot, bool up) {
  const Floats4 p = {pivot, pivot, pivot, pivot};
  Floats4 a, b;
  std::memcpy(&a, c + at, sizeof a);
  std::memcpy(&b, c + at + 2, sizeof b);
  const Floats4 v = __builtin_shufflevector(a, b, 0, 2, 4, 6);
  const Ints4 bits = (up ? ~(v > p) : ~(p > v)) & (up ? Ints4{1, 2, 4, 8} : Ints4{8, 4, 2, 1});
  return uint64_t(bits[0] | bits[1] | bits[2] | bits[3]);
}

// Stops four values at a time, on any x86-64 (block_partition.h).
struct SseStops {
  static uint64_t Up(const CandidatePair *c, int32_t base, int32_t count, float pivot) {
    uint64_t mask = 0;
    int32_t g = 0;
    for (; g + 16 <= count; g += 16) mask |= SixteenStops(c, base + g, pivot, true) << g;
    for (; g + 4 <= count; g += 4) mask |= FourStops(c, base + g, pivot, true) << g;
    return mask | UpStopsOneByOne<SseStops>(c, base, g, count, pivot);
  }
  static uint64_t Down(const CandidatePair *c, int32_t base, int32_t count, float pivot) {
    uint64_t mask = 0;
    int32_t g = 0;
    for (; g + 16 <= count; g += 16) mask |= SixteenStops(c, base - g - 15, pivot, false) << g;
    for (; g + 4 <= count; g += 4) mask |= FourStops(c, base - g - 3, pivot, false) << g;
    return mask | DownStopsOneByOne<SseStops>(c, base, g, count, pivot);
  }
};

void BlockPartitionSse(CandidatePair *c, int32_t lo, int32_t hi, float pivot, int32_t *pi,
                       int32_t *pj) {
  BlockPartitionWith<SseStops>(c, lo, hi, pivot, pi, pj);
}

BlockPartitionFn BlockPartitionFor(StopScan scan) {
  switch (scan) {
    case StopScan::kAvx512: return BlockPartitionAvx512;
    case StopScan::kAvx2: return BlockPartitionAvx2;
    default: return BlockPartitionSse;
  }
}

// The widest scan this processor runs, decided once.
BlockPartitionFn WidestBlockPartition() {
  static const BlockPartitionFn widest = StopScanRuns(StopScan::kAvx512) ? BlockPartitionAvx512
                                         : StopScanRuns(StopScan::kAvx2) ? BlockPartitionAvx2
                                                                         : BlockPartitionSse;
  return widest;
}

// Median-of-three Hoare partition of c[lo..hi] (hi - lo > 2). Afterwards
// c[lo..i-1] >= pivot >= c[j+1..hi], and i is j+1 or j+2. Entries lo and hi
// bound both scans, so no index test is needed inside them.
inline void Partition(BlockPartitionFn block, CandidatePair *c, int32_t lo, int32_t hi, int32_t *pi,
                      int32_t *pj) {
  const float pivot = MedianOfThree(c, lo, lo + (hi - lo) / 2, hi);
  if (hi - lo >= kBlockSpan) {
    block(c, lo, hi, pivot, pi, pj);
    return;
  }
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

bool StopScanRuns(StopScan scan) {
  switch (scan) {
    case StopScan::kAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("bmi");
    case StopScan::kAvx2: return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi");
    default: return true;
  }
}

namespace {

int32_t SelectWith(BlockPartitionFn block, int32_t n, int32_t k, CandidatePair *cands) {
  if (n <= k) return n;
  int32_t lo = 0, hi = n - 1;
  while (hi - lo > 2) {
    int32_t i, j;
    Partition(block, cands, lo, hi, &i, &j);
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

// Lists ranked in one pass hold at most this many entries.
constexpr int32_t kMaxDirectRank = 64;

// Writes the k best entries of cands[0..n-1] to its front in non-increasing
// order and returns true when their values are distinct and every other
// value lies below them, so that no tie can decide anything; returns false,
// with cands untouched, otherwise (NaN values included).
bool RankDistinctTop(int32_t n, int32_t k, CandidatePair *cands) {
  CandidatePair best[kMaxDirectRank];
  int32_t filled = 0;
  // The running k best, kept in order; an entry enters when it is above the
  // last of them (equal ones are caught by the checks below).
  for (int32_t t = 0; t < n; t++) {
    const CandidatePair next = cands[t];
    if (filled == k && !(next.value > best[k - 1].value)) continue;
    int32_t p = filled < k ? filled++ : k - 1;
    for (; p > 0 && next.value > best[p - 1].value; p--) best[p] = best[p - 1];
    best[p] = next;
  }
  for (int32_t t = 1; t < k; t++)
    if (!(best[t - 1].value > best[t].value)) return false;
  const float floor = best[k - 1].value;
  int32_t reach = 0;  // entries not below the k-th value; NaN counts too
  for (int32_t t = 0; t < n; t++) reach += !(cands[t].value < floor);
  if (reach != k) return false;
  for (int32_t t = 0; t < k; t++) cands[t] = best[t];
  return true;
}

}  // namespace

int32_t RankTopCandidates(int32_t n, int32_t k, CandidatePair *cands) {
  // With n >= k + 3 the selection gathers exactly the k best (SelectTopCandidates).
  if (k >= 1 && k <= kMaxDirectRank && n >= k + 3 && RankDistinctTop(n, k, cands)) return k;
  const int32_t m = SelectTopCandidates(n, k, cands);
  SortCandidates(m, cands);
  return m;
}

namespace {

void SortWith(BlockPartitionFn block, int32_t n, CandidatePair *cands) {
  if (n <= 0) return;
  if (n > kInsertionSpan) {
    int32_t stack[kSortStack][2];
    int sp = 0;
    int32_t lo = 0, hi = n - 1;
    for (;;) {
      int32_t i, j;
      Partition(block, cands, lo, hi, &i, &j);
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

}  // namespace

int32_t SelectTopCandidates(int32_t n, int32_t k, CandidatePair *cands) {
  return SelectWith(WidestBlockPartition(), n, k, cands);
}

void SortCandidates(int32_t n, CandidatePair *cands) { SortWith(WidestBlockPartition(), n, cands); }

int32_t SelectTopCandidatesWith(StopScan scan, int32_t n, int32_t k, CandidatePair *cands) {
  return SelectWith(BlockPartitionFor(scan), n, k, cands);
}

void SortCandidatesWith(StopScan scan, int32_t n, CandidatePair *cands) {
  SortWith(BlockPartitionFor(scan), n, cands);
}
