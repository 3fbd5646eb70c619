#pragma once

#include <cstdint>

#include "engine/candidates.h"
#include "matrix/sparse_matrix.h"

// The row view laid out for the item builders' gathers, which read whole user
// rows in column order: each entry's value and column side by side, and each
// column entry's row bounds in column order, so that no rowptr lookup waits.

// Entry l holds {rowval[l], rowind[l]}; offsets stay those of rowptr.
// Released with std::free (null when the matrix has no entries).
CandidatePair *InterleaveRows(const SparseMatrix *matrix, const char *label);

// Bounds [begin, end) in the row view of one user's row.
struct RowSpan {
  int32_t begin, end;
};

// Entry j holds the bounds of row colind[j]. Released with std::free (null
// when the matrix has no entries).
RowSpan *RowSpansByColumn(const SparseMatrix *matrix, const char *label);
