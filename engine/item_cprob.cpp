#include <bit>
#include <cassert>
#include <cmath>

#include "engine/item_lists.h"
#include "engine/model_kinds.h"
#include "util/checked_alloc.h"
#include "util/free_all.h"

namespace {

// True when every entry of each row holds the row's first value.
[[maybe_unused]] bool RowsHoldOneValue(const SparseMatrix *matrix) {
  for (int32_t u = 0; u < matrix->nrows; u++)
    for (int32_t l = matrix->rowptr[u]; l < matrix->rowptr[u + 1]; l++)
      if (std::bit_cast<int32_t>(matrix->rowval[l]) !=
          std::bit_cast<int32_t>(matrix->rowval[matrix->rowptr[u]]))
        return false;
  return true;
}

}  // namespace

Model *BuildItemCprobModel(SparseMatrix *matrix, int32_t nnbr, float alpha, int32_t min_support,
                           int32_t nthreads, const ItemListBlock *block, bool per_entry) {
  const ItemModelLabels labels = {"TOVRAN_Init_CProbSim: itemptr", "TOVRAN_Init_CProbSim: itemind",
                                  "TOVRAN_Init_CProbSim: itemval",
                                  "TOVRAN_Init_CProbSim: model->marker",
                                  "TOVRAN_Init_CProbSim: model->fcand"};
  ModelHolder holder(CreateItemModel(TOVRAN_ITEM_CPROB, matrix->ncols, nnbr, min_support,
                                     matrix->colptr, labels, block == nullptr));
  Model *model = holder.get();

  // The rows are read as built: input order, row-normalised values, all the
  // values of a row the same (the gather reads one per row) unless the
  // entries were weighted.
  const int32_t *rowptr = matrix->rowptr, *rowind = matrix->rowind;
  const int32_t *colptr = matrix->colptr, *colind = matrix->colind;
  const float *rowval = matrix->rowval;
  // Each candidate is damped by its own frequency to the power alpha, the
  // same double for every list it enters, so it is raised once per item.
  auto *damping = static_cast<double *>(
      CheckedMalloc(int64_t{sizeof(double)} * matrix->ncols, "TOVRAN_Init_CProbSim: damping"));
  for (int32_t c = 0; c < matrix->ncols; c++)
    damping[c] = std::pow(double(colptr[c + 1] - colptr[c]), double(alpha));

  assert(per_entry || RowsHoldOneValue(matrix));
  // The candidate's frequency is at least min_support >= 1, so its damping
  // is not zero.
  if (per_entry) {
    BuildItemLists(model, block, nthreads,
                   [=](int32_t i, int32_t *item_marks, CandidatePair *item_candidates) {
                     return GatherCandidates<false, true, true>(
                         i, colptr[i], colptr[i + 1], colind, nullptr, rowptr, rowind, rowval,
                         item_marks, item_candidates, damping);
                   });
  } else {
    BuildItemLists(model, block, nthreads,
                   [=](int32_t i, int32_t *item_marks, CandidatePair *item_candidates) {
                     return GatherCandidates<false, true>(i, colptr[i], colptr[i + 1], colind,
                                                          nullptr, rowptr, rowind, rowval,
                                                          item_marks, item_candidates, damping);
                   });
  }
  FreeAll(&damping);
  RestMarks(model);
  return holder.release();
}
