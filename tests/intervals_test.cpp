// The bootstrap intervals: reproducible for a seed and thread count, and
// covering a known hit rate about 95% of the time.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "driver/intervals.h"
#include "driver/split.h"

TEST(Intervals, AboutNinetyFivePercentCoverTheTrueHitRate) {
  // 400 simulated evaluations of 200 users who each hit with probability
  // 0.3; the coverage's own standard error is about 0.011.
  constexpr double kTrue = 0.3;
  constexpr int32_t kUsers = 200, kSimulations = 400, kResamples = 500;
  std::mt19937_64 rng(2024);
  std::bernoulli_distribution hit(kTrue);
  int32_t covered = 0;
  for (int32_t s = 0; s < kSimulations; s++) {
    std::vector<double> values(kUsers);
    for (double &v : values) v = hit(rng) ? 1.0 : 0.0;
    const std::vector<double> means =
        ResampleMeans(values, kUsers, 1, 1, kResamples, uint64_t(s), 0, 1);
    const Interval interval = PercentileInterval(means);
    covered += interval.low <= kTrue && kTrue <= interval.high;
  }
  const double coverage = double(covered) / kSimulations;
  EXPECT_GT(coverage, 0.91);
  EXPECT_LT(coverage, 0.99);
}

// The resampled means are the plain definition's to the bit: each resample
// draws Q users one by one, and every column sums the drawn rows times
// their counts in user order. Mostly zero rows, groups zero in some rows
// only, negative values and more draws than one block of them.
TEST(Intervals, ResampledMeansFollowThePlainDefinition) {
  constexpr int32_t Q = 2500, C = 6, kWidth = 3, B = 30;
  std::mt19937_64 rng(7);
  std::vector<double> values(size_t(Q) * C, 0.0);
  for (size_t q = 0; q < size_t(Q); q++)
    for (size_t c = 0; c < C && rng() % 3 == 0; c++) values[q * C + c] = double(rng() % 7) / 3 - 1;
  std::vector<double> plain;
  for (int32_t b = 0; b < B; b++) {
    Draws draws(5, kBootstrapDraws, (uint64_t{4} << 20) + uint64_t(b));
    std::vector<int32_t> counts(Q, 0);
    for (int32_t d = 0; d < Q; d++) counts[draws.Scaled(Q)]++;
    std::vector<double> sums(C, 0.0);
    for (size_t q = 0; q < size_t(Q); q++)
      for (size_t c = 0; c < C; c++) sums[c] += double(counts[q]) * values[q * C + c];
    for (const double sum : sums) plain.push_back(sum / Q);
  }
  for (const int32_t nthreads : {1, 2}) {
    const std::vector<double> means = ResampleMeans(values, Q, C, kWidth, B, 5, 4, nthreads);
    ASSERT_EQ(means.size(), plain.size());
    EXPECT_EQ(std::memcmp(means.data(), plain.data(), 8 * plain.size()), 0);
  }
}

TEST(Intervals, ResamplesDependOnTheSeedAloneAndPValuesFollowTheSigns) {
  std::vector<double> values;
  for (int32_t q = 0; q < 300; q++) values.push_back(q % 7 == 0 ? 1.0 : 0.25 * (q % 3));
  const auto one = ResampleMeans(values, 150, 2, 1, 200, 9, 1, 1);
  EXPECT_EQ(one, ResampleMeans(values, 150, 2, 1, 200, 9, 1, 3));
  EXPECT_NE(one, ResampleMeans(values, 150, 2, 1, 200, 10, 1, 1));
  EXPECT_NE(one, ResampleMeans(values, 150, 2, 1, 200, 9, 2, 1));

  EXPECT_EQ(BootstrapPValue(std::vector<double>(99, 0.5)), 2.0 / 100);
  EXPECT_EQ(BootstrapPValue({-1, 1, -2, 2}), 1.0);
  const Interval i = PercentileInterval({5, 1, 4, 2, 3});
  EXPECT_EQ(i.low, 1);
  EXPECT_EQ(i.high, 5);
}
