// Counts that 32-bit indices cannot address are refused with a message, not
// wrapped: the neighbour arrays of an item model hold nnbr entries per item.
#include <gtest/gtest.h>

#include <climits>

#include "engine/tovran.h"
#include "tests/program_runner.h"

namespace {

TEST(CountLimitsDeathTest, ItemModelRefusesMoreNeighboursThanItCanIndex) {
  // 107374183 * 20 is just above INT32_MAX; no array is allocated first.
  EXPECT_EXIT(TOVRAN_BuildModel(1, 107374183, 0, nullptr, nullptr, TOVRAN_ITEM_COSINE, 20, 0.0f),
              testing::ExitedWithCode(1),
              "^NNbr 20 with NCols 107374183 gives more neighbours than a model can index "
              "\\(at most 2147483647\\)\\.\n$");
  // 46342 items can have 46341 neighbours each: 2147534622 entries.
  EXPECT_EXIT(TOVRAN_BuildModel(1, 46342, 0, nullptr, nullptr, TOVRAN_ITEM_CPROB, INT32_MAX, 0.5f),
              testing::ExitedWithCode(1),
              "^NNbr 2147483647 with NCols 46342 gives more neighbours");
  // The alpha test comes first, as for every parameter message.
  EXPECT_EXIT(TOVRAN_BuildModel(1, 46342, 0, nullptr, nullptr, TOVRAN_ITEM_CPROB, INT32_MAX, 2.0f),
              testing::ExitedWithCode(1), "^Alpha should take a value");
}

TEST(CountLimits, UserModelTakesAnyNeighbourhoodSize) {
  Model *model =
      TOVRAN_BuildModel(1, 1000, 0, nullptr, nullptr, TOVRAN_USER_BASED, INT32_MAX, 0.0f);
  int32_t rcmds[1];
  const int32_t basket[] = {0};
  EXPECT_EQ(TOVRAN_Recommend(model, 1, basket, 1, rcmds), 0);
  TOVRAN_FreeModel(model);
}

TEST(CountLimits, ProgramRefusesFileWithTooManyItemsForItsModels) {
  const ProgramOutput run =
      RunTovran({WriteTempFile("too_many_items.txt", "2 200000000 4\n0 0\n0 1\n1 2\n1 3\n")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "NNbr 20 with NCols 200000000 gives more neighbours than a model can index "
            "(at most 2147483647).\n");
}

}  // namespace
