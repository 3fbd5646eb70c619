#pragma once

#include <climits>
#include <cstdint>
#include <memory>

#include "engine/candidates.h"
#include "engine/marks.h"
#include "engine/scratch.h"
#include "engine/tovran.h"

// The item models' neighbour lists (type 1, 2): item i's neighbours, best
// first, are itemind[itemptr[i]..itemptr[i+1]-1], their similarities in
// itemval, each list of unit length. Null in the other kinds.
struct ItemNeighbourLists {
  int32_t *itemptr;  // nitems+1 offsets into itemind/itemval
  int32_t *itemind;
  float *itemval;
};

// The user-based model's matrix (type 3), by row and by column, with the
// row-normalised values in both views; nrows is -1 and the arrays null in
// the other kinds.
struct UserItemMatrix {
  int32_t nrows;  // users
  int32_t *rowptr;
  int32_t *rowind;
  int32_t *colptr;  // nitems+1 offsets
  int32_t *colind;
  float *rowval;
  float *colval;
};

// The popularity ranking of the pairs: items held at least once, by summed
// weight (binary: pairs), most first, ties by lower id. npopular is -1 and
// the arrays null for a model read from a file without it.
struct PopularityRanking {
  int32_t npopular;
  int32_t *popular;  // npopular item ids
  float *popscore;   // their summed weights, rounded to single precision
  int32_t *poprank;  // item id -> its place in popular, or INT32_MAX
};

// A built model: what every kind carries, then one record per kind of data.
// Unused integer fields are -1 and unused arrays null. Between operations
// every scratch.user_marks entry is UnmetMark(user_marks_form) and every
// scratch.item_marks entry UnmetMark(item_marks_form) (RestMarks).
struct Model {
  int32_t type;
  int32_t nnbr;
  int32_t nitems;  // accepted item ids are 0..nitems-1 (every kind)
  ItemNeighbourLists lists;
  UserItemMatrix users;
  PopularityRanking popularity;
  // The model's own query arrays, for the calls without a scratch of their
  // own (TOVRAN_Recommend...): user_candidates UserCandidateRoom(users.nrows)
  // pairs, item_candidates ItemCandidateRoom(nitems); user_marks and
  // item_marks per user and item, in the forms below (marks.h).
  TOVRAN_Scratch scratch;
  // What the model was built from and with, for its file and its info.
  int32_t nusers;            // users of the pairs (every kind)
  float alpha;               // type 2: the damping exponent; else 0
  int32_t min_support;       // item models: the eligibility threshold; else 0
  MarkForm user_marks_form;  // type 3: kSums or kSumsFromZero (RestMarks)
  MarkForm item_marks_form;  // the form the queries gather in (RestMarks);
                             // kSlots until an item model's lists are in place
  // How the pairs' values became entries (TOVRAN_WEIGHT_*), with BM25's K1 and B.
  int32_t weighting;
  float bm25_k1;
  float bm25_b;
};

// Pairs in a user-candidate array: one more than there are users, since the
// user-based query writes the slot after its list before it knows whether the
// user is new (none without users: no query then gathers anything).
constexpr int64_t UserCandidateRoom(int32_t nrows) { return nrows > 0 ? int64_t{nrows} + 1 : 0; }

// Pairs in a query's item-candidate array, likewise: a query that keeps
// its basket can meet every item.
constexpr int64_t ItemCandidateRoom(int32_t nitems) { return nitems > 0 ? int64_t{nitems} + 1 : 0; }

// Whether any of the n values is -0.0.
bool HoldsNegativeZero(const float *values, int64_t n);

// Puts the marks of a model whose arrays are in place at rest. A query keeps
// each candidate's running sum in its mark, and the marks rest in
// kSumsFromZero form (marks.h) unless a term can be -0.0 (only a sum of -0.0
// terms is -0.0 again); they rest in kSums form then:
// - user_marks (user-based: the sums of row values) when a row holds -0.0;
// - item_marks of an item model (the sums of list values) when a list holds
//   -0.0, or the model has no lists;
// - item_marks of a user-based model (similarity times row value; the
//   similarities are +0.0 or more when no row value has its sign bit set)
//   when a row value has its sign bit set;
// and beyond kMaxItemsSummedInMarks items, where the queries keep slots in
// item_marks. Sets user_marks_form and item_marks_form so, and every entry of
// user_marks and item_marks to them.
void RestMarks(Model *model);

// A record with every integer -1 and every array null.
Model *CreateModel();

// Releases its model on scope exit unless released first, so that a build
// whose allocation throws leaves nothing behind.
struct ModelRelease {
  void operator()(Model *model) const { TOVRAN_FreeModel(model); }
};
using ModelHolder = std::unique_ptr<Model, ModelRelease>;

// Neighbours count only among items held by at least this many entries,
// unless a build asks for another support (TOVRAN_Params::min_support).
constexpr int32_t kMinItemFrequency = TOVRAN_DEFAULT_MIN_SUPPORT;

// Room for one item's neighbour list: no item has more neighbours than
// there are other items, however large nnbr is.
constexpr int32_t ItemListRoom(int32_t nnbr, int32_t nitems) {
  return nitems > 1 && nnbr > 0 ? (nnbr < nitems - 1 ? nnbr : nitems - 1) : 0;
}
