#include "engine/model.h"

#include <bit>
#include <cmath>

#include "engine/mark_sums.h"
#include "util/checked_alloc.h"
#include "util/fill.h"
#include "util/free_all.h"

Model *CreateModel() {
  auto *model = static_cast<Model *>(CheckedMalloc(sizeof(Model), "CreateModel: model"));
  *model = Model{-1,      -1,      -1,      nullptr, nullptr, nullptr, -1,      -1,
                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                 nullptr, nullptr, -1,      0.0f,    0,       false,   -1};
  return model;
}

void TOVRAN_FreeModel(Model *model) {
  if (model == nullptr) return;
  FreeAll(&model->itemptr, &model->itemind, &model->itemval, &model->rowptr, &model->rowind,
          &model->colptr, &model->colind, &model->rowval, &model->colval, &model->rcand,
          &model->fcand, &model->rmarker, &model->marker, &model);
}

bool HoldsNegativeZero(const float *values, int64_t n) {
  for (int64_t j = 0; j < n; j++)
    if (std::bit_cast<uint32_t>(values[j]) == 0x80000000u) return true;
  return false;
}

bool HoldsSignBit(const float *values, int64_t n) {
  for (int64_t j = 0; j < n; j++)
    if (std::signbit(values[j])) return true;
  return false;
}

void RestItemMarks(Model *model) {
  const bool users = model->type == TOVRAN_USER_BASED;
  const int32_t items = users ? model->ncols : model->nitems;
  const bool zero = items <= kMaxItemsSummedInMarks &&
                    (users ? !HoldsSignBit(model->rowval, model->rowptr[model->nrows])
                           : model->itemptr != nullptr &&
                                 !HoldsNegativeZero(model->itemval, model->itemptr[model->nitems]));
  model->unmet_item_mark = zero ? INT32_MIN : -1;
  FillInts(items, model->unmet_item_mark, model->marker);
}
