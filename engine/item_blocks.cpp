// The item models built in pieces: the lists of a range of items, then the
// model from every list.
#include <algorithm>
#include <cmath>
#include <string>

#include "engine/build.h"
#include "engine/errors.h"
#include "engine/item_lists.h"
#include "engine/model_kinds.h"
#include "matrix/sparse_matrix.h"
#include "util/checked_alloc.h"

namespace {

constexpr const char *kNullParams = "%s: the parameters should not be null.";
constexpr const char *kNotItemKind = "%s: the kind should be 1 or 2 (an item model).";
constexpr const char *kNotBinary =
    "%s: lists built in pieces are binary-weighted only (weighting 0).";
constexpr const char *kBadRange = "%s: the items %d..%d do not lie inside 0..%d.";
constexpr const char *kNullLists = "%s: the list arrays should not be null.";
constexpr const char *kBadCount = "%s: item %d has %d neighbours, outside 0..%d.";
constexpr const char *kBadNeighbour = "%s: neighbour %d of item %d lies outside 0..%d.";
constexpr const char *kBadSimilarity =
    "%s: neighbour %d of item %d has a similarity that is not a finite number.";

// Empty when params asks for an item model over the pairs; else the fault.
std::string ItemParamsFault(const char *entry, int32_t nrows, int32_t ncols, int32_t npairs,
                            const int32_t *rowid, const int32_t *colid,
                            const TOVRAN_Params *params) {
  char text[160];
  if (params == nullptr) {
    std::snprintf(text, sizeof text, kNullParams, entry);
    return text;
  }
  if (params->kind != TOVRAN_ITEM_COSINE && params->kind != TOVRAN_ITEM_CPROB) {
    std::snprintf(text, sizeof text, kNotItemKind, entry);
    return text;
  }
  if (params->weighting != TOVRAN_WEIGHT_BINARY) {
    std::snprintf(text, sizeof text, kNotBinary, entry);
    return text;
  }
  return ParamsFault(nrows, ncols, npairs, rowid, colid, *params);
}

}  // namespace

int32_t TOVRAN_ItemListRoom(int32_t nnbr, int32_t ncols) { return ItemListRoom(nnbr, ncols); }

int64_t TOVRAN_BuildItemLists(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                              const int32_t *colid, const TOVRAN_Params *params, int32_t first,
                              int32_t last, int32_t *counts, int32_t *ind, float *val) {
  const char *entry = "TOVRAN_BuildItemLists";
  return ReportingErrors<int64_t>(-1, [&]() -> int64_t {
    const std::string fault = ItemParamsFault(entry, nrows, ncols, npairs, rowid, colid, params);
    if (!fault.empty()) {
      SetLastError("%s", fault.c_str());
      return -1;
    }
    if (first < 0 || first > last || last > ncols) {
      SetLastError(kBadRange, entry, first, last - 1, ncols - 1);
      return -1;
    }
    const bool staged = last > first && ItemListRoom(params->nnbr, ncols) > 0;
    if (last > first && (counts == nullptr || (staged && (ind == nullptr || val == nullptr)))) {
      SetLastError(kNullLists, entry);
      return -1;
    }
    const TOVRAN_Params p = *params;
    const MatrixHolder matrix(CreateMatrix(nrows, ncols, npairs, rowid, colid));
    ItemListBlock block{first, last, counts, ind, val};
    const ModelHolder model(
        p.kind == TOVRAN_ITEM_COSINE
            ? BuildItemCosineModel(matrix.get(), p.nnbr, p.min_support, p.nthreads, &block)
            : BuildItemCprobModel(matrix.get(), p.nnbr, p.alpha, p.min_support, p.nthreads,
                                  &block));
    return PackItemLists(model.get(), block);
  });
}

Model *TOVRAN_AssembleItemModel(int32_t nrows, int32_t ncols, const TOVRAN_Params *params,
                                const int32_t *counts, const int32_t *ind, const float *val) {
  const char *entry = "TOVRAN_AssembleItemModel";
  return ReportingErrors<Model *>(nullptr, [&]() -> Model * {
    // No pairs and no threads: the parameters and lists alone are checked.
    TOVRAN_Params checked = params != nullptr ? *params : TOVRAN_Params{};
    checked.nthreads = 1;
    const std::string fault = ItemParamsFault(entry, nrows, ncols, 0, nullptr, nullptr,
                                              params != nullptr ? &checked : nullptr);
    if (!fault.empty()) {
      SetLastError("%s", fault.c_str());
      return nullptr;
    }
    if (ncols > 0 && counts == nullptr) {
      SetLastError(kNullLists, entry);
      return nullptr;
    }
    const int32_t room = ItemListRoom(params->nnbr, ncols);
    int64_t total = 0;
    for (int32_t i = 0; i < ncols; i++) {
      if (counts[i] < 0 || counts[i] > room) {
        SetLastError(kBadCount, entry, i, counts[i], room);
        return nullptr;
      }
      total += counts[i];
    }
    if (total > 0 && (ind == nullptr || val == nullptr)) {
      SetLastError(kNullLists, entry);
      return nullptr;
    }
    for (int32_t i = 0, at = 0; i < ncols; at += counts[i++]) {
      for (int32_t l = at; l < at + counts[i]; l++) {
        if (ind[l] < 0 || ind[l] >= ncols) {
          SetLastError(kBadNeighbour, entry, l - at, i, ncols - 1);
          return nullptr;
        }
        // Built lists hold finite similarities only, and the queries rely on it.
        if (!std::isfinite(val[l])) {
          SetLastError(kBadSimilarity, entry, l - at, i);
          return nullptr;
        }
      }
    }
    ModelHolder model(CreateModel());
    model->type = params->kind;
    model->nnbr = params->nnbr;
    model->nitems = ncols;
    model->lists.itemptr = AllocInts(int64_t{ncols} + 1, "TOVRAN_AssembleItemModel: itemptr");
    model->lists.itemind = AllocInts(total, "TOVRAN_AssembleItemModel: itemind");
    model->lists.itemval = AllocFloats(total, "TOVRAN_AssembleItemModel: itemval");
    model->scratch.item_marks =
        AllocFilledInts(ncols, UnmetMark(MarkForm::kSlots), "TOVRAN_AssembleItemModel: marker");
    model->scratch.item_candidates =
        AllocCands(ItemCandidateRoom(ncols), "TOVRAN_AssembleItemModel: fcand");
    model->lists.itemptr[0] = 0;
    for (int32_t i = 0; i < ncols; i++)
      model->lists.itemptr[i + 1] = model->lists.itemptr[i] + counts[i];
    std::copy_n(ind, total, model->lists.itemind);
    std::copy_n(val, total, model->lists.itemval);
    model->nusers = nrows;
    model->alpha = params->kind == TOVRAN_ITEM_CPROB ? params->alpha : 0.0f;
    model->min_support = params->min_support;
    RestMarks(model.get());
    return model.release();
  });
}
