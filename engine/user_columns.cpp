#include "engine/user_columns.h"

#include <bit>
#include <cstring>
#include <unordered_map>

#include "engine/model.h"
#include "util/checked_alloc.h"
#include "util/free_all.h"

namespace {

// Models with fewer users keep the marks alone: a query there is short anyway.
constexpr int32_t kMinUsers = 256;

// Columns holding at least one user in 8 are kept as bit sets: a word of
// 64 users then stands for 8 entries or more, enough to pay for its counter
// steps (at one in 32, measured, it did not).
bool IsDense(const Model *m, int32_t c) {
  return int64_t{m->users.colptr[c + 1] - m->users.colptr[c]} * 8 >= m->users.nrows;
}

uint32_t BitsOf(float value) { return std::bit_cast<uint32_t>(value); }

// Whether every row holds one value, the columns hold the rows' values, and
// every column lists its users in increasing order (repeats side by side).
bool RowsHoldOneValue(const Model *m) {
  for (int32_t u = 0; u < m->users.nrows; u++)
    for (int32_t j = m->users.rowptr[u] + 1; j < m->users.rowptr[u + 1]; j++)
      if (BitsOf(m->users.rowval[j]) != BitsOf(m->users.rowval[m->users.rowptr[u]])) return false;
  for (int32_t c = 0; c < m->nitems; c++)
    for (int32_t j = m->users.colptr[c]; j < m->users.colptr[c + 1]; j++) {
      const int32_t u = m->users.colind[j];
      if (j > m->users.colptr[c] && u < m->users.colind[j - 1]) return false;
      if (BitsOf(m->users.colval[j]) != BitsOf(m->users.rowval[m->users.rowptr[u]])) return false;
    }
  return true;
}

}  // namespace

void PrepareUserColumnBits(Model *m) {
  FreeUserColumnBits(m->users.colbits);
  m->users.colbits = nullptr;
  if (m->users.nrows < kMinUsers || !RowsHoldOneValue(m)) return;
  int32_t dense = 0;
  for (int32_t c = 0; c < m->nitems; c++) dense += IsDense(m, c);
  if (dense == 0) return;

  auto *bits = static_cast<UserColumnBits *>(
      CheckedMalloc(sizeof(UserColumnBits), "PrepareUserColumnBits: record"));
  *bits = UserColumnBits{
      (m->users.nrows + 63) / 64, 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  for (int32_t c = 0; c < m->nitems; c++)
    for (int32_t j = m->users.colptr[c] + 1, run = 1; j < m->users.colptr[c + 1]; j++) {
      run = m->users.colind[j] == m->users.colind[j - 1] ? run + 1 : 1;
      if (run > bits->most_listed) bits->most_listed = run;
    }
  m->users.colbits = bits;
  const int64_t words = bits->words;
  bits->colset = AllocInts(m->nitems, "PrepareUserColumnBits: colset");
  bits->sets =
      static_cast<uint64_t *>(CheckedMalloc(8 * words * dense, "PrepareUserColumnBits: sets"));
  std::memset(bits->sets, 0, size_t(8 * words * dense));
  int64_t repeats = 0;
  for (int32_t c = 0; c < m->nitems; c++)
    if (IsDense(m, c))
      for (int32_t j = m->users.colptr[c] + 1; j < m->users.colptr[c + 1]; j++)
        repeats += m->users.colind[j] == m->users.colind[j - 1];
  bits->moreptr = AllocInts(int64_t{dense} + 1, "PrepareUserColumnBits: moreptr");
  bits->more = AllocInts(repeats, "PrepareUserColumnBits: more");
  bits->moreptr[0] = 0;
  int32_t next = 0;
  for (int32_t c = 0; c < m->nitems; c++) {
    if (!IsDense(m, c)) {
      bits->colset[c] = -1;
      continue;
    }
    uint64_t *set = bits->sets + words * next;
    int32_t at = bits->moreptr[next];
    for (int32_t j = m->users.colptr[c]; j < m->users.colptr[c + 1]; j++) {
      set[m->users.colind[j] >> 6] |= uint64_t{1} << (m->users.colind[j] & 63);
      if (j > m->users.colptr[c] && m->users.colind[j] == m->users.colind[j - 1])
        bits->more[at++] = m->users.colind[j];
    }
    bits->colset[c] = next++;
    bits->moreptr[next] = at;
  }

  // The distinct row values, and the sums of 1 .. kHitSums copies of each,
  // added as the marks add them (from -0.0, one rounding per step).
  std::unordered_map<uint32_t, int32_t> classes;
  bits->rowclass = AllocInts(m->users.nrows, "PrepareUserColumnBits: rowclass");
  for (int32_t u = 0; u < m->users.nrows; u++) {
    const float value =
        m->users.rowptr[u] < m->users.rowptr[u + 1] ? m->users.rowval[m->users.rowptr[u]] : 0.0f;
    bits->rowclass[u] = classes.emplace(BitsOf(value), int32_t(classes.size())).first->second;
  }
  bits->hitsums =
      AllocFloats(int64_t{kHitSums} * int64_t(classes.size()), "PrepareUserColumnBits: hitsums");
  for (const auto &[value, k] : classes) {
    float sum = -0.0f;
    for (int32_t h = 0; h < kHitSums; h++)
      bits->hitsums[int64_t{k} * kHitSums + h] = sum = sum + std::bit_cast<float>(value);
  }
  bits->model_state = static_cast<uint64_t *>(
      CheckedMalloc(8 * UserBitsStateWords(bits), "PrepareUserColumnBits: state"));
  std::memset(bits->model_state, 0, size_t(8 * UserBitsStateWords(bits)));
}

void FreeUserColumnBits(UserColumnBits *bits) {
  if (bits == nullptr) return;
  FreeAll(&bits->colset, &bits->sets, &bits->moreptr, &bits->more, &bits->rowclass, &bits->hitsums,
          &bits->model_state, &bits);
}
