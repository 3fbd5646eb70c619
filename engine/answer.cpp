#include "engine/answer.h"

#include <algorithm>
#include <climits>
#include <limits>

void MarkLeftOut(int32_t n, const int32_t *basket, const TOVRAN_QueryOptions &options,
                 int32_t *marker, int32_t mark) {
  if (!options.keep_basket)
    for (int32_t t = 0; t < n; t++) marker[basket[t]] = mark;
  for (int32_t t = 0; t < options.nfilter; t++) marker[options.filter_items[t]] = mark;
}

void MarkRestricted(int32_t n, const int32_t *basket, const TOVRAN_QueryOptions &options,
                    int32_t *marker) {
  for (int32_t t = 0; t < options.nitems; t++) marker[options.items[t]] = kMember;
  if (!options.keep_basket)
    for (int32_t t = 0; t < n; t++) marker[basket[t]] = kInBasket;
  for (int32_t t = 0; t < options.nfilter; t++) marker[options.filter_items[t]] = kFiltered;
}

void RestLeftOut(int32_t n, const int32_t *basket, const TOVRAN_QueryOptions &options,
                 int32_t *marker, int32_t unmet) {
  for (int32_t t = 0; t < n; t++) marker[basket[t]] = unmet;
  for (int32_t t = 0; t < options.nfilter; t++) marker[options.filter_items[t]] = unmet;
}

void RestLists(int32_t n, const int32_t *basket, const TOVRAN_QueryOptions &options,
               int32_t *marker, int32_t unmet) {
  RestLeftOut(n, basket, options, marker, unmet);
  if (options.items != nullptr)
    for (int32_t t = 0; t < options.nitems; t++) marker[options.items[t]] = unmet;
}

namespace {

void Put(int32_t m, int32_t id, float score, int32_t *rcmds, float *scores) {
  rcmds[m] = id;
  if (scores != nullptr) scores[m] = score;
}

// Fills the answer of m items up to N from the popularity ranking: items
// listed, filtered or (unless kept) in the basket are skipped. The marks of
// the basket and the filtered items are at rest on entry and on return.
int32_t FillFromPopular(const Model *model, int32_t *marker, int32_t m, int32_t n,
                        const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                        int32_t *rcmds, float *scores) {
  const int32_t listed = m;
  MarkLeftOut(n, basket, options, marker, kTaken);
  for (int32_t t = 0; t < listed; t++) marker[rcmds[t]] = kTaken;
  for (int32_t k = 0; k < model->npopular && m < N; k++) {
    const int32_t c = model->popular[k];
    if (marker[c] != kTaken) Put(m++, c, 0.0f, rcmds, scores);
  }
  const int32_t unmet = model->unmet_item_mark;
  for (int32_t t = 0; t < listed; t++) marker[rcmds[t]] = unmet;
  RestLeftOut(n, basket, options, marker, unmet);
  return m;
}

}  // namespace

int32_t AppendUnscored(const Model *model, CandidatePair *fcand, int32_t *marker, int32_t m,
                       int32_t N, const TOVRAN_QueryOptions &options, int32_t *rcmds,
                       float *scores) {
  // The members without a score, each once, in the order listed.
  int32_t k = 0;
  for (int32_t t = 0; t < options.nitems; t++) {
    const int32_t c = options.items[t];
    if (marker[c] != kMember) continue;
    marker[c] = kTaken;
    fcand[k++].key = c;
  }
  if (options.fallback)
    std::stable_sort(fcand, fcand + k, [&](const CandidatePair &a, const CandidatePair &b) {
      return model->poprank[a.key] < model->poprank[b.key];
    });
  for (int32_t t = 0; t < k && m < N; t++) Put(m++, fcand[t].key, 0.0f, rcmds, scores);
  for (int32_t t = 0; t < options.nitems && m < N; t++) {
    const int32_t c = options.items[t];
    if (marker[c] != kInBasket) continue;
    marker[c] = kTaken;
    Put(m++, c, -std::numeric_limits<float>::infinity(), rcmds, scores);
  }
  return m;
}

int32_t FinishAnswer(const Model *model, TOVRAN_Scratch *scratch, int32_t ncand, int32_t n,
                     const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                     int32_t *rcmds, float *scores) {
  CandidatePair *fcand = scratch->fcand;
  int32_t *marker = scratch->marker;
  if (options.items == nullptr) {
    int32_t m = RankTopCandidates(ncand, N, fcand);
    for (int32_t t = 0; t < m; t++) rcmds[t] = fcand[t].key;
    if (scores != nullptr)
      for (int32_t t = 0; t < m; t++) scores[t] = fcand[t].value;
    if (options.fallback && m < N)
      m = FillFromPopular(model, marker, m, n, basket, N, options, rcmds, scores);
    return m;
  }
  // Only the candidates listed take part; the gather has left out the
  // basket and the filtered items already.
  MarkRestricted(n, basket, options, marker);
  int32_t kept = 0;
  for (int32_t t = 0; t < ncand; t++) {
    const int32_t c = fcand[t].key;
    if (marker[c] != kMember) continue;
    marker[c] = kTaken;
    fcand[kept++] = fcand[t];
  }
  int32_t m = RankTopCandidates(kept, N, fcand);
  for (int32_t t = 0; t < m; t++) Put(t, fcand[t].key, fcand[t].value, rcmds, scores);
  m = AppendUnscored(model, fcand, marker, m, N, options, rcmds, scores);
  RestLists(n, basket, options, marker, model->unmet_item_mark);
  return m;
}
