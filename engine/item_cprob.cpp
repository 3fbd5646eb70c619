#include <cmath>

#include "engine/item_lists.h"

Model *TOVRAN_Init_CProbSim(SparseMatrix *matrix, int32_t nnbr, float alpha,
                            int32_t nthreads) {
  const ItemModelLabels labels = {
      "TOVRAN_Init_CProbSim: itemptr", "TOVRAN_Init_CProbSim: itemind",
      "TOVRAN_Init_CProbSim: itemval", "TOVRAN_Init_CProbSim: model->marker",
      "TOVRAN_Init_CProbSim: model->fcand"};
  Model *model = CreateItemModel(TOVRAN_ITEM_CPROB, matrix->ncols, nnbr, matrix->colptr, labels);

  // The rows are read as built: input order, row-normalised values.
  const int32_t *rowptr = matrix->rowptr, *rowind = matrix->rowind;
  const int32_t *colptr = matrix->colptr, *colind = matrix->colind;
  const float *rowval = matrix->rowval;

  BuildItemLists(model, nthreads, [=](int32_t i, int32_t *marker, CandidatePair *fcand) {
    int32_t k = 0;
    for (int32_t j = colptr[i]; j < colptr[i + 1]; j++) {
      const int32_t u = colind[j];
      // Rows lie far apart; ask for one a few users ahead while this one is read.
      if (j + kRowsAhead < colptr[i + 1]) PrefetchRow(rowptr, rowind, rowval, colind[j + kRowsAhead]);
      for (int32_t l = rowptr[u]; l < rowptr[u + 1]; l++) {
        const int32_t c = rowind[l];
        if (c == i) continue;
        const int32_t slot = marker[c];
        if (slot == -1) {
          fcand[k] = CandidatePair{rowval[l], c};
          marker[c] = k++;
        } else if (slot >= 0) {
          fcand[slot].value = float(double(rowval[l]) + double(fcand[slot].value));
        }
      }
    }
    for (int32_t t = 0; t < k; t++) {
      const int32_t c = fcand[t].key;
      marker[c] = -1;
      // Damped by the candidate's own frequency, which is at least 3.
      const double freq = colptr[c + 1] - colptr[c];
      fcand[t].value = float(double(fcand[t].value) / std::pow(freq, double(alpha)));
    }
    return k;
  });
  ResetItemMarkers(model);
  return model;
}
