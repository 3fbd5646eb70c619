#include "matrix/sparse_matrix.h"

#include <cmath>

#include "matrix/column_view.h"
#include "matrix/counting_sort.h"
#include "util/checked_alloc.h"
#include "util/free_all.h"

namespace {

// Scales each non-empty segment of val (delimited by ptr over n segments) to
// unit length: the sum of squares stays double over the whole segment and
// the scale is rounded once to single precision.
void NormalizeSegments(int32_t n, const int32_t *ptr, float *val) {
  for (int32_t s = 0; s < n; s++) {
    if (ptr[s] >= ptr[s + 1]) continue;
    double sum = 0.0;
    for (int32_t j = ptr[s]; j < ptr[s + 1]; j++) sum += double(val[j]) * double(val[j]);
    float scale = float(1.0 / std::sqrt(sum));
    for (int32_t j = ptr[s]; j < ptr[s + 1]; j++) val[j] = float(double(scale) * double(val[j]));
  }
}

}  // namespace

SparseMatrix *CreateMatrix(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                           const int32_t *colid, const float *weights) {
  auto *mat = static_cast<SparseMatrix *>(CheckedMalloc(sizeof(SparseMatrix), "CreateMatrix: mat"));
  *mat = SparseMatrix{nrows, ncols, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  MatrixHolder holder(mat);
  mat->rowptr = AllocFilledInts(int64_t{nrows} + 1, 0, "CreateMatrix: rowptr");
  mat->rowind = AllocInts(npairs, "CreateMatrix: rowind");
  // Weighted entries are each written below; unweighted ones are all 1.0.
  mat->rowval = weights != nullptr ? AllocFloats(npairs, "CreateMatrix: rowval")
                                   : AllocFilledFloats(npairs, 1.0f, "CreateMatrix: rowval");

  // A stable counting sort: each row keeps its pairs in input order.
  int32_t *rowptr = mat->rowptr;
  for (int32_t i = 0; i < npairs; i++) rowptr[rowid[i]]++;
  StartFill(nrows, rowptr);
  if (weights == nullptr) {
    for (int32_t i = 0; i < npairs; i++) mat->rowind[rowptr[rowid[i]]++] = colid[i];
  } else {
    for (int32_t i = 0; i < npairs; i++) {
      const int32_t at = rowptr[rowid[i]]++;
      mat->rowind[at] = colid[i];
      mat->rowval[at] = weights[i];
    }
  }
  EndFill(nrows, rowptr);

  NormalizeRows(mat);
  CreateColMat(mat);
  NormalizeColumns(mat);
  return holder.release();
}

void NormalizeRows(SparseMatrix *mat) { NormalizeSegments(mat->nrows, mat->rowptr, mat->rowval); }

void NormalizeColumns(SparseMatrix *mat) {
  NormalizeSegments(mat->ncols, mat->colptr, mat->colval);
}

void FreeMatrix(SparseMatrix *mat) {
  FreeAll(&mat->rowptr, &mat->rowind, &mat->colptr, &mat->colind, &mat->rowval, &mat->colval, &mat);
}
