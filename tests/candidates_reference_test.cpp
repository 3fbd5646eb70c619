// Selection and sort against the reference written from the ranking rules
// (tests/reference_candidates.cpp), on random arrays full of ties, so that no
// speed-up changes a list; the reference itself on the rules' worked examples.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine/candidates.h"
#include "engine/stop_scan.h"
#include "tests/fixtures.h"
#include "tests/reference_candidates.h"

namespace {

// Values drawn from `distinct` levels, so that most entries tie with others.
std::vector<CandidatePair> RandomPairs(std::mt19937 &rng, int32_t n, int32_t distinct) {
  std::uniform_int_distribution<int32_t> level(0, distinct - 1);
  std::vector<CandidatePair> c(n);
  for (int32_t t = 0; t < n; t++) c[t] = {float(level(rng)) * 0.125f, t};
  return c;
}

// Keys of n entries of one value after the reference's selection of k (k = 0:
// none) and sort.
std::vector<int32_t> ReferenceRankedKeys(int32_t n, int32_t k) {
  std::mt19937 rng(1);
  std::vector<CandidatePair> c = RandomPairs(rng, n, 1);
  const int32_t m = k > 0 ? ReferenceSelectTop(n, k, c.data()) : n;
  ReferenceSort(m, c.data());
  c.resize(size_t(m));
  return Keys(c);
}

TEST(ReferenceRanking, GivesTheWorkedExamplesOfTheRules) {
  EXPECT_EQ(ReferenceRankedKeys(25, 10),
            (std::vector<int32_t>{0, 12, 13, 14, 15, 16, 17, 18, 21, 22}));
  EXPECT_EQ(ReferenceRankedKeys(12, 10), (std::vector<int32_t>{0, 10, 9, 8, 7, 6, 5, 1, 2, 3}));
  std::vector<int32_t> thirty{0};
  for (int32_t key = 28; key >= 1; key--) thirty.push_back(key);
  thirty.push_back(29);
  EXPECT_EQ(ReferenceRankedKeys(30, 0), thirty);
  std::vector<CandidatePair> five{{5, 0}, {1, 1}, {4, 2}, {2, 3}, {3, 4}};
  EXPECT_EQ(ReferenceSelectTop(5, 4, five.data()), 4);
  EXPECT_EQ(Keys(five), (std::vector<int32_t>{0, 2, 3, 1, 4}));
  std::vector<CandidatePair> sentinel{{1, 0}, {1, 1}, {3, 2}, {1, 3}};
  ReferenceSort(4, sentinel.data());
  EXPECT_EQ(Keys(sentinel), (std::vector<int32_t>{2, 1, 0, 3}));
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

// Each stop scan the processor runs (four, eight or sixteen values per
// compare) leaves every array as the reference does: ties, signed zeros,
// NaN, and segment ends that leave a block part-full.
TEST(StopScans, EverySelectionAndSortMatchesTheReference) {
  std::mt19937 rng(13);
  for (StopScan scan : {StopScan::kSse, StopScan::kAvx2, StopScan::kAvx512}) {
    if (!StopScanRuns(scan)) continue;
    for (int32_t n : {17, 23, 64, 65, 79, 130, 1001, 20011}) {
      for (int32_t distinct : {1, 2, 5, 1000000}) {
        std::vector<CandidatePair> fast = RandomPairs(rng, n, distinct);
        for (int32_t t = 0; t < n; t += 7) fast[t].value = t % 3 == 0 ? -0.0f : 0.0f;
        if (distinct == 5)
          for (int32_t t = 3; t < n; t += 31) fast[t].value = std::nanf("");
        std::vector<CandidatePair> slow = fast, sorted = fast, reference = fast;
        for (int32_t k : {1, 10, 50}) {
          if (k + 3 > n) continue;
          std::vector<CandidatePair> f = fast, r = slow;
          const int32_t mf = SelectTopCandidatesWith(scan, n, k, f.data());
          ASSERT_EQ(mf, ReferenceSelectTop(n, k, r.data()));
          ASSERT_EQ(Bits(f), Bits(r)) << int(scan) << " n=" << n << " k=" << k;
        }
        SortCandidatesWith(scan, n, sorted.data());
        ReferenceSort(n, reference.data());
        ASSERT_EQ(Bits(sorted), Bits(reference)) << int(scan) << " n=" << n;
      }
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

// The ranked list of RankTopCandidates is the reference selection and sort's
// first entries, bit for bit: on distinct values (found in one pass), on ties
// at the top or at the k-th value, and with NaN values (left to the selection).
TEST(RankTopCandidates, GivesTheReferenceSelectionAndSortsList) {
  std::mt19937 rng(5);
  for (int32_t n : {1, 4, 12, 13, 14, 60, 300, 5000}) {
    for (int32_t distinct : {2, 17, 1000, 100000000}) {
      for (int32_t k : {1, 10, 11, 20, 64, 65}) {
        for (int32_t nan = 0; nan < 2; nan++) {
          std::vector<CandidatePair> fast = RandomPairs(rng, n, distinct), slow = fast;
          if (nan == 1) fast[n / 2].value = slow[n / 2].value = std::nanf("");
          const int32_t mf = RankTopCandidates(n, k, fast.data());
          const int32_t ms = ReferenceSelectTop(n, k, slow.data());
          ReferenceSort(ms, slow.data());
          ASSERT_EQ(mf, ms);
          fast.resize(mf);
          slow.resize(ms);
          ASSERT_EQ(Bits(fast), Bits(slow))
              << "n=" << n << " k=" << k << " levels=" << distinct << " nan=" << nan;
        }
      }
    }
  }
}

}  // namespace
