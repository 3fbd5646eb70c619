// The user-based query's two ways through phase 1, marks and column bits,
// on data whose candidate arrays are a few classes in adversarial orders:
// the whole candidate array must be the same pair for pair, bit for bit,
// before the selection and after every pass of it, and the answers the
// reference's.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/model.h"
#include "engine/user_gather.h"
#include "tests/fixtures.h"
#include "tests/reference_candidates.h"
#include "tests/reference_queries.h"

namespace {

constexpr int32_t kUsers = 700;

// Item 0 is held by every user (a dense column), item 1 by every third;
// each user also holds `extra(u)` items of its own row-length class.
template <class Extra>
PairList Classes(Extra extra) {
  PairList p{kUsers, 40};
  for (int32_t u = 0; u < kUsers; u++) {
    p.Add(u, {0});
    if (u % 3 == 0) p.Add(u, {1});
    for (int32_t k = extra(u), c = 2 + u % 7; k > 0; k--, c = 2 + (c + 5) % 38) p.Add(u, {c});
  }
  return p;
}

List Candidates(const Model *model, TOVRAN_Scratch *scratch, const std::vector<int32_t> &basket,
                UserGather how) {
  const int32_t nr =
      GatherUserCandidates(model, scratch, int32_t(basket.size()), basket.data(), how);
  return List(scratch->user_candidates, scratch->user_candidates + nr);
}

void ExpectSameWays(const PairList &p, const char *what) {
  Model *model = p.Build(TOVRAN_USER_BASED, 50);
  ASSERT_NE(model->users.colbits, nullptr) << what;
  TOVRAN_Scratch own = ModelScratch(model);
  TOVRAN_Scratch *other = TOVRAN_CreateScratch(model);
  std::vector<std::vector<int32_t>> baskets = {
      {0},          {0, 3, 4},       {3, 4, 0},    {3, 0, 4},    {0, 0, 3},
      {3, 0, 3, 0}, {1, 0, 2, 5, 9}, {2, 3, 4, 5}, {0, 1, 0, 1}, {5, 0, 6, 0, 7, 1}};
  std::mt19937 rng(17);
  std::uniform_int_distribution<int32_t> item(0, p.ncols - 1), length(1, 30);
  for (int32_t b = 0; b < 60; b++) {
    std::vector<int32_t> basket(size_t(length(rng)));
    for (int32_t &c : basket) c = item(rng);
    basket[size_t(b) % basket.size()] = 0;  // the long column anywhere
    baskets.push_back(basket);
  }
  for (const std::vector<int32_t> &basket : baskets) {
    // The column bits run on the created scratch, the marks on the model's.
    List marks = Candidates(model, &own, basket, UserGather::kMarks);
    List bits = Candidates(model, other, basket, UserGather::kColumnBits);
    ASSERT_EQ(Bits(bits), Bits(marks)) << what << ", basket of " << basket.size();
    // And again with the ways swapped: every counter and mark was put back.
    ASSERT_EQ(Bits(Candidates(model, &own, basket, UserGather::kColumnBits)), Bits(marks));
    ASSERT_EQ(Bits(Candidates(model, other, basket, UserGather::kMarks)), Bits(marks));
    const auto nr = int32_t(marks.size());
    for (int32_t lo = 0, hi = nr - 1; hi - lo > 2;) {
      int32_t i, j, i2, j2;
      ReferencePartition(marks.data(), lo, hi, &i, &j);
      ReferencePartition(bits.data(), lo, hi, &i2, &j2);
      ASSERT_EQ(i, i2);
      ASSERT_EQ(Bits(bits), Bits(marks)) << what << ": pass on " << lo << ".." << hi;
      if (i == model->nnbr) break;
      (i > model->nnbr ? hi : lo) = i;
    }
    // The query as a whole, whichever way it takes, answers as the reference.
    const auto n = int32_t(basket.size());
    ASSERT_EQ(Ask(model, basket, 10), ReferenceRecommendByUsers(*model, n, basket.data(), 10))
        << what;
  }
  TOVRAN_FreeScratch(other);
  TOVRAN_FreeModel(model);
}

TEST(UserGather, ColumnBitsGiveTheMarksCandidatesOnFewClasses) {
  // Every row one length: every user of a hit count has the same value.
  ExpectSameWays(Classes([](int32_t) { return 1; }), "one row length");
  // Two classes interleaved user by user.
  ExpectSameWays(Classes([](int32_t u) { return u % 2 == 0 ? 0 : 3; }), "two classes");
  // Rows of 1, 4 and 16 items hold 1, 1/2 and 1/4: one, two and four hits of
  // them sum to the same value, so classes tie across hit counts.
  ExpectSameWays(Classes([](int32_t u) { return u % 3 == 0   ? 2
                                                : u % 3 == 1 ? 15
                                                             : 0; }),
                 "ties across classes");
  // Rows of one item (item 0 alone) among longer ones, with skewed lengths.
  std::mt19937 rng(5);
  std::geometric_distribution<int32_t> skew(0.3);
  std::vector<int32_t> lengths(kUsers);
  for (int32_t &k : lengths) k = std::min(skew(rng), 30);
  ExpectSameWays(Classes([&](int32_t u) { return lengths[size_t(u)]; }), "skewed lengths");
}

TEST(UserGather, ColumnBitsCountRepeatedPairs) {
  // Repeated pairs list their users twice in a column, dense or not (their
  // rows still hold one value): the repeats count as hits of their own.
  PairList p = Classes([](int32_t u) { return u % 4; });
  for (int32_t u = 0; u < kUsers; u += 3) p.Add(u, {0, 2 + u % 5, 2 + u % 5});
  ExpectSameWays(p, "repeated pairs");
}

TEST(UserGather, ColumnBitsStayOffWhereTheyCouldDiffer) {
  // Rows of two values (loaded from a model file, say): the marks alone.
  PairList p = Classes([](int32_t) { return 1; });
  Model *model = p.Build(TOVRAN_USER_BASED, 50);
  ASSERT_NE(model->users.colbits, nullptr);
  model->users.rowval[model->users.rowptr[7]] *= 0.5f;
  PrepareUserColumnBits(model);
  EXPECT_EQ(model->users.colbits, nullptr);
  TOVRAN_FreeModel(model);
  // Too few users for any column to pay.
  PairList small{100, 3};
  for (int32_t u = 0; u < 100; u++) small.Add(u, {0, u % 3});
  model = small.Build(TOVRAN_USER_BASED, 50);
  EXPECT_EQ(model->users.colbits, nullptr);
  TOVRAN_FreeModel(model);
}

}  // namespace
