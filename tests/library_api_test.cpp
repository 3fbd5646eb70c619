// The entries that report errors to their caller: the parameter build,
// scored and batched queries, their messages, the per-thread error text and
// exhausted memory, which must come back as an error and leave nothing
// allocated. (The answers themselves are checked against the reference
// queries in query_oracle_test.cpp.)
#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#include <algorithm>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>

#include "engine/tovran.h"
#include "tests/fixtures.h"

using ::testing::ExitedWithCode;

namespace {

// 40 users over 12 items, each user holding four items in a fixed pattern.
PairList Patterned() {
  PairList p{40, 12};
  for (int32_t u = 0; u < p.nrows; u++) p.Add(u, {u % 12, (u * 5 + 1) % 12, (u * 7 + 3) % 12, 11});
  return p;
}

TOVRAN_Params Params(int32_t kind, int32_t nnbr, float alpha = 0.5f, int32_t nthreads = 1) {
  TOVRAN_Params params = TOVRAN_DefaultParams(kind);
  params.nnbr = nnbr;
  params.alpha = alpha;
  params.nthreads = nthreads;
  return params;
}

TEST(Build, GivesTheOriginalEntrysModelOnAnyThreadCount) {
  const PairList p = Patterned();
  for (int32_t kind : {TOVRAN_ITEM_COSINE, TOVRAN_ITEM_CPROB, TOVRAN_USER_BASED}) {
    Model *original = p.Build(kind, 4, 0.5f);
    Model *built = p.Build(Params(kind, 4, 0.5f, 3));
    ASSERT_NE(built, nullptr) << TOVRAN_LastError();
    for (int32_t u = 0; u < p.nrows; u++) {
      const std::vector<int32_t> basket(p.cols.begin() + 4 * u, p.cols.begin() + 4 * u + 4);
      const Scored a = AskScored(original, basket, 5), b = AskScored(built, basket, 5);
      EXPECT_EQ(a.ids, b.ids) << "kind " << kind << " user " << u;
      EXPECT_EQ(Bits(a.scores), Bits(b.scores));
      EXPECT_EQ(a.ids, Ask(original, basket, 5));
    }
    TOVRAN_FreeModel(original);
    TOVRAN_FreeModel(built);
  }
}

TEST(Build, RejectsEachInvalidRequestWithItsMessage) {
  const PairList p = Patterned();
  struct Case {
    TOVRAN_Params params;
    const char *message;
  };
  auto with = [](TOVRAN_Params params, auto change) {
    change(params);
    return params;
  };
  const TOVRAN_Params cprob = Params(TOVRAN_ITEM_CPROB, 20);
  const Case cases[] = {
      {Params(-1, 20), "Kind should take a value from {0, 1, 2, 3}."},
      {with(cprob, [](TOVRAN_Params &q) { q.weighting = 5; }),
       "Weighting 5 is unknown; it should take a value from 0..4 (binary, raw, log, bm25, "
       "tfidf)."},
      {with(cprob, [](TOVRAN_Params &q) { q.weighting = TOVRAN_WEIGHT_BM25, q.bm25_b = 1.5f; }),
       "BM25's B 1.5 should take a value from [0.0, 1.0]."},
      {with(cprob, [](TOVRAN_Params &q) { q.weighting = TOVRAN_WEIGHT_BM25, q.bm25_k1 = -1; }),
       "BM25's K1 -1 should be a finite number of at least 0."},
      {Params(4, 20), "Kind should take a value from {0, 1, 2, 3}."},
      {Params(TOVRAN_USER_BASED, 0), "NNbr should be greater than 0."},
      {Params(TOVRAN_ITEM_CPROB, 20, std::nanf("")), "Alpha should take a value from [0.0, 1.0]."},
      {Params(TOVRAN_ITEM_CPROB, 20, 1.5f), "Alpha should take a value from [0.0, 1.0]."},
      {with(cprob, [](TOVRAN_Params &q) { q.min_support = 0; }),
       "MinSupport should be greater than 0."},
      {with(cprob, [](TOVRAN_Params &q) { q.nthreads = 0; }),
       "NThreads should take a value from 1..256."},
      {with(cprob, [](TOVRAN_Params &q) { q.nthreads = 257; }),
       "NThreads should take a value from 1..256."},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(p.Build(c.params), nullptr);
    EXPECT_STREQ(TOVRAN_LastError(), c.message);
  }
  PairList outside = p;
  outside.rows[3] = 40;
  EXPECT_EQ(outside.Build(cprob), nullptr);
  EXPECT_STREQ(TOVRAN_LastError(), "Pair 3 (40, 11) lies outside the 40 x 12 matrix.");
  EXPECT_EQ(TOVRAN_Build(2, 3, 1, nullptr, p.cols.data(), &cprob), nullptr);
  EXPECT_STREQ(TOVRAN_LastError(), "The pair arrays should not be null.");
  EXPECT_EQ(TOVRAN_Build(-1, 3, 0, nullptr, nullptr, &cprob), nullptr);
  EXPECT_STREQ(TOVRAN_LastError(), "NRows, NCols and NPairs should not be negative.");
  EXPECT_EQ(TOVRAN_Build(2, 3, 0, nullptr, nullptr, nullptr), nullptr);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_Build: the parameters should not be null.");
  const TOVRAN_Params wide = Params(TOVRAN_ITEM_COSINE, 100000);
  EXPECT_EQ(TOVRAN_Build(1, 100000, 0, nullptr, nullptr, &wide), nullptr);
  EXPECT_STREQ(TOVRAN_LastError(),
               "NNbr 100000 with NCols 100000 gives more neighbours than a model can index "
               "(at most 2147483647).");
}

TEST(LastError, EachThreadKeepsItsOwnAndSuccessLeavesItAlone) {
  const PairList p = Patterned();
  EXPECT_EQ(p.Build(Params(-1, 20)), nullptr);
  std::string other;
  std::thread([&] {
    other = TOVRAN_LastError();
    EXPECT_EQ(p.Build(Params(TOVRAN_ITEM_COSINE, 0)), nullptr);
    other += "|" + std::string(TOVRAN_LastError());
  }).join();
  EXPECT_EQ(other, "|NNbr should be greater than 0.");
  TOVRAN_FreeModel(p.Build(Params(TOVRAN_ITEM_COSINE, 20)));
  EXPECT_STREQ(TOVRAN_LastError(), "Kind should take a value from {0, 1, 2, 3}.");
}

TEST(RecommendScored, ASimilarItemsAnswerIsTheItemsOwnList) {
  const PairList p = Patterned();
  Model *model = p.Build(Params(TOVRAN_ITEM_COSINE, 6));
  for (int32_t c = 0; c < p.ncols; c++) {
    const Scored answer = AskScored(model, {c}, 20);
    const List list = ListOf(model, c);
    EXPECT_EQ(answer.ids, Keys(list));
    EXPECT_EQ(Bits(answer.scores), Bits(Values(list)));
  }
  TOVRAN_FreeModel(model);
}

TEST(RecommendScored, RejectsWhatItCannotAnswerWithoutWriting) {
  const PairList p = Patterned();
  Model *model = p.Build(Params(TOVRAN_USER_BASED, 10));
  std::vector<int32_t> ids(3, -7);
  std::vector<float> scores(3, -7.0f);
  const int32_t basket[] = {1, 12};
  EXPECT_EQ(TOVRAN_RecommendScored(model, 2, basket, 3, ids.data(), scores.data()), -1);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_RecommendScored: the basket item at position 1 is 12, outside 0..11.");
  EXPECT_EQ(TOVRAN_RecommendScored(nullptr, 1, basket, 3, ids.data(), scores.data()), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_RecommendScored: the model should not be null.");
  EXPECT_EQ(TOVRAN_RecommendScored(model, 1, nullptr, 3, ids.data(), scores.data()), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_RecommendScored: the basket should not be null.");
  EXPECT_EQ(TOVRAN_RecommendScored(model, 1, basket, 3, nullptr, scores.data()), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_RecommendScored: the answer array should not be null.");
  EXPECT_EQ(TOVRAN_RecommendScored(model, -1, basket, 3, ids.data(), scores.data()), -1);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_RecommendScored: the basket's length -1 should not be negative.");
  EXPECT_EQ(ids, std::vector<int32_t>(3, -7));
  EXPECT_EQ(scores, std::vector<float>(3, -7.0f));
  EXPECT_EQ(TOVRAN_RecommendScored(model, 1, basket, 0, nullptr, nullptr), 0);
  // Without scores the ids are those of the scored call.
  const int32_t m = TOVRAN_RecommendScored(model, 1, basket, 3, ids.data(), nullptr);
  EXPECT_EQ(std::vector<int32_t>(ids.begin(), ids.begin() + m), AskScored(model, {1}, 3).ids);
  TOVRAN_FreeModel(model);
}

TEST(RecommendBatch, RejectsBadBatchesWithoutWriting) {
  const PairList p = Patterned();
  Model *model = p.Build(Params(TOVRAN_ITEM_CPROB, 10));
  const int32_t items[] = {0, 1, 2, 3, 12, 5};
  const int64_t good[] = {1, 3, 4}, falling[] = {0, 3, 2}, negative[] = {-1, 2, 3},
                outside[] = {2, 3, 6};
  std::vector<int32_t> ids(6, -7), counts(2, -7);
  auto batch = [&](const int64_t *offsets, int32_t nbaskets = 2, int32_t threads = 2) {
    return TOVRAN_RecommendBatch(model, nbaskets, offsets, items, 3, threads, ids.data(), nullptr,
                                 counts.data());
  };
  EXPECT_EQ(batch(falling), -1);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_RecommendBatch: basket 1 has offsets 3..2; offsets should not decrease "
               "nor be negative.");
  EXPECT_EQ(batch(negative), -1);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_RecommendBatch: basket 0 has offsets -1..2; offsets should not decrease "
               "nor be negative.");
  EXPECT_EQ(batch(outside), -1);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_RecommendBatch: the basket item at position 4 is 12, outside 0..11.");
  EXPECT_EQ(batch(good, -1), -1);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_RecommendBatch: the number of baskets -1 should not be negative.");
  EXPECT_EQ(batch(good, 2, 0), -1);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_RecommendBatch: NThreads should take a value from 1..256.");
  EXPECT_EQ(batch(nullptr), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_RecommendBatch: the basket offsets should not be null.");
  EXPECT_EQ(ids, std::vector<int32_t>(6, -7));
  EXPECT_EQ(counts, std::vector<int32_t>(2, -7));
  // Offsets need not start at 0; slots past an answer hold -1.
  ASSERT_EQ(batch(good), 0);
  EXPECT_EQ(std::vector<int32_t>(ids.begin(), ids.begin() + counts[0]), Ask(model, {1, 2}, 3));
  EXPECT_EQ(std::vector<int32_t>(ids.begin() + 3, ids.begin() + 3 + counts[1]), Ask(model, {3}, 3));
  for (int32_t b = 0; b < 2; b++)
    for (int32_t t = counts[b]; t < 3; t++) EXPECT_EQ(ids[3 * b + t], -1);
  TOVRAN_FreeModel(model);
}

// Bytes the heap holds: in its arenas and in blocks of their own.
size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// In a child limited to its current address space plus 1.5 GiB: runs
// fails(), which must fail for want of memory, twice, and exits with 0 when
// both failed and the second left the heap as it found it (the first may
// leave the runtime's own one-time blocks); the message goes to stderr.
template <class Call>
void FailUnderLimit(Call fails) {
  long pages = 0;
  std::FILE *statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) std::_Exit(4);
  std::fclose(statm);
  const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(3) << 29);
  const struct rlimit rl = {limit, limit};
  if (setrlimit(RLIMIT_AS, &rl) != 0) std::_Exit(5);
  const bool first = fails();
  const size_t before = HeapInUse();
  const bool second = fails();
  const size_t after = HeapInUse();
  std::fprintf(stderr, "%s|%zd", TOVRAN_LastError(), ssize_t(after) - ssize_t(before));
  std::_Exit(first && second && after == before ? 0 : 3);
}

// Two users with two pairs each over ncols items.
bool BuildFails(int32_t kind, int32_t ncols) {
  const int32_t rowid[] = {0, 0, 1, 1}, colid[] = {0, 1, 2, 3};
  const TOVRAN_Params params = Params(kind, 20);
  return TOVRAN_Build(2, ncols, 4, rowid, colid, &params) == nullptr;
}

// The popularity model ranks as the evaluation's popularity baseline does,
// for every basket (the basket's items left out), repeated pairs counted.
TEST(Popular, RanksAsTheEvaluationsBaseline) {
  PairList p = Patterned();
  p.Add(3, {5, 5, 9});
  Model *model = p.Build(Params(TOVRAN_POPULAR, 0));
  ASSERT_NE(model, nullptr) << TOVRAN_LastError();
  std::vector<int32_t> frequency(size_t(p.ncols), 0);
  for (int32_t c : p.cols) frequency[size_t(c)]++;
  // The baseline's rule, plainly: most training pairs first, ties by the
  // lower id, items never held and the basket's items left out.
  std::vector<int32_t> order;
  for (int32_t i = 0; i < p.ncols; i++)
    if (frequency[size_t(i)] > 0) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return frequency[size_t(a)] > frequency[size_t(b)];
  });
  for (const std::vector<int32_t> &basket :
       std::vector<std::vector<int32_t>>{{}, {11}, {5, 0, 5}, {1, 2, 3, 4}}) {
    std::vector<int32_t> expected;
    for (int32_t i : order)
      if (expected.size() < 12 && std::find(basket.begin(), basket.end(), i) == basket.end())
        expected.push_back(i);
    int32_t got[12];
    const auto n = int32_t(basket.size());
    ASSERT_EQ(TOVRAN_RecommendScored(model, n, basket.data(), 12, got, nullptr),
              int32_t(expected.size()));
    EXPECT_EQ(Ints(got, int32_t(expected.size())), expected);
  }
  TOVRAN_FreeModel(model);
}

