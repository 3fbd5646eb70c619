// The engine against a brute-force dense reference on small seeded random
// data. The reference walks the dense count matrix (users ascending, items
// ascending or in each user's input order, as each model defines its sums),
// so it adds the same terms in the same order with the same roundings
// (double intermediates, single-precision storage) and must agree to the bit.
// Ties are decided by the engine's own SelectTopCandidates/SortCandidates,
// fed in the reference's order of first appearance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "engine/candidates.h"
#include "engine/model.h"
#include "engine/tovran.h"
#include "tests/fixtures.h"

namespace {

// Random pairs with a popular head of items and a few repeated pairs; wide
// sets have thousands of items, where the builders keep their sums elsewhere.
PairList RandomPairs(uint32_t seed, bool wide = false) {
  std::mt19937 rng(seed);
  PairList p{5 + int32_t(rng() % 26), (wide ? 2100 : 4) + int32_t(rng() % 17)};
  const int32_t npairs = int32_t(rng() % uint32_t(4 * p.nrows + 1));
  for (int32_t k = 0; k < npairs; k++) {
    const auto user = int32_t(rng() % uint32_t(p.nrows));
    // Half the draws from the first four items, so lists share many items.
    const auto item = int32_t(rng() % uint32_t(rng() % 2 ? 4 : p.ncols));
    p.Add(user, {item});
    if (rng() % 16 == 0) p.Add(user, {item});  // a repeated pair
  }
  return p;
}

// The dense view: copies of each (user, item), each user's items in input
// order, the row-normalised and the doubly normalised values.
struct Dense {
  int32_t nrows, ncols;
  std::vector<std::vector<int32_t>> count;       // [user][item] copies
  std::vector<std::vector<int32_t>> items;       // [user] items in input order
  std::vector<int32_t> frequency;                // [item] entries of its column
  std::vector<std::vector<float>> row_value;     // [user][item] row scaled
  std::vector<std::vector<float>> cosine_value;  // [user][item] row, then column scaled
  std::vector<double> held;                      // [item] summed weights of its pairs
};

// weights: one per pair, pairs then distinct; empty: every entry 1.0.
Dense MakeDense(const PairList &p, const std::vector<float> &weights = {}) {
  Dense d{p.nrows, p.ncols, {}, {}, {}, {}, {}, std::vector<double>(size_t(p.ncols), 0.0)};
  d.count.assign(size_t(p.nrows), std::vector<int32_t>(size_t(p.ncols), 0));
  d.items.assign(size_t(p.nrows), {});
  d.frequency.assign(size_t(p.ncols), 0);
  for (size_t k = 0; k < p.rows.size(); k++) {
    d.count[size_t(p.rows[k])][size_t(p.cols[k])]++;
    d.items[size_t(p.rows[k])].push_back(p.cols[k]);
    d.frequency[size_t(p.cols[k])]++;
  }
  // Each row's weights, summed as squares in input order.
  std::vector<std::vector<float>> w(size_t(p.nrows), std::vector<float>(size_t(p.ncols), 1.0f));
  std::vector<double> squares(size_t(p.nrows), 0.0);
  for (size_t k = 0; k < p.rows.size(); k++) {
    const float wk = weights.empty() ? 1.0f : weights[k];
    w[size_t(p.rows[k])][size_t(p.cols[k])] = wk;
    squares[size_t(p.rows[k])] += double(wk) * double(wk);
    d.held[size_t(p.cols[k])] += double(wk);
  }
  d.row_value.assign(size_t(p.nrows), std::vector<float>(size_t(p.ncols), 0.0f));
  for (int32_t u = 0; u < p.nrows; u++) {
    if (squares[size_t(u)] == 0.0) continue;
    const float scale = float(1.0 / std::sqrt(squares[size_t(u)]));
    for (int32_t c = 0; c < p.ncols; c++)
      d.row_value[size_t(u)][size_t(c)] = float(double(scale) * double(w[size_t(u)][size_t(c)]));
  }
  d.cosine_value.assign(size_t(p.nrows), std::vector<float>(size_t(p.ncols), 0.0f));
  for (int32_t c = 0; c < p.ncols; c++) {
    double sum = 0.0;
    for (int32_t u = 0; u < p.nrows; u++)
      for (int32_t copy = 0; copy < d.count[size_t(u)][size_t(c)]; copy++)
        sum +=
            double(d.row_value[size_t(u)][size_t(c)]) * double(d.row_value[size_t(u)][size_t(c)]);
    if (sum == 0.0) continue;
    const float scale = float(1.0 / std::sqrt(sum));
    for (int32_t u = 0; u < p.nrows; u++)
      d.cosine_value[size_t(u)][size_t(c)] =
          float(double(scale) * double(d.row_value[size_t(u)][size_t(c)]));
  }
  return d;
}

// Candidates in order of first appearance; Add(c, term, first) stores
// `first` for a new candidate and otherwise the caller's rounded sum.
class Accumulator {
 public:
  explicit Accumulator(int32_t n) : slot_(size_t(n), -1) {}
  template <class Combine>
  void Add(int32_t key, float first, Combine combine) {
    int32_t &slot = slot_[size_t(key)];
    if (slot < 0) {
      slot = int32_t(list_.size());
      list_.push_back(CandidatePair{first, key});
    } else {
      list_[size_t(slot)].value = combine(list_[size_t(slot)].value);
    }
  }
  List &list() { return list_; }

