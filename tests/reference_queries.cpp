// The queries as plain dense computations from their definitions: every
// score is a sum over the basket in one dense vector indexed by item or
// user, and the order in which candidates reach the ranking is derived from
// its rule (basket order, then list, column or row order) as an explicit key,
// not from marks or slots.
#include "tests/reference_queries.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "tests/fixtures.h"
#include "tests/reference_candidates.h"

namespace {

// A dense score: no term yet, or the sum of the terms so far. The first term
// is the score as it is (so a -0.0 term stays -0.0).
struct Score {
  bool met = false;
  float value = 0.0f;
  // Where the candidate first arrived, for the ranking's starting order.
  std::tuple<int32_t, int32_t> arrival{0, 0};
};

// The candidates of a dense score vector in arrival order, ranked; their
// ids best first and their values in *scores unless it is null.
std::vector<int32_t> RankDense(const std::vector<Score> &dense, int32_t N,
                               std::vector<float> *scores) {
  std::vector<int32_t> met;
  for (int32_t id = 0; id < int32_t(dense.size()); id++)
    if (dense[size_t(id)].met) met.push_back(id);
  std::sort(met.begin(), met.end(), [&](int32_t a, int32_t b) {
    return dense[size_t(a)].arrival < dense[size_t(b)].arrival;
  });
  List cands;
  for (int32_t id : met) cands.push_back({dense[size_t(id)].value, id});
  const List ranked = Ranked(cands, N, ReferenceSelectTop, ReferenceSort);
  if (scores != nullptr) *scores = Values(ranked);
  return Keys(ranked);
}

std::vector<bool> InBasket(int32_t limit, int32_t n, const int32_t *basket) {
  std::vector<bool> in(size_t(limit), false);
  for (int32_t t = 0; t < n; t++) in[size_t(basket[t])] = true;
  return in;
}

}  // namespace

std::vector<int32_t> ReferenceRecommendByItems(const Model &model, int32_t n, const int32_t *basket,
                                               int32_t N, std::vector<float> *scores) {
  const std::vector<bool> in_basket = InBasket(model.nitems, n, basket);
  // score(c) = sum over the basket entries t, in order, of c's similarity in
  // basket[t]'s neighbour list; c first arrives at its earliest (t, place).
  std::vector<Score> dense(size_t(model.nitems));
  for (int32_t t = 0; t < n; t++) {
    const int32_t b = basket[t];
    const List neighbours = ListOf(&model, b);
    for (int32_t place = 0; place < int32_t(neighbours.size()); place++) {
      const CandidatePair &entry = neighbours[size_t(place)];
      if (in_basket[size_t(entry.key)]) continue;
      Score &score = dense[size_t(entry.key)];
      if (!score.met) {
        score = Score{true, entry.value, {t, place}};
      } else {
        score.value += entry.value;
      }
    }
  }
  return RankDense(dense, N, scores);
}

std::vector<int32_t> ReferenceRecommendByUsers(const Model &model, int32_t n, const int32_t *basket,
                                               int32_t N, std::vector<float> *scores) {
  // Phase 1: user u's similarity is the sum, over the basket entries in
  // order, of u's row values for that item (every copy, in stored order); u
  // first arrives at the earliest basket entry it holds, and within one
  // column users arrive in increasing id.
  List users;
  std::vector<std::tuple<int32_t, int32_t>> arrival;
  for (int32_t u = 0; u < model.users.nrows; u++) {
    Score sum;
    for (int32_t t = 0; t < n; t++) {
      for (int32_t j = model.users.rowptr[u]; j < model.users.rowptr[u + 1]; j++) {
        if (model.users.rowind[j] != basket[t]) continue;
        if (!sum.met) {
          sum = Score{true, model.users.rowval[j], {t, u}};
        } else {
          sum.value += model.users.rowval[j];
        }
      }
    }
    if (sum.met) {
      users.push_back({sum.value, u});
      arrival.push_back(sum.arrival);
    }
  }
  std::vector<size_t> order(users.size());
  for (size_t i = 0; i < order.size(); i++) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return arrival[a] < arrival[b]; });
  List cands;
  const float scale = float(1.0 / std::sqrt(double(n)));
  for (size_t i : order)
    cands.push_back({float(double(scale) * double(users[i].value)), users[i].key});
  // Near-identical users leave; the last candidate takes the freed place.
  for (size_t t = 0; t < cands.size();) {
    if (double(cands[t].value) > 0.999) {
      cands[t] = cands.back();
      cands.pop_back();
    } else {
      t++;
    }
  }
  const List neighbours = Ranked(cands, model.nnbr, ReferenceSelectTop, ReferenceSort);

  // Phase 2: item c's score sums, over the neighbours from most similar
  // down, similarity times each of the neighbour's values for c in stored
  // order, in double and rounded once per term; c first arrives at its
  // earliest (neighbour, row place).
  const std::vector<bool> in_basket = InBasket(model.nitems, n, basket);
  std::vector<Score> dense(size_t(model.nitems));
  for (int32_t t = 0; t < int32_t(neighbours.size()); t++) {
    const double similarity = neighbours[size_t(t)].value;
    const int32_t u = neighbours[size_t(t)].key;
    for (int32_t j = model.users.rowptr[u]; j < model.users.rowptr[u + 1]; j++) {
      const int32_t c = model.users.rowind[j];
      if (in_basket[size_t(c)]) continue;
      const double term = similarity * double(model.users.rowval[j]);
      Score &score = dense[size_t(c)];
      if (!score.met) {
        score = Score{true, float(term), {t, j}};
      } else {
        score.value = float(term + double(score.value));
      }
    }
  }
  return RankDense(dense, N, scores);
}
