#pragma once

#include "driver/split.h"
#include "programs/mpi/job.h"

// How the ranks obtain the dataset.
enum class InputMode {
  kRoot,   // rank 0 reads and parses the file, then broadcasts the pairs
  kRanks,  // every rank parses its own byte range; the pairs are then shared
};

// Collective: loads fname on every rank, giving every rank the pairs the
// single-process program would load. A file that cannot be opened or breaks
// the format gives the single-process program's message, printed once, and
// JobFailed on every rank.
DatasetPairs SharePairs(const Job &job, const char *fname, InputMode mode);

// The dataset of a whole file held as its white-space separated integers
// (header first), or false when they do not form a valid dataset; why is
// not said (the caller parses the file again for the message).
bool DatasetFromTokens(const int32_t *tokens, int64_t ntokens, DatasetPairs *ds);

// An array of n ints (room for one at least); std::bad_alloc when the heap
// is exhausted.
IntArray Ints(int64_t n);
