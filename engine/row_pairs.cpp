#include "engine/row_pairs.h"

#include "util/checked_alloc.h"

CandidatePair *InterleaveRows(const SparseMatrix *matrix, const char *label) {
  const int32_t nnz = matrix->rowptr[matrix->nrows];
  CandidatePair *rows = AllocCands(nnz, label);
  for (int32_t l = 0; l < nnz; l++) rows[l] = CandidatePair{matrix->rowval[l], matrix->rowind[l]};
  return rows;
}

RowSpan *RowSpansByColumn(const SparseMatrix *matrix, const char *label) {
  const int32_t nnz = matrix->colptr[matrix->ncols];
  auto *spans = static_cast<RowSpan *>(CheckedMalloc(int64_t{sizeof(RowSpan)} * nnz, label));
  for (int32_t j = 0; j < nnz; j++) {
    const int32_t u = matrix->colind[j];
    spans[j] = RowSpan{matrix->rowptr[u], matrix->rowptr[u + 1]};
  }
  return spans;
}
