// The ranking rules spelled out step by step on a plain vector: one
// comparison and one swap at a time, recursion where the rules defer work,
// no blocks and no masks. Written from the rules, not from the engine's code.
#include "tests/reference_candidates.h"

#include <algorithm>

namespace {

// A segment whose last and first index differ by at most this many places
// is left to the sort's final insertion pass.
constexpr int32_t kShortSpan = 20;

// The cut a partition leaves: entries before `right_start` are not below
// the pivot, entries after `left_end` are not above it.
struct Cut {
  int32_t right_start;  // i of the rules
  int32_t left_end;     // j of the rules
};

struct Entries {
  CandidatePair *at;
  float Value(int32_t index) const { return at[index].value; }
  void Exchange(int32_t a, int32_t b) {
    const CandidatePair kept = at[a];
    at[a] = at[b];
    at[b] = kept;
  }
};

// The partition step on entries first..last (last - first > 2): median of
// three, then the two scans meeting in the middle.
Cut PartitionStep(Entries entries, int32_t first, int32_t last) {
  const int32_t middle = first + (last - first) / 2;
  if (entries.Value(middle) > entries.Value(first)) entries.Exchange(middle, first);
  if (entries.Value(last) > entries.Value(middle)) {
    entries.Exchange(last, middle);
    if (entries.Value(middle) > entries.Value(first)) entries.Exchange(middle, first);
  }
  const float pivot = entries.Value(middle);
  Cut cut{first + 1, last - 1};
  bool again = true;
  while (again) {
    while (entries.Value(cut.right_start) > pivot) ++cut.right_start;
    while (pivot > entries.Value(cut.left_end)) --cut.left_end;
    again = false;
    if (cut.right_start < cut.left_end) {
      entries.Exchange(cut.right_start, cut.left_end);
      ++cut.right_start;
      --cut.left_end;
      again = cut.right_start <= cut.left_end;
    } else if (cut.right_start == cut.left_end) {
      ++cut.right_start;
      --cut.left_end;
    }
  }
  return cut;
}

// The selection's narrowing, one segment per call.
void Narrow(Entries entries, int32_t first, int32_t last, int32_t wanted) {
  if (last - first <= 2) {
    // The end-game compares the first two entries only.
    if (last - first == 2 && !(entries.Value(first) >= entries.Value(first + 1)))
      entries.Exchange(first, first + 1);
    return;
  }
  const Cut cut = PartitionStep(entries, first, last);
  if (cut.right_start == wanted) return;
  if (cut.right_start > wanted) {
    Narrow(entries, first, cut.right_start, wanted);
  } else {
    Narrow(entries, cut.right_start, last, wanted);
  }
}

// The sort's quick phase: each part longer than the short span is
// partitioned again. Parts never overlap, so the order in which they are
// taken does not change the array.
void SplitLongParts(Entries entries, int32_t first, int32_t last) {
  const Cut cut = PartitionStep(entries, first, last);
  if (cut.left_end - first > kShortSpan) SplitLongParts(entries, first, cut.left_end);
  if (last - cut.right_start > kShortSpan) SplitLongParts(entries, cut.right_start, last);
}

}  // namespace

int32_t ReferenceSelectTop(int32_t n, int32_t k, CandidatePair *cands) {
  if (n <= k) return n;
  Narrow(Entries{cands}, 0, n - 1, k);
  return k;
}

void ReferenceSort(int32_t n, CandidatePair *cands) {
  if (n == 0) return;
  Entries entries{cands};
  if (n > kShortSpan) SplitLongParts(entries, 0, n - 1);
  // The first of the largest values among entries 0..20 becomes entry 0.
  int32_t largest = 0;
  for (int32_t index = 1; index < n && index <= kShortSpan; ++index)
    if (entries.Value(index) > entries.Value(largest)) largest = index;
  if (largest != 0) entries.Exchange(0, largest);
  // Insertion from entry 2 on: each taken entry goes after the nearest entry
  // before it that it is not above.
  for (int32_t taken = 2; taken < n; ++taken) {
    int32_t stop = taken - 1;
    while (stop >= 0 && entries.Value(taken) > entries.Value(stop)) --stop;
    std::rotate(cands + stop + 1, cands + taken, cands + taken + 1);
  }
}

void ReferencePartition(CandidatePair *c, int32_t lo, int32_t hi, int32_t *pi, int32_t *pj) {
  const Cut cut = PartitionStep(Entries{c}, lo, hi);
  *pi = cut.right_start;
  *pj = cut.left_end;
}
