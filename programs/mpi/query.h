#pragma once

#include <cstdint>
#include <vector>

#include "driver/evaluate.h"
#include "programs/mpi/job.h"

// Per-basket estimated cost of a run's queries, for the split: the
// user-based kind's query reads the column of every basket item, so its
// basket costs the sum of their training pairs; the other kinds' cost
// follows the basket's size. One more each, so that no basket is free.
std::vector<int64_t> QueryWork(const EvalData &data, int32_t kind);

// Collective: the query step of the driver's runs over the job. Every rank
// holds the same lister and answers its block of asked users (consecutive,
// balanced by QueryWork) with QueryUsers on nthreads threads; the ranks of
// the held-out items are gathered in user order and the recommended marks OR-combined on
// every rank, so that every rank returns the outcomes QueryUsers gives over
// all baskets. With keep_lists, the root alone receives every list.
QueryOutcomes QueryBlocks(const Job &job, Lister &lister, const EvalData &data,
                          const RunSetup &setup, int32_t nthreads, bool keep_lists,
                          Progress *progress);
