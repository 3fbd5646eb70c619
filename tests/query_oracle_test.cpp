// The optimised queries (single, scored and batched) against dense plain
// computations of the same answers on seeded random data: few items and short rows, so
// that similarities tie often and first-arrival order decides lists.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/model.h"
#include "tests/fixtures.h"
#include "tests/program_runner.h"
#include "tests/reference_queries.h"

namespace {

// Users hold 1..maxrow items drawn from a skewed popularity; repeats of a
// pair are kept unless distinct is set.
PairList RandomPairs(uint32_t seed, int32_t nrows, int32_t ncols, int32_t maxrow,
                     bool distinct = false) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> length(1, maxrow);
  std::geometric_distribution<int32_t> popular(4.0 / ncols);
  PairList p{nrows, ncols};
  for (int32_t u = 0; u < nrows; u++) {
    const size_t first = p.cols.size();
    for (int32_t k = length(rng); k > 0; k--) {
      const int32_t c = popular(rng) % ncols;
      if (distinct && std::find(p.cols.begin() + first, p.cols.end(), c) != p.cols.end()) continue;
      p.Add(u, {c});
    }
  }
  return p;
}

// Every user's own row as basket, then random baskets with repeats.
std::vector<std::vector<int32_t>> Baskets(const PairList &p, uint32_t seed) {
  std::vector<std::vector<int32_t>> baskets;
  for (size_t i = 0; i < p.rows.size(); i++) {
    if (i == 0 || p.rows[i] != p.rows[i - 1]) baskets.emplace_back();
    baskets.back().push_back(p.cols[i]);
  }
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> item(0, p.ncols - 1), length(1, 24);
  for (int32_t b = 0; b < 200; b++) {
    std::vector<int32_t> basket;
    for (int32_t k = length(rng); k > 0; k--) basket.push_back(item(rng));
    baskets.push_back(basket);
  }
  return baskets;
}

// Every basket through TOVRAN_Recommend and TOVRAN_RecommendScored against
// the reference's ids and scores, then all of them as one batch on 1 and 3
// threads against the single answers.
void ExpectSameAnswers(int32_t type, Model *model, uint32_t seed, const PairList &p) {
  const std::vector<std::vector<int32_t>> baskets = Baskets(p, seed + 1);
  for (int32_t N : {1, 10}) {
    std::vector<int64_t> offsets{0};
    std::vector<int32_t> items, single_ids, single_counts;
    std::vector<float> single_scores;
    for (const std::vector<int32_t> &basket : baskets) {
      const auto n = int32_t(basket.size());
      std::vector<float> want_scores;
      const std::vector<int32_t> want =
          type == TOVRAN_USER_BASED
              ? ReferenceRecommendByUsers(*model, n, basket.data(), N, &want_scores)
              : ReferenceRecommendByItems(*model, n, basket.data(), N, &want_scores);
      ASSERT_EQ(Ask(model, basket, N), want) << "type " << type << " seed " << seed;
      Scored scored = AskScored(model, basket, N);
      ASSERT_EQ(scored.ids, want);
      ASSERT_EQ(Bits(scored.scores), Bits(want_scores));
      items.insert(items.end(), basket.begin(), basket.end());
      offsets.push_back(int64_t(items.size()));
      single_counts.push_back(int32_t(scored.ids.size()));
      scored.ids.resize(N, -1);
      scored.scores.resize(N, 0.0f);
      single_ids.insert(single_ids.end(), scored.ids.begin(), scored.ids.end());
      single_scores.insert(single_scores.end(), scored.scores.begin(), scored.scores.end());
    }
    const auto nbaskets = int32_t(baskets.size());
    for (int32_t threads : {1, 3}) {
      std::vector<int32_t> ids(single_ids.size()), counts(baskets.size());
      std::vector<float> scores(single_scores.size());
      ASSERT_EQ(TOVRAN_RecommendBatch(model, nbaskets, offsets.data(), items.data(), N, threads,
                                      ids.data(), scores.data(), counts.data()),
                0);
      EXPECT_EQ(ids, single_ids);
      EXPECT_EQ(Bits(scores), Bits(single_scores));
      EXPECT_EQ(counts, single_counts);
    }
  }
}

void ExpectSameAnswers(int32_t type, int32_t nnbr, float alpha, uint32_t seed, const PairList &p) {
  Model *model = p.Build(type, nnbr, alpha);
  ExpectSameAnswers(type, model, seed, p);
  TOVRAN_FreeModel(model);
}

