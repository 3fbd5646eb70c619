#pragma once

#include <bit>
#include <climits>
#include <cstdint>
#include <type_traits>

#include "engine/candidates.h"

// The queries' gathers keep each candidate's running sum in its mark (the
// user-based query keeps its users' sums likewise, model.h): -1 is an item
// not met yet, any other mark the bits of a single-precision sum
// (arithmetic on finite values never gives that NaN pattern, and a model
// holds finite values only: the builds give no others, and the model loader
// and the assembly from lists refuse them). The items a gather leaves out
// are marked +0.0: known items to it, never listed, whose marks collect
// sums nobody reads. Every step is then the same instructions, with no
// branch, but a mark is read, added to and written back, so a repeated item
// waits for its last write. That pays while the marks stay close to the
// core; beyond this many items (marks of 128 KB) the gathers keep slots in
// the marks and branch instead, and mark the left-out items -2 (measured
// both ways on data shapes of 1,000 to 40,000 items).
constexpr int32_t kMaxItemsSummedInMarks = 32768;

// The sum a step adds to: the mark's own value, or -0.0 for a new item (a sum
// that starts from -0.0 is its first term, bit for bit); fresh is 1 when the
// mark is -1, else 0.
inline float MarkStart(int32_t mark, int32_t fresh) {
  // All bits kept for a known item, the sign bit alone (of -1's) for a new one.
  return std::bit_cast<float>(mark & ((fresh - 1) | INT32_MIN));
}
inline float MarkStart(int32_t mark) { return MarkStart(mark, mark == -1); }

// Gives the first k candidates of item_candidates, whose keys are set, the sums their
// marks hold, and puts those marks back to unmet.
inline void TakeSumsFromMarks(int32_t k, int32_t *item_marks, CandidatePair *item_candidates,
                              int32_t unmet = -1) {
  for (int32_t t = 0; t < k; t++) {
    const int32_t c = item_candidates[t].key;
    item_candidates[t].value = std::bit_cast<float>(item_marks[c]);
    item_marks[c] = unmet;
  }
}

// How a query's gather keeps its candidates: slots in the marks (items not
// met at -1, left-out ones at -2), sums in the marks (not met at -1, left
// out at +0.0), or sums in marks that rest at -0.0 (RestMarks; left out
// at +0.0).
enum class Gather { kSlots, kSums, kSumsFromZero };

// The way a query of a model whose marks rest at unmet gathers over items.
inline Gather GatherFor(int32_t unmet, int32_t items) {
  return unmet == INT32_MIN                ? Gather::kSumsFromZero
         : items <= kMaxItemsSummedInMarks ? Gather::kSums
                                           : Gather::kSlots;
}

// The mark of an item a gather leaves out.
constexpr int32_t LeftOutMark(Gather how) { return how == Gather::kSlots ? -2 : 0; }

// Calls run with how as a compile-time constant (std::integral_constant).
template <typename Run>
decltype(auto) WithGather(Gather how, Run run) {
  switch (how) {
    case Gather::kSumsFromZero: return run(std::integral_constant<Gather, Gather::kSumsFromZero>{});
    case Gather::kSums: return run(std::integral_constant<Gather, Gather::kSums>{});
    default: return run(std::integral_constant<Gather, Gather::kSlots>{});
  }
}

// One step of a gather: item c receives add, summed in Sum's precision and
// rounded to single (double: each sum rounded once from double; float: a
// plain single-precision sum). With sums in the marks, the id is written at
// item_candidates[k] every step and kept for a new item, and the step adds to the
// mark as it is (kSumsFromZero) or to MarkStart; with slots, a new item
// takes slot k. Items marked LeftOutMark(How) are left out.
template <Gather How, typename Sum = double>
inline void GatherStep(int32_t c, Sum add, int32_t *__restrict item_marks,
                       CandidatePair *__restrict item_candidates, int32_t &k) {
  const int32_t mark = item_marks[c];
  if constexpr (How == Gather::kSumsFromZero) {
    item_marks[c] = std::bit_cast<int32_t>(float(add + Sum(std::bit_cast<float>(mark))));
    item_candidates[k].key = c;
    k += mark == INT32_MIN;
  } else if constexpr (How == Gather::kSums) {
    const int32_t fresh = mark == -1;
    item_marks[c] = std::bit_cast<int32_t>(float(add + Sum(MarkStart(mark, fresh))));
    item_candidates[k].key = c;
    k += fresh;
  } else if (mark == -1) {
    item_candidates[k] = CandidatePair{float(add), c};
    item_marks[c] = k++;
  } else if (mark >= 0) {
    item_candidates[mark].value = float(add + Sum(item_candidates[mark].value));
  }
}

// Ends a gather of k candidates by GatherStep: their sums in item_candidates, their
// marks at rest again.
template <Gather How>
inline void EndGather(int32_t k, int32_t *item_marks, CandidatePair *item_candidates) {
  if constexpr (How == Gather::kSlots) {
    for (int32_t t = 0; t < k; t++) item_marks[item_candidates[t].key] = -1;
  } else {
    TakeSumsFromMarks(k, item_marks, item_candidates,
                      How == Gather::kSumsFromZero ? INT32_MIN : -1);
  }
}
