#pragma once

#include <cstdint>
#include <vector>

#include "engine/candidates.h"
#include "engine/marks.h"
#include "engine/model.h"
#include "util/parallel.h"

// Shared by the two item builders: the model's arrays, the eligibility marks
// and the packing of each item's ranked list.

struct ItemModelLabels {
  const char *itemptr, *itemind, *itemval, *item_marks, *item_candidates;
};

// A model of the given item type over ncols items with room for
// ItemListRoom(nnbr, ncols) neighbours per item (no list arrays at all
// unless with_lists); item_marks in kSlots form, all unmet but the items held
// by fewer than min_support entries of colptr, left out (those never become
// neighbours).
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

// Ranks the k candidates gathered in item_candidates, keeps up to nnbr of them,
// scales the kept values to unit length and stages them as item i's list in
// block. item_candidates is then spent.
void StageItemList(const Model *model, const ItemListBlock &block, CandidatePair *item_candidates,
                   int32_t i, int32_t k);

// Moves every staged list of block, in item order, to its packed place from
// the start of ind and val; returns the number of entries.
int64_t PackItemLists(const Model *model, const ItemListBlock &block);

// Per-thread copies of the model's item_marks (as it stands) and item_candidates for
// up to nthreads threads; entry 0 is the model's own pair, the others are
// owned and released with the record, also when a copy cannot be allocated.
class ThreadScratch {
 public:
  ThreadScratch(Model *model, int32_t nthreads);
  ~ThreadScratch();
  ThreadScratch(const ThreadScratch &) = delete;
  ThreadScratch &operator=(const ThreadScratch &) = delete;

  std::vector<int32_t *> item_marks;
  std::vector<CandidatePair *> item_candidates;
};

// How many users ahead a gather asks for the rows it will read.
constexpr int32_t kRowsAhead = 8;

// Asks the memory for row u of the row view; changes nothing.
inline void PrefetchRow(const int32_t *rowptr, const int32_t *rowind, const float *rowval,
                        int32_t u) {
  __builtin_prefetch(rowind + rowptr[u]);
  __builtin_prefetch(rowval + rowptr[u]);
}

// While a build gathers, each item's mark holds the bits of its running sum
// in kBuildSums form (marks.h): no branch on whether the item is new and no
// test for left-out ones, which pays on every catalogue size measured (1,000
// to 40,000 items). Every term is finite and above zero (the matrix values
// are), so no sum of a met item is -0.0 or +inf.
constexpr int32_t kUnmetSum = UnmetMark(MarkForm::kBuildSums);
constexpr int32_t kLeftOutSum = LeftOutMark(MarkForm::kBuildSums);

// Puts the model's marks from kSlots form (CreateItemModel) into the build's
// form above; RestMarks ends it.
void StartBuildMarks(Model *model);