void ExpectSameAnswers(int32_t type, int32_t nnbr, float alpha, uint32_t seed,
                       bool distinct = false) {
  ExpectSameAnswers(type, nnbr, alpha, seed, RandomPairs(seed, 400, 30, 9, distinct));
}

// Random users, the last ones holding the last item, every other one (the
// last one included) nothing else: the baskets of those users meet each
// other as near-identical users, some at the end of the candidates.
PairList WithCopies(uint32_t seed, int32_t copies) {
  const PairList random = RandomPairs(seed, 400, 30, 9, true);
  PairList p{random.nrows, random.ncols};
  for (size_t i = 0; i < random.rows.size(); i++)
    if (random.rows[i] < p.nrows - copies) p.Add(random.rows[i], {random.cols[i]});
  for (int32_t u = p.nrows - copies; u < p.nrows; u++) {
    // Every other one (the last one not) holds a second item too.
    if ((p.nrows - u) % 2 == 0) {
      p.Add(u, {p.ncols - 1, u % (p.ncols - 1)});
    } else {
      p.Add(u, {p.ncols - 1});
    }
  }
  return p;
}

TEST(QueryOracle, UserBasedMatchesTheDenseQuery) {
  for (uint32_t seed = 1; seed <= 6; seed++) ExpectSameAnswers(TOVRAN_USER_BASED, 50, 0.0f, seed);
  ExpectSameAnswers(TOVRAN_USER_BASED, 3, 0.0f, 99);
}

// Every user at most once per column, and long random baskets.
TEST(QueryOracle, UserBasedMatchesOnColumnsWithoutRepeats) {
  for (uint32_t seed = 1; seed <= 6; seed++)
    ExpectSameAnswers(TOVRAN_USER_BASED, 50, 0.0f, seed, true);
}

// Candidate arrays of a few (hits, row length) classes in adversarial orders:
// item 0 held by every user (the long column), item 1 by every third, and
// `extra(u)` items of the user's own; baskets put the long column first,
// last, in the middle and twice.
template <class Extra>
void ExpectFewClassesAnswered(Extra extra, const char *what) {
  PairList p{700, 40};
  for (int32_t u = 0; u < 700; u++) {
    p.Add(u, {0});
    if (u % 3 == 0) p.Add(u, {1});
    for (int32_t k = extra(u), c = 2 + u % 7; k > 0; k--, c = 2 + (c + 5) % 38) p.Add(u, {c});
  }
  Model *model = p.Build(TOVRAN_USER_BASED, 50);
  std::vector<std::vector<int32_t>> baskets = {
      {0}, {0, 3, 4}, {3, 4, 0}, {3, 0, 4}, {0, 0, 3}, {3, 0, 3, 0}, {1, 0, 2, 5, 9}, {0, 1, 0, 1}};
  std::mt19937 rng(17);
  std::uniform_int_distribution<int32_t> item(0, 39), length(1, 30);
  for (int32_t b = 0; b < 40; b++) {
    std::vector<int32_t> basket(size_t(length(rng)));
    for (int32_t &c : basket) c = item(rng);
    basket[size_t(b) % basket.size()] = 0;
    baskets.push_back(basket);
  }
  for (const std::vector<int32_t> &basket : baskets)
    ASSERT_EQ(Ask(model, basket, 10),
              ReferenceRecommendByUsers(*model, int32_t(basket.size()), basket.data(), 10))
        << what << ", basket of " << basket.size();
  TOVRAN_FreeModel(model);
}

TEST(QueryOracle, UserBasedMatchesOnFewClassesInAdversarialOrders) {
  ExpectFewClassesAnswered([](int32_t) { return 1; }, "one row length");
  ExpectFewClassesAnswered([](int32_t u) { return u % 2 == 0 ? 0 : 3; }, "two classes");
  // Rows of 1, 4 and 16 items hold 1, 1/2 and 1/4: one, two and four hits
  // sum to the same value, so classes tie across hit counts.
  ExpectFewClassesAnswered([](int32_t u) { return u % 3 == 0   ? 2
                                                  : u % 3 == 1 ? 15
                                                               : 0; },
                           "ties across classes");
}

// Fewer near-identical users than a query notes (room for 30) and more.
TEST(QueryOracle, UserBasedDropsNearIdenticalUsersAsTheDenseQuery) {
  ExpectSameAnswers(TOVRAN_USER_BASED, 5, 0.0f, 7, WithCopies(7, 40));
  ExpectSameAnswers(TOVRAN_USER_BASED, 10, 0.0f, 8, WithCopies(8, 120));
}

