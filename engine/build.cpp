#include "engine/build.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "engine/builders.h"
#include "engine/errors.h"
#include "engine/popularity.h"
#include "engine/weighting.h"
#include "matrix/sparse_matrix.h"
#include "util/fatal_error.h"
#include "util/free_all.h"

namespace {

constexpr const char *kBadKind = "MType should take a value from {1, 2, 3}.";
constexpr const char *kBadParamsKind = "Kind should take a value from {0, 1, 2, 3}.";
constexpr const char *kBadNnbr = "NNbr should be greater than 0.";
constexpr const char *kBadAlpha = "Alpha should take a value from [0.0, 1.0].";
constexpr const char *kTooManyNeighbours =
    "NNbr %d with NCols %d gives more neighbours than a model can index (at most %d).";
constexpr const char *kNegativeCounts = "NRows, NCols and NPairs should not be negative.";
constexpr const char *kNullPairs = "The pair arrays should not be null.";
constexpr const char *kPairOutside = "Pair %d (%d, %d) lies outside the %d x %d matrix.";
constexpr const char *kNullParams = "TOVRAN_Build: the parameters should not be null.";
constexpr const char *kBadMinSupport = "MinSupport should be greater than 0.";
constexpr const char *kBadThreads = "NThreads should take a value from 1..%d.";

template <class... Args>
std::string Format(const char *format, Args... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

}  // namespace

std::string PairsFault(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                       const int32_t *colid) {
  if (nrows < 0 || ncols < 0 || npairs < 0) return kNegativeCounts;
  if (npairs > 0 && (rowid == nullptr || colid == nullptr)) return kNullPairs;
  for (int32_t i = 0; i < npairs; i++) {
    if (rowid[i] < 0 || rowid[i] >= nrows || colid[i] < 0 || colid[i] >= ncols)
      return Format(kPairOutside, i, rowid[i], colid[i], nrows, ncols);
  }
  return {};
}

std::string BuildFault(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                       const int32_t *colid, int32_t type, int32_t nnbr, float alpha) {
  if (type < TOVRAN_ITEM_COSINE || type > TOVRAN_USER_BASED) return kBadKind;
  if (nnbr <= 0) return kBadNnbr;
  // Written so that a NaN fails too.
  if (type == TOVRAN_ITEM_CPROB && (!(alpha >= 0.0f) || alpha > 1.0f)) return kBadAlpha;
  // Neighbour lists are indexed by 32-bit offsets. Arrays too large for the
  // heap are the allocator's to report, with their 64-bit size.
  if (type != TOVRAN_USER_BASED && int64_t{ncols} * ItemListRoom(nnbr, ncols) > INT32_MAX)
    return Format(kTooManyNeighbours, nnbr, ncols, INT32_MAX);
  return PairsFault(nrows, ncols, npairs, rowid, colid);
}

Model *BuildAccepted(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                     const int32_t *colid, int32_t type, int32_t nnbr, float alpha,
                     int32_t nthreads, int32_t min_support, const float *weights) {
  ModelHolder model;
  if (type == TOVRAN_POPULAR) {
    model.reset(CreatePopularModel(ncols));
  } else {
    const MatrixHolder matrix(CreateMatrix(nrows, ncols, npairs, rowid, colid, weights));
    switch (type) {
      case TOVRAN_ITEM_COSINE:
        model.reset(TOVRAN_Init_ColVecSim(matrix.get(), nnbr, min_support, nthreads));
        break;
      case TOVRAN_ITEM_CPROB:
        model.reset(TOVRAN_Init_CProbSim(matrix.get(), nnbr, alpha, min_support, nthreads, nullptr,
                                         weights != nullptr));
        model->alpha = alpha;
        break;
      default: model.reset(TOVRAN_Init_Row(matrix.get(), nnbr)); break;
    }
  }
  AttachPopularity(model.get(), ncols, npairs, colid, weights);
  model->nusers = nrows;
  if (type == TOVRAN_ITEM_COSINE || type == TOVRAN_ITEM_CPROB) model->min_support = min_support;
  return model.release();
}

Model *TOVRAN_BuildModel(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                         const int32_t *colid, int32_t type, int32_t nnbr, float alpha) {
  return TOVRAN_BuildModelThreads(nrows, ncols, npairs, rowid, colid, type, nnbr, alpha, 1);
}

Model *TOVRAN_BuildModelThreads(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                                const int32_t *colid, int32_t type, int32_t nnbr, float alpha,
                                int32_t nthreads) {
  const std::string fault = BuildFault(nrows, ncols, npairs, rowid, colid, type, nnbr, alpha);
  if (!fault.empty()) FatalError("%s\n", fault.c_str());
  return BuildAccepted(nrows, ncols, npairs, rowid, colid, type, nnbr, alpha, nthreads,
                       kMinItemFrequency, nullptr);
}

std::string ParamsFault(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                        const int32_t *colid, const TOVRAN_Params &p) {
  std::string fault;
  if (p.kind == TOVRAN_POPULAR) {
    // Nothing but the pairs and their weighting: no neighbours to count.
    fault = PairsFault(nrows, ncols, npairs, rowid, colid);
  } else if (p.kind < TOVRAN_POPULAR || p.kind > TOVRAN_USER_BASED) {
    fault = kBadParamsKind;
  } else {
    fault = BuildFault(nrows, ncols, npairs, rowid, colid, p.kind, p.nnbr, p.alpha);
    if (fault.empty() && p.min_support < 1) fault = kBadMinSupport;
  }
  if (fault.empty()) fault = WeightingFault(p);
  if (fault.empty() && (p.nthreads < 1 || p.nthreads > TOVRAN_MAX_THREADS))
    fault = Format(kBadThreads, TOVRAN_MAX_THREADS);
  return fault;
}

TOVRAN_Params TOVRAN_DefaultParams(int32_t kind) {
  const int32_t nnbr = kind == TOVRAN_USER_BASED ? TOVRAN_DEFAULT_USER_NNBR
                       : kind == TOVRAN_POPULAR   ? 0
                                                  : TOVRAN_DEFAULT_ITEM_NNBR;
  return TOVRAN_Params{kind, nnbr, 0.0f, TOVRAN_DEFAULT_MIN_SUPPORT, 1, TOVRAN_WEIGHT_BINARY,
                       1.2f, 0.75f};
}

Model *TOVRAN_Build(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                    const int32_t *colid, const TOVRAN_Params *params) {
  return TOVRAN_BuildWeighted(nrows, ncols, npairs, rowid, colid, nullptr, params);
}

Model *TOVRAN_BuildWeighted(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                            const int32_t *colid, const float *values,
                            const TOVRAN_Params *params) {
  return ReportingErrors<Model *>(nullptr, [&]() -> Model * {
    if (params == nullptr) {
      SetLastError("%s", kNullParams);
      return nullptr;
    }
    const TOVRAN_Params p = *params;
    std::string fault = ParamsFault(nrows, ncols, npairs, rowid, colid, p);
    if (fault.empty()) fault = ValuesFault(p.weighting, npairs, values);
    Owned<float[]> weights;
    if (fault.empty())
      weights.reset(WeighPairs(nrows, ncols, npairs, rowid, colid, values, p, &fault));
    if (!fault.empty()) {
      SetLastError("%s", fault.c_str());
      return nullptr;
    }
    Model *model =
        BuildAccepted(nrows, ncols, npairs, rowid, colid, p.kind, p.nnbr, p.alpha, p.nthreads,
                      p.kind == TOVRAN_POPULAR ? 0 : p.min_support, weights.get());
    model->weighting = p.weighting;
    model->bm25_k1 = p.weighting == TOVRAN_WEIGHT_BM25 ? p.bm25_k1 : 0.0f;
    model->bm25_b = p.weighting == TOVRAN_WEIGHT_BM25 ? p.bm25_b : 0.0f;
    return model;
  });
}
