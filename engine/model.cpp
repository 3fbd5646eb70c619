#include "engine/model.h"

#include <bit>
#include <cmath>

#include "engine/errors.h"
#include "engine/mark_sums.h"
#include "util/checked_alloc.h"
#include "util/fill.h"
#include "util/free_all.h"

Model *CreateModel() {
  auto *model = static_cast<Model *>(CheckedMalloc(sizeof(Model), "CreateModel: model"));
  *model = Model{-1,      -1,      -1,      nullptr, nullptr, nullptr, -1,      -1,
                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                 nullptr, nullptr, -1,      0.0f,    0,       -1,      -1,      0,
                 0.0f,    0.0f,    -1,      nullptr, nullptr, nullptr, nullptr};
  return model;
}

void TOVRAN_FreeModel(Model *model) {
  if (model == nullptr) return;
  FreeUserColumnBits(model->colbits);
  FreeAll(&model->itemptr, &model->itemind, &model->itemval, &model->rowptr, &model->rowind,
          &model->colptr, &model->colind, &model->rowval, &model->colval, &model->user_candidates,
          &model->item_candidates, &model->user_marks, &model->item_marks, &model->popular,
          &model->popscore, &model->poprank, &model);
}

bool HoldsNegativeZero(const float *values, int64_t n) {
  for (int64_t j = 0; j < n; j++)
    if (std::bit_cast<uint32_t>(values[j]) == 0x80000000u) return true;
  return false;
}

void RestMarks(Model *model) {
  if (model->type == TOVRAN_USER_BASED) {
    bool negzero = false, signbit = false;
    for (int64_t j = 0; j < model->rowptr[model->nrows]; j++) {
      negzero |= std::bit_cast<uint32_t>(model->rowval[j]) == 0x80000000u;
      signbit |= std::signbit(model->rowval[j]);
    }
    model->unmet_user_mark = negzero ? -1 : INT32_MIN;
    model->unmet_item_mark = !signbit && model->ncols <= kMaxItemsSummedInMarks ? INT32_MIN : -1;
    FillInts(model->nrows, model->unmet_user_mark, model->user_marks);
    FillInts(model->ncols, model->unmet_item_mark, model->item_marks);
    return;
  }
  if (model->type == TOVRAN_POPULAR) {
    model->unmet_item_mark = -1;
    FillInts(model->nitems, -1, model->item_marks);
    return;
  }
  const bool zero = model->itemptr != nullptr && model->nitems <= kMaxItemsSummedInMarks &&
                    !HoldsNegativeZero(model->itemval, model->itemptr[model->nitems]);
  model->unmet_item_mark = zero ? INT32_MIN : -1;
  FillInts(model->nitems, model->unmet_item_mark, model->item_marks);
}

int32_t TOVRAN_GetModelInfo(const Model *model, TOVRAN_ModelInfo *info) {
  if (model == nullptr || info == nullptr) {
    SetLastError("TOVRAN_GetModelInfo: the model and the record should not be null.");
    return -1;
  }
  const bool users = model->type == TOVRAN_USER_BASED;
  info->params = TOVRAN_Params{model->type, model->nnbr,      model->alpha,   model->min_support,
                               1,           model->weighting, model->bm25_k1, model->bm25_b};
  info->nusers = model->nusers;
  info->nitems = users ? model->ncols : model->nitems;
  info->nentries = users                           ? model->rowptr[model->nrows]
                   : model->type == TOVRAN_POPULAR ? model->npopular
                                                   : model->itemptr[model->nitems];
  info->npopular = model->npopular;
  return 0;
}
