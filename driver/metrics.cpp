#include "driver/metrics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

UserMetrics ScoreUser(const int32_t *ranks, int32_t nheld, int32_t N) {
  std::vector<int32_t> listed;
  for (int32_t j = 0; j < nheld; j++)
    if (ranks[j] > 0) listed.push_back(ranks[j]);
  std::sort(listed.begin(), listed.end());
  listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
  UserMetrics u;
  u.hits = int32_t(listed.size());
  u.hr = u.hits > 0 ? 1.0 : 0.0;
  u.recall = double(u.hits) / nheld;
  u.precision = double(u.hits) / N;
  const int32_t ideal = std::min(N, nheld);
  double gain = 0, best = 0, precisions = 0;
  for (size_t k = 0; k < listed.size(); k++) {
    gain += 1.0 / std::log2(1.0 + listed[k]);
    precisions += double(k + 1) / listed[k];
  }
  for (int32_t r = 1; r <= ideal; r++) best += 1.0 / std::log2(1.0 + r);
  u.ndcg = gain / best;
  u.ap = precisions / ideal;
  u.rr = listed.empty() ? 0.0 : 1.0 / listed.front();
  return u;
}

double MetricOf(const UserMetrics &u, int32_t metric) {
  switch (metric) {
    case kHitRate: return u.hr;
    case kRecall: return u.recall;
    case kPrecision: return u.precision;
    case kNdcg: return u.ndcg;
    case kMap: return u.ap;
    default: return u.rr;
  }
}

const char *MetricName(int32_t metric) {
  static const char *const kNames[kMetrics] = {"hr", "recall", "precision", "ndcg", "map", "mrr"};
  return kNames[metric];
}

void AddUser(const UserMetrics &u, RunMetrics *m) {
  m->queried++;
  m->hits += u.hits > 0;
  m->listed += u.hits;
  for (int32_t k = 0; k < kMetrics; k++) m->sums[k] += MetricOf(u, k);
}

double Average(const RunMetrics &m, int32_t metric) {
  if (m.queried == 0) return 0.0;
  if (metric == kPrecision) return m.top > 0 ? double(m.listed) / (double(m.queried) * m.top) : 0.0;
  return m.sums[metric] / m.queried;
}

double HitRate(const RunMetrics &m) { return m.queried > 0 ? double(m.hits) / m.queried : 0.0; }
double AverageReciprocalHitRank(const RunMetrics &m) { return Average(m, kMrr); }
double Ndcg(const RunMetrics &m) { return Average(m, kNdcg); }
double Precision(const RunMetrics &m) { return Average(m, kPrecision); }
double Recall(const RunMetrics &m) { return Average(m, kRecall); }
double MeanAveragePrecision(const RunMetrics &m) { return Average(m, kMap); }
double Coverage(const RunMetrics &m) { return m.nitems > 0 ? double(m.distinct) / m.nitems : 0.0; }
