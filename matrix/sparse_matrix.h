#pragma once

#include <cstdint>
#include <memory>

// The user-item matrix held twice: compressed rows (users) and compressed
// columns (items), each view with its own single-precision values. The record
// owns its six arrays; an array of zero elements is null.
struct SparseMatrix {
  int32_t nrows;
  int32_t ncols;
  int32_t *rowptr;  // nrows+1 offsets into rowind/rowval
  int32_t *rowind;  // column index of each row entry
  int32_t *colptr;  // ncols+1 offsets into colind/colval
  int32_t *colind;  // row index of each column entry
  float *rowval;
  float *colval;
};

// Builds the matrix of npairs (rowid[i], colid[i]) pairs: every entry 1.0
// (or weights[i], finite and above zero, unless weights is null), rows in
// input order and scaled to unit length, the column view derived from
// them and then scaled column by column. Repeated pairs stay separate entries.
// The caller guarantees indices in range; the pair arrays are only read.
// An allocation that throws leaves nothing behind.
SparseMatrix *CreateMatrix(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                           const int32_t *colid, const float *weights = nullptr);

// Scales each non-empty row of rowval to unit Euclidean length.
void NormalizeRows(SparseMatrix *mat);
// Scales each non-empty column of colval to unit Euclidean length.
void NormalizeColumns(SparseMatrix *mat);

// Releases the six arrays (null ones skipped) and the record.
void FreeMatrix(SparseMatrix *mat);

// Releases its matrix on scope exit unless released first.
struct MatrixRelease {
  void operator()(SparseMatrix *mat) const { FreeMatrix(mat); }
};
using MatrixHolder = std::unique_ptr<SparseMatrix, MatrixRelease>;
