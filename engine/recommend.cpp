#include <algorithm>
#include <bit>
#include <climits>
#include <memory>
#include <vector>

#include "engine/answer.h"
#include "engine/batch_query.h"
#include "engine/errors.h"
#include "engine/mark_sums.h"
#include "engine/model_kinds.h"
#include "engine/popularity.h"
#include "util/checked_alloc.h"
#include "util/fill.h"
#include "util/free_all.h"
#include "util/parallel.h"

namespace {

constexpr const char *kNullModel = "%s: the model should not be null.";
constexpr const char *kNullBasket = "%s: the basket should not be null.";
constexpr const char *kNullAnswers = "%s: the answer array should not be null.";
constexpr const char *kNullScratch = "%s: the scratch should not be null.";
constexpr const char *kItemOutside = "%s: the basket item at position %lld is %d, outside 0..%d.";
constexpr const char *kBadBasketLength = "%s: the basket's length %d should not be negative.";
constexpr const char *kBadBasketCount = "%s: the number of baskets %d should not be negative.";
constexpr const char *kNullOffsets = "%s: the basket offsets should not be null.";
constexpr const char *kBadOffsets =
    "%s: basket %d has offsets %lld..%lld; offsets should not decrease nor be negative.";
constexpr const char *kLongBasket = "%s: basket %d holds more than %d items.";
constexpr const char *kBadQueryThreads = "%s: NThreads should take a value from 1..%d.";
constexpr const char *kBadListCount = "%s: the length %d of %s should not be negative.";
constexpr const char *kNullList = "%s: %s should not be null.";
constexpr const char *kListItemOutside = "%s: %s[%lld] is %d, outside 0..%d.";
constexpr const char *kNoPopularity =
    "%s: fallback needs the popularity ranking, which this model does not carry (it was read "
    "from a model file of format version 1; build it again).";

// The position of the first item of basket[0..n-1] outside 0..limit-1, or -1.
int64_t FirstOutside(int32_t limit, int64_t n, const int32_t *basket) {
  for (int64_t t = 0; t < n; t++)
    if (basket[t] < 0 || basket[t] >= limit) return t;
  return -1;
}

// As FirstOutside, reporting the item and its position (counted from
// first) in the last error; true when one lies outside.
bool BasketOutside(const char *entry, int32_t limit, int64_t n, const int32_t *basket,
                   int64_t first) {
  const int64_t t = n > 0 ? FirstOutside(limit, n, basket) : -1;
  if (t < 0) return false;
  SetLastError(kItemOutside, entry, static_cast<long long>(first + t), basket[t], limit - 1);
  return true;
}

// Reports the first fault of options for model in the last error; true when
// there is one.
bool OptionsFault(const char *entry, const Model *model, const TOVRAN_QueryOptions &o) {
  const int32_t limit = model->nitems;
  const struct {
    const char *name;
    const int32_t *ids;
    int32_t n;
    bool given;
  } lists[] = {{"filter_items", o.filter_items, o.nfilter, true},
               {"items", o.items, o.nitems, o.items != nullptr}};
  for (const auto &list : lists) {
    if (!list.given) continue;
    if (list.n < 0) return SetLastError(kBadListCount, entry, list.n, list.name), true;
    if (list.n > 0 && list.ids == nullptr) return SetLastError(kNullList, entry, list.name), true;
    const int64_t t = FirstOutside(limit, list.n, list.ids);
    if (t >= 0)
      return SetLastError(kListItemOutside, entry, list.name, static_cast<long long>(t),
                          list.ids[t], limit - 1),
             true;
  }
  if (o.fallback && model->popularity.npopular < 0) return SetLastError(kNoPopularity, entry), true;
  return false;
}

// The item query's gather: for each basket item in turn, its neighbour list's
// values summed per neighbour in list order, in single precision, into item_candidates
// in first-arrival order, by GatherStep; the basket items must be marked
// LeftOutMark(How). Returns the count; every mark but the basket items' is
// at rest again.
template <MarkForm How>
int32_t GatherSums(int32_t n, const int32_t *basket, const int32_t *itemptr, const int32_t *itemind,
                   const float *itemval, int32_t *__restrict item_marks,
                   CandidatePair *__restrict item_candidates) {
  int32_t ncand = 0;
  for (int32_t t = 0; t < n; t++) {
    const int32_t b = basket[t];
    const int32_t end = itemptr[b + 1];
    for (int32_t j = itemptr[b]; j < end; j++)
      GatherStep<How, float>(itemind[j], itemval[j], item_marks, item_candidates, ncand);
  }
  EndGather<How>(ncand, item_marks, item_candidates);
  return ncand;
}

// Asks for every cache line of [begin, end).
template <typename T>
void PrefetchLines(const T *begin, const T *end) {
  constexpr uintptr_t kLine = 64;
  const uintptr_t last = reinterpret_cast<uintptr_t>(end) - 1;
  for (uintptr_t p = reinterpret_cast<uintptr_t>(begin) & ~(kLine - 1); p <= last; p += kLine)
    __builtin_prefetch(reinterpret_cast<const void *>(p));
}

}  // namespace

