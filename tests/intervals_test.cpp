// The bootstrap intervals: reproducible for a seed and thread count, and
// covering a known hit rate about 95% of the time.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "driver/intervals.h"

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
        ResampleMeans(values, kUsers, 1, kResamples, uint64_t(s), 0, 1);
    const Interval interval = PercentileInterval(means);
    covered += interval.low <= kTrue && kTrue <= interval.high;
  }
  const double coverage = double(covered) / kSimulations;
  EXPECT_GT(coverage, 0.91);
  EXPECT_LT(coverage, 0.99);
}

TEST(Intervals, ResamplesDependOnTheSeedAloneAndPValuesFollowTheSigns) {
  std::vector<double> values;
  for (int32_t q = 0; q < 300; q++) values.push_back(q % 7 == 0 ? 1.0 : 0.25 * (q % 3));
  const auto one = ResampleMeans(values, 150, 2, 200, 9, 1, 1);
  EXPECT_EQ(one, ResampleMeans(values, 150, 2, 200, 9, 1, 3));
  EXPECT_NE(one, ResampleMeans(values, 150, 2, 200, 10, 1, 1));
  EXPECT_NE(one, ResampleMeans(values, 150, 2, 200, 9, 2, 1));

  EXPECT_EQ(BootstrapPValue(std::vector<double>(99, 0.5)), 2.0 / 100);
  EXPECT_EQ(BootstrapPValue({-1, 1, -2, 2}), 1.0);
  const Interval i = PercentileInterval({5, 1, 4, 2, 3});
  EXPECT_EQ(i.low, 1);
  EXPECT_EQ(i.high, 5);
}
