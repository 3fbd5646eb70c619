#pragma once

#include "programs/mpi/job.h"

// Collective: gathers every rank's figures (RankStats) and prints on the
// root's standard error one line per rank (processor seconds in local work,
// of them in its block of queries and in the model builds, the wall time
// less the busy time, bytes sent) and the balance of the busy, query and
// build times: the largest over the mean. load and wall are the root's
// seconds for loading and for the whole job.
void PrintTimings(const Job &job, double load, double wall);