// Similar users: the user first at 1.0, then the others sharing an item by
// the cosine of their rows; other kinds and users outside are refused.
TEST(SimilarUsers, RanksUsersByTheCosineOfTheirRows) {
  PairList p{5, 4};
  p.Add(0, {0, 1});
  p.Add(1, {0, 1, 2});
  p.Add(2, {1});
  p.Add(3, {3});
  Model *users = p.Build(Params(TOVRAN_USER_BASED, 10));
  int32_t ids[5];
  float scores[5];
  ASSERT_EQ(TOVRAN_SimilarUsers(users, 0, 5, ids, scores), 3);
  EXPECT_EQ(Ints(ids, 3), std::vector<int32_t>({0, 1, 2}));
  // Row values 1/sqrt(2) and 1/sqrt(3) in single precision, products summed in double.
  const double half = float(1.0 / std::sqrt(2.0)), third = float(1.0 / std::sqrt(3.0));
  EXPECT_EQ(Bits(scores, 3),
            Bits(std::vector<float>({1.0f, float(half * third + half * third), float(half)})));
  EXPECT_EQ(TOVRAN_SimilarUsers(users, 4, 5, ids, scores), 0);  // no pairs
  EXPECT_EQ(TOVRAN_SimilarUsers(users, 5, 5, ids, scores), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_SimilarUsers: user 5 lies outside 0..4.");
  Model *items = p.Build(Params(TOVRAN_ITEM_COSINE, 10));
  EXPECT_EQ(TOVRAN_SimilarUsers(items, 0, 5, ids, scores), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_SimilarUsers: the model is not user-based (kind 3).");
  TOVRAN_FreeModel(users);
  TOVRAN_FreeModel(items);
}

// Options with ids outside the items, negative lengths or null lists are
// refused with nothing written.
TEST(RecommendFiltered, RejectsBadOptionsWithoutWriting) {
  const PairList p = Patterned();
  Model *model = p.Build(Params(TOVRAN_ITEM_COSINE, 5));
  const int32_t basket[] = {1}, outside[] = {3, 12};
  const std::pair<TOVRAN_QueryOptions, const char *> cases[] = {
      {{outside, 2, nullptr, 0, 0, 0}, "filter_items[1] is 12, outside 0..11."},
      {{nullptr, 0, outside, 2, 0, 0}, "items[1] is 12, outside 0..11."},
      {{nullptr, -1, nullptr, 0, 0, 0}, "the length -1 of filter_items should not be negative."},
      {{nullptr, 2, nullptr, 0, 0, 0}, "filter_items should not be null."},
  };
  for (const auto &[options, message] : cases) {
    int32_t answer[4] = {7, 7, 7, 7};
    EXPECT_EQ(TOVRAN_RecommendFiltered(model, 1, basket, 4, &options, answer, nullptr), -1);
    EXPECT_EQ(std::string(TOVRAN_LastError()), std::string("TOVRAN_RecommendFiltered: ") + message);
    EXPECT_EQ(Ints(answer, 4), std::vector<int32_t>({7, 7, 7, 7}));
  }
  int32_t answer[4] = {7, 7, 7, 7};
  EXPECT_EQ(TOVRAN_RecommendFilteredWith(model, nullptr, 1, basket, 4, nullptr, answer, nullptr),
            -1);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_RecommendFilteredWith: the scratch should not be null.");
  EXPECT_EQ(TOVRAN_CreateScratch(nullptr), nullptr);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_CreateScratch: the model should not be null.");
  EXPECT_EQ(Ints(answer, 4), std::vector<int32_t>({7, 7, 7, 7}));
  TOVRAN_FreeModel(model);
}

TEST(ExhaustedMemoryDeathTest, EntriesReturnTheLabelledMessageAndReleaseWhatTheyHeld) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "sanitizer builds reserve more address space than the limit";
#endif
  // Fifty million items: the matrix fits, the 20 neighbours per item (4 GB) do not.
  EXPECT_EXIT(FailUnderLimit([] { return BuildFails(TOVRAN_ITEM_COSINE, 50000000); }),
              ExitedWithCode(0),
              "^\\*\\*\\*Memory allocation failed for TOVRAN_Init_ColVecSim: itemind\\. "
              "Requested size: 4000000000 bytes\\|0$");
  // 150 million items: the user model's candidate array (1.2 GB) no longer fits.
  EXPECT_EXIT(FailUnderLimit([] { return BuildFails(TOVRAN_USER_BASED, 150000000); }),
              ExitedWithCode(0),
              "^\\*\\*\\*Memory allocation failed for TOVRAN_Init_Row: model->ccand\\. "
              "Requested size: 1200000008 bytes\\|0$");
  // The estimation fails in its first model, after its re-split.
  EXPECT_EXIT(FailUnderLimit([] {
                const int32_t rowid[] = {0, 0, 1, 1}, colid[] = {0, 1, 2, 3};
                const TOVRAN_Params params = Params(TOVRAN_ITEM_CPROB, 20);
                double alpha = -1.0;
                return TOVRAN_EstimateAlpha(2, 50000000, 4, rowid, colid, &params, 10, &alpha,
                                            nullptr) == -1 &&
                       alpha == -1.0;
              }),
              ExitedWithCode(0),
              "^\\*\\*\\*Memory allocation failed for TOVRAN_Init_CProbSim: itemind\\. "
              "Requested size: 4000000000 bytes\\|0$");
}

// Users whose pairs favour a few popular items, so that Alpha matters.
PairList Skewed() {
  PairList p{120, 30};
  for (int32_t u = 0; u < p.nrows; u++)
    p.Add(u, {u % 3, (u * 7) % 30, (u * 11 + 5) % 30, (u * 13 + 2) % 30, (u / 4) % 30});
  return p;
}

TEST(EstimateAlpha, GivesTheOriginalEstimateWithItsSteps) {
  const PairList p = Skewed();
  const auto npairs = int32_t(p.rows.size());
  TOVRAN_RestartRandom();
  const double want =
      TOVRAN_EstimateAlphaInit(p.nrows, p.ncols, npairs, p.rows.data(), p.cols.data(), 5, 10);
  for (int32_t threads : {1, 3}) {
    TOVRAN_RestartRandom();
    TOVRAN_AlphaTrace trace;
    double alpha = -1.0;
    // Kind and alpha play no part.
    const TOVRAN_Params params = Params(TOVRAN_USER_BASED, 5, 0.7f, threads);
    ASSERT_EQ(TOVRAN_EstimateAlpha(p.nrows, p.ncols, npairs, p.rows.data(), p.cols.data(), &params,
                                   10, &alpha, &trace),
              0)
        << TOVRAN_LastError();
    EXPECT_EQ(alpha, want);
    // The steps: no fall before the last, which falls unless all ten were tried.
    ASSERT_GE(trace.ntried, 1);
    ASSERT_LE(trace.ntried, TOVRAN_ALPHA_STEPS);
    for (int32_t j = 1; j + 1 < trace.ntried; j++) EXPECT_GE(trace.hits[j], trace.hits[j - 1]);
    if (trace.ntried < TOVRAN_ALPHA_STEPS) {
      EXPECT_LT(trace.hits[trace.ntried - 1], trace.hits[trace.ntried - 2]);
      EXPECT_EQ(alpha, (trace.ntried - 2) * 0.1);
    }
    for (int32_t j = 0; j < TOVRAN_ALPHA_STEPS; j++) EXPECT_EQ(trace.alpha[j], float(j * 0.1));
  }
}

TEST(EstimateAlpha, RejectsEachInvalidRequestWithItsMessage) {
  const PairList p = Skewed();
  const auto npairs = int32_t(p.rows.size());
  double alpha = -1.0;
  auto estimate = [&](const TOVRAN_Params *params, int32_t N, const PairList &q) {
    return TOVRAN_EstimateAlpha(q.nrows, q.ncols, npairs, q.rows.data(), q.cols.data(), params, N,
                                &alpha, nullptr);
  };
  const TOVRAN_Params good = Params(TOVRAN_ITEM_CPROB, 20);
  EXPECT_EQ(estimate(&good, 0, p), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "N should be greater than 0.");
  EXPECT_EQ(estimate(nullptr, 10, p), -1);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_EstimateAlpha: the parameters and the answer should not be null.");
  const TOVRAN_Params no_neighbours = Params(TOVRAN_ITEM_CPROB, 0);
  EXPECT_EQ(estimate(&no_neighbours, 10, p), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "NNbr should be greater than 0.");
  PairList outside = p;
  outside.cols[7] = -2;
  EXPECT_EQ(estimate(&good, 10, outside), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "Pair 7 (1, -2) lies outside the 120 x 30 matrix.");
  EXPECT_EQ(alpha, -1.0);
}

}  // namespace
