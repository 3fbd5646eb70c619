#include "programs/mpi/split.h"

#include <algorithm>

std::vector<int64_t> SplitByWork(const std::vector<int64_t> &work, int parts) {
  const auto n = int64_t(work.size());
  std::vector<int64_t> total(work.size() + 1, 0);
  for (int64_t t = 0; t < n; t++) total[size_t(t) + 1] = total[size_t(t)] + work[size_t(t)];
  std::vector<int64_t> bounds(size_t(parts) + 1, n);
  bounds[0] = 0;
  for (int k = 1; k < parts; k++) {
    // The first end e with total[e] * parts >= k * whole, in 128 bits.
    const __int128 target = __int128(total[size_t(n)]) * k;
    const auto end = std::partition_point(total.begin() + 1, total.end(), [&](int64_t sum) {
      return __int128(sum) * parts < target;
    });
    bounds[size_t(k)] = std::min(n, std::max(bounds[size_t(k) - 1], int64_t(end - total.begin())));
  }
  return bounds;
}
