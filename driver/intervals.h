#pragma once

#include <cstdint>
#include <vector>

// Bootstrap over users: resample b (0..B-1) draws Q users with replacement
// from the stream (seed, kBootstrapDraws, stream * 2^20 + b) by
// Draws::Scaled, and averages each of the C columns of values (Q rows of C
// finite values, row-major) over them: the sum, in user order, of each
// drawn row times the number of times it was drawn, divided by Q. Returns
// the B x C averages, resample by resample. The same for every nthreads.
// The columns come in groups of width (1 to 8, dividing C), such as one
// run's metrics, that are mostly zero together: the work grows with the
// groups that are not.
std::vector<double> ResampleMeans(const std::vector<double> &values, int32_t Q, int32_t C,
                                  int32_t width, int32_t B, uint64_t seed, uint64_t stream,
                                  int32_t nthreads);

// A 95% percentile interval: of the B values sorted, the one at
// floor(0.025 * B) and the one at ceil(0.975 * B) - 1 (indices from 0).
struct Interval {
  double low = 0, high = 0;
  bool Excludes(double value) const { return value < low || value > high; }
};
Interval PercentileInterval(std::vector<double> values);

// The two-sided p-value of a paired difference whose resampled values are
// given: 2 * (fewer of those <= 0 and those >= 0, plus one) / (B + 1),
// at most 1.
double BootstrapPValue(const std::vector<double> &differences);
