#include "engine/item_lists.h"

#include <cmath>

#include "util/checked_alloc.h"
#include "util/fill.h"

Model *CreateItemModel(int32_t type, int32_t ncols, int32_t nnbr,
                       const int32_t *colptr, const ItemModelLabels &labels) {
  Model *model = CreateModel();
  model->type = type;
  model->nitems = ncols;
  model->nnbr = nnbr;
  int64_t room = int64_t{ncols} * nnbr;
  model->itemptr = AllocInts(int64_t{ncols} + 1, labels.itemptr);
  model->itemind = AllocInts(room, labels.itemind);
  model->itemval = AllocFloats(room, labels.itemval);
  model->marker = AllocFilledInts(ncols, -1, labels.marker);
  model->fcand = AllocCands(ncols, labels.fcand);
  for (int32_t c = 0; c < ncols; c++)
    if (colptr[c + 1] - colptr[c] < kMinItemFrequency) model->marker[c] = -2;
  model->itemptr[0] = 0;
  return model;
}

void StoreItemList(Model *model, int32_t i, int32_t k) {
  CandidatePair *fcand = model->fcand;
  int32_t n = SelectTopCandidates(k, model->nnbr, fcand);
  SortCandidates(n, fcand);
  int32_t d = model->itemptr[i];
  if (n > 0) {
    double sum = 0.0;
    for (int32_t l = 0; l < n; l++) sum += double(fcand[l].value) * double(fcand[l].value);
    float scale = float(1.0 / std::sqrt(sum));
    for (int32_t l = 0; l < n; l++) {
      model->itemind[d + l] = fcand[l].key;
      model->itemval[d + l] = float(double(scale) * double(fcand[l].value));
    }
  }
  model->itemptr[i + 1] = d + n;
}

void ResetItemMarkers(Model *model) { FillInts(model->nitems, -1, model->marker); }
