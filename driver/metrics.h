#pragma once

#include <cstdint>
#include <vector>

// What the answers of one run add up to: users asked, hits, the ranks of the
// hits, how much of the catalogue was recommended, and how many held-out
// items no list could hold.
struct RunMetrics {
  int32_t nitems = 0;         // items of the catalogue
  int32_t top = 0;            // N, items asked per user
  int32_t queried = 0;        // users asked, i.e. users with a basket
  int32_t hits = 0;           // users whose held-out item was answered
  double reciprocal_sum = 0;  // sum over hits of 1 / rank, ranks from 1
  double gain_sum = 0;        // sum over hits of 1 / log2(1 + rank)
  int32_t distinct = 0;       // items recommended to at least one user
  // Held-out items of queried users that no list can hold, by the first
  // reason that applies: in the user's own basket, never in a training pair,
  // or (item models) held by fewer training pairs than the support.
  int32_t in_basket = 0;
  int32_t unseen = 0;
  int32_t below_support = 0;
};

// Marks the n answered items in seen (one byte per item) and returns the
// 1-based rank of the first match of the user's held-out item, 0 for a
// miss. n <= 0 (no answer, or an invalid basket) is a miss and marks nothing.
int32_t RecordAnswer(const int32_t *rcmds, int32_t n, int32_t test, uint8_t *seen);

// Totals of a run over nitems items from each query's hit rank, in query
// order (so that the sums do not depend on how queries were shared among
// threads), and the marks of every thread.
RunMetrics SumRun(int32_t nitems, const std::vector<int32_t> &ranks,
                  const std::vector<std::vector<uint8_t>> &seen);

// hits / queried; 0 when nobody was asked. With one held-out item per user
// this is also recall@N.
double HitRate(const RunMetrics &m);
// reciprocal_sum / queried (a miss counts 0); 0 when nobody was asked.
double AverageReciprocalHitRank(const RunMetrics &m);
// gain_sum / queried: the ideal gain of one held-out item is 1.
double Ndcg(const RunMetrics &m);
// hits / (queried * N); 0 when nobody was asked or N is 0.
double Precision(const RunMetrics &m);
// distinct / nitems; 0 for an empty catalogue.
double Coverage(const RunMetrics &m);
