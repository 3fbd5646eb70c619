#include "driver/metrics.h"

#include <cmath>
#include <cstddef>

int32_t RecordAnswer(const int32_t *rcmds, int32_t n, int32_t test, uint8_t *seen) {
  int32_t rank = 0;
  for (int32_t t = 0; t < n; t++) {
    seen[rcmds[t]] = 1;
    // Only the first match counts, as in the hit count.
    if (rcmds[t] == test && rank == 0) rank = t + 1;
  }
  return rank;
}

RunMetrics SumRun(int32_t nitems, const std::vector<int32_t> &ranks,
                  const std::vector<std::vector<uint8_t>> &seen) {
  RunMetrics m;
  m.nitems = nitems;
  m.queried = int32_t(ranks.size());
  for (const int32_t rank : ranks) {
    if (rank == 0) continue;
    m.hits++;
    m.reciprocal_sum += 1.0 / rank;
    m.gain_sum += 1.0 / std::log2(1.0 + rank);
  }
  for (int32_t c = 0; c < nitems; c++) {
    for (const std::vector<uint8_t> &marks : seen) {
      if (marks[std::size_t(c)]) {
        m.distinct++;
        break;
      }
    }
  }
  return m;
}

double HitRate(const RunMetrics &m) { return m.queried > 0 ? double(m.hits) / m.queried : 0.0; }

double AverageReciprocalHitRank(const RunMetrics &m) {
  return m.queried > 0 ? m.reciprocal_sum / m.queried : 0.0;
}

double Ndcg(const RunMetrics &m) { return m.queried > 0 ? m.gain_sum / m.queried : 0.0; }

double Precision(const RunMetrics &m) {
  return m.queried > 0 && m.top > 0 ? double(m.hits) / (double(m.queried) * m.top) : 0.0;
}

double Coverage(const RunMetrics &m) { return m.nitems > 0 ? double(m.distinct) / m.nitems : 0.0; }
