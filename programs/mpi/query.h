#pragma once

#include <cstdint>
#include <vector>

#include "engine/tovran.h"
#include "programs/mpi/job.h"

// The queries of one run: basket b is items[starts[b] .. starts[b+1]) and is
// hit when its answer holds tests[b].
struct QuerySet {
  std::vector<int32_t> starts;  // nbaskets + 1 offsets into items
  const int32_t *items = nullptr;
  std::vector<int32_t> tests;   // nbaskets held-out items
  std::vector<int64_t> work;    // nbaskets estimated costs, for the split
};

// What the queries of a run gave, the same on every rank and for every
// number of ranks and threads.
struct QueryOutcome {
  std::vector<uint8_t> positions;  // per basket: 1-based hit position, 0 for a miss
  std::vector<uint8_t> seen;       // per item: 1 if recommended to anyone
  std::vector<int32_t> lists;      // root only, when asked: N answers per basket, -1 padded
};

// Collective: every rank holds the same model and queries its block of
// baskets (consecutive, balanced by work) on nthreads threads, N answers
// each; positions are gathered in basket order and the seen marks combined
// on every rank. With keep_lists, the root also receives every answer.
QueryOutcome QueryBlocks(const Job &job, Model *model, int32_t nitems, const QuerySet &set,
                         int32_t N, int32_t nthreads, bool keep_lists);

// Per-basket work of the item kinds (basket size + 1) and of the user-based
// kind (sum of the basket items' column lengths + 1); collen holds every
// item's number of training pairs.
void ItemQueryWork(QuerySet *set);
void UserQueryWork(QuerySet *set, const std::vector<int64_t> &collen);

// Block bounds of the ranks over set's baskets, as QueryBlocks splits them.
std::vector<int64_t> QueryBounds(const Job &job, const QuerySet &set);
