// Small random pair sets through every model kind and random baskets through
// the query. Every answer holds at most N distinct items in range, none of
// them in the basket; an item model answers min(N, candidates) items; the
// item_marks are all -1 after every build and query; asking again gives the
// same answer; a basket with an item out of range gives -1 and changes
// nothing. The estimation of alpha runs on some inputs too.
//
// Only valid build parameters are generated: an invalid one ends the process
// through FatalError by design, which libFuzzer would report as a crash. The
// validation messages are covered by the death tests instead.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/model.h"
#include "engine/tovran.h"

namespace {

constexpr int32_t kMaxUsers = 12;
constexpr int32_t kMaxItems = 12;
constexpr int32_t kMaxPairs = 80;
constexpr int32_t kMaxNeighbours = 25;
constexpr int32_t kMaxQueries = 8;
constexpr int32_t kMaxBasket = 8;
constexpr int32_t kMaxN = 15;
constexpr int32_t kUntouched = 0x7eadbeef;  // fills rcmds before a query

[[noreturn]] void Fail(const char *what) {
  std::fprintf(stderr, "engine_fuzzer: %s\n", what);
  std::abort();
}

void Expect(bool holds, const char *what) {
  if (!holds) Fail(what);
}

bool AllEqual(const int32_t *item_marks, int32_t n, int32_t value) {
  return std::all_of(item_marks, item_marks + std::max(n, 0),
                     [value](int32_t m) { return m == value; });
}

void ExpectMarkersClear(const Model *model) {
  if (model->type == TOVRAN_USER_BASED) {
    Expect(AllEqual(model->scratch.item_marks, model->nitems, UnmetMark(model->item_marks_form)),
           "marker not back to its unmet mark after an operation");
    Expect(
        AllEqual(model->scratch.user_marks, model->users.nrows, UnmetMark(model->user_marks_form)),
        "rmarker not back to its unmet mark after an operation");
  } else {
    Expect(AllEqual(model->scratch.item_marks, model->nitems, UnmetMark(model->item_marks_form)),
           "marker not back to its unmet mark after an operation");
  }
}

// Alpha in [0, 1]: the bounds, -0.0, the neighbours of the bounds, or any.
float ConsumeAlpha(FuzzedDataProvider &in) {
  static const float kEdgeAlphas[] = {
      0.0f, 1.0f, -0.0f, std::nextafter(1.0f, 0.0f), std::nextafter(0.0f, 1.0f), 0.5f};
  const uint8_t pick = in.ConsumeIntegral<uint8_t>();
  if (pick < 6 * 16) return kEdgeAlphas[pick % 6];
  return in.ConsumeProbability<float>();
}

void CheckItemLists(const Model *model, const std::vector<int32_t> &frequency) {
  const int32_t *itemptr = model->lists.itemptr;
  Expect(itemptr[0] == 0, "itemptr[0] is not 0");
  for (int32_t i = 0; i < model->nitems; i++) {
    Expect(itemptr[i + 1] >= itemptr[i], "itemptr decreases");
    Expect(itemptr[i + 1] - itemptr[i] <= model->nnbr, "a list is longer than nnbr");
    for (int32_t j = itemptr[i]; j < itemptr[i + 1]; j++) {
      const int32_t c = model->lists.itemind[j];
      Expect(c >= 0 && c < model->nitems && c != i, "a neighbour out of range or itself");
      Expect(frequency[size_t(c)] >= kMinItemFrequency, "an ineligible neighbour");
      Expect(model->lists.itemval[j] > 0.0f && std::isfinite(model->lists.itemval[j]),
             "a bad similarity");
      Expect(j == itemptr[i] || model->lists.itemval[j - 1] >= model->lists.itemval[j],
             "a list out of order");
      for (int32_t l = itemptr[i]; l < j; l++)
        Expect(model->lists.itemind[l] != c, "a repeated neighbour");
    }
  }
}

// Distinct items that the neighbour lists of the basket offer outside it.
int32_t ItemCandidates(const Model *model, const std::vector<int32_t> &basket) {
  std::vector<bool> in_basket(size_t(model->nitems), false), offered(size_t(model->nitems), false);
  for (int32_t b : basket) in_basket[size_t(b)] = true;
  int32_t count = 0;
  for (int32_t b : basket) {
    for (int32_t j = model->lists.itemptr[b]; j < model->lists.itemptr[b + 1]; j++) {
      const auto c = size_t(model->lists.itemind[j]);
      if (!in_basket[c] && !offered[c]) {
        offered[c] = true;
        count++;
      }
    }
  }
  return count;
}

void CheckQuery(Model *model, int32_t limit, const std::vector<int32_t> &basket, int32_t n,
                int32_t N) {
  std::vector<int32_t> rcmds(size_t(kMaxN), kUntouched);
  const int32_t got = TOVRAN_Recommend(model, n, basket.data(), N, rcmds.data());
  ExpectMarkersClear(model);

  const int32_t used = std::max(n, 0);
  const bool out_of_range = std::any_of(basket.begin(), basket.begin() + used,
                                        [&](int32_t b) { return b < 0 || b >= limit; });
  if (out_of_range) {
    Expect(got == -1, "an item out of range was not refused");
    Expect(std::all_of(rcmds.begin(), rcmds.end(), [](int32_t r) { return r == kUntouched; }),
           "a refused query wrote an answer");
    return;
  }
  Expect(got >= 0 && got <= std::max(N, 0), "more answers than N");
  const std::vector<int32_t> asked(basket.begin(), basket.begin() + used);
  for (int32_t t = 0; t < got; t++) {
    const int32_t c = rcmds[size_t(t)];
    Expect(c >= 0 && c < limit, "an answer out of range");
    Expect(std::find(asked.begin(), asked.end(), c) == asked.end(), "a basket item recommended");
    Expect(std::find(rcmds.begin(), rcmds.begin() + t, c) == rcmds.begin() + t,
           "an item recommended twice");
  }
  for (size_t t = size_t(got); t < rcmds.size(); t++)
    Expect(rcmds[t] == kUntouched, "an entry past the answer was written");
  if (model->type != TOVRAN_USER_BASED && N >= 1)
    Expect(got == std::min(N, ItemCandidates(model, asked)), "candidates missing from the answer");

  std::vector<int32_t> again(size_t(kMaxN), kUntouched);
  Expect(TOVRAN_Recommend(model, n, basket.data(), N, again.data()) == got && again == rcmds,
         "the same basket gave another answer");
  ExpectMarkersClear(model);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int32_t type = in.ConsumeIntegralInRange<int32_t>(TOVRAN_ITEM_COSINE, TOVRAN_USER_BASED);
  const auto nrows = in.ConsumeIntegralInRange<int32_t>(0, kMaxUsers);
  const auto ncols = in.ConsumeIntegralInRange<int32_t>(0, kMaxItems);
  const int32_t nnbr = in.ConsumeIntegralInRange<int32_t>(1, kMaxNeighbours);
  const float alpha = ConsumeAlpha(in);
  const bool estimate = in.ConsumeIntegralInRange<uint8_t>(0, 31) == 0;
  const int32_t npairs =
      nrows > 0 && ncols > 0 ? in.ConsumeIntegralInRange<int32_t>(0, kMaxPairs) : 0;
  std::vector<int32_t> rowid, colid;
  std::vector<int32_t> frequency(size_t(ncols), 0);
  for (int32_t p = 0; p < npairs; p++) {
    rowid.push_back(in.ConsumeIntegralInRange<int32_t>(0, nrows - 1));
    colid.push_back(in.ConsumeIntegralInRange<int32_t>(0, ncols - 1));
    frequency[size_t(colid.back())]++;
  }
  const std::vector<int32_t> rowid_before = rowid, colid_before = colid;

  Model *model =
      TOVRAN_BuildModel(nrows, ncols, npairs, rowid.data(), colid.data(), type, nnbr, alpha);
  Expect(rowid == rowid_before && colid == colid_before, "the build changed the pairs");
  Expect(model->type == type && model->nnbr == nnbr, "the model lost its parameters");
  ExpectMarkersClear(model);
  if (type == TOVRAN_USER_BASED) {
    Expect(model->users.nrows == nrows && model->nitems == ncols, "bad counts");
    Expect(model->users.rowptr[nrows] == npairs && model->users.colptr[ncols] == npairs,
           "entries lost");
  } else {
    Expect(model->nitems == ncols && model->users.nrows == -1, "bad counts");
    CheckItemLists(model, frequency);
  }

  // Item models accept 0..nitems-1, the user-based one 0..ncols-1: both are
  // the matrix's columns.
  const int32_t limit = ncols;
  const int32_t queries = in.ConsumeIntegralInRange<int32_t>(0, kMaxQueries);
  for (int32_t q = 0; q < queries && in.remaining_bytes() > 0; q++) {
    const int32_t n = in.ConsumeIntegralInRange<int32_t>(-1, kMaxBasket);
    std::vector<int32_t> basket;
    for (int32_t t = 0; t < std::max(n, 0); t++)
      basket.push_back(in.ConsumeIntegralInRange<int32_t>(-1, limit));
    const int32_t N = in.ConsumeIntegralInRange<int32_t>(0, kMaxN);
    CheckQuery(model, limit, basket, n, N);
  }
  TOVRAN_FreeModel(model);

  if (estimate) {
    const double got = TOVRAN_EstimateAlphaInit(nrows, ncols, npairs, rowid.data(), colid.data(),
                                                nnbr, in.ConsumeIntegralInRange<int32_t>(1, kMaxN));
    Expect(rowid == rowid_before && colid == colid_before, "the estimation changed the pairs");
    bool on_scale = false;
    for (int32_t j = 0; j <= 10; j++) on_scale = on_scale || got == j * 0.1;
    Expect(on_scale, "the estimate is not a step of 0.1 in [0, 1]");
  }
  return 0;
}
