#include <cmath>
#include <cstdint>

#include "engine/builders.h"

namespace {
// A user this similar to the basket holds (almost) exactly its items and
// would only recommend what the basket already has.
constexpr double kNearIdentical = 0.999;

// value added to itself in single precision until it counts hits times.
inline float RepeatedSum(float value, int32_t hits) {
  float sum = value;
  for (int32_t h = 1; h < hits; h++) sum += value;
  return sum;
}
}  // namespace

int32_t RecommendByUsers(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, int32_t *rcmds, float *scores) {
  const int32_t *rowptr = model->rowptr, *rowind = model->rowind;
  const int32_t *colptr = model->colptr, *colind = model->colind;
  const float *rowval = model->rowval, *colval = model->colval;
  int32_t *rmarker = scratch->rmarker, *marker = scratch->marker;
  CandidatePair *rcand = scratch->rcand, *fcand = scratch->fcand;

  // Phase 1: every user's summed row values on the basket items. All values
  // of a row are equal, so a user's sum is its value added to itself once per
  // basket hit, in the same single-precision steps. One pass over the columns
  // lists the users in first-arrival order with their row value and counts
  // their hits in rmarker (-1 until met, then the count); a second pass over
  // the list forms the sums and puts the marks back to -1.
  // Every basket column is asked for at once, so that their misses overlap.
  for (int32_t t = 0; t < n; t++) {
    __builtin_prefetch(colind + colptr[basket[t]]);
    __builtin_prefetch(colval + colptr[basket[t]]);
  }
  int32_t nr = 0;
  for (int32_t t = 0; t < n; t++) {
    const int32_t end = colptr[basket[t] + 1];
    for (int32_t j = colptr[basket[t]]; j < end; j++) {
      // No branch: the slot after the list is always written and only kept
      // for a user met first (rcand has one pair more than there are users).
      const int32_t u = colind[j];
      const int32_t mark = rmarker[u];
      const int32_t first = mark < 0;
      rcand[nr] = CandidatePair{colval[j], u};
      rmarker[u] = mark + 1 + first;
      nr += first;
    }
  }
  const double s0 = n > 0 ? double(float(1.0 / std::sqrt(double(n)))) : 0.0;
  for (int32_t t = 0; t < nr; t++) {
    const int32_t u = rcand[t].key;
    const int32_t hits = rmarker[u];
    rmarker[u] = -1;
    // Up to three hits the sums are made in advance and one is chosen (the
    // compiler then branches less); more hits are rare enough for a loop.
    const float value = rcand[t].value;
    const float two = value + value, three = two + value;
    float sum = hits >= 3 ? three : hits == 2 ? two : value;
    if (__builtin_expect(hits > 3, 0)) sum = RepeatedSum(value, hits);
    rcand[t].value = float(s0 * double(sum));
  }
  // Drop near-identical users; the last entry fills the freed slot.
  for (int32_t t = 0; t < nr;) {
    if (double(rcand[t].value) > kNearIdentical) {
      rcand[t] = rcand[--nr];
    } else {
      t++;
    }
  }
  const int32_t nkeep = SelectTopCandidates(nr, model->nnbr, rcand);
  // And so is every neighbour's row, while the neighbours are sorted.
  for (int32_t t = 0; t < nkeep; t++) {
    __builtin_prefetch(rowind + rowptr[rcand[t].key]);
    __builtin_prefetch(rowval + rowptr[rcand[t].key]);
  }
  SortCandidates(nkeep, rcand);

  // Phase 2: the neighbours' items outside the basket, weighted by similarity.
  for (int32_t t = 0; t < n; t++) marker[basket[t]] = -2;
  int32_t nf = 0;
  for (int32_t t = 0; t < nkeep; t++) {
    const double sim = rcand[t].value;
    const int32_t u = rcand[t].key;
    for (int32_t j = rowptr[u]; j < rowptr[u + 1]; j++) {
      const int32_t c = rowind[j];
      const int32_t slot = marker[c];
      if (slot == -2) continue;
      if (slot == -1) {
        fcand[nf] = CandidatePair{float(sim * double(rowval[j])), c};
        marker[c] = nf++;
      } else {
        fcand[slot].value = float(sim * double(rowval[j]) + double(fcand[slot].value));
      }
    }
  }
  for (int32_t t = 0; t < n; t++) marker[basket[t]] = -1;
  for (int32_t t = 0; t < nf; t++) marker[fcand[t].key] = -1;

  const int32_t m = SelectTopCandidates(nf, N, fcand);
  SortCandidates(m, fcand);
  for (int32_t t = 0; t < m; t++) rcmds[t] = fcand[t].key;
  if (scores != nullptr)
    for (int32_t t = 0; t < m; t++) scores[t] = fcand[t].value;
  return m;
}
