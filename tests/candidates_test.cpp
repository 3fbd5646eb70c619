// Selection and sort: small worked cases, then the block partition against
// the step-by-step reference on random arrays full of ties.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/candidates.h"
#include "tests/reference_candidates.h"

namespace {

std::vector<CandidatePair> Pairs(const std::vector<float> &values) {
  std::vector<CandidatePair> c;
  for (size_t t = 0; t < values.size(); t++) c.push_back({values[t], int32_t(t)});
  return c;
}

std::vector<int32_t> Keys(const std::vector<CandidatePair> &c, int32_t n) {
  std::vector<int32_t> keys;
  for (int32_t t = 0; t < n; t++) keys.push_back(c[t].key);
  return keys;
}

std::vector<int32_t> TopKeys(std::vector<CandidatePair> c, int32_t k) {
  const int32_t m = SelectTopCandidates(int32_t(c.size()), k, c.data());
  SortCandidates(m, c.data());
  return Keys(c, m);
}

// Bit patterns and keys of every entry, so that -0.0 and NaN compare exactly.
std::vector<std::pair<uint32_t, int32_t>> Bits(const std::vector<CandidatePair> &c) {
  std::vector<std::pair<uint32_t, int32_t>> out;
  for (const CandidatePair &p : c) {
    uint32_t bits;
    std::memcpy(&bits, &p.value, sizeof bits);
    out.push_back({bits, p.key});
  }
  return out;
}

// Values drawn from `distinct` levels, so that most entries tie with others.
std::vector<CandidatePair> RandomPairs(std::mt19937 &rng, int32_t n, int32_t distinct) {
  std::uniform_int_distribution<int32_t> level(0, distinct - 1);
  std::vector<CandidatePair> c(n);
  for (int32_t t = 0; t < n; t++) c[t] = {float(level(rng)) * 0.125f, t};
  return c;
}

TEST(SelectTopCandidates, LeavesShortArraysUntouched) {
  std::vector<CandidatePair> c = Pairs({1, 3, 2});
  EXPECT_EQ(SelectTopCandidates(3, 3, c.data()), 3);
  EXPECT_EQ(Keys(c, 3), (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(SelectTopCandidates(0, 5, nullptr), 0);
}

TEST(SelectTopCandidates, EndGameComparesOnlyTheFirstTwo) {
  std::vector<CandidatePair> c = Pairs({1, 2, 3});
  EXPECT_EQ(SelectTopCandidates(3, 1, c.data()), 1);
  EXPECT_EQ(Keys(c, 3), (std::vector<int32_t>{1, 0, 2}));
  c = Pairs({5, 1, 4, 2, 3});
  EXPECT_EQ(SelectTopCandidates(5, 4, c.data()), 4);
  EXPECT_EQ(Keys(c, 5), (std::vector<int32_t>{0, 2, 3, 1, 4}));
}

TEST(SelectTopCandidates, TakesTiesByPosition) {
  EXPECT_EQ(TopKeys(Pairs(std::vector<float>(25, 1.0f)), 10),
            (std::vector<int32_t>{0, 12, 13, 14, 15, 16, 17, 18, 21, 22}));
  EXPECT_EQ(TopKeys(Pairs(std::vector<float>(12, 1.0f)), 10),
            (std::vector<int32_t>{0, 10, 9, 8, 7, 6, 5, 1, 2, 3}));
}

TEST(SortCandidates, KeepsTheWorkedTieOrders) {
  std::vector<CandidatePair> c = Pairs({1, 1, 3, 1});
  SortCandidates(4, c.data());
  EXPECT_EQ(Keys(c, 4), (std::vector<int32_t>{2, 1, 0, 3}));
  c = Pairs({2, 1, 2, 1, 2});
  SortCandidates(5, c.data());
  EXPECT_EQ(Keys(c, 5), (std::vector<int32_t>{0, 2, 4, 1, 3}));
  c = Pairs(std::vector<float>(30, 1.0f));
  SortCandidates(30, c.data());
  std::vector<int32_t> expected{0};
  for (int32_t k = 28; k >= 1; k--) expected.push_back(k);
  expected.push_back(29);
  EXPECT_EQ(Keys(c, 30), expected);
}

TEST(SelectTopCandidates, MatchesTheStepByStepReferenceOnTies) {
  std::mt19937 rng(7);
  const int32_t sizes[] = {4, 5, 60, 255, 256, 257, 300, 1000, 4097, 50000};
  const int32_t levels[] = {1, 2, 3, 17, 1000000};
  for (int32_t n : sizes) {
    for (int32_t distinct : levels) {
      for (int32_t k : {1, 2, 10, 50, n - 3, n - 1}) {
        if (k < 1) continue;
        std::vector<CandidatePair> fast = RandomPairs(rng, n, distinct), slow = fast;
        const int32_t mf = SelectTopCandidates(n, k, fast.data());
        const int32_t ms = ReferenceSelectTop(n, k, slow.data());
        ASSERT_EQ(mf, ms);
        ASSERT_EQ(Bits(fast), Bits(slow)) << "n=" << n << " k=" << k << " levels=" << distinct;
        SortCandidates(mf, fast.data());
        ReferenceSort(ms, slow.data());
        ASSERT_EQ(Bits(fast), Bits(slow)) << "n=" << n << " k=" << k << " levels=" << distinct;
      }
    }
  }
}

TEST(SortCandidates, MatchesTheStepByStepReferenceOnLongArrays) {
  std::mt19937 rng(11);
  for (int32_t n : {21, 300, 5000, 70000}) {
    for (int32_t distinct : {1, 4, 100000}) {
      std::vector<CandidatePair> fast = RandomPairs(rng, n, distinct), slow = fast;
      SortCandidates(n, fast.data());
      ReferenceSort(n, slow.data());
      ASSERT_EQ(Bits(fast), Bits(slow)) << "n=" << n << " levels=" << distinct;
    }
  }
}

TEST(SelectTopCandidates, MatchesTheReferenceWithNotANumber) {
  std::mt19937 rng(3);
  for (int32_t round = 0; round < 20; round++) {
    std::vector<CandidatePair> fast = RandomPairs(rng, 3000, 5);
    for (int32_t t = round; t < 3000; t += 97) fast[t].value = std::nanf("");
    std::vector<CandidatePair> slow = fast;
    const int32_t mf = SelectTopCandidates(3000, 50, fast.data());
    ASSERT_EQ(mf, ReferenceSelectTop(3000, 50, slow.data()));
    ASSERT_EQ(Bits(fast), Bits(slow));
  }
}

}  // namespace
