#pragma once

#include <cstdint>
#include <vector>

#include "engine/mark_sums.h"
#include "engine/model.h"
#include "util/parallel.h"

// Shared by the two item builders: the model's arrays, the eligibility marks
// and the packing of each item's ranked list.

struct ItemModelLabels {
  const char *itemptr, *itemind, *itemval, *marker, *fcand;
};

// A model of the given item type over ncols items with room for
// ItemListRoom(nnbr, ncols) neighbours per item (no list arrays at all
// unless with_lists); marker is all -1, and -2 for items held by fewer than
// min_support entries of colptr (those never become neighbours).
Model *CreateItemModel(int32_t type, int32_t ncols, int32_t nnbr, int32_t min_support,
                       const int32_t *colptr, const ItemModelLabels &labels,
                       bool with_lists = true);

// Where the lists of items first..last-1 are staged: item i's at
// (i - first) * ItemListRoom of ind and val, its length in counts[i - first].
struct ItemListBlock {
  int32_t first = 0, last = 0;
  int32_t *counts = nullptr;
  int32_t *ind = nullptr;
  float *val = nullptr;
};

// Every item of the model, staged in its own arrays (lengths in itemptr + 1).
ItemListBlock WholeModelBlock(Model *model);

// Ranks the k candidates gathered in fcand, keeps up to nnbr of them,
// scales the kept values to unit length and stages them as item i's list in
// block. fcand is then spent.
void StageItemList(const Model *model, const ItemListBlock &block, CandidatePair *fcand, int32_t i,
                   int32_t k);

// Moves every staged list of block, in item order, to its packed place from
// the start of ind and val; returns the number of entries.
int64_t PackItemLists(const Model *model, const ItemListBlock &block);

// Per-thread copies of the model's marker (with its -2 marks) and fcand for
// up to nthreads threads; entry 0 is the model's own pair, the others are
// owned and released with the record, also when a copy cannot be allocated.
class ThreadScratch {
 public:
  ThreadScratch(Model *model, int32_t nthreads);
  ~ThreadScratch();
  ThreadScratch(const ThreadScratch &) = delete;
  ThreadScratch &operator=(const ThreadScratch &) = delete;

  std::vector<int32_t *> markers;
  std::vector<CandidatePair *> fcands;
};

// How many users ahead a gather asks for the rows it will read.
constexpr int32_t kRowsAhead = 8;

// Asks the memory for row u of the row view; changes nothing.
inline void PrefetchRow(const int32_t *rowptr, const int32_t *rowind, const float *rowval,
                        int32_t u) {
  __builtin_prefetch(rowind + rowptr[u]);
  __builtin_prefetch(rowval + rowptr[u]);
}

// The gather below with each candidate's slot in fcand kept in its mark
// (branching on new and known items), or with its sum kept there (InMarks).
template <bool Weighted, bool InMarks>
int32_t GatherCandidatesWith(int32_t i, int32_t jbegin, int32_t jend,
                             const int32_t *__restrict colind, const float *__restrict colval,
                             const int32_t *__restrict rowptr, const int32_t *__restrict rowind,
                             const float *__restrict rowval, int32_t *__restrict marker,
                             CandidatePair *__restrict fcand) {
  const int32_t own = marker[i];
  marker[i] = -2;
  int32_t k = 0;
  for (int32_t j = jbegin; j < jend; j++) {
    // Rows lie far apart; ask for one a few users ahead while this one is read.
    if (j + kRowsAhead < jend) PrefetchRow(rowptr, rowind, rowval, colind[j + kRowsAhead]);
    const double w = Weighted ? double(colval[j]) : 1.0;
    const int32_t u = colind[j], end = rowptr[u + 1];
    for (int32_t l = rowptr[u]; l < end; l++) {
      const int32_t c = rowind[l];
      // Product and sum in double, one rounding: not two float operations.
      const double add = Weighted ? double(rowval[l]) * w : double(rowval[l]);
      GatherStep<InMarks>(c, add, marker, fcand, k);
    }
  }
  EndGather<InMarks>(k, marker, fcand);
  marker[i] = own;
  return k;
}

// Gathers item i's candidates into fcand in first-arrival order and returns
// their count: for each user u of column i (entries jbegin..jend-1 of colind)
// in column order, each entry of u's row in row order adds its row value,
// times colval[j] when Weighted (product and sum in double, one rounding to
// single precision). Items marked -2 are skipped, and so is i itself: its mark
// is held at -2 meanwhile. Every mark is as before on return. nitems is the
// marker's length; it chooses where the sums are kept (mark_sums.h).
// With this many items or fewer, the marks and the candidates' slots stay in
// the first-level cache together, and most steps of a build meet a known
// item, so the slot gather's branch is predicted well and its sums wait for
// less than the sums in the marks do (measured: 1,000 and 1,682 items).
constexpr int32_t kMinItemsBuiltWithMarks = 2048;

template <bool Weighted>
int32_t GatherCandidates(int32_t i, int32_t jbegin, int32_t jend, const int32_t *colind,
                         const float *colval, const int32_t *rowptr, const int32_t *rowind,
                         const float *rowval, int32_t *marker, CandidatePair *fcand,
                         int32_t nitems) {
  return nitems > kMinItemsBuiltWithMarks && nitems <= kMaxItemsSummedInMarks
             ? GatherCandidatesWith<Weighted, true>(i, jbegin, jend, colind, colval, rowptr, rowind,
                                                    rowval, marker, fcand)
             : GatherCandidatesWith<Weighted, false>(i, jbegin, jend, colind, colval, rowptr,
                                                     rowind, rowval, marker, fcand);
}

// Items handed to a thread at a time; popular items cost far more than rare
// ones, so chunks are small and taken in turn.
constexpr int64_t kItemChunk = 32;

// Fills the lists of block's items, staged (null: the model's own lists,
// packed and indexed): gather(i, marker, fcand) leaves item i's k
// candidates in fcand, restores every mark it set and returns k. Items are
// spread over nthreads threads, each with its own marker and fcand; the lists
// do not depend on nthreads nor on the block.
template <class Gather>
void BuildItemLists(Model *model, const ItemListBlock *block, int32_t nthreads, Gather gather) {
  const ItemListBlock staged = block != nullptr ? *block : WholeModelBlock(model);
  {
    ThreadScratch scratch(model, nthreads);
    ParallelChunks(int32_t(scratch.markers.size()), staged.last - staged.first, kItemChunk,
                   [&](int32_t thread, int64_t begin, int64_t end) {
                     for (auto i = int32_t(staged.first + begin); i < staged.first + end; i++) {
                       const auto t = size_t(thread);
                       const int32_t k = gather(i, scratch.markers[t], scratch.fcands[t]);
                       StageItemList(model, staged, scratch.fcands[t], i, k);
                     }
                   });
  }
  if (block != nullptr) return;
  PackItemLists(model, staged);
  int32_t *itemptr = model->itemptr;
  itemptr[0] = 0;
  for (int32_t i = 0; i < model->nitems; i++) itemptr[i + 1] += itemptr[i];
}

// Clears every mark, the -2 ones included.
void ResetItemMarkers(Model *model);