// Saves built and loads it back with -0.0 for every value j (of count, from
// byte values of the file on) that zero(j) picks; the checksum is redone.
template <typename Zero>
Model *LoadWithNegativeZeros(Model *built, const char *name, size_t values, int32_t count,
                             Zero zero) {
  const std::string path = TempPath(std::string(name) + ".tovran");
  EXPECT_EQ(TOVRAN_SaveModel(built, path.c_str()), 0) << TOVRAN_LastError();
  std::string bytes = ReadFile(path);
  for (int32_t j = 0; j < count; j++)
    if (zero(j)) std::memcpy(&bytes[values + 4 * size_t(j)], "\0\0\0\x80", 4);
  bytes.resize(bytes.size() - 4);
  const auto crc =
      uint32_t(crc32(0, reinterpret_cast<const Bytef *>(bytes.data()), uInt(bytes.size())));
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(char((crc >> shift) & 0xff));
  Model *loaded =
      TOVRAN_LoadModel(WriteTempFile(std::string(name) + "_patched.tovran", bytes).c_str());
  EXPECT_NE(loaded, nullptr) << TOVRAN_LastError();
  return loaded;
}

// A model file may hold rows of -0.0, whose sums stay -0.0 (a user's mark
// before it is met) and whose neighbour terms can be -0.0 (an item's): the
// queries must list each such user and item once all the same.
TEST(QueryOracle, UserBasedMatchesOnLoadedRowsOfNegativeZero) {
  const PairList p = RandomPairs(11, 400, 30, 9);
  Model *built = p.Build(TOVRAN_USER_BASED, 40);
  // After the header (64 bytes) and the row offsets: the column ids, then
  // the row values; a third of the users get -0.0 throughout, another third
  // at their first entry only.
  const size_t values =
      64 + 4 * size_t(built->users.nrows + 1) + 4 * size_t(built->users.rowptr[built->users.nrows]);
  std::vector<bool> zero;
  for (int32_t u = 0; u < built->users.nrows; u++)
    for (int32_t j = built->users.rowptr[u]; j < built->users.rowptr[u + 1]; j++)
      zero.push_back(u % 3 == 0 || (u % 3 == 1 && j == built->users.rowptr[u]));
  Model *loaded = LoadWithNegativeZeros(built, "negative_zero_rows", values,
                                        built->users.rowptr[built->users.nrows],
                                        [&](int32_t j) { return zero[size_t(j)]; });
  TOVRAN_FreeModel(built);
  ASSERT_NE(loaded, nullptr);
  ExpectSameAnswers(TOVRAN_USER_BASED, loaded, 11, p);
  TOVRAN_FreeModel(loaded);
}

// Likewise neighbour lists of -0.0 (an item's mark before it is met, when
// the lists hold none): every third value of the lists.
TEST(QueryOracle, ItemBasedMatchesOnLoadedListsOfNegativeZero) {
  const PairList p = RandomPairs(12, 400, 30, 9);
  Model *built = p.Build(TOVRAN_ITEM_COSINE, 20);
  const int32_t entries = built->lists.itemptr[built->nitems];
  const size_t values = 64 + 4 * size_t(built->nitems + 1) + 4 * size_t(entries);
  Model *loaded = LoadWithNegativeZeros(built, "negative_zero_lists", values, entries,
                                        [](int32_t j) { return j % 3 == 0; });
  TOVRAN_FreeModel(built);
  ASSERT_NE(loaded, nullptr);
  ExpectSameAnswers(TOVRAN_ITEM_COSINE, loaded, 12, p);
  TOVRAN_FreeModel(loaded);
}

// Over 32,768 items, where the queries keep slots in the item marks: the
// random pairs over 30 items, and every seventh user also holds one of the
// last five.
TEST(QueryOracle, AnswersOverManyItemsMatchTheDenseQueries) {
  PairList p = RandomPairs(5, 400, 30, 9);
  p.ncols = 40000;
  for (int32_t u = 0; u < p.nrows; u += 7) p.Add(u, {p.ncols - 1 - u % 5});
  ExpectSameAnswers(TOVRAN_USER_BASED, 50, 0.0f, 5, p);
  ExpectSameAnswers(TOVRAN_ITEM_COSINE, 20, 0.0f, 5, p);
}

TEST(QueryOracle, ItemBasedMatchesTheDenseQuery) {
  for (uint32_t seed = 1; seed <= 3; seed++) {
    ExpectSameAnswers(TOVRAN_ITEM_COSINE, 20, 0.0f, seed);
    ExpectSameAnswers(TOVRAN_ITEM_CPROB, 5, 0.3f, seed);
  }
}

}  // namespace
