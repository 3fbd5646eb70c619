#include "engine/item_lists.h"

#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "util/checked_alloc.h"
#include "util/fill.h"
#include "util/free_all.h"

Model *CreateItemModel(int32_t type, int32_t ncols, int32_t nnbr, int32_t min_support,
                       const int32_t *colptr, const ItemModelLabels &labels) {
  ModelHolder model(CreateModel());
  model->type = type;
  model->nitems = ncols;
  model->nnbr = nnbr;
  const int64_t room = int64_t{ncols} * ItemListRoom(nnbr, ncols);
  model->itemptr = AllocInts(int64_t{ncols} + 1, labels.itemptr);
  model->itemind = AllocInts(room, labels.itemind);
  model->itemval = AllocFloats(room, labels.itemval);
  model->marker = AllocFilledInts(ncols, -1, labels.marker);
  model->fcand = AllocCands(ncols, labels.fcand);
  for (int32_t c = 0; c < ncols; c++)
    if (colptr[c + 1] - colptr[c] < min_support) model->marker[c] = -2;
  model->itemptr[0] = 0;
  return model.release();
}

void StageItemList(Model *model, CandidatePair *fcand, int32_t i, int32_t k) {
  int32_t n = SelectTopCandidates(k, model->nnbr, fcand);
  SortCandidates(n, fcand);
  const int64_t d = int64_t{i} * ItemListRoom(model->nnbr, model->nitems);
  if (n > 0) {
    double sum = 0.0;
    for (int32_t l = 0; l < n; l++) sum += double(fcand[l].value) * double(fcand[l].value);
    float scale = float(1.0 / std::sqrt(sum));
    for (int32_t l = 0; l < n; l++) {
      model->itemind[d + l] = fcand[l].key;
      model->itemval[d + l] = float(double(scale) * double(fcand[l].value));
    }
  }
  model->itemptr[i + 1] = n;
}

void PackItemLists(Model *model) {
  int32_t *itemptr = model->itemptr;
  const int32_t room = ItemListRoom(model->nnbr, model->nitems);
  itemptr[0] = 0;
  for (int32_t i = 0; i < model->nitems; i++) {
    const int32_t n = itemptr[i + 1];
    const int64_t from = int64_t{i} * room;
    // Packed places never lie after staged ones, so a forward move is safe.
    if (from != itemptr[i]) {
      std::memmove(model->itemind + itemptr[i], model->itemind + from, sizeof(int32_t) * n);
      std::memmove(model->itemval + itemptr[i], model->itemval + from, sizeof(float) * n);
    }
    itemptr[i + 1] = itemptr[i] + n;
  }
}

ThreadScratch::ThreadScratch(Model *model, int32_t nthreads) {
  const auto count = size_t(UsableThreads(nthreads, model->nitems));
  markers.reserve(count);
  fcands.reserve(count);
  markers.push_back(model->marker);
  fcands.push_back(model->fcand);
  while (markers.size() < count) {
    // Each array is owned by its vector as soon as it exists.
    markers.push_back(AllocInts(model->nitems, "BuildItemLists: marker"));
    std::memcpy(markers.back(), model->marker, sizeof(int32_t) * model->nitems);
    fcands.push_back(AllocCands(model->nitems, "BuildItemLists: fcand"));
  }
}

ThreadScratch::~ThreadScratch() {
  for (size_t t = 1; t < markers.size(); t++) std::free(markers[t]);
  for (size_t t = 1; t < fcands.size(); t++) std::free(fcands[t]);
}

void ResetItemMarkers(Model *model) { FillInts(model->nitems, -1, model->marker); }
