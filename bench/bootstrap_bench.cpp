// The bootstrap behind the report's intervals: 1000 resamples of the
// per-user metrics of three runs of a retail-sized evaluation (85,146 users
// asked), at the hit rates of leave-last-out (about 2-8%) and of random:1
// (about 24-30%) on the retail set. A hit's metrics follow its rank.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "driver/intervals.h"
#include "driver/metrics.h"

namespace {

void BM_Bootstrap(benchmark::State &state, double r0, double r1, double r2) {
  constexpr int32_t kUsers = 85146, kRuns = 3, kResamples = 1000;
  const int32_t C = kRuns * kMetrics;
  const double rates[kRuns] = {r0, r1, r2};
  std::mt19937_64 rng(3);
  std::vector<double> values(size_t(kUsers) * size_t(C), 0.0);
  for (size_t q = 0; q < size_t(kUsers); q++)
    for (int32_t j = 0; j < kRuns; j++) {
      if (std::uniform_real_distribution<double>(0, 1)(rng) >= rates[j]) continue;
      const int32_t rank = int32_t(rng() % 10) + 1;
      const UserMetrics m = ScoreUser(&rank, 1, 10);
      for (int32_t k = 0; k < kMetrics; k++)
        values[q * size_t(C) + size_t(j * kMetrics + k)] = MetricOf(m, k);
    }
  const auto nthreads = int32_t(state.range(0));
  for (auto _ : state)
    benchmark::DoNotOptimize(
        ResampleMeans(values, kUsers, C, kMetrics, kResamples, 1, 0, nthreads).data());
}
BENCHMARK_CAPTURE(BM_Bootstrap, last, 0.020, 0.077, 0.071)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Bootstrap, random1, 0.241, 0.260, 0.298)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
