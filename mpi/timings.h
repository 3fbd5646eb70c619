#pragma once

#include "mpi/job.h"

// Collective: gathers every rank's figures (RankStats) and prints on the
// root's standard error one line per rank (busy seconds in local work, the
// rest of the wall time, bytes sent) and the balance: the largest busy time
// over the mean. load and wall are the root's seconds for loading and for
// the whole job.
void PrintTimings(const Job &job, double load, double wall);
