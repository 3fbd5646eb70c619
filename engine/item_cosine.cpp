#include "engine/item_lists.h"
#include "engine/model_kinds.h"
#include "matrix/column_view.h"

Model *BuildItemCosineModel(SparseMatrix *matrix, int32_t nnbr, int32_t min_support,
                            int32_t nthreads, const ItemListBlock *block) {
  // The rows take the column-normalised values, so that a row-times-column
  // product below is the cosine of two item columns.
  RowsFromColumns(matrix);
  const ItemModelLabels labels = {
      "TOVRAN_Init_ColVecSim: itemptr", "TOVRAN_Init_ColVecSim: itemind",
      "TOVRAN_Init_ColVecSim: itemval", "TOVRAN_Init_ColVecSim: model->marker",
      "TOVRAN_Init_ColVecSim: model->fcand"};
  ModelHolder holder(CreateItemModel(TOVRAN_ITEM_COSINE, matrix->ncols, nnbr, min_support,
                                     matrix->colptr, labels, block == nullptr));
  Model *model = holder.get();

  const int32_t *colptr = matrix->colptr, *colind = matrix->colind;
  const int32_t *rowptr = matrix->rowptr, *rowind = matrix->rowind;
  const float *colval = matrix->colval, *rowval = matrix->rowval;

  BuildItemLists(
      model, block, nthreads, [=](int32_t i, int32_t *item_marks, CandidatePair *item_candidates) {
        return GatherCandidates<true, false>(i, colptr[i], colptr[i + 1], colind, colval, rowptr,
                                             rowind, rowval, item_marks, item_candidates, nullptr);
      });
  RestMarks(model);
  return holder.release();
}
