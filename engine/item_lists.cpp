#include "engine/item_lists.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "util/checked_alloc.h"
#include "util/fill.h"
#include "util/free_all.h"

Model *CreateItemModel(int32_t type, int32_t ncols, int32_t nnbr, int32_t min_support,
                       const int32_t *colptr, const ItemModelLabels &labels, bool with_lists) {
  ModelHolder model(CreateModel());
  model->type = type;
  model->nitems = ncols;
  model->nnbr = nnbr;
  if (with_lists) {
    const int64_t room = int64_t{ncols} * ItemListRoom(nnbr, ncols);
    model->lists.itemptr = AllocInts(int64_t{ncols} + 1, labels.itemptr);
    model->lists.itemind = AllocInts(room, labels.itemind);
    model->lists.itemval = AllocFloats(room, labels.itemval);
    model->lists.itemptr[0] = 0;
  }
  model->scratch.item_marks =
      AllocFilledInts(ncols, UnmetMark(MarkForm::kSlots), labels.item_marks);
  model->scratch.item_candidates = AllocCands(ItemCandidateRoom(ncols), labels.item_candidates);
  for (int32_t c = 0; c < ncols; c++)
    if (colptr[c + 1] - colptr[c] < min_support)
      model->scratch.item_marks[c] = LeftOutMark(MarkForm::kSlots);
  return model.release();
}

ItemListBlock WholeModelBlock(Model *model) {
  return ItemListBlock{0, model->nitems, model->lists.itemptr + 1, model->lists.itemind,
                       model->lists.itemval};
}

void StageItemList(const Model *model, const ItemListBlock &block, CandidatePair *item_candidates,
                   int32_t i, int32_t k) {
  int32_t n = SelectTopCandidates(k, model->nnbr, item_candidates);
  SortCandidates(n, item_candidates);
  const int64_t d = int64_t{i - block.first} * ItemListRoom(model->nnbr, model->nitems);
  if (n > 0) {
    double sum = 0.0;
    for (int32_t l = 0; l < n; l++)
      sum += double(item_candidates[l].value) * double(item_candidates[l].value);
    float scale = float(1.0 / std::sqrt(sum));
    for (int32_t l = 0; l < n; l++) {
      block.ind[d + l] = item_candidates[l].key;
      block.val[d + l] = float(double(scale) * double(item_candidates[l].value));
    }
  }
  block.counts[i - block.first] = n;
}

int64_t PackItemLists(const Model *model, const ItemListBlock &block) {
  const int32_t room = ItemListRoom(model->nnbr, model->nitems);
  int64_t to = 0;
  for (int32_t k = 0; k < block.last - block.first; k++) {
    const int32_t n = block.counts[k];
    const int64_t from = int64_t{k} * room;
    // Packed places never lie after staged ones, so a forward move is safe.
    if (from != to) {
      std::memmove(block.ind + to, block.ind + from, sizeof(int32_t) * size_t(n));
      std::memmove(block.val + to, block.val + from, sizeof(float) * size_t(n));
    }
    to += n;
  }
  return to;
}

ThreadScratch::ThreadScratch(Model *model, int32_t nthreads) {
  const auto count = size_t(UsableThreads(nthreads, model->nitems));
  item_marks.reserve(count);
  item_candidates.reserve(count);
  item_marks.push_back(model->scratch.item_marks);
  item_candidates.push_back(model->scratch.item_candidates);
  while (item_marks.size() < count) {
    // Each array is owned by its vector as soon as it exists.
    item_marks.push_back(AllocInts(model->nitems, "BuildItemLists: marker"));
    std::memcpy(item_marks.back(), model->scratch.item_marks,
                sizeof(int32_t) * size_t(model->nitems));
    item_candidates.push_back(AllocCands(model->nitems, "BuildItemLists: fcand"));
  }
}

ThreadScratch::~ThreadScratch() {
  for (size_t t = 1; t < item_marks.size(); t++) std::free(item_marks[t]);
  for (size_t t = 1; t < item_candidates.size(); t++) std::free(item_candidates[t]);
}

void StartBuildMarks(Model *model) {
  for (int32_t c = 0; c < model->nitems; c++)
    model->scratch.item_marks[c] =
        model->scratch.item_marks[c] == LeftOutMark(MarkForm::kSlots) ? kLeftOutSum : kUnmetSum;
}
