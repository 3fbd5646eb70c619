#include "matrix/column_view.h"

#include "matrix/counting_sort.h"
#include "util/checked_alloc.h"

namespace {

// Turns tptr (zeros on entry) into the starts of the target view's segments
// for the entries of the source view (sptr over nsource, sind).
void CountTargets(int32_t nsource, const int32_t *sptr, const int32_t *sind, int32_t ntarget,
                  int32_t *tptr) {
  for (int32_t s = 0; s < nsource; s++)
    for (int32_t j = sptr[s]; j < sptr[s + 1]; j++) tptr[sind[j]]++;
  StartFill(ntarget, tptr);
}

// Fills the target view (tptr over ntarget, tind, tval) from the source view
// (sptr over nsource, sind, sval). tptr must hold the segment starts on entry
// and holds them again on return; it is its own fill cursor meanwhile.
void FillTargets(int32_t nsource, const int32_t *sptr, const int32_t *sind, const float *sval,
                 int32_t ntarget, int32_t *tptr, int32_t *tind, float *tval) {
  for (int32_t s = 0; s < nsource; s++) {
    for (int32_t j = sptr[s]; j < sptr[s + 1]; j++) {
      int32_t t = sind[j];
      tind[tptr[t]] = s;
      tval[tptr[t]] = sval[j];
      tptr[t]++;
    }
  }
  EndFill(ntarget, tptr);
}

}  // namespace

void CreateColMat(SparseMatrix *mat) {
  int32_t nnz = mat->rowptr[mat->nrows];
  mat->colptr = AllocFilledInts(int64_t{mat->ncols} + 1, 0, "CreateColMat: colptr");
  mat->colind = AllocInts(nnz, "CreateColMat: colind");
  mat->colval = AllocFloats(nnz, "CreateColMat: colval");
  CountTargets(mat->nrows, mat->rowptr, mat->rowind, mat->ncols, mat->colptr);
  FillTargets(mat->nrows, mat->rowptr, mat->rowind, mat->rowval, mat->ncols, mat->colptr,
              mat->colind, mat->colval);
}

// The two views hold the same entries, so the rebuilt view keeps its
// segment starts and only its entries are filled again.
void ColumnsFromRows(SparseMatrix *mat) {
  FillTargets(mat->nrows, mat->rowptr, mat->rowind, mat->rowval, mat->ncols, mat->colptr,
              mat->colind, mat->colval);
}

void RowsFromColumns(SparseMatrix *mat) {
  FillTargets(mat->ncols, mat->colptr, mat->colind, mat->colval, mat->nrows, mat->rowptr,
              mat->rowind, mat->rowval);
}
