#pragma once

#include <cstdint>
#include <vector>

// One asked user's outcome: its held-out items T, the list of N asked for,
// and the ranks (from 1) of the list's items that are in T.
//   HR@N         1 when a held-out item is listed, else 0
//   recall@N     hits / |T|
//   precision@N  hits / N
//   NDCG@N       sum over hits of 1/log2(1+rank), divided by the same sum
//                over ranks 1..min(N, |T|)
//   AP@N         sum over the k-th hit of k/rank, divided by min(N, |T|)
//   RR           1/rank of the first hit, 0 for none
struct UserMetrics {
  int32_t hits = 0;
  double hr = 0, recall = 0, precision = 0, ndcg = 0, ap = 0, rr = 0;
};

// The metrics of one user from the rank of each of its nheld held-out items
// (0 when not listed; a listed item counts once however often it is held
// out) and the N asked for.
UserMetrics ScoreUser(const int32_t *ranks, int32_t nheld, int32_t N);

// The metrics a run reports, each an average over the users asked.
enum Metric { kHitRate, kRecall, kPrecision, kNdcg, kMap, kMrr, kMetrics };
// The metric's value for one user.
double MetricOf(const UserMetrics &u, int32_t metric);
// Its name in the summary and the per-user columns.
const char *MetricName(int32_t metric);

// What the answers of one run add up to: users asked, hits, the per-user
// metrics summed in user order, how much of the catalogue was recommended,
// and how many held-out items no list could hold.
struct RunMetrics {
  int32_t nitems = 0;    // items of the catalogue
  int32_t top = 0;       // N, items asked per user
  int32_t queried = 0;   // users asked
  int32_t hits = 0;      // users with a held-out item listed
  int64_t listed = 0;    // held-out items listed, over every user
  int64_t held_out = 0;  // held-out items of the users asked
  double sums[kMetrics] = {};
  int32_t distinct = 0;  // items recommended to at least one user
  // Held-out items of queried users that no list can hold, by the first
  // reason that applies: in the user's own basket, never in a training pair,
  // or (item models) held by fewer training pairs than the support.
  int32_t in_basket = 0;
  int32_t unseen = 0;
  int32_t below_support = 0;
};

// Adds one user's outcome to m, in user order.
void AddUser(const UserMetrics &u, RunMetrics *m);

// The average of metric over the users asked (0 when nobody was asked);
// precision is listed / (queried * N), the same value summed exactly.
double Average(const RunMetrics &m, int32_t metric);
// hits / queried; 0 when nobody was asked. With one held-out item per user
// this is also recall@N.
double HitRate(const RunMetrics &m);
// The average reciprocal rank of the first hit (a miss counts 0).
double AverageReciprocalHitRank(const RunMetrics &m);
double Ndcg(const RunMetrics &m);
double Precision(const RunMetrics &m);
double Recall(const RunMetrics &m);
double MeanAveragePrecision(const RunMetrics &m);
// distinct / nitems; 0 for an empty catalogue.
double Coverage(const RunMetrics &m);
