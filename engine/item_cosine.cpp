#include "engine/item_lists.h"
#include "matrix/column_view.h"

Model *TOVRAN_Init_ColVecSim(SparseMatrix *matrix, int32_t nnbr, int32_t nthreads) {
  // The rows take the column-normalised values, so that a row-times-column
  // product below is the cosine of two item columns.
  RowsFromColumns(matrix);
  const ItemModelLabels labels = {
      "TOVRAN_Init_ColVecSim: itemptr", "TOVRAN_Init_ColVecSim: itemind",
      "TOVRAN_Init_ColVecSim: itemval", "TOVRAN_Init_ColVecSim: model->marker",
      "TOVRAN_Init_ColVecSim: model->fcand"};
  Model *model = CreateItemModel(TOVRAN_ITEM_COSINE, matrix->ncols, nnbr, matrix->colptr, labels);

  const int32_t *rowptr = matrix->rowptr, *rowind = matrix->rowind;
  const int32_t *colptr = matrix->colptr, *colind = matrix->colind;
  const float *rowval = matrix->rowval, *colval = matrix->colval;

  BuildItemLists(model, nthreads, [=](int32_t i, int32_t *marker, CandidatePair *fcand) {
    int32_t k = 0;
    for (int32_t j = colptr[i]; j < colptr[i + 1]; j++) {
      const int32_t u = colind[j];
      // Rows lie far apart; ask for one a few users ahead while this one is read.
      if (j + kRowsAhead < colptr[i + 1]) PrefetchRow(rowptr, rowind, rowval, colind[j + kRowsAhead]);
      const double w = colval[j];
      for (int32_t l = rowptr[u]; l < rowptr[u + 1]; l++) {
        const int32_t c = rowind[l];
        if (c == i) continue;
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
    return k;
  });
  ResetItemMarkers(model);
  return model;
}
