#include "driver/metrics.h"

#include <cstddef>

RunMetrics StartMetrics(int32_t nitems) {
  RunMetrics m;
  m.nitems = nitems;
  m.seen.assign(std::size_t(nitems > 0 ? nitems : 0), 0);
  return m;
}

int32_t RecordAnswer(const int32_t *rcmds, int32_t n, int32_t test, RunMetrics *m) {
  m->queried++;
  int32_t position = 0;
  for (int32_t t = 0; t < n; t++) {
    const int32_t item = rcmds[t];
    if (!m->seen[std::size_t(item)]) {
      m->seen[std::size_t(item)] = 1;
      m->distinct++;
    }
    // Only the first match counts, as in the hit count.
    if (item == test && position == 0) position = t + 1;
  }
  if (position > 0) {
    m->hits++;
    m->reciprocal_sum += 1.0 / position;
  }
  return position;
}

void FinishMetrics(RunMetrics *m) { std::vector<uint8_t>().swap(m->seen); }

double HitRate(const RunMetrics &m) { return m.queried > 0 ? double(m.hits) / m.queried : 0.0; }

double AverageReciprocalHitRank(const RunMetrics &m) {
  return m.queried > 0 ? m.reciprocal_sum / m.queried : 0.0;
}

double Coverage(const RunMetrics &m) { return m.nitems > 0 ? double(m.distinct) / m.nitems : 0.0; }
