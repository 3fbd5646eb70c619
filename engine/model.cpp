#include "engine/model.h"

#include <bit>
#include <cmath>

#include "engine/errors.h"
#include "engine/marks.h"
#include "util/checked_alloc.h"
#include "util/fill.h"
#include "util/free_all.h"

Model *CreateModel() {
  auto *model = static_cast<Model *>(CheckedMalloc(sizeof(Model), "CreateModel: model"));
  *model = Model{};
  model->type = model->nnbr = model->nitems = model->nusers = -1;
  model->users.nrows = -1;
  model->popularity.npopular = -1;
  model->user_marks_form = model->item_marks_form = MarkForm::kSlots;
  return model;
}

void TOVRAN_FreeModel(Model *model) {
  if (model == nullptr) return;
  FreeAll(&model->lists.itemptr, &model->lists.itemind, &model->lists.itemval, &model->users.rowptr,
          &model->users.rowind, &model->users.colptr, &model->users.colind, &model->users.rowval,
          &model->users.colval, &model->scratch.user_candidates, &model->scratch.item_candidates,
          &model->scratch.user_marks, &model->scratch.item_marks, &model->popularity.popular,
          &model->popularity.popscore, &model->popularity.poprank, &model);
}

bool HoldsNegativeZero(const float *values, int64_t n) {
  for (int64_t j = 0; j < n; j++)
    if (std::bit_cast<uint32_t>(values[j]) == 0x80000000u) return true;
  return false;
}

void RestMarks(Model *model) {
  if (model->type == TOVRAN_USER_BASED) {
    bool negzero = false, signbit = false;
    for (int64_t j = 0; j < model->users.rowptr[model->users.nrows]; j++) {
      negzero |= std::bit_cast<uint32_t>(model->users.rowval[j]) == 0x80000000u;
      signbit |= std::signbit(model->users.rowval[j]);
    }
    model->user_marks_form = negzero ? MarkForm::kSums : MarkForm::kSumsFromZero;
    model->item_marks_form = RestingItemForm(!signbit, model->nitems);
    FillInts(model->users.nrows, UnmetMark(model->user_marks_form), model->scratch.user_marks);
    FillInts(model->nitems, UnmetMark(model->item_marks_form), model->scratch.item_marks);
    return;
  }
  if (model->type == TOVRAN_POPULAR) {
    model->item_marks_form = RestingItemForm(false, model->nitems);
    FillInts(model->nitems, UnmetMark(model->item_marks_form), model->scratch.item_marks);
    return;
  }
  const bool zero = model->lists.itemptr != nullptr && model->nitems <= kMaxItemsSummedInMarks &&
                    !HoldsNegativeZero(model->lists.itemval, model->lists.itemptr[model->nitems]);
  model->item_marks_form = RestingItemForm(zero, model->nitems);
  FillInts(model->nitems, UnmetMark(model->item_marks_form), model->scratch.item_marks);
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
  info->nitems = model->nitems;
  info->nentries = users                           ? model->users.rowptr[model->users.nrows]
                   : model->type == TOVRAN_POPULAR ? model->popularity.npopular
                                                   : model->lists.itemptr[model->nitems];
  info->npopular = model->popularity.npopular;
  return 0;
}
