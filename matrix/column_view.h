#pragma once

#include "matrix/sparse_matrix.h"

// Transposes between the two views by counting sort. The derived view lists
// entries in ascending index of the other view; entries sharing a cell stay
// adjacent in source order. Builders accumulate sums in storage order, so
// these orders decide the last bits of every similarity.

// Allocates colptr, colind, colval and fills them from the row view; the
// values are copied bit for bit from rowval.
void CreateColMat(SparseMatrix *mat);
// Rebuilds the column view from the rows in the existing arrays; colptr is
// kept, since both views hold the same entries.
void ColumnsFromRows(SparseMatrix *mat);
// Rebuilds the row view from the columns in the existing arrays; rowptr is
// kept, since both views hold the same entries.
void RowsFromColumns(SparseMatrix *mat);
