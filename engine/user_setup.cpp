#include "engine/model_kinds.h"
#include "matrix/column_view.h"
#include "util/checked_alloc.h"

Model *SetUpUserModel(SparseMatrix *matrix, int32_t nnbr) {
  // Both views carry the row-normalised values; the column scaling is dropped.
  ColumnsFromRows(matrix);
  ModelHolder model(CreateModel());
  model->type = TOVRAN_USER_BASED;
  model->nnbr = nnbr;
  model->nrows = matrix->nrows;
  model->ncols = matrix->ncols;
  model->rowptr = matrix->rowptr;
  model->rowind = matrix->rowind;
  model->rowval = matrix->rowval;
  model->colptr = matrix->colptr;
  model->colind = matrix->colind;
  model->colval = matrix->colval;
  // The arrays now belong to the model alone.
  matrix->rowptr = matrix->rowind = matrix->colptr = matrix->colind = nullptr;
  matrix->rowval = matrix->colval = nullptr;
  // "cmarker" is the label out-of-memory messages have always printed; kept on purpose.
  model->item_marks = AllocInts(model->ncols, "TOVRAN_Init_Row: model->cmarker");
  model->user_marks = AllocInts(model->nrows, "TOVRAN_Init_Row: model->rmarker");
  RestMarks(model.get());
  PrepareUserColumnBits(model.get());
  model->item_candidates =
      AllocCands(ItemCandidateRoom(model->ncols), "TOVRAN_Init_Row: model->ccand");
  model->user_candidates =
      AllocCands(UserCandidateRoom(model->nrows), "TOVRAN_Init_Row: model->rcand");
  return model.release();
}
