#pragma once

#include <cstdint>
#include <vector>

#include "engine/tovran.h"
#include "programs/mpi/job.h"

// Per-item cost of an item model's lists: item i's list gathers every
// entry of the rows of its column's users, so it costs the sum of those
// rows' lengths; one more each, so that no item is free.
std::vector<int64_t> ItemListWork(int32_t nrows, int32_t ncols, int32_t npairs,
                                  const int32_t *rowid, const int32_t *colid);

// Collective: the item model of params (kind 1 or 2) over the pairs. Each
// rank builds the lists of its block of items (consecutive, balanced by
// ItemListWork); the lists are gathered on every rank, which assembles the
// model TOVRAN_Build gives. A failure on any rank fails the job (JobFailed).
Model *BuildItemModelOverJob(const Job &job, int32_t nrows, int32_t ncols, int32_t npairs,
                             const int32_t *rowid, const int32_t *colid,
                             const TOVRAN_Params &params);
