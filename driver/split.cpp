#include "driver/split.h"

#include "driver/draw_block.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <new>

namespace {

// Which of a user's n pairs (positions 0..n-1 of its run in file order) are
// held out: held[p] = 1.
void ChooseHeldOut(const SplitRule &rule, uint64_t seed, int32_t fold, int32_t user, int32_t first,
                   int32_t n, const std::vector<Timestamp> *times, std::vector<uint8_t> *held,
                   std::vector<int32_t> *order) {
  held->assign(size_t(n), 0);
  switch (rule.kind) {
    case SplitRule::kLast:
      for (int32_t p = std::max(0, n - rule.count); p < n; p++) (*held)[size_t(p)] = 1;
      return;
    case SplitRule::kTime:
      for (int32_t p = 0; p < n; p++)
        (*held)[size_t(p)] = !((*times)[size_t(first + p)] < rule.cutoff);
      return;
    case SplitRule::kRandom: {
      int32_t k = rule.count;
      if (k == 0) {
        // A share of the pairs, rounded half up, of at least one and leaving one.
        k = int32_t(std::floor(rule.fraction * n + 0.5));
        k = std::max(1, std::min(k, n - 1));
      }
      if (n <= k) {
        std::fill(held->begin(), held->end(), uint8_t{1});
        return;
      }
      order->resize(size_t(n));
      for (int32_t p = 0; p < n; p++) (*order)[size_t(p)] = p;
      Draws draws(seed, kSplitDraws, uint64_t(user));
      for (int32_t i = 0; i < k; i++) {
        const auto j = i + int32_t(draws.Below(uint64_t(n - i)));
        std::swap((*order)[size_t(i)], (*order)[size_t(j)]);
        (*held)[size_t((*order)[size_t(i)])] = 1;
      }
      return;
    }
    case SplitRule::kKFold: {
      order->resize(size_t(n));
      for (int32_t p = 0; p < n; p++) (*order)[size_t(p)] = p;
      Draws draws(seed, kSplitDraws, uint64_t(user));
      for (int32_t i = 0; i + 1 < n; i++) {
        const auto j = i + int32_t(draws.Below(uint64_t(n - i)));
        std::swap((*order)[size_t(i)], (*order)[size_t(j)]);
      }
      // The user's shuffled pairs dealt to the folds in turn, from a drawn fold.
      const auto turn = int32_t(draws.Below(uint64_t(rule.folds)));
      for (int32_t i = 0; i < n; i++)
        if ((i + turn) % rule.folds == fold) (*held)[size_t((*order)[size_t(i)])] = 1;
      return;
    }
  }
}

// text in single quotes (built by appending: GCC 12 warns wrongly about
// overlapping copies in "'" + std::string(text)).
std::string Quoted(std::string_view text) {
  std::string quoted(1, '\'');
  quoted.append(text);
  quoted += '\'';
  return quoted;
}

std::string SplitCount(std::string_view text, int32_t *count) {
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || end != text.data() + text.size() || ec != std::errc())
    return Quoted(text) + " is not a whole number";
  if (value <= 0) return "the count " + std::string(text) + " should be at least 1";
  *count = value;
  return "";
}

// n ints (room for one at least); std::bad_alloc when the heap is exhausted.
IntArray Ints(int64_t n) {
  auto *block = static_cast<int32_t *>(std::malloc(size_t(n > 0 ? n : 1) * sizeof(int32_t)));
  if (block == nullptr) throw std::bad_alloc();
  return IntArray(block);
}

}  // namespace

Draws::Draws(uint64_t seed, uint64_t purpose, uint64_t index)
    : state_(MixDraw(MixDraw(seed) + (purpose << 40) + index)) {}

uint64_t Draws::Next() {
  state_ += kDrawStep;
  return MixDraw(state_);
}

void Draws::ScaledBlock(uint64_t n, int32_t count, uint32_t *out) {
  static const bool wide = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
  if (wide)
    ScaledDrawsAvx512(state_, n, count, out);
  else
    ScaledDrawsFrom(state_, n, count, out);
  state_ += uint64_t(count) * kDrawStep;
}

std::string ParseSplit(std::string_view text, SplitRule *rule) {
  SplitRule s;
  s.text = std::string(text);
  const size_t colon = text.find(':');
  const std::string_view name = text.substr(0, colon);
  const bool has_value = colon != std::string_view::npos;
  const std::string_view value = has_value ? text.substr(colon + 1) : std::string_view();
  if (name == "last") {
    s.kind = SplitRule::kLast;
    if (has_value) {
      std::string reason = SplitCount(value, &s.count);
      if (!reason.empty()) return reason;
    }
    // last:1 is the default split under its own name, in the JSON too.
    if (s.count == 1) s.text = "last";
  } else if (name == "random") {
    s.kind = SplitRule::kRandom;
    if (!has_value) return "random needs a count K or a fraction F, as random:1 or random:0.2";
    if (value.find_first_of(".eE") == std::string_view::npos) {
      std::string reason = SplitCount(value, &s.count);
      if (!reason.empty()) return reason;
    } else {
      double f = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), f);
      if (end != value.data() + value.size() || ec != std::errc())
        return Quoted(value) + " is not a number";
      if (!(f > 0 && f < 1)) return "the fraction " + std::string(value) + " is outside (0, 1)";
      s.count = 0;
      s.fraction = f;
    }
  } else if (name == "kfold") {
    s.kind = SplitRule::kKFold;
    if (!has_value) return "kfold needs the number of folds, as kfold:5";
    std::string reason = SplitCount(value, &s.folds);
    if (!reason.empty()) return reason;
    if (s.folds < 2) return "kfold needs at least 2 folds";
  } else if (name == "time") {
    s.kind = SplitRule::kTime;
    if (!has_value) return "time needs a cut-off, as time:1000000000 or time:2020-01-01";
    std::string why;
    if (!ParseTimestamp(value, &s.cutoff, &why)) return Quoted(value) + " " + why;
  } else {
    return "unknown split '" + std::string(name) + "' (last, random, kfold or time)";
  }
  *rule = s;
  return "";
}

