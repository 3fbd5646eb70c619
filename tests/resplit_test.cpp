#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "engine/estimate_alpha.h"
#include "engine/resplit.h"
#include "tests/fixtures.h"
#include "util/free_all.h"

using ::testing::ExitedWithCode;

namespace {

// Runs a check on the generator as a fresh process would see it: the
// threadsafe style re-executes the test binary, so no earlier draw counts.
#define EXPECT_IN_FRESH_PROCESS(check)                              \
  do {                                                              \
    GTEST_FLAG_SET(death_test_style, "threadsafe");                 \
    EXPECT_EXIT(std::exit((check) ? 0 : 3), ExitedWithCode(0), ""); \
  } while (0)

bool FirstTenDraws() {
  std::vector<int32_t> draws;
  for (int i = 0; i < 10; i++) draws.push_back(NextRandom());
  return draws ==
         std::vector<int32_t>{41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
}

bool TenPairShuffle() {
  std::vector<int32_t> rows, cols;
  for (int32_t k = 0; k < 10; k++) {
    rows.push_back(k);
    cols.push_back(100 + k);
  }
  ShufflePairs(10, rows.data(), cols.data());
  const std::vector<int32_t> from = {1, 9, 5, 8, 4, 6, 3, 7, 0, 2};
  for (int32_t k = 0; k < 10; k++)
    if (rows[size_t(k)] != from[size_t(k)] || cols[size_t(k)] != 100 + from[size_t(k)])
      return false;
  return true;
}

bool EightPairSplit() {
  std::vector<int32_t> rows = {0, 0, 0, 1, 1, 2, 2, 2};
  std::vector<int32_t> cols = {10, 11, 12, 20, 21, 30, 31, 32};
  SparseMatrix *mat = nullptr;
  int32_t *held_out_item = nullptr;
  CreateTrainTestMatrix(4, 40, 8, rows.data(), cols.data(), &mat, &held_out_item);
  const bool ok = rows == std::vector<int32_t>{0, 2, 1, 2, 2, 0, 0, 1} &&
                  cols == std::vector<int32_t>{11, 30, 20, 31, 32, 10, 12, 21} &&
                  Ints(held_out_item, 4) == std::vector<int32_t>{11, 20, 30, -1} &&
                  Ints(mat->rowptr, 5) == std::vector<int32_t>{0, 2, 3, 5, 5} &&
                  Ints(mat->rowind, 5) == std::vector<int32_t>{10, 12, 21, 31, 32} &&
                  mat->nrows == 4 && mat->ncols == 40;
  FreeAll(&held_out_item, &mat->rowptr, &mat->rowind, &mat);
  return ok;
}

}  // namespace

TEST(ResplitDeathTest, GeneratorStartsFromTheSameStateInEveryProcess) {
  EXPECT_IN_FRESH_PROCESS(FirstTenDraws());
}

TEST(ResplitDeathTest, ShortShufflesFollowTheShiftedDraws) {
  EXPECT_IN_FRESH_PROCESS(TenPairShuffle());
  EXPECT_IN_FRESH_PROCESS(EightPairSplit());
}

TEST(Resplit, TrivialShufflesDrawNothingOrMoveNothing) {
  // The fresh sequence: 4n exchanges of two draws each for n = 1, then the
  // draw after them.
  TOVRAN_RestartRandom();
  std::vector<int32_t> fresh;
  for (int k = 0; k < 10; k++) fresh.push_back(NextRandom());
  TOVRAN_RestartRandom();
  int32_t row = 3, col = 4;
  ShufflePairs(1, &row, &col);
  EXPECT_EQ(row, 3);
  EXPECT_EQ(col, 4);
  EXPECT_EQ(NextRandom(), fresh[8]) << "one pair: eight draws, nothing moved";
  ShufflePairs(0, nullptr, nullptr);
  ShufflePairs(-5, nullptr, nullptr);
  EXPECT_EQ(NextRandom(), fresh[9]) << "no pairs: no draw";
}

TEST(Resplit, LongShufflesReachEveryPositionAndKeepThePairs) {
  const int32_t n = 20000;
  std::vector<int32_t> rows(n), cols(n);
  for (int32_t k = 0; k < n; k++) {
    rows[size_t(k)] = k;
    cols[size_t(k)] = k ^ 0x5555;
  }
  ShufflePairs(n, rows.data(), cols.data());
  int32_t moved_beyond = 0, from_beyond = 0;
  for (int32_t k = 0; k < n; k++) {
    ASSERT_EQ(cols[size_t(k)], rows[size_t(k)] ^ 0x5555) << "pairs stay together";
    if (k >= 4096 && rows[size_t(k)] != k) moved_beyond++;
    if (k < 4096 && rows[size_t(k)] >= 4096) from_beyond++;
  }
  EXPECT_GT(moved_beyond, (n - 4096) * 9 / 10);
  EXPECT_GT(from_beyond, 4096 / 2);
  std::sort(rows.begin(), rows.end());
  for (int32_t k = 0; k < n; k++) ASSERT_EQ(rows[size_t(k)], k);
}

TEST(Resplit, RowsWithOnePairOrNoneGetTheirTestItemOrMinusOne) {
  std::vector<int32_t> rows = {2, 0, 2}, cols = {7, 5, 7};
  SparseMatrix *mat = nullptr;
  int32_t *held_out_item = nullptr;
  CreateTrainTestMatrix(3, 8, 3, rows.data(), cols.data(), &mat, &held_out_item);
  EXPECT_EQ(Ints(held_out_item, 3), (std::vector<int32_t>{5, -1, 7}));
  EXPECT_EQ(Ints(mat->rowptr, 4), (std::vector<int32_t>{0, 0, 0, 1}));
  EXPECT_EQ(mat->rowind[0], 7);
  FreeAll(&held_out_item, &mat->rowptr, &mat->rowind, &mat);
}

TEST(EstimateAlpha, TheWalkStopsBeforeTheFirstStrictFall) {
  auto walk = [](std::vector<int32_t> counts, int32_t *ntried) {
    int32_t hits[kAlphaSteps];
    std::vector<float> tried;
    const int32_t step = WalkAlpha(
        [&](float alpha) {
          tried.push_back(alpha);
          return counts[tried.size() - 1];
        },
        hits, ntried);
    EXPECT_EQ(int32_t(tried.size()), *ntried);
    for (size_t j = 0; j < tried.size(); j++) EXPECT_EQ(tried[j], float(double(j) * 0.1));
    return step;
  };
  int32_t ntried = 0;
  EXPECT_EQ(walk({5, 7, 7, 6, 99}, &ntried), 2);
  EXPECT_EQ(ntried, 4);  // models for 0.4 and above are never built
  EXPECT_EQ(walk({5, 4}, &ntried), 0);
  EXPECT_EQ(walk({1, 2, 2, 2, 3, 3, 3, 4, 4, 4}, &ntried), kAlphaSteps);
  EXPECT_EQ(walk(std::vector<int32_t>(10, 0), &ntried), kAlphaSteps);
  EXPECT_EQ(ntried, kAlphaSteps);
}

TEST(EstimateAlpha, ReadsTheCallersPairsOnlyAndStaysInRange) {
  PairList p{40, 15};
  for (int32_t u = 0; u < 40; u++)
    for (int32_t c = 0; c < 15; c++)
      if ((u * 7 + c * 3) % 5 < 2 || c == u % 15) p.Add(u, {c});
  p.Add(39, {});  // nothing
  const PairList copy = p;
  const double alpha = TOVRAN_EstimateAlphaInit(p.nrows, p.ncols, int32_t(p.rows.size()),
                                                p.rows.data(), p.cols.data(), 20, 10);
  EXPECT_EQ(p.rows, copy.rows);
  EXPECT_EQ(p.cols, copy.cols);
  EXPECT_GE(alpha, 0.0);
  EXPECT_LE(alpha, 1.0);
}
