#include <cmath>
#include <cstdint>

#include "engine/answer.h"
#include "engine/mark_sums.h"
#include "engine/model_kinds.h"

namespace {
// A user this similar to the basket holds (almost) exactly its items and
// would only recommend what the basket already has.
constexpr double kNearIdentical = 0.999;

// Drops the near-identical users; the last entry fills each freed slot, and
// a slot is tested again after it is filled. Returns the users left.
int32_t DropScanning(int32_t nr, CandidatePair *user_candidates) {
  for (int32_t t = 0; t < nr;) {
    if (double(user_candidates[t].value) > kNearIdentical) {
      user_candidates[t] = user_candidates[--nr];
    } else {
      t++;
    }
  }
  return nr;
}

// DropScanning with the places of the near-identical entries given in
// increasing order (the keys of near[0..nnear-1]): entries between them are
// never touched, so only those places and the entries moved into them are
// visited. The same moves, in the same order.
int32_t DropNoted(int32_t nr, CandidatePair *user_candidates, int32_t nnear,
                  const CandidatePair *near) {
  int32_t lo = 0, hi = nnear;  // near places still in the array
  while (lo < hi) {
    const int32_t t = near[lo].key, last = --nr;
    if (last == t) break;  // the dropped entry was the last one
    user_candidates[t] = user_candidates[last];
    // The moved entry is near-identical exactly when its place was noted.
    if (near[hi - 1].key == last) {
      hi--;
    } else {
      lo++;
    }
  }
  return nr;
}

// Phase 1's pass over the basket's columns: returns the users met, listed
// in first-arrival order in user_candidates's keys, with their sums in their marks.
// Form is the users' marks' (marks.h): kSumsFromZero, every addition starts
// from the mark; kSums, the first one starts from -0.0 (MarkStart).
template <MarkForm Form>
int32_t SumHits(int32_t n, const int32_t *basket, const int32_t *__restrict colptr,
                const int32_t *__restrict colind, const float *__restrict colval,
                int32_t *__restrict user_marks, CandidatePair *__restrict user_candidates) {
  int32_t nr = 0;
  for (int32_t t = 0; t < n; t++) {
    const int32_t end = colptr[basket[t] + 1];
    for (int32_t j = colptr[basket[t]]; j < end; j++) {
      // No branch: the user is written after the list and kept there only
      // when new (user_candidates has one pair more than there are users).
      const int32_t u = colind[j];
      const int32_t mark = user_marks[u];
      const float start = Form == MarkForm::kSumsFromZero ? SumInMark(mark) : MarkStart(mark);
      user_marks[u] = MarkOfSum(start + colval[j]);
      user_candidates[nr].key = u;
      nr += mark == UnmetMark(Form);
    }
  }
  return nr;
}

// Phase 2's gather: each of the nkeep neighbours' rows in turn adds its
// values times the neighbour's similarity (product and sum in double, one
// rounding) into item_candidates, in first-arrival order, by GatherStep; the basket
// items must be marked LeftOutMark(How). Returns the count; every mark but
// the basket items' is at rest again.
template <MarkForm How>
int32_t GatherRows(int32_t nkeep, const CandidatePair *user_candidates,
                   const int32_t *__restrict rowptr, const int32_t *__restrict rowind,
                   const float *__restrict rowval, int32_t *__restrict item_marks,
                   CandidatePair *__restrict item_candidates) {
  int32_t nf = 0;
  for (int32_t t = 0; t < nkeep; t++) {
    const double sim = user_candidates[t].value;
    const int32_t u = user_candidates[t].key, end = rowptr[u + 1];
    for (int32_t j = rowptr[u]; j < end; j++)
      GatherStep<How>(rowind[j], sim * double(rowval[j]), item_marks, item_candidates, nf);
  }
  EndGather<How>(nf, item_marks, item_candidates);
  return nf;
}
// Scales the sums of user_candidates[0..nr-1] (SumOf(user) gives each, once) into
// similarities and drops the near-identical users; returns the users left.
// Their places are noted on the way (in item_candidates's keys, while they fit) so
// that the drop visits only them.
template <class SumOf>
int32_t ScaleAndDrop(int32_t nr, int32_t n, int32_t room, CandidatePair *user_candidates,
                     CandidatePair *item_candidates, SumOf sum_of) {
  const double s0 = n > 0 ? double(float(1.0 / std::sqrt(double(n)))) : 0.0;
  int32_t nnear = 0;
  for (int32_t t = 0; t < nr; t++) {
    const float similarity = float(s0 * double(sum_of(user_candidates[t].key)));
    user_candidates[t].value = similarity;
    if (__builtin_expect(double(similarity) > kNearIdentical, 0)) {
      if (nnear < room) item_candidates[nnear].key = t;
      nnear++;
    }
  }
  return nnear <= room ? DropNoted(nr, user_candidates, nnear, item_candidates)
                       : DropScanning(nr, user_candidates);
}

// Phase 1 up to the selection: user_candidates[0..nr-1] holds every user met by
// the basket with its similarity, in first-arrival order and with the
// near-identical users dropped; returns nr. Every mark is at rest again.
int32_t GatherUserCandidates(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                             const int32_t *basket) {
  CandidatePair *user_candidates = scratch->user_candidates,
                *item_candidates = scratch->item_candidates;
  // Every basket column is asked for at once, so that their misses overlap.
  for (int32_t t = 0; t < n; t++) {
    __builtin_prefetch(model->users.colind + model->users.colptr[basket[t]]);
    __builtin_prefetch(model->users.colval + model->users.colptr[basket[t]]);
  }
  // Every user's summed row values on the basket items, in single
  // precision, kept in the users' marks (model.h), and the users listed in
  // first-arrival order; the scaling pass puts the marks back.
  int32_t *user_marks = scratch->user_marks;
  const int32_t unmet_user = UnmetMark(model->user_marks_form);
  const int32_t nr =
      model->user_marks_form == MarkForm::kSumsFromZero
          ? SumHits<MarkForm::kSumsFromZero>(n, basket, model->users.colptr, model->users.colind,
                                             model->users.colval, user_marks, user_candidates)
          : SumHits<MarkForm::kSums>(n, basket, model->users.colptr, model->users.colind,
                                     model->users.colval, user_marks, user_candidates);
  return ScaleAndDrop(nr, n, model->nitems, user_candidates, item_candidates, [&](int32_t u) {
    const float sum = SumInMark(user_marks[u]);
    user_marks[u] = unmet_user;
    return sum;
  });
}
}  // namespace

