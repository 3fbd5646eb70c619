#include "engine/resplit.h"

#include <utility>

#include "engine/tovran.h"
#include "matrix/counting_sort.h"
#include "util/checked_alloc.h"
#include "util/free_all.h"

namespace {
uint32_t random_state = 1;

// A shifted draw covers 0..4095. Larger arrays draw each index from three
// consecutive values, so that every position can move.
constexpr int32_t kShortDrawRange = 4096;

int32_t DrawIndex(int32_t n) {
  if (n <= kShortDrawRange) return (NextRandom() >> 3) % n;
  uint64_t d1 = uint64_t(NextRandom());
  uint64_t d2 = uint64_t(NextRandom());
  uint64_t d3 = uint64_t(NextRandom());
  return int32_t(((d1 << 30) | (d2 << 15) | d3) % uint64_t(n));
}
}  // namespace

void TOVRAN_RestartRandom() { random_state = 1; }

int32_t NextRandom() {
  random_state = random_state * 214013u + 2531011u;
  return int32_t((random_state >> 16) & 32767u);
}

void ShufflePairs(int32_t n, int32_t *rowid, int32_t *colid) {
  if (n <= 0) return;
  for (int64_t step = 0; step < 4 * int64_t{n}; step++) {
    int32_t i = DrawIndex(n);
    int32_t j = DrawIndex(n);
    std::swap(rowid[i], rowid[j]);
    std::swap(colid[i], colid[j]);
  }
}

void CreateTrainTestMatrix(int32_t nrows, int32_t ncols, int32_t npairs, int32_t *rowid,
                           int32_t *colid, SparseMatrix **mat, int32_t **held_out_item) {
  ShufflePairs(npairs, rowid, colid);
  MatrixHolder m(
      static_cast<SparseMatrix *>(CheckedMalloc(sizeof(SparseMatrix), "CreateMatrix: mat")));
  *m = SparseMatrix{nrows, ncols, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  Owned<int32_t[]> owned_test(AllocFilledInts(nrows, -1, "CreateTrainTestMatrix: tvec"));
  int32_t *test = owned_test.get();
  int32_t *rowptr = m->rowptr = AllocFilledInts(int64_t{nrows} + 1, 0, "CreateMatrix: rowptr");
  int32_t *rowind = m->rowind = AllocInts(npairs, "CreateMatrix: rowind");

  for (int32_t k = 0; k < npairs; k++) rowptr[rowid[k]]++;
  for (int32_t r = 0; r < nrows; r++)
    if (rowptr[r] > 0) rowptr[r]--;  // room for all but the test pair
  StartFill(nrows, rowptr);
  for (int32_t k = 0; k < npairs; k++) {
    const int32_t r = rowid[k];
    if (test[r] == -1) {
      test[r] = colid[k];
    } else {
      rowind[rowptr[r]++] = colid[k];
    }
  }
  EndFill(nrows, rowptr);

  *mat = m.release();
  *held_out_item = owned_test.release();
}
