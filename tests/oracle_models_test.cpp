// The engine against a brute-force dense reference on small seeded random
// data. The reference walks the dense count matrix (users ascending, items
// ascending or in each user's input order, as each model defines its sums),
// so it adds the same terms in the same order with the same roundings
// (double intermediates, single-precision storage) and must agree to the bit.
// Ties are decided by the engine's own SelectTopCandidates/SortCandidates,
// fed in the reference's order of first appearance.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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
// order, the row scales and the doubly normalised values.
struct Dense {
  int32_t nrows, ncols;
  std::vector<std::vector<int32_t>> count;       // [user][item] copies
  std::vector<std::vector<int32_t>> items;       // [user] items in input order
  std::vector<int32_t> frequency;                // [item] entries of its column
  std::vector<float> row_scale;                  // [user] 1/sqrt(entries)
  std::vector<std::vector<float>> cosine_value;  // [user][item] row, then column scaled
};

Dense MakeDense(const PairList &p) {
  Dense d{p.nrows, p.ncols, {}, {}, {}, {}, {}};
  d.count.assign(size_t(p.nrows), std::vector<int32_t>(size_t(p.ncols), 0));
  d.items.assign(size_t(p.nrows), {});
  d.frequency.assign(size_t(p.ncols), 0);
  for (size_t k = 0; k < p.rows.size(); k++) {
    d.count[size_t(p.rows[k])][size_t(p.cols[k])]++;
    d.items[size_t(p.rows[k])].push_back(p.cols[k]);
    d.frequency[size_t(p.cols[k])]++;
  }
  for (int32_t u = 0; u < p.nrows; u++) {
    const double entries = double(d.items[size_t(u)].size());
    d.row_scale.push_back(entries > 0 ? float(1.0 / std::sqrt(entries)) : 0.0f);
  }
  d.cosine_value.assign(size_t(p.nrows), std::vector<float>(size_t(p.ncols), 0.0f));
  for (int32_t c = 0; c < p.ncols; c++) {
    double sum = 0.0;
    for (int32_t u = 0; u < p.nrows; u++)
      for (int32_t copy = 0; copy < d.count[size_t(u)][size_t(c)]; copy++)
        sum += double(d.row_scale[size_t(u)]) * double(d.row_scale[size_t(u)]);
    if (sum == 0.0) continue;
    const float scale = float(1.0 / std::sqrt(sum));
    for (int32_t u = 0; u < p.nrows; u++)
      d.cosine_value[size_t(u)][size_t(c)] = float(double(scale) * double(d.row_scale[size_t(u)]));
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
    const float s = d.row_scale[size_t(u)];
    for (int32_t copy_i = 0; copy_i < d.count[size_t(u)][size_t(i)]; copy_i++)
      for (int32_t c : d.items[size_t(u)])
        if (c != i && Eligible(d, c, support))
          acc.Add(c, s, [&](float sum) { return float(double(s) + double(sum)); });
  }
  for (CandidatePair &c : acc.list())
    c.value = float(double(c.value) / std::pow(double(d.frequency[size_t(c.key)]), double(alpha)));
  return UnitLength(Ranked(acc.list(), nnbr));
}

// The answer of an item model whose lists are `lists`.
std::vector<int32_t> ItemAnswer(const std::vector<List> &lists, int32_t ncols,
                                const std::vector<int32_t> &basket, int32_t N) {
  std::vector<bool> in_basket(size_t(ncols), false);
  for (int32_t b : basket) in_basket[size_t(b)] = true;
  Accumulator acc(ncols);
  for (int32_t b : basket)
    for (const CandidatePair &n : lists[size_t(b)])
      if (!in_basket[size_t(n.key)])
        acc.Add(n.key, n.value, [&](float sum) { return float(double(sum) + double(n.value)); });
  return Keys(Ranked(acc.list(), N));
}

// The answer of the user-based model: the basket's cosine with every user,
// near-identical users dropped (the last candidate takes the freed place),
// the nnbr best users' items outside the basket weighted by similarity.
std::vector<int32_t> UserAnswer(const Dense &d, const std::vector<int32_t> &basket, int32_t nnbr,
                                int32_t N) {
  Accumulator users(d.nrows);
  for (int32_t b : basket) {
    for (int32_t u = 0; u < d.nrows; u++) {
      const float s = d.row_scale[size_t(u)];
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
  std::vector<bool> in_basket(size_t(d.ncols), false);
  for (int32_t b : basket) in_basket[size_t(b)] = true;
  Accumulator items(d.ncols);
  for (const CandidatePair &neighbour : Ranked(similar, nnbr)) {
    const double sim = neighbour.value;
    const double s = d.row_scale[size_t(neighbour.key)];
    for (int32_t c : d.items[size_t(neighbour.key)])
      if (!in_basket[size_t(c)])
        items.Add(c, float(sim * s), [&](float sum) { return float(sim * s + double(sum)); });
  }
  return Keys(Ranked(items.list(), N));
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
      EXPECT_EQ(Ask(model, basket, N), ItemAnswer(lists, p.ncols, basket, N));
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
          EXPECT_EQ(Ask(model, basket, N), UserAnswer(d, basket, nnbr, N));
      TOVRAN_FreeModel(model);
    }
  }
}

}  // namespace
