#include <gtest/gtest.h>

#include "engine/candidates.h"
#include "util/checked_alloc.h"
#include "util/fatal_error.h"
#include "util/fill.h"
#include "util/free_all.h"

using ::testing::ExitedWithCode;

TEST(CheckedAlloc, ZeroCountsGiveNullAndFreeAllPassesOverThem) {
  int32_t *ints = AllocInts(0, "test: ints");
  float *floats = AllocFilledFloats(0, 1.0f, "test: floats");
  int32_t *filled = AllocFilledInts(0, -1, "test: filled");
  CandidatePair *cands = AllocCands(0, "test: cands");
  EXPECT_EQ(ints, nullptr);
  EXPECT_EQ(floats, nullptr);
  EXPECT_EQ(filled, nullptr);
  EXPECT_EQ(cands, nullptr);
  int32_t *live = AllocFilledInts(3, 7, "test: live");
  EXPECT_EQ(live[2], 7);
  FreeAll(&ints, &live, &floats, &filled, &cands);
  EXPECT_EQ(live, nullptr);
}

TEST(CheckedAlloc, FillIntsWritesExactlyTheCountAndReturnsTheArray) {
  int32_t array[4] = {1, 2, 3, 4};
  EXPECT_EQ(FillInts(0, 9, array), array);
  EXPECT_EQ(FillInts(-3, 9, array), array);
  EXPECT_EQ(array[0], 1);
  FillInts(3, -1, array);
  EXPECT_EQ(array[2], -1);
  EXPECT_EQ(array[3], 4);
}

TEST(CheckedAllocDeathTest, ExhaustedHeapNamesLabelAndFullSize) {
  // 2^50 ints: more than any heap here, and more than 32 bits can count.
  EXPECT_EXIT(AllocInts(int64_t{1} << 50, "CreateMatrix: rowind"), ExitedWithCode(1),
              "\\*\\*\\*Memory allocation failed for CreateMatrix: rowind\\. "
              "Requested size: 4503599627370496 bytes\n$");
  EXPECT_EXIT(AllocCands(-2, "TOVRAN_Init_Row: model->rcand"), ExitedWithCode(1),
              "Requested size: -16 bytes\n$");
}

TEST(CheckedAllocDeathTest, FatalErrorEndsTheMessageWithOneNewlineAndExitsWithOne) {
  EXPECT_EXIT(FatalError("NNbr should be greater than 0.\n"), ExitedWithCode(1),
              "^NNbr should be greater than 0\\.\n$");
  EXPECT_EXIT(FatalError("N should be %s than %d.", "greater", 0), ExitedWithCode(1),
              "^N should be greater than 0\\.\n$");
}
