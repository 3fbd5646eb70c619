#pragma once

#include <cstdint>

// The user-based query's second way through phase 1, for models whose rows
// each hold one value (every built model: a row of k entries holds
// single(1/sqrt(k)) throughout). A user's sum over the basket is then the
// sum of h copies of its row value, a function of the hits h and of the
// value alone, so the pass needs each user's hit count and first arrival,
// not its sum. Columns that hold at least one user in 8 are kept as bit sets
// over the users as well: the query takes such a column 64 users at a time,
// adding it to bit-sliced hit counters and listing the users it meets first
// from the bits not yet seen, in increasing order as the column lists them;
// a user listed twice in a column (a repeated pair) is counted again from
// the column's list of repeats.
struct UserColumnBits {
  int32_t words;          // 64-bit words per bit set: ceil(nrows / 64)
  int32_t most_listed;    // the most times any column lists one user
  int32_t *colset;        // ncols: the column's bit set in sets, or -1
  uint64_t *sets;         // the bit sets, words each
  int32_t *moreptr;       // per bit set, offsets into more (one more than sets)
  int32_t *more;          // users a dense column lists again (a repeated pair), in order
  int32_t *rowclass;      // nrows: the row value's class in hitsums
  float *hitsums;         // kHitSums per class: the sums of 1 .. kHitSums copies
  uint64_t *model_state;  // the model's own query state (UserBitsStateWords)
};

// Sums of up to this many copies of a row value are looked up; more are added.
constexpr int32_t kHitSums = 64;
// The bit-sliced hit counters: a query may hit a user at most this often, so
// baskets of more entries keep the other way.
constexpr int32_t kHitPlanes = 8;
constexpr int32_t kMostHits = (1 << kHitPlanes) - 1;

// Words of one query's state: per word of users, the users seen and the
// kHitPlanes counter planes; all zero between queries.
inline int64_t UserBitsStateWords(const UserColumnBits *bits) {
  return int64_t{bits->words} * (kHitPlanes + 1);
}

struct Model;

// Sets up model->users.colbits for a user-based model whose arrays are in place,
// or leaves it null when the rows do not each hold one value, a column lists
// its users out of order, or no column is dense enough to pay.
void PrepareUserColumnBits(Model *model);
void FreeUserColumnBits(UserColumnBits *bits);
