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
};

// Marks the n answered items in seen (one byte per item) and returns the
// 1-based position of the first match of the user's held-out item, 0 for a
// miss. n <= 0 (no answer, or an invalid basket) is a miss and marks nothing.
int32_t RecordAnswer(const int32_t *rcmds, int32_t n, int32_t test, uint8_t *seen);

// Totals of a run over nitems items from each query's hit position, in query
// order (so the sum of reciprocals does not depend on how queries were
// shared among threads), and the marks of every thread.
RunMetrics SumRun(int32_t nitems, const std::vector<uint8_t> &positions,
                  const std::vector<std::vector<uint8_t>> &seen);

// hits / queried; 0 when nobody was asked.
double HitRate(const RunMetrics &m);
// reciprocal_sum / queried (a miss counts 0); 0 when nobody was asked.
double AverageReciprocalHitRank(const RunMetrics &m);
// distinct / nitems; 0 for an empty catalogue.
double Coverage(const RunMetrics &m);
