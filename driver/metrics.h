#pragma once

#include <cstdint>
#include <vector>

// What the answers of one run add up to: users asked, hits, the ranks of the
// hits and how much of the catalogue was recommended.
struct RunMetrics {
  int32_t nitems = 0;          // items of the catalogue
  int32_t queried = 0;         // users asked, i.e. users with a basket
  int32_t hits = 0;            // users whose held-out item was answered
  double reciprocal_sum = 0;   // sum over hits of 1 / position, positions from 1
  int32_t distinct = 0;        // items recommended to at least one user
  std::vector<uint8_t> seen;   // per item: recommended yet; emptied by FinishMetrics
};

// Metrics of a run over nitems items with nothing recorded yet.
RunMetrics StartMetrics(int32_t nitems);

// Records one query's answer of n items (n <= 0: none, a miss) against the
// user's held-out item. Returns the 1-based position of the hit, 0 for a miss.
int32_t RecordAnswer(const int32_t *rcmds, int32_t n, int32_t test, RunMetrics *m);

// Releases the per-item marks; the counts stay.
void FinishMetrics(RunMetrics *m);

// hits / queried; 0 when nobody was asked.
double HitRate(const RunMetrics &m);
// reciprocal_sum / queried (a miss counts 0); 0 when nobody was asked.
double AverageReciprocalHitRank(const RunMetrics &m);
// distinct / nitems; 0 for an empty catalogue.
double Coverage(const RunMetrics &m);
