#include "engine/item_lists.h"
#include "matrix/column_view.h"

namespace {

// Gathers item i's candidates into fcand in first-arrival order and returns
// their count: for each user of column i in column order, each entry of the
// user's row in row order adds rowval * colval (product and sum in double,
// one rounding). marker[i] is held at -2 meanwhile, which skips i itself.
int32_t GatherCosine(int32_t i, int32_t jbegin, int32_t jend, const int32_t *__restrict colind,
                     const float *__restrict colval, const int32_t *__restrict rowptr,
                     const int32_t *__restrict rowind, const float *__restrict rowval,
                     int32_t *__restrict marker, CandidatePair *__restrict fcand) {
  const int32_t own = marker[i];
  marker[i] = -2;
  int32_t k = 0;
  for (int32_t j = jbegin; j < jend; j++) {
    // Rows lie far apart; ask for one a few users ahead while this one is read.
    if (j + kRowsAhead < jend) PrefetchRow(rowptr, rowind, rowval, colind[j + kRowsAhead]);
    const double w = colval[j];
    const int32_t u = colind[j], end = rowptr[u + 1];
    for (int32_t l = rowptr[u]; l < end; l++) {
      const int32_t c = rowind[l];
      const int32_t slot = marker[c];
      if (slot == -1) {
        fcand[k] = CandidatePair{float(double(rowval[l]) * w), c};
        marker[c] = k++;
      } else if (slot >= 0) {
        // Product and sum in double, one rounding: not two float operations.
        fcand[slot].value = float(double(rowval[l]) * w + double(fcand[slot].value));
      }
    }
  }
  for (int32_t t = 0; t < k; t++) marker[fcand[t].key] = -1;
  marker[i] = own;
  return k;
}

}  // namespace

Model *TOVRAN_Init_ColVecSim(SparseMatrix *matrix, int32_t nnbr, int32_t nthreads) {
  // The rows take the column-normalised values, so that a row-times-column
  // product below is the cosine of two item columns.
  RowsFromColumns(matrix);
  const ItemModelLabels labels = {
      "TOVRAN_Init_ColVecSim: itemptr", "TOVRAN_Init_ColVecSim: itemind",
      "TOVRAN_Init_ColVecSim: itemval", "TOVRAN_Init_ColVecSim: model->marker",
      "TOVRAN_Init_ColVecSim: model->fcand"};
  Model *model = CreateItemModel(TOVRAN_ITEM_COSINE, matrix->ncols, nnbr, matrix->colptr, labels);

  const int32_t *colptr = matrix->colptr, *colind = matrix->colind;
  const int32_t *rowptr = matrix->rowptr, *rowind = matrix->rowind;
  const float *colval = matrix->colval, *rowval = matrix->rowval;

  BuildItemLists(model, nthreads, [=](int32_t i, int32_t *marker, CandidatePair *fcand) {
    return GatherCosine(i, colptr[i], colptr[i + 1], colind, colval, rowptr, rowind, rowval,
                        marker, fcand);
  });
  ResetItemMarkers(model);
  return model;
}
