#include <gtest/gtest.h>

#include <vector>

#include "matrix/column_view.h"
#include "matrix/sparse_matrix.h"
#include "tests/fixtures.h"

namespace {

SparseMatrix *Matrix(const PairList &p) {
  return CreateMatrix(p.nrows, p.ncols, int32_t(p.rows.size()), p.rows.data(), p.cols.data());
}

}  // namespace

// nrows 2, ncols 4, pairs (1,3), (0,3), (0,1): a two-entry row, a column whose
// only entry comes from it, and a column shared by rows of one and two entries.
class SmallMatrix : public ::testing::Test {
 protected:
  void SetUp() override { mat = Matrix({2, 4, {1, 0, 0}, {3, 3, 1}}); }
  void TearDown() override { FreeMatrix(mat); }
  SparseMatrix *mat = nullptr;
};

TEST_F(SmallMatrix, CreateKeepsInputOrderAndNormalisesBothViews) {
  EXPECT_EQ(Ints(mat->rowptr, 3), (std::vector<int32_t>{0, 2, 3}));
  EXPECT_EQ(Ints(mat->rowind, 3), (std::vector<int32_t>{3, 1, 3}));
  EXPECT_EQ(Bits(mat->rowval, 3), (std::vector<uint32_t>{0x3F3504F3, 0x3F3504F3, 0x3F800000}));
  EXPECT_EQ(Ints(mat->colptr, 5), (std::vector<int32_t>{0, 0, 1, 1, 3}));
  EXPECT_EQ(Ints(mat->colind, 3), (std::vector<int32_t>{0, 0, 1}));
  // 0.99999994, not 1.0: the column scale 1.4142135 times 0.70710677 rounds down.
  EXPECT_EQ(Bits(mat->colval, 3), (std::vector<uint32_t>{0x3F7FFFFF, 0x3F13CD3A, 0x3F5105EC}));
}

TEST_F(SmallMatrix, RowsFromColumnsSortsRowsAndTakesColumnValues) {
  RowsFromColumns(mat);
  EXPECT_EQ(Ints(mat->rowptr, 3), (std::vector<int32_t>{0, 2, 3}));
  EXPECT_EQ(Ints(mat->rowind, 3), (std::vector<int32_t>{1, 3, 3}));
  EXPECT_EQ(Bits(mat->rowval, 3), (std::vector<uint32_t>{0x3F7FFFFF, 0x3F13CD3A, 0x3F5105EC}));
  EXPECT_EQ(Ints(mat->colind, 3), (std::vector<int32_t>{0, 0, 1}));
  EXPECT_EQ(Bits(mat->colval, 3), (std::vector<uint32_t>{0x3F7FFFFF, 0x3F13CD3A, 0x3F5105EC}));
  RowsFromColumns(mat);  // idempotent
  EXPECT_EQ(Ints(mat->rowind, 3), (std::vector<int32_t>{1, 3, 3}));
}

TEST_F(SmallMatrix, ColumnsFromRowsKeepsLayoutAndTakesRowValues) {
  ColumnsFromRows(mat);
  ColumnsFromRows(mat);
  EXPECT_EQ(Ints(mat->colptr, 5), (std::vector<int32_t>{0, 0, 1, 1, 3}));
  EXPECT_EQ(Ints(mat->colind, 3), (std::vector<int32_t>{0, 0, 1}));
  EXPECT_EQ(Bits(mat->colval, 3), (std::vector<uint32_t>{0x3F3504F3, 0x3F3504F3, 0x3F800000}));
}

TEST(SparseMatrix, RepeatedPairsStaySeparateAndOrdersFollowTheTranspose) {
  // Pairs (2,1), (0,3), (0,1), (2,1), (0,0), (1,3).
  SparseMatrix *mat = Matrix({3, 4, {2, 0, 0, 2, 0, 1}, {1, 3, 1, 1, 0, 3}});
  EXPECT_EQ(Ints(mat->rowptr, 4), (std::vector<int32_t>{0, 3, 4, 6}));
  EXPECT_EQ(Ints(mat->rowind, 6), (std::vector<int32_t>{3, 1, 0, 3, 1, 1}));
  EXPECT_EQ(Ints(mat->colptr, 5), (std::vector<int32_t>{0, 1, 4, 4, 6}));
  EXPECT_EQ(Ints(mat->colind, 6), (std::vector<int32_t>{0, 0, 2, 2, 0, 1}));
  // Mark every row entry with its position to see where each value goes.
  for (int32_t j = 0; j < 6; j++) mat->rowval[j] = float(j);
  ColumnsFromRows(mat);
  EXPECT_EQ(Bits(mat->colval, 6), Bits(std::vector<float>{2, 1, 4, 5, 0, 3}));
  for (int32_t j = 0; j < 6; j++) mat->colval[j] = float(j);
  RowsFromColumns(mat);
  EXPECT_EQ(Ints(mat->rowind, 6), (std::vector<int32_t>{0, 1, 3, 3, 1, 1}));
  EXPECT_EQ(Bits(mat->rowval, 6), Bits(std::vector<float>{0, 1, 4, 5, 2, 3}));
  FreeMatrix(mat);
}

TEST(SparseMatrix, ColumnScaleIsRoundedOnceFromADoubleSum) {
  // Column 0 holds a one-entry row (1.0) and a four-entry row (0.5):
  // sum 1.25, scale 0.8944272 (3F64F92E), values 0.8944272 and 0.4472136.
  SparseMatrix *mat = Matrix({2, 4, {0, 1, 1, 1, 1}, {0, 0, 1, 2, 3}});
  EXPECT_EQ(Bits(mat->rowval[0]), 0x3F800000u);
  EXPECT_EQ(Bits(mat->rowval[1]), 0x3F000000u);
  EXPECT_EQ(Bits(mat->colval[0]), 0x3F64F92Eu);
  EXPECT_EQ(Bits(mat->colval[1]), Bits(float(double(FromBits(0x3F64F92E)) * 0.5)));
  FreeMatrix(mat);
}

TEST(SparseMatrix, EmptyMatrixHasNullEntriesAndZeroOffsets) {
  SparseMatrix *mat = Matrix({3, 2});
  EXPECT_EQ(mat->rowind, nullptr);
  EXPECT_EQ(mat->rowval, nullptr);
  EXPECT_EQ(mat->colind, nullptr);
  EXPECT_EQ(mat->colval, nullptr);
  EXPECT_EQ(Ints(mat->rowptr, 4), (std::vector<int32_t>{0, 0, 0, 0}));
  RowsFromColumns(mat);
  ColumnsFromRows(mat);
  EXPECT_EQ(Ints(mat->colptr, 3), (std::vector<int32_t>{0, 0, 0}));
  FreeMatrix(mat);
  SparseMatrix *none = Matrix({});
  EXPECT_EQ(none->rowptr[0], 0);
  FreeMatrix(none);
}
