#pragma once

#include "driver/evaluate.h"
#include "programs/mpi/job.h"

// The steps of the driver's runs over the job: every rank runs the driver's
// loop, each step is collective and agrees on failures (the first failing
// rank prints the engine's message, every rank throws JobFailed), and the
// queries are split by QueryBlocks. Each rank returns the same models and
// outcomes a single process would.
RunSteps DistributedSteps(const Job &job);
