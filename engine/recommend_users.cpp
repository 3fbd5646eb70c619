#include <cmath>

#include "engine/model.h"

namespace {
// A user this similar to the basket holds (almost) exactly its items and
// would only recommend what the basket already has.
constexpr double kNearIdentical = 0.999;
}  // namespace

int32_t RecommendByUsers(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, int32_t *rcmds) {
  const int32_t *rowptr = model->rowptr, *rowind = model->rowind;
  const int32_t *colptr = model->colptr, *colind = model->colind;
  const float *rowval = model->rowval, *colval = model->colval;
  int32_t *rmarker = scratch->rmarker, *marker = scratch->marker;
  CandidatePair *rcand = scratch->rcand, *fcand = scratch->fcand;

  // Phase 1: every user's summed row values on the basket items. All values
  // of a row are equal, so a user's sum is its value added to itself once per
  // basket hit; counting the hits first and adding afterwards, in the same
  // single-precision steps, gives the same bits without a slot per user.
  // rmarker holds -1 - hits until the user's first entry emits it.
  for (int32_t t = 0; t < n; t++) {
    const int32_t b = basket[t];
    for (int32_t j = colptr[b]; j < colptr[b + 1]; j++) rmarker[colind[j]]--;
  }
  const double s0 = n > 0 ? double(float(1.0 / std::sqrt(double(n)))) : 0.0;
  int32_t nr = 0;
  for (int32_t t = 0; t < n; t++) {
    const int32_t b = basket[t];
    for (int32_t j = colptr[b]; j < colptr[b + 1]; j++) {
      const int32_t u = colind[j];
      const int32_t mark = rmarker[u];
      if (mark == -1) continue;
      rmarker[u] = -1;
      const float value = colval[j];
      float sum = value;
      for (int32_t hit = -2; hit > mark; hit--) sum += value;
      rcand[nr++] = CandidatePair{float(s0 * double(sum)), u};
    }
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
  return m;
}
