#pragma once

#include <cstdint>

#include "matrix/sparse_matrix.h"

// The system's own generator: a process-wide linear congruential state that
// starts at 1 and is never seeded. Returns 0..32767.
int32_t NextRandom();

// Permutes the first n pairs in place, the same exchanges on both arrays
// (4n exchanges, 8n draws when n <= 4096, 24n draws above).
void ShufflePairs(int32_t n, int32_t *rowid, int32_t *colid);

// Shuffles the caller's pairs in place and sets aside the first pair of every
// row as that row's test item (-1 in *held_out_item for a row without pairs). *mat is
// a row-only matrix (nrows, ncols, rowptr, rowind) of the remaining pairs in
// shuffled order; release it with FreeMatrix. An allocation that throws
// leaves nothing behind (the pairs stay shuffled).
void CreateTrainTestMatrix(int32_t nrows, int32_t ncols, int32_t npairs, int32_t *rowid,
                           int32_t *colid, SparseMatrix **mat, int32_t **held_out_item);
