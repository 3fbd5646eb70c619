#include <bit>
#include <cmath>
#include <cstdint>

#include "engine/model.h"

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

// first when pick holds, else second, chosen with integer masks: the
// compiler keeps a plain select as a branch, which mispredicts here.
inline CandidatePair *ChooseWithoutBranch(bool pick, CandidatePair *first, CandidatePair *second) {
  const auto a = reinterpret_cast<uintptr_t>(first), b = reinterpret_cast<uintptr_t>(second);
  return reinterpret_cast<CandidatePair *>(b ^ ((a ^ b) & (uintptr_t{0} - uintptr_t(pick))));
}

// value when keep holds, else -0.0, chosen with integer masks and no branch.
inline float OrNegativeZero(float value, bool keep) {
  const uint32_t mask = 0u - uint32_t(keep);
  const uint32_t bits = (std::bit_cast<uint32_t>(value) & mask) | (0x80000000u & ~mask);
  return std::bit_cast<float>(bits);
}
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
    const int32_t end = colptr[basket[t] + 1];
    for (int32_t j = colptr[basket[t]]; j < end; j++) rmarker[colind[j]]--;
  }
  const double s0 = n > 0 ? double(float(1.0 / std::sqrt(double(n)))) : 0.0;
  int32_t nr = 0;
  // fcand is free until phase 2 and has room for every basket item, so its
  // first pair takes the writes of users met again.
  CandidatePair *spare = fcand;
  for (int32_t t = 0; t < n; t++) {
    const int32_t end = colptr[basket[t] + 1];
    for (int32_t j = colptr[basket[t]]; j < end; j++) {
      // Users met again and users met first alternate at random in long
      // columns, so both take one branch-free path: a user met again is
      // written to a spare pair and not counted. Two hits add the value to
      // itself, one adds -0.0, which changes nothing.
      const int32_t u = colind[j];
      const int32_t hits = -1 - rmarker[u];
      rmarker[u] = -1;
      const float value = colval[j];
      float sum = value + OrNegativeZero(value, hits >= 2);
      if (hits > 2) sum = RepeatedSum(value, hits);
      CandidatePair *slot = ChooseWithoutBranch(hits > 0, rcand + nr, spare);
      *slot = CandidatePair{float(s0 * double(sum)), u};
      nr += hits > 0;
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
