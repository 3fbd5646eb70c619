#include "engine/model.h"

#include <algorithm>
#include <climits>

#include "util/checked_alloc.h"
#include "util/fatal_error.h"
#include "util/free_all.h"

Model *CreateModel() {
  auto *model = static_cast<Model *>(CheckedMalloc(sizeof(Model), "CreateModel: model"));
  *model = Model{-1,      -1,      -1,      nullptr, nullptr, nullptr,
                 -1,      -1,      nullptr, nullptr, nullptr, nullptr,
                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return model;
}

void ValidatePairs(int32_t nrows, int32_t ncols, int32_t npairs,
                   const int32_t *rowid, const int32_t *colid) {
  if (nrows < 0 || ncols < 0 || npairs < 0)
    FatalError("NRows, NCols and NPairs should not be negative.\n");
  if (npairs > 0 && (rowid == nullptr || colid == nullptr))
    FatalError("The pair arrays should not be null.\n");
  for (int32_t i = 0; i < npairs; i++) {
    if (rowid[i] < 0 || rowid[i] >= nrows || colid[i] < 0 || colid[i] >= ncols)
      FatalError("Pair %d (%d, %d) lies outside the %d x %d matrix.\n", i,
                 rowid[i], colid[i], nrows, ncols);
  }
}

Model *TOVRAN_BuildModel(int32_t nrows, int32_t ncols, int32_t npairs,
                         const int32_t *rowid, const int32_t *colid,
                         int32_t type, int32_t nnbr, float alpha) {
  return TOVRAN_BuildModelThreads(nrows, ncols, npairs, rowid, colid, type, nnbr, alpha, 1);
}

Model *TOVRAN_BuildModelThreads(int32_t nrows, int32_t ncols, int32_t npairs,
                                const int32_t *rowid, const int32_t *colid,
                                int32_t type, int32_t nnbr, float alpha, int32_t nthreads) {
  if (type < TOVRAN_ITEM_COSINE || type > TOVRAN_USER_BASED)
    FatalError("MType should take a value from {1, 2, 3}.\n");
  if (nnbr <= 0) FatalError("NNbr should be greater than 0.\n");
  // Written so that a NaN fails too.
  if (type == TOVRAN_ITEM_CPROB && (!(alpha >= 0.0f) || alpha > 1.0f))
    FatalError("Alpha should take a value from [0.0, 1.0].\n");
  // Neighbour lists are indexed by 32-bit offsets; an item has at most
  // min(nnbr, ncols - 1) neighbours. Arrays too large for the heap are the
  // allocator's to report, with their 64-bit size.
  if (type != TOVRAN_USER_BASED && int64_t{ncols} * std::min(nnbr, ncols - 1) > INT32_MAX)
    FatalError("NNbr %d with NCols %d gives more neighbours than a model can index (at most %d).\n",
               nnbr, ncols, INT32_MAX);
  ValidatePairs(nrows, ncols, npairs, rowid, colid);

  SparseMatrix *matrix = CreateMatrix(nrows, ncols, npairs, rowid, colid);
  Model *model = nullptr;
  switch (type) {
    case TOVRAN_ITEM_COSINE: model = TOVRAN_Init_ColVecSim(matrix, nnbr, nthreads); break;
    case TOVRAN_ITEM_CPROB: model = TOVRAN_Init_CProbSim(matrix, nnbr, alpha, nthreads); break;
    default: model = TOVRAN_Init_Row(matrix, nnbr); break;
  }
  FreeMatrix(matrix);
  return model;
}

void TOVRAN_FreeModel(Model *model) {
  if (model == nullptr) return;
  FreeAll(&model->itemptr, &model->itemind, &model->itemval, &model->rowptr,
          &model->rowind, &model->colptr, &model->colind, &model->rowval,
          &model->colval, &model->rcand, &model->fcand, &model->rmarker,
          &model->marker, &model);
}
