#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/candidates.h"
#include "tests/fixtures.h"

namespace {

// Candidates with the given values and keys 0, 1, 2, ...
List Cands(const std::vector<float> &values) {
  List cands;
  for (size_t i = 0; i < values.size(); i++) cands.push_back({values[i], int32_t(i)});
  return cands;
}

List Equal(int32_t n) { return Cands(std::vector<float>(size_t(n), 0.5f)); }

std::vector<int32_t> Range(int32_t from, int32_t to, int32_t step) {
  std::vector<int32_t> keys;
  for (int32_t k = from; step > 0 ? k <= to : k >= to; k += step) keys.push_back(k);
  return keys;
}

}  // namespace

TEST(SelectTopCandidates, FewerThanWantedLeavesTheArrayAlone) {
  auto cands = Cands({1, 3, 2});
  EXPECT_EQ(SelectTopCandidates(3, 3, cands.data()), 3);
  EXPECT_EQ(SelectTopCandidates(3, 5, cands.data()), 3);
  EXPECT_EQ(Values(cands), (std::vector<float>{1, 3, 2}));
  EXPECT_EQ(SelectTopCandidates(0, 1, nullptr), 0);
}

TEST(SelectTopCandidates, OneOrTwoSpareEntriesAreSettledByTheEndGameOnly) {
  auto three = Cands({1, 2, 3});
  EXPECT_EQ(SelectTopCandidates(3, 1, three.data()), 1);
  EXPECT_EQ(Values(three), (std::vector<float>{2, 1, 3}));  // 3 stays at the back
  auto two = Cands({1, 2});
  EXPECT_EQ(SelectTopCandidates(2, 1, two.data()), 1);
  EXPECT_EQ(Values(two), (std::vector<float>{1, 2}));
  auto kept = Cands({3, 1, 2});
  EXPECT_EQ(SelectTopCandidates(3, 2, kept.data()), 2);
  EXPECT_EQ(Values(kept), (std::vector<float>{3, 1, 2}));
}

TEST(SelectTopCandidates, PartitionsThenSettlesTheLastSegment) {
  auto cands = Cands({5, 1, 4, 2, 3});
  EXPECT_EQ(SelectTopCandidates(5, 4, cands.data()), 4);
  EXPECT_EQ(Values(cands), (std::vector<float>{5, 4, 2, 1, 3}));
}

TEST(RankCandidates, EqualScoresFollowTheSwapsOfSelectionAndSort) {
  EXPECT_EQ(Keys(Ranked(Equal(25), 10)),
            (std::vector<int32_t>{0, 12, 13, 14, 15, 16, 17, 18, 21, 22}));
  EXPECT_EQ(Keys(Ranked(Equal(12), 10)), (std::vector<int32_t>{0, 10, 9, 8, 7, 6, 5, 1, 2, 3}));
}

TEST(SortCandidates, SmallArraysUseSentinelAndInsertion) {
  auto sentinel = Cands({1, 1, 3, 1});
  SortCandidates(4, sentinel.data());
  EXPECT_EQ(Keys(sentinel), (std::vector<int32_t>{2, 1, 0, 3}));
  auto mixed = Cands({2, 1, 2, 1, 2});
  SortCandidates(5, mixed.data());
  EXPECT_EQ(Keys(mixed), (std::vector<int32_t>{0, 2, 4, 1, 3}));
  auto one = Cands({7});
  SortCandidates(1, one.data());
  EXPECT_EQ(Keys(one), (std::vector<int32_t>{0}));
  SortCandidates(0, nullptr);
}

TEST(SortCandidates, QuicksortPhaseStartsAboveTwentyEntries) {
  auto twenty = Equal(20);
  SortCandidates(20, twenty.data());
  EXPECT_EQ(Keys(twenty), Range(0, 19, 1));

  auto twenty_one = Equal(21);
  SortCandidates(21, twenty_one.data());
  std::vector<int32_t> expected = {0};
  for (int32_t k : Range(19, 1, -1)) expected.push_back(k);
  expected.push_back(20);
  EXPECT_EQ(Keys(twenty_one), expected);

  auto thirty = Equal(30);
  SortCandidates(30, thirty.data());
  expected = {0};
  for (int32_t k : Range(28, 1, -1)) expected.push_back(k);
  expected.push_back(29);
  EXPECT_EQ(Keys(thirty), expected);
}

TEST(SortCandidates, LargeArraysWithDeferredSegmentsEndOrdered) {
  // Many distinct and repeated values, so both parts of many partitions
  // exceed the insertion span and the stack of deferred segments is used.
  std::vector<float> values;
  uint32_t state = 12345;
  for (int i = 0; i < 5000; i++) {
    state = state * 1103515245u + 12345u;
    values.push_back(float((state >> 16) % 97));
  }
  auto cands = Cands(values);
  SortCandidates(int32_t(cands.size()), cands.data());
  std::vector<bool> seen(cands.size(), false);
  for (size_t i = 0; i < cands.size(); i++) {
    if (i > 0) {
      ASSERT_GE(cands[i - 1].value, cands[i].value) << "at " << i;
    }
    ASSERT_EQ(cands[i].value, values[size_t(cands[i].key)]);
    seen[size_t(cands[i].key)] = true;
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), false), 0);
}
