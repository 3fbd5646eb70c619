// Candidate ranking against straightforward models of its rules, on seeded
// random arrays with many ties (values drawn from a handful of levels):
// selection keeps a permutation and gathers the k largest once n exceeds k
// by three; short of that, everything before the final segment of at most
// three entries is settled; sorting gives a non-increasing permutation, and
// for n <= 20 exactly the sentinel swap followed by a stable insertion pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <tuple>
#include <vector>

#include "engine/candidates.h"
#include "tests/fixtures.h"

namespace {

List RandomList(std::mt19937 &rng, int32_t n) {
  static const float kLevels[] = {0.0f, 0.25f, 0.5f, 0.5f, 1.0f, 3.0f, 1e-30f};
  const uint32_t levels = 1 + rng() % 7;  // from all-equal to seven levels
  List list;
  for (int32_t t = 0; t < n; t++) list.push_back(CandidatePair{kLevels[rng() % levels], t});
  return list;
}

// Runs check(n, k, before) on `trials` random ranking problems drawn from
// seed: n entries (at most max_n), k wanted (1..max_k). Stops at the first
// fatal failure.
template <class Check>
void ForRandomCases(uint32_t seed, int trials, uint32_t max_n, uint32_t max_k, Check check) {
  std::mt19937 rng(seed);
  for (int trial = 0; trial < trials && !testing::Test::HasFatalFailure(); trial++) {
    const auto n = int32_t(rng() % (max_n + 1));
    const auto k = int32_t(1 + rng() % max_k);
    const List before = RandomList(rng, n);
    SCOPED_TRACE(testing::Message() << "trial " << trial << ", n " << n << ", k " << k);
    check(n, k, before);
  }
}

std::vector<float> Descending(std::vector<float> values) {
  std::sort(values.begin(), values.end(), std::greater<>());
  return values;
}

bool SamePairs(List a, List b) {
  auto by_key = [](const CandidatePair &x, const CandidatePair &y) { return x.key < y.key; };
  std::sort(a.begin(), a.end(), by_key);
  std::sort(b.begin(), b.end(), by_key);
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](auto &x, auto &y) {
    return std::tie(x.key, x.value) == std::tie(y.key, y.value);
  });
}

// Entries before `lo` are at least every entry from `lo` on.
bool SettledBefore(const List &list, size_t lo) {
  if (lo == 0 || lo == list.size()) return true;
  const std::vector<float> values = Values(list);
  const auto middle = values.begin() + long(lo);
  return *std::min_element(values.begin(), middle) >= *std::max_element(middle, values.end());
}

// Short of three extra entries the selection may stop with a final segment
// of up to three entries of which only the first two are put in order.
bool SettledUpToFinalSegment(const List &list, size_t k) {
  const size_t n = list.size();
  for (size_t lo = n >= 3 ? n - 3 : 0; lo <= k; lo++) {
    if (!SettledBefore(list, lo)) continue;
    if (n - lo == 3 && !(list[lo].value >= list[lo + 1].value)) continue;
    return true;
  }
  return false;
}

bool NonIncreasing(const List &list) {
  for (size_t t = 1; t < list.size(); t++)
    if (list[t - 1].value < list[t].value) return false;
  return true;
}

// The sort of a list of at most 20 entries: the first largest entry swapped
// to the front, then an insertion pass in which no entry passes its equal.
List ShortSortModel(List list) {
  const auto best = std::max_element(list.begin(), list.end(),
                                     [](auto &a, auto &b) { return a.value < b.value; });
  if (best != list.end()) std::iter_swap(list.begin(), best);
  std::stable_sort(list.begin(), list.end(), [](auto &a, auto &b) { return a.value > b.value; });
  return list;
}

TEST(OracleRanking, SelectionGathersTheLargestAsItsRulesSay) {
  ForRandomCases(2024, 20000, 69, 30, [](int32_t n, int32_t k, const List &before) {
    List list = before;
    ASSERT_EQ(SelectTopCandidates(n, k, list.data()), std::min(n, k));
    ASSERT_TRUE(SamePairs(list, before));
    if (n <= k) {
      EXPECT_EQ(Keys(list), Keys(before));
    } else if (n >= k + 3) {
      const std::vector<float> all = Descending(Values(before));
      EXPECT_EQ(Descending(Values(List(list.begin(), list.begin() + k))),
                std::vector<float>(all.begin(), all.begin() + k));
    } else {
      EXPECT_TRUE(SettledUpToFinalSegment(list, size_t(k)));
    }
  });
}

TEST(OracleRanking, SortGivesANonIncreasingPermutation) {
  ForRandomCases(7, 5000, 399, 1, [](int32_t n, int32_t, const List &before) {
    List list = before;
    SortCandidates(n, list.data());
    ASSERT_TRUE(SamePairs(list, before));
    ASSERT_TRUE(NonIncreasing(list));
  });
}

TEST(OracleRanking, ShortSortIsSentinelSwapThenStableInsertion) {
  ForRandomCases(11, 20000, 20, 1, [](int32_t n, int32_t, const List &before) {
    List list = before;
    SortCandidates(n, list.data());
    EXPECT_EQ(Keys(list), Keys(ShortSortModel(before)));
  });
}

TEST(OracleRanking, SelectThenSortListsTheLargestInOrder) {
  ForRandomCases(99, 10000, 299, 60, [](int32_t n, int32_t k, const List &before) {
    List list = before;
    const int32_t m = SelectTopCandidates(n, k, list.data());
    SortCandidates(m, list.data());
    const List front(list.begin(), list.begin() + m);
    ASSERT_TRUE(NonIncreasing(front));
    if (n <= k || n >= k + 3) {
      const std::vector<float> all = Descending(Values(before));
      EXPECT_EQ(Values(front), std::vector<float>(all.begin(), all.begin() + m));
    }
  });
}

}  // namespace