int32_t AnswerBasket(const Model *model, TOVRAN_Scratch *scratch, int32_t n, const int32_t *basket,
                     int32_t N, const TOVRAN_QueryOptions &options, int32_t *rcmds, float *scores,
                     const uint8_t *filtered) {
  switch (model->type) {
    case TOVRAN_POPULAR:
      return RecommendPopular(model, scratch, n, basket, N, options, rcmds, scores);
    case TOVRAN_ITEM_COSINE:
    case TOVRAN_ITEM_CPROB:
      return RecommendByItems(model, scratch, n, basket, N, options, rcmds, scores, filtered);
    case TOVRAN_USER_BASED:
      return RecommendByUsers(model, scratch, n, basket, N, options, rcmds, scores);
    default: return 0;
  }
}

TOVRAN_Scratch ModelScratch(Model *model) { return model->scratch; }

TOVRAN_Scratch *MakeScratch(const Model *model) {
  ScratchHolder scratch(static_cast<TOVRAN_Scratch *>(
      CheckedMalloc(sizeof(TOVRAN_Scratch), "TOVRAN_CreateScratch: scratch")));
  *scratch = TOVRAN_Scratch{nullptr, nullptr, nullptr, nullptr};
  const bool users = model->type == TOVRAN_USER_BASED;
  const int32_t items = model->nitems;
  const int32_t rows = users ? model->users.nrows : 0;
  scratch->user_candidates = AllocCands(UserCandidateRoom(rows), "TOVRAN_CreateScratch: rcand");
  scratch->item_candidates = AllocCands(ItemCandidateRoom(items), "TOVRAN_CreateScratch: fcand");
  scratch->user_marks =
      AllocFilledInts(rows, UnmetMark(model->user_marks_form), "TOVRAN_CreateScratch: rmarker");
  scratch->item_marks =
      AllocFilledInts(items, UnmetMark(model->item_marks_form), "TOVRAN_CreateScratch: marker");
  return scratch.release();
}

TOVRAN_Scratch *TOVRAN_CreateScratch(const Model *model) {
  if (model == nullptr) return SetLastError(kNullModel, "TOVRAN_CreateScratch"), nullptr;
  return ReportingErrors<TOVRAN_Scratch *>(nullptr, [&] { return MakeScratch(model); });
}

void TOVRAN_FreeScratch(TOVRAN_Scratch *scratch) {
  if (scratch == nullptr) return;
  FreeAll(&scratch->user_candidates, &scratch->item_candidates, &scratch->user_marks,
          &scratch->item_marks, &scratch);
}

int32_t TOVRAN_Recommend(Model *model, int32_t n, const int32_t *basket, int32_t N,
                         int32_t *rcmds) {
  TOVRAN_Scratch own = ModelScratch(model);
  return TOVRAN_RecommendWith(model, &own, n, basket, N, rcmds);
}

int32_t TOVRAN_RecommendWith(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                             const int32_t *basket, int32_t N, int32_t *rcmds) {
  if (FirstOutside(model->nitems, n, basket) >= 0) return -1;
  if (N < 1) return 0;
  return AnswerBasket(model, scratch, n, basket, N, kPlainQuery, rcmds, nullptr);
}

