#pragma once

#include <bit>
#include <climits>
#include <cstdint>

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

// The mark of an item a gather leaves out (GatherStep).
constexpr int32_t LeftOutMark(bool in_marks) { return in_marks ? 0 : -2; }

// The sum a step adds to: the mark's own value, or -0.0 for a new item (a sum
// that starts from -0.0 is its first term, bit for bit); fresh is 1 when the
// mark is -1, else 0.
inline float MarkStart(int32_t mark, int32_t fresh) {
  // All bits kept for a known item, the sign bit alone (of -1's) for a new one.
  return std::bit_cast<float>(mark & ((fresh - 1) | INT32_MIN));
}
inline float MarkStart(int32_t mark) { return MarkStart(mark, mark == -1); }

// Gives the first k candidates of fcand, whose keys are set, the sums their
// marks hold, and puts those marks back to unmet.
inline void TakeSumsFromMarks(int32_t k, int32_t *marker, CandidatePair *fcand,
                              int32_t unmet = -1) {
  for (int32_t t = 0; t < k; t++) {
    const int32_t c = fcand[t].key;
    fcand[t].value = std::bit_cast<float>(marker[c]);
    marker[c] = unmet;
  }
}

// One step of a gather: item c receives add, summed in Sum's precision and
// rounded to single (double: each sum rounded once from double; float: a
// plain single-precision sum). InMarks, its sum is kept in its mark (the id
// is written at fcand[k] every step and kept for a new item); else its mark
// holds its slot in fcand (-1 for a new item, which takes slot k). Items
// marked LeftOutMark(InMarks) are left out.
template <bool InMarks, typename Sum = double>
inline void GatherStep(int32_t c, Sum add, int32_t *__restrict marker,
                       CandidatePair *__restrict fcand, int32_t &k) {
  const int32_t mark = marker[c];
  if constexpr (InMarks) {
    const int32_t fresh = mark == -1;
    marker[c] = std::bit_cast<int32_t>(float(add + Sum(MarkStart(mark, fresh))));
    fcand[k].key = c;
    k += fresh;
  } else if (mark == -1) {
    fcand[k] = CandidatePair{float(add), c};
    marker[c] = k++;
  } else if (mark >= 0) {
    fcand[mark].value = float(add + Sum(fcand[mark].value));
  }
}

// GatherStep in the marks when an item not met is marked -0.0 instead of -1
// (RestItemMarks): the step adds to the mark as it is, and a new item is one
// whose mark was -0.0. Left-out items are marked +0.0 as before.
template <typename Sum = double>
inline void GatherStepFromZero(int32_t c, Sum add, int32_t *__restrict marker,
                               CandidatePair *__restrict fcand, int32_t &k) {
  const int32_t mark = marker[c];
  marker[c] = std::bit_cast<int32_t>(float(add + Sum(std::bit_cast<float>(mark))));
  fcand[k].key = c;
  k += mark == INT32_MIN;
}

// Ends a gather of k candidates by GatherStep: their sums in fcand, their
// marks -1 again.
template <bool InMarks>
inline void EndGather(int32_t k, int32_t *marker, CandidatePair *fcand) {
  if constexpr (InMarks) {
    TakeSumsFromMarks(k, marker, fcand);
  } else {
    for (int32_t t = 0; t < k; t++) marker[fcand[t].key] = -1;
  }
}
