#include "engine/answer.h"

#include <algorithm>
#include <climits>
#include <limits>

void MarkLeftOut(int32_t n, const int32_t *basket, const TOVRAN_QueryOptions &options,
                 int32_t *item_marks, int32_t mark) {
  if (!options.keep_basket)
    for (int32_t t = 0; t < n; t++) item_marks[basket[t]] = mark;
  for (int32_t t = 0; t < options.nfilter; t++) item_marks[options.filter_items[t]] = mark;
}

void MarkRestricted(int32_t n, const int32_t *basket, const TOVRAN_QueryOptions &options,
                    int32_t *item_marks) {
  for (int32_t t = 0; t < options.nitems; t++) item_marks[options.items[t]] = kMember;
  if (!options.keep_basket)
    for (int32_t t = 0; t < n; t++) item_marks[basket[t]] = kInBasket;
  for (int32_t t = 0; t < options.nfilter; t++) item_marks[options.filter_items[t]] = kFiltered;
}

void RestLeftOut(int32_t n, const int32_t *basket, const TOVRAN_QueryOptions &options,
                 int32_t *item_marks, int32_t unmet) {
  for (int32_t t = 0; t < n; t++) item_marks[basket[t]] = unmet;
  for (int32_t t = 0; t < options.nfilter; t++) item_marks[options.filter_items[t]] = unmet;
}

void RestLists(int32_t n, const int32_t *basket, const TOVRAN_QueryOptions &options,
               int32_t *item_marks, int32_t unmet) {
  RestLeftOut(n, basket, options, item_marks, unmet);
  if (options.items != nullptr)
    for (int32_t t = 0; t < options.nitems; t++) item_marks[options.items[t]] = unmet;
}

namespace {

void Put(int32_t m, int32_t id, float score, int32_t *rcmds, float *scores) {
  rcmds[m] = id;
  if (scores != nullptr) scores[m] = score;
}

// Fills the answer of m items up to N from the popularity ranking: items
// listed, filtered or (unless kept) in the basket are skipped. The marks of
// the basket and the filtered items are at rest on entry and on return.
int32_t FillFromPopular(const Model *model, int32_t *item_marks, int32_t m, int32_t n,
                        const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                        int32_t *rcmds, float *scores) {
  const int32_t listed = m;
  MarkLeftOut(n, basket, options, item_marks, kTaken);
  for (int32_t t = 0; t < listed; t++) item_marks[rcmds[t]] = kTaken;
  for (int32_t k = 0; k < model->popularity.npopular && m < N; k++) {
    const int32_t c = model->popularity.popular[k];
    if (item_marks[c] != kTaken) Put(m++, c, 0.0f, rcmds, scores);
  }
  const int32_t unmet = UnmetMark(model->item_marks_form);
  for (int32_t t = 0; t < listed; t++) item_marks[rcmds[t]] = unmet;
  RestLeftOut(n, basket, options, item_marks, unmet);
  return m;
}

}  // namespace

int32_t AppendUnscored(const Model *model, CandidatePair *item_candidates, int32_t *item_marks,
                       int32_t m, int32_t N, const TOVRAN_QueryOptions &options, int32_t *rcmds,
                       float *scores) {
  // The members without a score, each once, in the order listed.
  int32_t k = 0;
  for (int32_t t = 0; t < options.nitems; t++) {
    const int32_t c = options.items[t];
    if (item_marks[c] != kMember) continue;
    item_marks[c] = kTaken;
    item_candidates[k++].key = c;
  }
  if (options.fallback)
    std::stable_sort(item_candidates, item_candidates + k,
                     [&](const CandidatePair &a, const CandidatePair &b) {
                       return model->popularity.poprank[a.key] < model->popularity.poprank[b.key];
                     });
  for (int32_t t = 0; t < k && m < N; t++) Put(m++, item_candidates[t].key, 0.0f, rcmds, scores);
  for (int32_t t = 0; t < options.nitems && m < N; t++) {
    const int32_t c = options.items[t];
    if (item_marks[c] != kInBasket) continue;
    item_marks[c] = kTaken;
    Put(m++, c, -std::numeric_limits<float>::infinity(), rcmds, scores);
  }
  return m;
}

int32_t FinishAnswer(const Model *model, TOVRAN_Scratch *scratch, int32_t ncand, int32_t n,
                     const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                     int32_t *rcmds, float *scores) {
  CandidatePair *item_candidates = scratch->item_candidates;
  int32_t *item_marks = scratch->item_marks;
  if (options.items == nullptr) {
    int32_t m = RankTopCandidates(ncand, N, item_candidates);
    for (int32_t t = 0; t < m; t++) rcmds[t] = item_candidates[t].key;
    if (scores != nullptr)
      for (int32_t t = 0; t < m; t++) scores[t] = item_candidates[t].value;
    if (options.fallback && m < N)
      m = FillFromPopular(model, item_marks, m, n, basket, N, options, rcmds, scores);
    return m;
  }
  // Only the candidates listed take part; the gather has left out the
  // basket and the filtered items already.
  MarkRestricted(n, basket, options, item_marks);
  int32_t kept = 0;
  for (int32_t t = 0; t < ncand; t++) {
    const int32_t c = item_candidates[t].key;
    if (item_marks[c] != kMember) continue;
    item_marks[c] = kTaken;
    item_candidates[kept++] = item_candidates[t];
  }
  int32_t m = RankTopCandidates(kept, N, item_candidates);
  for (int32_t t = 0; t < m; t++)
    Put(t, item_candidates[t].key, item_candidates[t].value, rcmds, scores);
  m = AppendUnscored(model, item_candidates, item_marks, m, N, options, rcmds, scores);
  RestLists(n, basket, options, item_marks, UnmetMark(model->item_marks_form));
  return m;
}