namespace {

// The checks of the entries that answer one basket: -1 with the reason in
// the last error, 0 when N asks for nothing, else 1.
int32_t CheckOne(const char *entry, const Model *model, int32_t n, const int32_t *basket, int32_t N,
                 const TOVRAN_QueryOptions &o, const int32_t *rcmds) {
  if (model == nullptr) return SetLastError(kNullModel, entry), -1;
  if (n < 0) return SetLastError(kBadBasketLength, entry, n), -1;
  if (n > 0 && basket == nullptr) return SetLastError(kNullBasket, entry), -1;
  if (BasketOutside(entry, model->nitems, n, basket, 0)) return -1;
  if (OptionsFault(entry, model, o)) return -1;
  if (N < 1) return 0;
  if (rcmds == nullptr) return SetLastError(kNullAnswers, entry), -1;
  return 1;
}

int32_t RecommendOne(const char *entry, Model *model, int32_t n, const int32_t *basket, int32_t N,
                     const TOVRAN_QueryOptions *options, int32_t *rcmds, float *scores) {
  const TOVRAN_QueryOptions &o = options != nullptr ? *options : kPlainQuery;
  const int32_t go = CheckOne(entry, model, n, basket, N, o, rcmds);
  if (go <= 0) return go;
  TOVRAN_Scratch own = ModelScratch(model);
  return AnswerBasket(model, &own, n, basket, N, o, rcmds, scores);
}

int32_t RecommendMany(const char *entry, const Model *model, int32_t nbaskets,
                      const int64_t *offsets, const int32_t *items, int32_t N, int32_t nthreads,
                      const TOVRAN_QueryOptions *options, int32_t *rcmds, float *scores,
                      int32_t *counts) {
  if (model == nullptr) return SetLastError(kNullModel, entry), -1;
  if (nbaskets < 0) return SetLastError(kBadBasketCount, entry, nbaskets), -1;
  if (nthreads < 1 || nthreads > TOVRAN_MAX_THREADS)
    return SetLastError(kBadQueryThreads, entry, TOVRAN_MAX_THREADS), -1;
  if (nbaskets == 0) return 0;
  if (offsets == nullptr) return SetLastError(kNullOffsets, entry), -1;
  for (int32_t b = 0; b < nbaskets; b++) {
    const int64_t begin = offsets[b], end = offsets[b + 1];
    if (begin < 0 || end < begin)
      return SetLastError(kBadOffsets, entry, b, static_cast<long long>(begin),
                          static_cast<long long>(end)),
             -1;
    if (end - begin > INT32_MAX) return SetLastError(kLongBasket, entry, b, INT32_MAX), -1;
  }
  if (offsets[nbaskets] > offsets[0] && items == nullptr)
    return SetLastError(kNullBasket, entry), -1;
  const int64_t nitems = offsets[nbaskets] - offsets[0];
  if (nitems > 0 && BasketOutside(entry, model->nitems, nitems, items + offsets[0], offsets[0]))
    return -1;
  const TOVRAN_QueryOptions &o = options != nullptr ? *options : kPlainQuery;
  if (OptionsFault(entry, model, o)) return -1;
  if (N < 1) {
    if (counts != nullptr) FillInts(nbaskets, 0, counts);
    return 0;
  }
  if (rcmds == nullptr) return SetLastError(kNullAnswers, entry), -1;

  return ReportingErrors<int32_t>(-1, [&]() -> int32_t {
    // An item model's filter is marked once per thread, not once per query:
    // its items' marks stay left out for the whole batch.
    std::vector<uint8_t> filtered, marked;
    if (o.nfilter > 0 && o.items == nullptr && !o.fallback &&
        (model->type == TOVRAN_ITEM_COSINE || model->type == TOVRAN_ITEM_CPROB)) {
      filtered.assign(size_t(model->nitems), 0);
      for (int32_t t = 0; t < o.nfilter; t++) filtered[size_t(o.filter_items[t])] = 1;
      marked.assign(TOVRAN_MAX_THREADS, 0);
    }
    const int32_t left_out = LeftOutMark(model->item_marks_form);
    ForEachBasket(
        model, nbaskets, nthreads, [&](int32_t thread, TOVRAN_Scratch *scratch, int64_t b) {
          if (!filtered.empty() && !marked[size_t(thread)]) {
            for (int32_t t = 0; t < o.nfilter; t++)
              scratch->item_marks[o.filter_items[t]] = left_out;
            marked[size_t(thread)] = 1;
          }
          int32_t *ids = rcmds + b * N;
          float *values = scores != nullptr ? scores + b * N : nullptr;
          const int32_t m =
              AnswerBasket(model, scratch, int32_t(offsets[b + 1] - offsets[b]), items + offsets[b],
                           N, o, ids, values, filtered.empty() ? nullptr : filtered.data());
          // Slots past the answers are marked, so that every basket's row is defined.
          FillInts(N - m, -1, ids + m);
          if (values != nullptr) std::fill(values + m, values + N, 0.0f);
          if (counts != nullptr) counts[b] = m;
        });
    return 0;
  });
}

}  // namespace

