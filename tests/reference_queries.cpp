#include "tests/reference_queries.h"

#include <cmath>

#include "tests/fixtures.h"
#include "tests/reference_candidates.h"

namespace {

// The ids of the best N of the first count candidates, ranked as the engine
// ranks them; their values in *scores unless it is null.
std::vector<int32_t> Answer(std::vector<CandidatePair> &cands, int32_t count, int32_t N,
                            std::vector<float> *scores) {
  cands.resize(size_t(count));
  const List ranked = Ranked(cands, N, ReferenceSelectTop, ReferenceSort);
  if (scores != nullptr) *scores = Values(ranked);
  return Keys(ranked);
}

}  // namespace

std::vector<int32_t> ReferenceRecommendByItems(const Model &model, int32_t n, const int32_t *basket,
                                               int32_t N, std::vector<float> *scores) {
  std::vector<int32_t> marker(model.nitems, -1);
  std::vector<CandidatePair> fcand(model.nitems);
  for (int32_t t = 0; t < n; t++) marker[basket[t]] = -2;
  int32_t ncand = 0;
  for (int32_t t = 0; t < n; t++) {
    for (int32_t j = model.itemptr[basket[t]]; j < model.itemptr[basket[t] + 1]; j++) {
      const int32_t c = model.itemind[j];
      if (marker[c] == -2) continue;
      if (marker[c] == -1) {
        fcand[ncand] = CandidatePair{model.itemval[j], c};
        marker[c] = ncand++;
      } else {
        fcand[marker[c]].value += model.itemval[j];
      }
    }
  }
  return Answer(fcand, ncand, N, scores);
}

std::vector<int32_t> ReferenceRecommendByUsers(const Model &model, int32_t n, const int32_t *basket,
                                               int32_t N, std::vector<float> *scores) {
  std::vector<int32_t> rmarker(model.nrows, -1), marker(model.ncols, -1);
  std::vector<CandidatePair> rcand(model.nrows), fcand(model.ncols);
  int32_t nr = 0;
  for (int32_t t = 0; t < n; t++) {
    for (int32_t j = model.colptr[basket[t]]; j < model.colptr[basket[t] + 1]; j++) {
      const int32_t u = model.colind[j];
      if (rmarker[u] == -1) {
        rcand[nr] = CandidatePair{model.colval[j], u};
        rmarker[u] = nr++;
      } else {
        rcand[rmarker[u]].value += model.colval[j];
      }
    }
  }
  if (nr > 0) {
    const float s0 = float(1.0 / std::sqrt(double(n)));
    for (int32_t t = 0; t < nr; t++) rcand[t].value = float(double(s0) * double(rcand[t].value));
  }
  for (int32_t t = 0; t < nr;) {
    if (double(rcand[t].value) > 0.999) {
      rcand[t] = rcand[--nr];
    } else {
      t++;
    }
  }
  const int32_t nkeep = ReferenceSelectTop(nr, model.nnbr, rcand.data());
  ReferenceSort(nkeep, rcand.data());

  for (int32_t t = 0; t < n; t++) marker[basket[t]] = -2;
  int32_t nf = 0;
  for (int32_t t = 0; t < nkeep; t++) {
    const double sim = rcand[t].value;
    const int32_t u = rcand[t].key;
    for (int32_t j = model.rowptr[u]; j < model.rowptr[u + 1]; j++) {
      const int32_t c = model.rowind[j];
      if (marker[c] == -2) continue;
      if (marker[c] == -1) {
        fcand[nf] = CandidatePair{float(sim * double(model.rowval[j])), c};
        marker[c] = nf++;
      } else {
        fcand[marker[c]].value =
            float(sim * double(model.rowval[j]) + double(fcand[marker[c]].value));
      }
    }
  }
  return Answer(fcand, nf, N, scores);
}
