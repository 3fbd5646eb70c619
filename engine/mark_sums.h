#pragma once

#include <cstdint>
#include <type_traits>

#include "engine/candidates.h"
#include "engine/marks.h"

// How the queries' gathers sum their candidates in the marks (marks.h): the
// model's item marks rest in one form (RestMarks), and a query's gather is
// compiled for it. Arithmetic on finite values never gives the unmet mark of
// kSums, and a model holds finite values only: the builds give no others,
// and the model loader and the assembly from lists refuse them. The items a
// gather leaves out collect sums nobody reads.

// Gives the first k candidates of item_candidates, whose keys are set, the sums their
// marks hold, and puts those marks back to unmet.
inline void TakeSumsFromMarks(int32_t k, int32_t *item_marks, CandidatePair *item_candidates,
                              int32_t unmet) {
  for (int32_t t = 0; t < k; t++) {
    const int32_t c = item_candidates[t].key;
    item_candidates[t].value = SumInMark(item_marks[c]);
    item_marks[c] = unmet;
  }
}

// Calls run with how as a compile-time constant (std::integral_constant).
template <typename Run>
decltype(auto) WithGather(MarkForm how, Run run) {
  switch (how) {
    case MarkForm::kSumsFromZero:
      return run(std::integral_constant<MarkForm, MarkForm::kSumsFromZero>{});
    case MarkForm::kSums: return run(std::integral_constant<MarkForm, MarkForm::kSums>{});
    default: return run(std::integral_constant<MarkForm, MarkForm::kSlots>{});
  }
}

// One step of a gather: item c receives add, summed in Sum's precision and
// rounded to single (double: each sum rounded once from double; float: a
// plain single-precision sum). With sums in the marks, the id is written at
// item_candidates[k] every step and kept for a new item, and the step adds to the
// mark as it is (kSumsFromZero) or to MarkStart; with slots, a new item
// takes slot k. Items marked LeftOutMark(How) are left out.
template <MarkForm How, typename Sum = double>
inline void GatherStep(int32_t c, Sum add, int32_t *__restrict item_marks,
                       CandidatePair *__restrict item_candidates, int32_t &k) {
  const int32_t mark = item_marks[c];
  if constexpr (How == MarkForm::kSumsFromZero) {
    item_marks[c] = MarkOfSum(float(add + Sum(SumInMark(mark))));
    item_candidates[k].key = c;
    k += mark == UnmetMark(How);
  } else if constexpr (How == MarkForm::kSums) {
    const int32_t fresh = mark == UnmetMark(How);
    item_marks[c] = MarkOfSum(float(add + Sum(MarkStart(mark, fresh))));
    item_candidates[k].key = c;
    k += fresh;
  } else if (mark == UnmetMark(How)) {
    item_candidates[k] = CandidatePair{float(add), c};
    item_marks[c] = k++;
  } else if (mark >= 0) {
    item_candidates[mark].value = float(add + Sum(item_candidates[mark].value));
  }
}

// Ends a gather of k candidates by GatherStep: their sums in item_candidates, their
// marks at rest again.
template <MarkForm How>
inline void EndGather(int32_t k, int32_t *item_marks, CandidatePair *item_candidates) {
  if constexpr (How == MarkForm::kSlots) {
    for (int32_t t = 0; t < k; t++) item_marks[item_candidates[t].key] = UnmetMark(How);
  } else {
    TakeSumsFromMarks(k, item_marks, item_candidates, UnmetMark(How));
  }
}
