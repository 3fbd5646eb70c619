#include <bit>
#include <climits>
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
int32_t DropScanning(int32_t nr, CandidatePair *rcand) {
  for (int32_t t = 0; t < nr;) {
    if (double(rcand[t].value) > kNearIdentical) {
      rcand[t] = rcand[--nr];
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
int32_t DropNoted(int32_t nr, CandidatePair *rcand, int32_t nnear, const CandidatePair *near) {
  int32_t lo = 0, hi = nnear;  // near places still in the array
  while (lo < hi) {
    const int32_t t = near[lo].key, last = --nr;
    if (last == t) break;  // the dropped entry was the last one
    rcand[t] = rcand[last];
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
// in first-arrival order in rcand's keys, with their sums in their marks.
// FromMark: a user not met holds -0.0 and every addition starts from the
// mark; else it holds -1 and the first one starts from -0.0 (MarkStart).
template <bool FromMark>
int32_t SumHits(int32_t n, const int32_t *basket, const int32_t *__restrict colptr,
                const int32_t *__restrict colind, const float *__restrict colval,
                int32_t *__restrict rmarker, CandidatePair *__restrict rcand) {
  int32_t nr = 0;
  for (int32_t t = 0; t < n; t++) {
    const int32_t end = colptr[basket[t] + 1];
    for (int32_t j = colptr[basket[t]]; j < end; j++) {
      // No branch: the user is written after the list and kept there only
      // when new (rcand has one pair more than there are users).
      const int32_t u = colind[j];
      const int32_t mark = rmarker[u];
      const float start = FromMark ? std::bit_cast<float>(mark) : MarkStart(mark);
      rmarker[u] = std::bit_cast<int32_t>(start + colval[j]);
      rcand[nr].key = u;
      nr += mark == (FromMark ? INT32_MIN : -1);
    }
  }
  return nr;
}

// Phase 2's gather: each of the nkeep neighbours' rows in turn adds its
// values times the neighbour's similarity (product and sum in double, one
// rounding) into fcand, in first-arrival order, by GatherStep; the basket
// items must be marked LeftOutMark(How). Returns the count; every mark but
// the basket items' is at rest again.
template <Gather How>
int32_t GatherRows(int32_t nkeep, const CandidatePair *rcand, const int32_t *__restrict rowptr,
                   const int32_t *__restrict rowind, const float *__restrict rowval,
                   int32_t *__restrict marker, CandidatePair *__restrict fcand) {
  int32_t nf = 0;
  for (int32_t t = 0; t < nkeep; t++) {
    const double sim = rcand[t].value;
    const int32_t u = rcand[t].key, end = rowptr[u + 1];
    for (int32_t j = rowptr[u]; j < end; j++)
      GatherStep<How>(rowind[j], sim * double(rowval[j]), marker, fcand, nf);
  }
  EndGather<How>(nf, marker, fcand);
  return nf;
}
}  // namespace

int32_t RecommendByUsers(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                         int32_t *rcmds, float *scores) {
  const int32_t *rowptr = model->rowptr, *rowind = model->rowind;
  const int32_t *colptr = model->colptr, *colind = model->colind;
  const float *rowval = model->rowval, *colval = model->colval;
  int32_t *rmarker = scratch->rmarker, *marker = scratch->marker;
  CandidatePair *rcand = scratch->rcand, *fcand = scratch->fcand;

  // Phase 1: every user's summed row values on the basket items, in
  // single precision, kept in the users' marks (model.h), and the users
  // listed in first-arrival order; a second pass scales the sums and puts
  // the marks back. Every basket column is asked for at once, so that their
  // misses overlap.
  for (int32_t t = 0; t < n; t++) {
    __builtin_prefetch(colind + colptr[basket[t]]);
    __builtin_prefetch(colval + colptr[basket[t]]);
  }
  const int32_t unmet_user = model->unmet_user_mark;
  int32_t nr = unmet_user == INT32_MIN
                   ? SumHits<true>(n, basket, colptr, colind, colval, rmarker, rcand)
                   : SumHits<false>(n, basket, colptr, colind, colval, rmarker, rcand);
  const double s0 = n > 0 ? double(float(1.0 / std::sqrt(double(n)))) : 0.0;
  // The places of near-identical users are noted on the way (in fcand's
  // keys, while they fit) for the drop below.
  const int32_t room = model->ncols;
  int32_t nnear = 0;
  for (int32_t t = 0; t < nr; t++) {
    const float similarity = float(s0 * double(std::bit_cast<float>(rmarker[rcand[t].key])));
    rmarker[rcand[t].key] = unmet_user;
    rcand[t].value = similarity;
    if (__builtin_expect(double(similarity) > kNearIdentical, 0)) {
      if (nnear < room) fcand[nnear].key = t;
      nnear++;
    }
  }
  nr = nnear <= room ? DropNoted(nr, rcand, nnear, fcand) : DropScanning(nr, rcand);
  const int32_t nkeep = SelectTopCandidates(nr, model->nnbr, rcand);
  // And so is every neighbour's row, while the neighbours are sorted.
  for (int32_t t = 0; t < nkeep; t++) {
    const int32_t u = rcand[t].key;
    __builtin_prefetch(rowind + rowptr[u]);
    __builtin_prefetch(rowval + rowptr[u]);
  }
  SortCandidates(nkeep, rcand);

  // Phase 2: the neighbours' items outside the basket, weighted by similarity.
  // The scratch's marks rest as the model's do (TOVRAN_CreateScratch).
  const int32_t unmet = model->unmet_item_mark;
  const Gather how = GatherFor(unmet, model->ncols);
  MarkLeftOut(n, basket, options, marker, LeftOutMark(how));
  const int32_t nf = WithGather(how, [&](auto mode) {
    return GatherRows<mode.value>(nkeep, rcand, rowptr, rowind, rowval, marker, fcand);
  });
  RestLeftOut(n, basket, options, marker, unmet);
  return FinishAnswer(model, scratch, nf, n, basket, N, options, rcmds, scores);
}