int32_t RecommendByUsers(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                         int32_t *rcmds, float *scores) {
  const int32_t *rowptr = model->users.rowptr, *rowind = model->users.rowind;
  const float *rowval = model->users.rowval;
  int32_t *item_marks = scratch->item_marks;
  CandidatePair *user_candidates = scratch->user_candidates,
                *item_candidates = scratch->item_candidates;

  // Phase 1: the users most similar to the basket.
  const int32_t nr = GatherUserCandidates(model, scratch, n, basket);
  const int32_t nkeep = SelectTopCandidates(nr, model->nnbr, user_candidates);
  // Every neighbour's row is asked for at once, while the neighbours are sorted.
  for (int32_t t = 0; t < nkeep; t++) {
    const int32_t u = user_candidates[t].key;
    __builtin_prefetch(rowind + rowptr[u]);
    __builtin_prefetch(rowval + rowptr[u]);
  }
  SortCandidates(nkeep, user_candidates);

  // Phase 2: the neighbours' items outside the basket, weighted by similarity.
  // The scratch's marks rest as the model's do (TOVRAN_CreateScratch).
  const MarkForm how = model->item_marks_form;
  const int32_t unmet = UnmetMark(how);
  MarkLeftOut(n, basket, options, item_marks, LeftOutMark(how));
  const int32_t nf = WithGather(how, [&](auto mode) {
    return GatherRows<mode.value>(nkeep, user_candidates, rowptr, rowind, rowval, item_marks,
                                  item_candidates);
  });
  RestLeftOut(n, basket, options, item_marks, unmet);
  return FinishAnswer(model, scratch, nf, n, basket, N, options, rcmds, scores);
}
