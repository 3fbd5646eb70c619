#pragma once

#include <cstdint>
#include <cstdio>

#include "driver/dataset.h"
#include "driver/run_sequence.h"
#include "programs/mpi/job.h"

// What the runs share: the dataset, how its queries split, and whether and
// where the per-user lists go.
struct DistributedData {
  const Dataset *ds = nullptr;
  std::vector<int64_t> collen;  // training pairs of every item
  bool keep_lists = false;      // on every rank alike
  std::FILE *lists = nullptr;   // the root's stream for them
};

// Collective: the training pairs' column lengths, for the work estimates.
DistributedData PrepareData(const Job &job, const Dataset &ds, bool keep_lists, std::FILE *lists);

// Collective: as EvaluateModel, with the queries split over the ranks in
// blocks of users balanced by work; the root prints the same lines, and
// every rank returns the same result (timings are the root's).
RunResult EvaluateDistributed(const Job &job, const DistributedData &data, int32_t type,
                              int32_t nnbr, float alpha, int32_t nthreads);

// Collective: as RunAll; only the root's standard output is seen.
SequenceResult RunAllDistributed(const Job &job, const DistributedData &data, int32_t nthreads);
