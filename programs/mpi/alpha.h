#pragma once

#include "driver/split.h"
#include "engine/tovran.h"
#include "programs/mpi/job.h"

// Collective: as TOVRAN_EstimateAlpha over the training pairs of ds with
// params (nnbr, min_support, nthreads) and N answers per user, each trial's
// model built by BuildItemModelOverJob and its queries split by QueryBlocks;
// the hit counts are integers summed over the ranks, so the estimate and
// every trial's hits are the single process's. The generator must be where
// TOVRAN_EstimateAlpha would find it (TOVRAN_RestartRandom on every rank).
// Returns 0; a failure on any rank fails the job (JobFailed).
int32_t EstimateAlphaOverJob(const Job &job, const Dataset &ds, const TOVRAN_Params &params,
                             int32_t N, double *alpha, TOVRAN_AlphaTrace *trace);
