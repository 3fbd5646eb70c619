#include "driver/intervals.h"

#include <algorithm>
#include <cmath>

#include "driver/split.h"
#include "util/parallel.h"

std::vector<double> ResampleMeans(const std::vector<double> &values, int32_t Q, int32_t C,
                                  int32_t B, uint64_t seed, uint64_t stream, int32_t nthreads) {
  std::vector<double> means(size_t(B) * size_t(C), 0.0);
  if (Q == 0) return means;
  ParallelChunks(UsableThreads(nthreads, B), B, 8, [&](int32_t, int64_t begin, int64_t end) {
    std::vector<double> sums(static_cast<size_t>(C), 0.0);
    std::vector<int32_t> counts(static_cast<size_t>(Q), 0);
    for (int64_t b = begin; b < end; b++) {
      // How often each user is drawn, then every drawn row times its count,
      // in user order.
      std::fill(counts.begin(), counts.end(), 0);
      Draws draws(seed, kBootstrapDraws, (stream << 20) + uint64_t(b));
      for (int32_t q = 0; q < Q; q++) counts[size_t(draws.Scaled(uint64_t(Q)))]++;
      std::fill(sums.begin(), sums.end(), 0.0);
      for (int32_t q = 0; q < Q; q++) {
        if (counts[size_t(q)] == 0) continue;
        const double times = counts[size_t(q)];
        const double *row = values.data() + size_t(q) * size_t(C);
        for (int32_t c = 0; c < C; c++) sums[size_t(c)] += times * row[c];
      }
      for (int32_t c = 0; c < C; c++)
        means[size_t(b) * size_t(C) + size_t(c)] = sums[size_t(c)] / Q;
    }
  });
  return means;
}

Interval PercentileInterval(std::vector<double> values) {
  Interval interval;
  if (values.empty()) return interval;
  std::sort(values.begin(), values.end());
  const auto B = double(values.size());
  const auto low = size_t(std::floor(0.025 * B));
  const auto high = size_t(std::max(1.0, std::ceil(0.975 * B))) - 1;
  interval.low = values[std::min(low, values.size() - 1)];
  interval.high = values[std::min(high, values.size() - 1)];
  return interval;
}

double BootstrapPValue(const std::vector<double> &differences) {
  int64_t at_most = 0, at_least = 0;
  for (const double d : differences) {
    at_most += d <= 0;
    at_least += d >= 0;
  }
  const double p =
      2.0 * double(std::min(at_most, at_least) + 1) / (double(differences.size()) + 1.0);
  return std::min(1.0, p);
}