 private:
  std::vector<int32_t> slot_;
  List list_;
};

// A neighbour list scaled to unit length, the squares summed best first.
List UnitLength(List list) {
  double sum = 0.0;
  for (const CandidatePair &c : list) sum += double(c.value) * double(c.value);
  if (list.empty()) return list;
  const float scale = float(1.0 / std::sqrt(sum));
  for (CandidatePair &c : list) c.value = float(double(scale) * double(c.value));
  return list;
}

bool Eligible(const Dense &d, int32_t c, int32_t support) {
  return d.frequency[size_t(c)] >= support;
}

// Cosine: users ascending over the copies of item i; their items ascending.
List CosineList(const Dense &d, int32_t i, int32_t nnbr, int32_t support) {
  Accumulator acc(d.ncols);
  for (int32_t u = 0; u < d.nrows; u++) {
    for (int32_t copy_i = 0; copy_i < d.count[size_t(u)][size_t(i)]; copy_i++) {
      const double w = d.cosine_value[size_t(u)][size_t(i)];
      for (int32_t c = 0; c < d.ncols; c++) {
        if (c == i || !Eligible(d, c, support)) continue;
        const double v = d.cosine_value[size_t(u)][size_t(c)];
        for (int32_t copy_c = 0; copy_c < d.count[size_t(u)][size_t(c)]; copy_c++)
          acc.Add(c, float(v * w), [&](float sum) { return float(v * w + double(sum)); });
      }
    }
  }
  return UnitLength(Ranked(acc.list(), nnbr));
}

// Conditional probability: users ascending over the copies of item i; their
// items in input order; then each damped by its frequency to the alpha.
List CProbList(const Dense &d, int32_t i, int32_t nnbr, float alpha, int32_t support) {
  Accumulator acc(d.ncols);
  for (int32_t u = 0; u < d.nrows; u++) {
    for (int32_t copy_i = 0; copy_i < d.count[size_t(u)][size_t(i)]; copy_i++)
      for (int32_t c : d.items[size_t(u)]) {
        const float s = d.row_value[size_t(u)][size_t(c)];
        if (c != i && Eligible(d, c, support))
          acc.Add(c, s, [&](float sum) { return float(double(s) + double(sum)); });
      }
  }
  for (CandidatePair &c : acc.list())
    c.value = float(double(c.value) / std::pow(double(d.frequency[size_t(c.key)]), double(alpha)));
  return UnitLength(Ranked(acc.list(), nnbr));
}

// What a query may leave out, restrict itself to or add (TOVRAN_QueryOptions).
struct Options {
  std::vector<int32_t> filter = {};
  std::optional<std::vector<int32_t>> items = std::nullopt;
  bool keep_basket = false, fallback = false;
};

// Every item of a pair, by summed weight, ties by lower id.
std::vector<int32_t> PopularityOrder(const Dense &d) {
  std::vector<int32_t> order;
  for (int32_t c = 0; c < d.ncols; c++)
    if (d.held[size_t(c)] > 0.0) order.push_back(c);
  std::stable_sort(order.begin(), order.end(),
                   [&](int32_t a, int32_t b) { return d.held[size_t(a)] > d.held[size_t(b)]; });
  return order;
}

bool Holds(const std::vector<int32_t> &list, int32_t c) {
  return std::find(list.begin(), list.end(), c) != list.end();
}

// Whether a gather leaves c out: a basket item (unless kept) or a filtered one.
bool LeftOut(const Options &o, const std::vector<int32_t> &basket, int32_t c) {
  return (!o.keep_basket && Holds(basket, c)) || Holds(o.filter, c);
}

// The answer from the candidates of a gather, in first-appearance order:
// the N best (restricted to the listed items, the others listed after), then
// the popularity ranking's items under fallback.
List Finish(const Dense &d, const List &cands, const Options &o, const std::vector<int32_t> &basket,
            int32_t N, bool ranked = false) {
  const std::vector<int32_t> order = PopularityOrder(d);
  List kept;
  for (const CandidatePair &c : cands)
    if (!o.items || Holds(*o.items, c.key)) kept.push_back(c);
  List answer = ranked ? List(kept.begin(), kept.begin() + std::min<size_t>(kept.size(), N))
                       : Ranked(kept, N);
  auto listed = [&](int32_t c) {
    return std::any_of(answer.begin(), answer.end(),
                       [&](const CandidatePair &a) { return a.key == c; });
  };
  if (o.items) {
    std::vector<int32_t> unscored;
    for (int32_t c : *o.items)
      if (!LeftOut(o, basket, c) && !Holds(Keys(kept), c) && !Holds(unscored, c))
        unscored.push_back(c);
    if (o.fallback)
      std::stable_sort(unscored.begin(), unscored.end(), [&](int32_t a, int32_t b) {
        const auto rank = [&](int32_t c) {
          return size_t(std::find(order.begin(), order.end(), c) - order.begin());
        };
        return rank(a) < rank(b);
      });
    for (int32_t c : unscored)
      if (int32_t(answer.size()) < N) answer.push_back({0.0f, c});
    for (int32_t c : *o.items)
      if (int32_t(answer.size()) < N && Holds(basket, c) && !LeftOut(o, {}, c) && !listed(c) &&
          !o.keep_basket)
        answer.push_back({-std::numeric_limits<float>::infinity(), c});
  } else if (o.fallback) {
    for (int32_t c : order)
      if (int32_t(answer.size()) < N && !LeftOut(o, basket, c) && !listed(c))
        answer.push_back({0.0f, c});
  }
  return answer;
}

// The answer of an item model whose lists are `lists`.
List ItemAnswer(const Dense &d, const std::vector<List> &lists, const std::vector<int32_t> &basket,
                int32_t N, const Options &o = {}) {
  Accumulator acc(d.ncols);
  for (int32_t b : basket)
    for (const CandidatePair &n : lists[size_t(b)])
      if (!LeftOut(o, basket, n.key))
        acc.Add(n.key, n.value, [&](float sum) { return float(double(sum) + double(n.value)); });
  return Finish(d, acc.list(), o, basket, N);
}

// The answer of the popularity model: its ranking, scored by summed weight.
List PopularAnswer(const Dense &d, const std::vector<int32_t> &basket, int32_t N,
                   const Options &o = {}) {
  List cands;
  for (int32_t c : PopularityOrder(d))
    if (!LeftOut(o, basket, c)) cands.push_back({float(d.held[size_t(c)]), c});
  return Finish(d, cands, o, basket, N, true);
}

// The answer of the user-based model: the basket's cosine with every user,
// near-identical users dropped (the last candidate takes the freed place),
// the nnbr best users' items outside the basket weighted by similarity.
List UserAnswer(const Dense &d, const std::vector<int32_t> &basket, int32_t nnbr, int32_t N,
                const Options &o = {}) {
  Accumulator users(d.nrows);
  for (int32_t b : basket) {
    for (int32_t u = 0; u < d.nrows; u++) {
      const float s = d.row_value[size_t(u)][size_t(b)];
      for (int32_t copy = 0; copy < d.count[size_t(u)][size_t(b)]; copy++)
        users.Add(u, s, [&](float sum) { return float(double(sum) + double(s)); });
    }
  }
  List &similar = users.list();
  const float s0 = float(1.0 / std::sqrt(double(basket.size())));
  for (CandidatePair &c : similar) c.value = float(double(s0) * double(c.value));
  for (size_t t = 0; t < similar.size();) {
    if (double(similar[t].value) > 0.999) {
      similar[t] = similar.back();
      similar.pop_back();
    } else {
      t++;
    }
  }
  Accumulator items(d.ncols);
  for (const CandidatePair &neighbour : Ranked(similar, nnbr)) {
    const double sim = neighbour.value;
    for (int32_t c : d.items[size_t(neighbour.key)]) {
      const double s = d.row_value[size_t(neighbour.key)][size_t(c)];
      if (!LeftOut(o, basket, c))
        items.Add(c, float(sim * s), [&](float sum) { return float(sim * s + double(sum)); });
    }
  }
  return Finish(d, items.list(), o, basket, N);
}

// Baskets: every user's own items (as the evaluation asks) and random ones
// with repeats.
std::vector<std::vector<int32_t>> Baskets(const Dense &d, uint32_t seed) {
  std::vector<std::vector<int32_t>> baskets;
  for (const std::vector<int32_t> &row : d.items)
    if (!row.empty()) baskets.push_back(row);
  std::mt19937 rng(seed);
  for (int q = 0; q < 10; q++) {
    std::vector<int32_t> basket(1 + rng() % 5);
    for (int32_t &b : basket) b = int32_t(rng() % uint32_t(d.ncols));
    baskets.push_back(basket);
  }
  return baskets;
}

constexpr uint32_t kSeeds = 60;
constexpr int32_t kNeighbourSizes[] = {1, 2, 3, 5, 20};
constexpr float kAlphas[] = {0.0f, 0.3f, 0.5f, 1.0f};
constexpr int32_t kAnswerSizes[] = {1, 3, 10};

void CheckItemModel(const PairList &p, const Dense &d, int32_t type, int32_t nnbr, float alpha,
                    uint32_t seed, int32_t support = kMinItemFrequency) {
  TOVRAN_Params params = TOVRAN_DefaultParams(type);
  params.nnbr = nnbr;
  params.alpha = alpha;
  params.min_support = support;
  Model *model = p.Build(params);
  std::vector<List> lists;
  for (int32_t i = 0; i < p.ncols; i++) {
    lists.push_back(type == TOVRAN_ITEM_COSINE ? CosineList(d, i, nnbr, support)
                                               : CProbList(d, i, nnbr, alpha, support));
    EXPECT_EQ(Bits(ListOf(model, i)), Bits(lists.back())) << "list of item " << i;
  }
  for (const std::vector<int32_t> &basket : Baskets(d, seed))
    for (int32_t N : kAnswerSizes)
      EXPECT_EQ(Ask(model, basket, N), Keys(ItemAnswer(d, lists, basket, N)));
  TOVRAN_FreeModel(model);
}

TEST(OracleModels, CosineListsAndAnswersMatchDenseReference) {
  for (uint32_t seed = 1; seed <= kSeeds; seed++) {
    SCOPED_TRACE(seed);
    const PairList p = RandomPairs(seed);
    const Dense d = MakeDense(p);
    for (int32_t nnbr : kNeighbourSizes) CheckItemModel(p, d, TOVRAN_ITEM_COSINE, nnbr, 0.0f, seed);
  }
}

TEST(OracleModels, ConditionalProbabilityListsAndAnswersMatchDenseReference) {
  for (uint32_t seed = 1; seed <= kSeeds; seed++) {
    SCOPED_TRACE(seed);
    const PairList p = RandomPairs(seed);
    const Dense d = MakeDense(p);
    for (int32_t nnbr : kNeighbourSizes)
      for (float alpha : kAlphas) CheckItemModel(p, d, TOVRAN_ITEM_CPROB, nnbr, alpha, seed);
  }
}

TEST(OracleModels, ItemListsOverThousandsOfItemsMatchDenseReference) {
  for (uint32_t seed = 1; seed <= kSeeds / 6; seed++) {
    SCOPED_TRACE(seed);
    const PairList p = RandomPairs(seed, true);
    const Dense d = MakeDense(p);
    for (int32_t nnbr : {2, 20}) {
      CheckItemModel(p, d, TOVRAN_ITEM_COSINE, nnbr, 0.0f, seed, 1);
      CheckItemModel(p, d, TOVRAN_ITEM_CPROB, nnbr, 0.3f, seed, 1);
    }
  }
}

TEST(OracleModels, ItemModelsTakeNeighboursWithTheSupportAsked) {
  for (uint32_t seed = 1; seed <= kSeeds / 4; seed++) {
    SCOPED_TRACE(seed);
    const PairList p = RandomPairs(seed);
    const Dense d = MakeDense(p);
    for (int32_t support : {1, 2, 5}) {
      SCOPED_TRACE(support);
      CheckItemModel(p, d, TOVRAN_ITEM_COSINE, 5, 0.0f, seed, support);
      CheckItemModel(p, d, TOVRAN_ITEM_CPROB, 5, 0.5f, seed, support);
    }
  }
}

TEST(OracleModels, UserBasedAnswersMatchDenseReference) {
  for (uint32_t seed = 1; seed <= kSeeds; seed++) {
    SCOPED_TRACE(seed);
    const PairList p = RandomPairs(seed);
    const Dense d = MakeDense(p);
    for (int32_t nnbr : kNeighbourSizes) {
      Model *model = p.Build(TOVRAN_USER_BASED, nnbr);
      for (const std::vector<int32_t> &basket : Baskets(d, seed))
        for (int32_t N : kAnswerSizes)
          EXPECT_EQ(Ask(model, basket, N), Keys(UserAnswer(d, basket, nnbr, N)));
      TOVRAN_FreeModel(model);
    }
  }
}

}  // namespace