int32_t TOVRAN_RecommendScored(Model *model, int32_t n, const int32_t *basket, int32_t N,
                               int32_t *rcmds, float *scores) {
  return RecommendOne("TOVRAN_RecommendScored", model, n, basket, N, nullptr, rcmds, scores);
}

int32_t TOVRAN_RecommendFiltered(Model *model, int32_t n, const int32_t *basket, int32_t N,
                                 const TOVRAN_QueryOptions *options, int32_t *rcmds,
                                 float *scores) {
  return RecommendOne("TOVRAN_RecommendFiltered", model, n, basket, N, options, rcmds, scores);
}

int32_t TOVRAN_RecommendFilteredWith(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                                     const int32_t *basket, int32_t N,
                                     const TOVRAN_QueryOptions *options, int32_t *rcmds,
                                     float *scores) {
  constexpr const char *entry = "TOVRAN_RecommendFilteredWith";
  const TOVRAN_QueryOptions &o = options != nullptr ? *options : kPlainQuery;
  const int32_t go = CheckOne(entry, model, n, basket, N, o, rcmds);
  if (go <= 0) return go;
  if (scratch == nullptr) return SetLastError(kNullScratch, entry), -1;
  return AnswerBasket(model, scratch, n, basket, N, o, rcmds, scores);
}

int32_t TOVRAN_RecommendBatch(const Model *model, int32_t nbaskets, const int64_t *offsets,
                              const int32_t *items, int32_t N, int32_t nthreads, int32_t *rcmds,
                              float *scores, int32_t *counts) {
  return RecommendMany("TOVRAN_RecommendBatch", model, nbaskets, offsets, items, N, nthreads,
                       nullptr, rcmds, scores, counts);
}

int32_t TOVRAN_RecommendFilteredBatch(const Model *model, int32_t nbaskets, const int64_t *offsets,
                                      const int32_t *items, int32_t N, int32_t nthreads,
                                      const TOVRAN_QueryOptions *options, int32_t *rcmds,
                                      float *scores, int32_t *counts) {
  return RecommendMany("TOVRAN_RecommendFilteredBatch", model, nbaskets, offsets, items, N,
                       nthreads, options, rcmds, scores, counts);
}

int32_t RecommendByItems(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                         int32_t *rcmds, float *scores, const uint8_t *filtered) {
  const int32_t *itemptr = model->lists.itemptr, *itemind = model->lists.itemind;
  const float *itemval = model->lists.itemval;
  int32_t *item_marks = scratch->item_marks;
  CandidatePair *item_candidates = scratch->item_candidates;

  // Every basket item's list is asked for at once, so that their misses
  // overlap. The scratch's marks rest as the model's do (TOVRAN_CreateScratch).
  const MarkForm how = model->item_marks_form;
  const int32_t unmet = UnmetMark(how);
  if (filtered == nullptr) {
    MarkLeftOut(n, basket, options, item_marks, LeftOutMark(how));
  } else if (!options.keep_basket) {
    for (int32_t t = 0; t < n; t++) item_marks[basket[t]] = LeftOutMark(how);
  }
  for (int32_t t = 0; t < n; t++) {
    const int32_t b = basket[t];
    if (how != MarkForm::kSlots) {
      __builtin_prefetch(itemind + itemptr[b]);
      __builtin_prefetch(itemval + itemptr[b]);
    } else {
      PrefetchLines(itemind + itemptr[b], itemind + itemptr[b + 1]);
      PrefetchLines(itemval + itemptr[b], itemval + itemptr[b + 1]);
    }
  }
  const int32_t ncand = WithGather(how, [&](auto mode) {
    return GatherSums<mode.value>(n, basket, itemptr, itemind, itemval, item_marks,
                                  item_candidates);
  });
  if (filtered == nullptr) {
    RestLeftOut(n, basket, options, item_marks, unmet);
  } else {
    // The filtered items' marks stay left out; a sum they collected is never read.
    for (int32_t t = 0; t < n; t++)
      if (!filtered[basket[t]]) item_marks[basket[t]] = unmet;
  }
  return FinishAnswer(model, scratch, ncand, n, basket, N, options, rcmds, scores);
}