Dataset SplitPairs(DatasetPairs pairs, const SplitRule &rule, uint64_t seed, int32_t fold,
                   const std::vector<Timestamp> *times) {
  const int32_t nrows = pairs.nrows, npairs = pairs.npairs;
  // The training pairs are compacted in place: each is written at or before
  // the place it is read from, after its run's end was found.
  const int32_t *rowid = pairs.rowid.get(), *colid = pairs.colid.get();
  Dataset ds;
  ds.nrows = nrows;
  ds.ncols = pairs.ncols;
  ds.rowid = std::move(pairs.rowid);
  ds.colid = std::move(pairs.colid);
  ds.values = std::move(pairs.values);
  const bool valued = !ds.values.empty();
  ds.held_out_item = Ints(nrows);
  std::fill_n(ds.held_out_item.get(), nrows, -1);
  // Zeroed by the system as its pages are first touched.
  ds.test_start.reset(static_cast<int32_t *>(std::calloc(size_t(nrows) + 1, sizeof(int32_t))));
  if (!ds.test_start) throw std::bad_alloc();
  std::vector<int32_t> test_users, test_items;
  std::vector<uint8_t> held;
  std::vector<int32_t> order;
  int32_t kept = 0, with_pairs = 0;
  for (int32_t f = 0; f < npairs;) {
    const int32_t user = rowid[f];
    int32_t l = f + 1;
    while (rowid[l] == user) l++;  // rowid[npairs] = nrows ends the last run
    with_pairs++;
    ChooseHeldOut(rule, seed, fold, user, f, l - f, times, &held, &order);
    int32_t nheld = 0;
    for (int32_t i = f; i < l; i++) {
      if (held[size_t(i - f)]) {
        test_users.push_back(user);
        test_items.push_back(colid[i]);
        nheld++;
      } else {
        ds.rowid[size_t(kept)] = user;
        ds.colid[size_t(kept)] = colid[i];
        if (valued) ds.values[size_t(kept)] = ds.values[size_t(i)];
        kept++;
      }
    }
    if (nheld == l - f) {
      ds.left_out.no_training++;
    } else if (nheld == 0) {
      ds.left_out.no_held_out++;
    } else {
      ds.left_out.asked++;
    }
    ds.test_start[size_t(user) + 1] = nheld;
    f = l;
  }
  ds.left_out.without_pairs = nrows - with_pairs;
  ds.rowid[size_t(kept)] = nrows;
  ds.colid[size_t(kept)] = 0;
  ds.ntrain = kept;
  if (valued) ds.values.resize(size_t(kept));
  // Held-out items by user, each user's in file order: start[u] serves as
  // user u's cursor, then every start moves back one place.
  int32_t *start = ds.test_start.get();
  ds.ntest = int32_t(test_items.size());
  if (ds.ntest > 0)
    for (int32_t u = 0; u < nrows; u++) start[u + 1] += start[u];
  ds.test_items = Ints(ds.ntest);
  for (size_t t = 0; t < test_items.size(); t++) {
    const int32_t u = test_users[t];
    if (ds.held_out_item[size_t(u)] < 0) ds.held_out_item[size_t(u)] = test_items[t];
    ds.test_items[size_t(start[u]++)] = test_items[t];
  }
  if (ds.ntest > 0) {
    for (int32_t u = nrows; u > 0; u--) start[u] = start[u - 1];
    start[0] = 0;
  }
  RecordBasketStarts(&ds);
  return ds;
}

Dataset HoldOutLast(DatasetPairs pairs) {
  return SplitPairs(std::move(pairs), SplitRule{}, 0, 0, nullptr);
}

void RecordBasketStarts(Dataset *ds) {
  const int32_t *rowid = ds->rowid.get();
  int32_t nbaskets = 0;
  for (int32_t i = 0; i < ds->ntrain; i++)
    if (i == 0 || rowid[i] != rowid[i - 1]) nbaskets++;
  ds->basket_starts = Ints(int64_t{nbaskets} + 1);
  int32_t *basket_starts = ds->basket_starts.get(), b = 0;
  for (int32_t i = 0; i < ds->ntrain; i++)
    if (i == 0 || rowid[i] != rowid[i - 1]) basket_starts[b++] = i;
  basket_starts[nbaskets] = ds->ntrain;
  ds->nbaskets = nbaskets;
}

bool ParseDataset(std::FILE *in, Dataset *ds, std::string *error) {
  DatasetPairs pairs;
  *ds = Dataset{};
  if (!ParsePairs(in, &pairs, error)) return false;
  *ds = HoldOutLast(std::move(pairs));
  return true;
}

Dataset ReadDataset(const char *fname) {
  DatasetPairs pairs = ReadPairs(fname);
  try {
    return HoldOutLast(std::move(pairs));
  } catch (const std::bad_alloc &) {
    std::fflush(stdout);
    std::fprintf(stderr, "***Memory allocation failed for the dataset\n");
    std::exit(1);
  }
}