// Gathers item i's candidates into item_candidates in first-arrival order and returns
// their count: for each user u of column i (entries jbegin..jend-1 of colind)
// in column order, each entry of u's row in row order adds its row value,
// times colval[j] when Weighted (product and sum in double, one rounding to
// single precision). Unweighted, every row must hold one value throughout
// (as the rows of CreateMatrix do: ones scaled by one factor per row), and it
// is read once per row, unless PerEntry: then each entry adds its own row
// value (rows of weighted entries, equal to the row's one value otherwise).
// When Damped, each candidate c's sum is then divided by
// damping[c] (in double, rounded to single). item_marks is in the build's form
// (StartBuildMarks): items marked left out are skipped, and so is i itself,
// whose mark is held at kLeftOutSum meanwhile. Every mark is as before on
// return.
template <bool Weighted, bool Damped, bool PerEntry = false>
int32_t GatherCandidates(int32_t i, int32_t jbegin, int32_t jend, const int32_t *__restrict colind,
                         const float *__restrict colval, const int32_t *__restrict rowptr,
                         const int32_t *__restrict rowind, const float *__restrict rowval,
                         int32_t *__restrict item_marks, CandidatePair *__restrict item_candidates,
                         const double *__restrict damping) {
  const int32_t own = item_marks[i];
  item_marks[i] = kLeftOutSum;
  int64_t k = 0;
  for (int32_t j = jbegin; j < jend; j++) {
    // Rows lie far apart; ask for one a few users ahead while this one is read.
    if (j + kRowsAhead < jend) PrefetchRow(rowptr, rowind, rowval, colind[j + kRowsAhead]);
    const int32_t u = colind[j];
    const int64_t end = rowptr[u + 1];
    // Unweighted, the row's one value (u holds item i, so the row is not empty).
    const double w = Weighted ? double(colval[j]) : double(rowval[rowptr[u]]);
    for (int64_t l = rowptr[u]; l < end; l++) {
      const int32_t c = rowind[l];
      // Product and sum in double, one rounding: not two float operations.
      const double add = Weighted ? double(rowval[l]) * w : PerEntry ? double(rowval[l]) : w;
      const int32_t mark = item_marks[c];
      item_marks[c] = MarkOfSum(float(add + double(SumInMark(mark))));
      // The id is written every step and kept for a new item.
      item_candidates[k].key = c;
      k += mark == kUnmetSum;
    }
  }
  int64_t t = 0;
  if constexpr (Damped) {
    // Two quotients per division instruction, each the same as alone.
    using Doubles2 = double __attribute__((vector_size(16)));
    using Floats2 = float __attribute__((vector_size(8)));
    for (; t + 1 < k; t += 2) {
      const int32_t c0 = item_candidates[t].key, c1 = item_candidates[t + 1].key;
      const Doubles2 sums = {double(SumInMark(item_marks[c0])), double(SumInMark(item_marks[c1]))};
      const Floats2 q = __builtin_convertvector(sums / Doubles2{damping[c0], damping[c1]}, Floats2);
      item_candidates[t].value = q[0];
      item_candidates[t + 1].value = q[1];
      item_marks[c0] = kUnmetSum;
      item_marks[c1] = kUnmetSum;
    }
  }
  for (; t < k; t++) {
    const int32_t c = item_candidates[t].key;
    const float sum = SumInMark(item_marks[c]);
    item_candidates[t].value = Damped ? float(double(sum) / damping[c]) : sum;
    item_marks[c] = kUnmetSum;
  }
  item_marks[i] = own;
  return int32_t(k);
}

// Items handed to a thread at a time; popular items cost far more than rare
// ones, so chunks are small and taken in turn.
constexpr int64_t kItemChunk = 32;

// Fills the lists of block's items, staged (null: the model's own lists,
// packed and indexed): gather(i, item_marks, item_candidates) leaves item i's k
// candidates in item_candidates, restores every mark it set and returns k; the marks
// are in the build's form (StartBuildMarks) until RestMarks. Items are
// spread over nthreads threads, each with its own item_marks and item_candidates; the lists
// do not depend on nthreads nor on the block.
template <class Gather>
void BuildItemLists(Model *model, const ItemListBlock *block, int32_t nthreads, Gather gather) {
  const ItemListBlock staged = block != nullptr ? *block : WholeModelBlock(model);
  {
    StartBuildMarks(model);
    ThreadScratch scratch(model, nthreads);
    ParallelChunks(int32_t(scratch.item_marks.size()), staged.last - staged.first, kItemChunk,
                   [&](int32_t thread, int64_t begin, int64_t end) {
                     for (auto i = int32_t(staged.first + begin); i < staged.first + end; i++) {
                       const auto t = size_t(thread);
                       const int32_t k =
                           gather(i, scratch.item_marks[t], scratch.item_candidates[t]);
                       StageItemList(model, staged, scratch.item_candidates[t], i, k);
                     }
                   });
  }
  if (block != nullptr) return;
  PackItemLists(model, staged);
  int32_t *itemptr = model->lists.itemptr;
  itemptr[0] = 0;
  for (int32_t i = 0; i < model->nitems; i++) itemptr[i + 1] += itemptr[i];
}
