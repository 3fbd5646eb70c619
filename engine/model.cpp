#include "engine/model.h"

#include "util/checked_alloc.h"
#include "util/free_all.h"

Model *CreateModel() {
  auto *model = static_cast<Model *>(CheckedMalloc(sizeof(Model), "CreateModel: model"));
  *model = Model{-1,      -1,      -1,      nullptr, nullptr, nullptr, -1,
                 -1,      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                 nullptr, nullptr, nullptr, nullptr, -1,      0.0f,    0};
  return model;
}

void TOVRAN_FreeModel(Model *model) {
  if (model == nullptr) return;
  FreeAll(&model->itemptr, &model->itemind, &model->itemval, &model->rowptr, &model->rowind,
          &model->colptr, &model->colind, &model->rowval, &model->colval, &model->rcand,
          &model->fcand, &model->rmarker, &model->marker, &model);
}
