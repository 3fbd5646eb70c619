#include "engine/popularity.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <numeric>
#include <vector>

#include "engine/answer.h"
#include "util/checked_alloc.h"
#include "util/fill.h"

void AttachPopularity(Model *model, int32_t ncols, int32_t npairs, const int32_t *colid,
                      const float *weights) {
  // Sums in double: pair counts stay exact, so that the ranking of counts
  // never depends on rounding.
  std::vector<double> held(size_t(ncols), 0.0);
  for (int32_t i = 0; i < npairs; i++)
    held[size_t(colid[i])] += weights != nullptr ? double(weights[i]) : 1.0;
  std::vector<int32_t> order;
  for (int32_t c = 0; c < ncols; c++)
    if (held[size_t(c)] > 0.0) order.push_back(c);
  // Stable: equal sums keep the lower item id first.
  std::stable_sort(order.begin(), order.end(),
                   [&](int32_t a, int32_t b) { return held[size_t(a)] > held[size_t(b)]; });
  model->popularity.npopular = int32_t(order.size());
  model->popularity.popular = AllocInts(model->popularity.npopular, "AttachPopularity: popular");
  model->popularity.popscore =
      AllocFloats(model->popularity.npopular, "AttachPopularity: popscore");
  for (int32_t k = 0; k < model->popularity.npopular; k++) {
    model->popularity.popular[k] = order[size_t(k)];
    model->popularity.popscore[k] = float(held[size_t(order[size_t(k)])]);
  }
  RankPopular(model, ncols);
}

void RankPopular(Model *model, int32_t nitems) {
  model->popularity.poprank = AllocFilledInts(nitems, INT32_MAX, "RankPopular: poprank");
  for (int32_t k = 0; k < model->popularity.npopular; k++)
    model->popularity.poprank[model->popularity.popular[k]] = k;
}

Model *CreatePopularModel(int32_t ncols) {
  ModelHolder model(CreateModel());
  model->type = TOVRAN_POPULAR;
  model->nnbr = 0;
  model->nitems = ncols;
  model->scratch.item_marks = AllocInts(ncols, "CreatePopularModel: marker");
  model->scratch.item_candidates =
      AllocCands(ItemCandidateRoom(ncols), "CreatePopularModel: fcand");
  RestMarks(model.get());
  return model.release();
}

int32_t RecommendPopular(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                         int32_t *rcmds, float *scores) {
  int32_t *item_marks = scratch->item_marks;
  const int32_t unmet = UnmetMark(model->item_marks_form);
  auto put = [&](int32_t m, int32_t c) {
    rcmds[m] = c;
    if (scores != nullptr) scores[m] = model->popularity.popscore[model->popularity.poprank[c]];
  };
  int32_t m = 0;
  if (options.items == nullptr) {
    MarkLeftOut(n, basket, options, item_marks, kTaken);
    for (int32_t k = 0; k < model->popularity.npopular && m < N; k++) {
      const int32_t c = model->popularity.popular[k];
      if (item_marks[c] != kTaken) put(m++, c);
    }
    RestLists(n, basket, options, item_marks, unmet);
    return m;
  }
  // The listed items held by a pair, in ranking order, then the others.
  MarkRestricted(n, basket, options, item_marks);
  CandidatePair *held = scratch->item_candidates;
  int32_t k = 0;
  for (int32_t t = 0; t < options.nitems; t++) {
    const int32_t c = options.items[t];
    if (item_marks[c] != kMember || model->popularity.poprank[c] == INT32_MAX) continue;
    item_marks[c] = kTaken;
    held[k++].key = c;
  }
  std::sort(held, held + k, [&](const CandidatePair &a, const CandidatePair &b) {
    return model->popularity.poprank[a.key] < model->popularity.poprank[b.key];
  });
  for (; m < k && m < N; m++) put(m, held[m].key);
  m = AppendUnscored(model, held, item_marks, m, N, options, rcmds, scores);
  RestLists(n, basket, options, item_marks, unmet);
  return m;
}