namespace {

// Pairs without repeats, each with a value from a few ratings and counts.
std::pair<PairList, std::vector<float>> ValuedPairs(uint32_t seed) {
  constexpr float kValues[] = {1.0f, 5.0f, 0.5f, 2.0f, 3.25f, 40.0f};
  const PairList all = RandomPairs(seed);
  PairList p{all.nrows, all.ncols};
  std::vector<float> values;
  std::mt19937 rng(seed + 1000);
  for (size_t k = 0; k < all.rows.size(); k++) {
    bool seen = false;
    for (size_t j = 0; j < p.rows.size(); j++)
      seen |= p.rows[j] == all.rows[k] && p.cols[j] == all.cols[k];
    if (seen) continue;
    p.Add(all.rows[k], {all.cols[k]});
    values.push_back(kValues[rng() % 6]);
  }
  return {p, values};
}

// Each pair's weight as the weighting's formula gives it.
std::vector<float> Weights(const PairList &p, const std::vector<float> &v, const TOVRAN_Params &w) {
  std::vector<double> df(size_t(p.nrows), 0.0), len(size_t(p.ncols), 0.0);
  for (size_t k = 0; k < v.size(); k++) {
    df[size_t(p.rows[k])] += 1.0;
    len[size_t(p.cols[k])] += double(v[k]);
  }
  double held = 0.0, total = 0.0;
  for (double l : len)
    if (l > 0.0) held += 1.0, total += l;
  std::vector<float> weights;
  for (size_t k = 0; k < v.size(); k++) {
    const double x = v[k], d = df[size_t(p.rows[k])];
    const double norm =
        (1.0 - double(w.bm25_b)) + double(w.bm25_b) * len[size_t(p.cols[k])] / (total / held);
    const double k1 = w.bm25_k1;
    weights.push_back(
        float(w.weighting == TOVRAN_WEIGHT_RAW   ? x
              : w.weighting == TOVRAN_WEIGHT_LOG ? std::log1p(x)
              : w.weighting == TOVRAN_WEIGHT_BM25
                  ? x * (k1 + 1.0) / (x + k1 * norm) * std::log(1.0 + (held - d + 0.5) / (d + 0.5))
                  : std::sqrt(x) * std::log(1.0 + held / d)));
  }
  return weights;
}

// The engine's answer with options, scores and all.
List AskWith(Model *model, const std::vector<int32_t> &basket, int32_t N, const Options &o) {
  static const int32_t kNone = 0;
  const TOVRAN_QueryOptions q{o.filter.data(),
                              int32_t(o.filter.size()),
                              o.items ? (o.items->empty() ? &kNone : o.items->data()) : nullptr,
                              o.items ? int32_t(o.items->size()) : 0,
                              o.keep_basket,
                              o.fallback};
  std::vector<int32_t> ids(static_cast<size_t>(N));
  std::vector<float> scores(static_cast<size_t>(N));
  const int32_t m = TOVRAN_RecommendFiltered(model, int32_t(basket.size()), basket.data(), N, &q,
                                             ids.data(), scores.data());
  EXPECT_GE(m, 0) << TOVRAN_LastError();
  // A caller's scratch gives the same answer, bit for bit.
  TOVRAN_Scratch *scratch = TOVRAN_CreateScratch(model);
  std::vector<int32_t> ids_with(static_cast<size_t>(N));
  std::vector<float> scores_with(static_cast<size_t>(N));
  EXPECT_EQ(TOVRAN_RecommendFilteredWith(model, scratch, int32_t(basket.size()), basket.data(), N,
                                         &q, ids_with.data(), scores_with.data()),
            m);
  TOVRAN_FreeScratch(scratch);
  EXPECT_EQ(ids_with, ids);
  EXPECT_EQ(Bits(scores_with.data(), scores_with.size()), Bits(scores.data(), scores.size()));
  List answer;
  for (int32_t t = 0; t < m; t++) answer.push_back({scores[size_t(t)], ids[size_t(t)]});
  return answer;
}

// The reference answer of a model of kind type (lists: an item model's).
List Reference(int32_t type, const Dense &d, const std::vector<List> &lists, int32_t nnbr,
               const std::vector<int32_t> &basket, int32_t N, const Options &o = {}) {
  switch (type) {
    case TOVRAN_POPULAR: return PopularAnswer(d, basket, N, o);
    case TOVRAN_USER_BASED: return UserAnswer(d, basket, nnbr, N, o);
    default: return ItemAnswer(d, lists, basket, N, o);
  }
}

// Builds kind type over the pairs with params (values for a weighting) and
// checks item lists against the reference; returns the model and lists.
Model *BuildChecked(const PairList &p, const std::vector<float> &values, const Dense &d,
                    const TOVRAN_Params &params, std::vector<List> *lists) {
  Model *model = TOVRAN_BuildWeighted(p.nrows, p.ncols, int32_t(p.rows.size()), p.rows.data(),
                                      p.cols.data(), values.data(), &params);
  EXPECT_NE(model, nullptr) << TOVRAN_LastError();
  if (params.kind == TOVRAN_ITEM_COSINE || params.kind == TOVRAN_ITEM_CPROB)
    for (int32_t i = 0; i < p.ncols; i++) {
      lists->push_back(params.kind == TOVRAN_ITEM_COSINE
                           ? CosineList(d, i, params.nnbr, params.min_support)
                           : CProbList(d, i, params.nnbr, params.alpha, params.min_support));
      EXPECT_EQ(Bits(ListOf(model, i)), Bits(lists->back())) << "list of item " << i;
    }
  return model;
}

TEST(OracleModels, EveryWeightingAndKindMatchesDenseReference) {
  for (uint32_t seed = 1; seed <= kSeeds / 3; seed++) {
    SCOPED_TRACE(seed);
    const auto [p, values] = ValuedPairs(seed);
    for (int32_t weighting = TOVRAN_WEIGHT_RAW; weighting <= TOVRAN_WEIGHT_TFIDF; weighting++) {
      for (int32_t type = TOVRAN_POPULAR; type <= TOVRAN_USER_BASED; type++) {
        SCOPED_TRACE(testing::Message() << "weighting " << weighting << " kind " << type);
        TOVRAN_Params params = TOVRAN_DefaultParams(type);
        params.weighting = weighting;
        params.nnbr = type == TOVRAN_POPULAR ? 0 : 5;
        params.alpha = 0.5f;
        params.min_support = 1;
        params.bm25_k1 = 3.0f;
        params.bm25_b = 0.5f;
        const Dense d = MakeDense(p, Weights(p, values, params));
        std::vector<List> lists;
        Model *model = BuildChecked(p, values, d, params, &lists);
        for (const std::vector<int32_t> &basket : Baskets(d, seed))
          for (int32_t N : kAnswerSizes)
            EXPECT_EQ(Bits(AskWith(model, basket, N, {})),
                      Bits(Reference(type, d, lists, params.nnbr, basket, N)));
        TOVRAN_FreeModel(model);
      }
    }
  }
}

// Random options: a few filtered items, sometimes a list to draw from
// (with repeats, basket and filtered items among them), kept baskets and
// fallback.
Options RandomOptions(std::mt19937 &rng, int32_t ncols, const std::vector<int32_t> &basket) {
  Options o;
  for (uint32_t k = rng() % 4; k > 0; k--) o.filter.push_back(int32_t(rng() % uint32_t(ncols)));
  if (rng() % 2) {
    o.items.emplace();
    for (uint32_t k = rng() % 8; k > 0; k--) o.items->push_back(int32_t(rng() % uint32_t(ncols)));
    if (!basket.empty() && rng() % 2) o.items->push_back(basket[0]);
    if (!o.filter.empty() && rng() % 2) o.items->push_back(o.filter[0]);
  }
  o.keep_basket = rng() % 3 == 0;
  o.fallback = rng() % 2;
  return o;
}

TEST(OracleModels, FiltersListsKeptBasketsAndFallbackMatchDenseReference) {
  for (uint32_t seed = 1; seed <= kSeeds / 2; seed++) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    const auto [valued, values] = ValuedPairs(seed);
    // Binary on pairs with repeats, and a weighting on distinct ones.
    for (const bool weighted : {false, true}) {
      const PairList p = weighted ? valued : RandomPairs(seed);
      for (int32_t type = TOVRAN_POPULAR; type <= TOVRAN_USER_BASED; type++) {
        SCOPED_TRACE(testing::Message() << "kind " << type << (weighted ? " weighted" : ""));
        TOVRAN_Params params = TOVRAN_DefaultParams(type);
        params.nnbr = type == TOVRAN_POPULAR ? 0 : 3;
        params.alpha = 0.3f;
        params.min_support = 1;
        if (weighted) params.weighting = TOVRAN_WEIGHT_LOG;
        const std::vector<float> no_values(p.rows.size(), 1.0f);
        const Dense d = MakeDense(p, weighted ? Weights(p, values, params) : std::vector<float>{});
        std::vector<List> lists;
        Model *model = BuildChecked(p, weighted ? values : no_values, d, params, &lists);
        for (const std::vector<int32_t> &basket : Baskets(d, seed)) {
          const Options o = RandomOptions(rng, p.ncols, basket);
          for (int32_t N : {1, 4, 40})
            EXPECT_EQ(Bits(AskWith(model, basket, N, o)),
                      Bits(Reference(type, d, lists, params.nnbr, basket, N, o)));
        }
        TOVRAN_FreeModel(model);
      }
    }
  }
}

}  // namespace
