#include "engine/model_kinds.h"
#include "matrix/column_view.h"
#include "util/checked_alloc.h"

Model *SetUpUserModel(SparseMatrix *matrix, int32_t nnbr) {
  // Both views carry the row-normalised values; the column scaling is dropped.
  ColumnsFromRows(matrix);
  ModelHolder model(CreateModel());
  model->type = TOVRAN_USER_BASED;
  model->nnbr = nnbr;
  model->users.nrows = matrix->nrows;
  model->nitems = matrix->ncols;
  model->users.rowptr = matrix->rowptr;
  model->users.rowind = matrix->rowind;
  model->users.rowval = matrix->rowval;
  model->users.colptr = matrix->colptr;
  model->users.colind = matrix->colind;
  model->users.colval = matrix->colval;
  // The arrays now belong to the model alone.
  matrix->rowptr = matrix->rowind = matrix->colptr = matrix->colind = nullptr;
  matrix->rowval = matrix->colval = nullptr;
  // "cmarker" is the label out-of-memory messages have always printed; kept on purpose.
  model->scratch.item_marks = AllocInts(model->nitems, "TOVRAN_Init_Row: model->cmarker");
  model->scratch.user_marks = AllocInts(model->users.nrows, "TOVRAN_Init_Row: model->rmarker");
  RestMarks(model.get());
  model->scratch.item_candidates =
      AllocCands(ItemCandidateRoom(model->nitems), "TOVRAN_Init_Row: model->ccand");
  model->scratch.user_candidates =
      AllocCands(UserCandidateRoom(model->users.nrows), "TOVRAN_Init_Row: model->rcand");
  return model.release();
}
