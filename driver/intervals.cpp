#include "driver/intervals.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>

#include "driver/split.h"
#include "util/parallel.h"

namespace {

// A group's columns, padded to a fixed width so that its sums stay in
// registers.
constexpr int32_t kLanes = 8;
// Draws made at once.
constexpr int32_t kDrawBlock = 1024;

// One group of columns: the users with a value other than zero in it, in
// user order, each with the index of its values among the group's distinct
// ones. Users share few distinct values (a metric depends on little more
// than the ranks of the hits), so each resample reads eight bytes a user
// rather than its values.
struct Group {
  struct Entry {
    int32_t user, values;
  };
  std::vector<Entry> entries;
  std::vector<double> distinct;  // kLanes per distinct set of values
};

// The groups of the columns of values; *kept: the users in any of them.
std::vector<Group> GroupValues(const std::vector<double> &values, int32_t Q, int32_t C,
                               int32_t width, std::vector<int32_t> *kept) {
  std::vector<Group> groups(size_t(C / width));
  std::vector<std::unordered_map<std::string, int32_t>> index(groups.size());
  for (int32_t q = 0; q < Q; q++) {
    for (size_t g = 0; g < groups.size(); g++) {
      const double *part = values.data() + size_t(q) * size_t(C) + g * size_t(width);
      if (std::all_of(part, part + width, [](double v) { return v == 0; })) continue;
      // Told apart by their bits: the products must be the same to the bit.
      const std::string key(reinterpret_cast<const char *>(part), sizeof(double) * size_t(width));
      Group &group = groups[g];
      const auto [at, added] =
          index[g].try_emplace(key, int32_t(group.distinct.size() / size_t(kLanes)));
      if (added) {
        group.distinct.insert(group.distinct.end(), part, part + width);
        group.distinct.resize(group.distinct.size() + size_t(kLanes - width), 0.0);
      }
      group.entries.push_back({q, at->second});
      if (kept->empty() || kept->back() != q) kept->push_back(q);
    }
  }
  return groups;
}

}  // namespace

std::vector<double> ResampleMeans(const std::vector<double> &values, int32_t Q, int32_t C,
                                  int32_t width, int32_t B, uint64_t seed, uint64_t stream,
                                  int32_t nthreads) {
  std::vector<double> means(size_t(B) * size_t(C), 0.0);
  if (Q == 0) return means;
  // A sum that starts at +0 never becomes -0, so a zero term (a zero value,
  // or a user drawn no times) leaves it as it is. Only the users with a
  // value other than zero in a group of columns are summed for it, drawn or
  // not, and every sum is still the same to the bit. Most users miss, so
  // most groups of a row are zero.
  std::vector<int32_t> kept;
  const std::vector<Group> groups = GroupValues(values, Q, C, width, &kept);
  std::vector<uint64_t> is_kept((size_t(Q) + 63) / 64, 0);
  for (const int32_t q : kept) is_kept[size_t(q) / 64] |= uint64_t{1} << (q % 64);
  ParallelChunks(UsableThreads(nthreads, B), B, 8, [&](int32_t, int64_t begin, int64_t end) {
    // How often each kept user is drawn; zero again after each resample.
    std::vector<int32_t> counts(static_cast<size_t>(Q), 0);
    std::vector<uint32_t> drawn(static_cast<size_t>(std::min(Q, kDrawBlock)));
    for (int64_t b = begin; b < end; b++) {
      Draws draws(seed, kBootstrapDraws, (stream << 20) + uint64_t(b));
      for (int32_t d = 0; d < Q; d += kDrawBlock) {
        const int32_t n = std::min(kDrawBlock, Q - d);
        draws.ScaledBlock(uint64_t(Q), n, drawn.data());
        // Counted without a branch, which the others would mispredict.
        for (int32_t k = 0; k < n; k++) {
          const uint32_t q = drawn[size_t(k)];
          counts[q] += int32_t((is_kept[q / 64] >> (q % 64)) & 1);
        }
      }
      // Each group's values times the number of times their user was drawn,
      // in user order.
      for (size_t g = 0; g < groups.size(); g++) {
        double sums[kLanes] = {};
        const double *distinct = groups[g].distinct.data();
        for (const Group::Entry &e : groups[g].entries) {
          const double times = counts[size_t(e.user)];
          const double *row = distinct + size_t(e.values) * kLanes;
          for (int32_t c = 0; c < kLanes; c++) sums[c] += times * row[c];
        }
        for (int32_t c = 0; c < width; c++)
          means[size_t(b) * size_t(C) + g * size_t(width) + size_t(c)] = sums[c] / Q;
      }
      for (const int32_t q : kept) counts[size_t(q)] = 0;
    }
  });
  return means;
}

Interval PercentileInterval(std::vector<double> values) {
  Interval interval;
  if (values.empty()) return interval;
  std::sort(values.begin(), values.end());
  const auto B = double(values.size());
  const auto low = size_t(std::floor(0.025 * B));
  const auto high = size_t(std::max(1.0, std::ceil(0.975 * B))) - 1;
  interval.low = values[std::min(low, values.size() - 1)];
  interval.high = values[std::min(high, values.size() - 1)];
  return interval;
}

double BootstrapPValue(const std::vector<double> &differences) {
  int64_t at_most = 0, at_least = 0;
  for (const double d : differences) {
    at_most += d <= 0;
    at_least += d >= 0;
  }
  const double p =
      2.0 * double(std::min(at_most, at_least) + 1) / (double(differences.size()) + 1.0);
  return std::min(1.0, p);
}
