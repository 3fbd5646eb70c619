#include "driver/run_plan.h"

#include <cstddef>

#include "engine/tovran.h"

std::string ParseWeighting(std::string_view text, int32_t *weighting) {
  for (int32_t w = TOVRAN_WEIGHT_BINARY; w <= TOVRAN_WEIGHT_TFIDF; w++) {
    if (text == kWeightingNames[w]) {
      *weighting = w;
      return "";
    }
  }
  return "unknown weighting '" + std::string(text) + "'; give binary, raw, log, bm25 or tfidf";
}

int64_t CountRuns(const RunPlan &plan) {
  int64_t total = 0;
  for (const int32_t kind : plan.kinds) {
    const bool items = kind == TOVRAN_ITEM_COSINE || kind == TOVRAN_ITEM_CPROB;
    int64_t runs = int64_t(plan.top.size());
    const std::size_t factors[] = {
        kind == kPopularity ? 1 : (kind == TOVRAN_USER_BASED ? plan.user_nnbr : plan.nnbr).size(),
        items ? plan.min_support.size() : 1,
        kind == TOVRAN_ITEM_CPROB && !plan.alpha.empty() ? plan.alpha.size() : 1};
    for (const std::size_t factor : factors)
      if (__builtin_mul_overflow(runs, int64_t(factor), &runs)) return INT64_MAX;
    if (__builtin_add_overflow(total, runs, &total)) return INT64_MAX;
  }
  return total;
}

std::vector<RunSetup> ExpandRuns(const RunPlan &plan) {
  std::vector<RunSetup> runs;
  for (const int32_t kind : plan.kinds) {
    const bool items = kind == TOVRAN_ITEM_COSINE || kind == TOVRAN_ITEM_CPROB;
    const std::vector<int32_t> none{0};
    const std::vector<int32_t> &nnbrs = kind == kPopularity         ? none
                                        : kind == TOVRAN_USER_BASED ? plan.user_nnbr
                                                                    : plan.nnbr;
    const std::vector<int32_t> &supports = items ? plan.min_support : none;
    const bool estimate = kind == TOVRAN_ITEM_CPROB && plan.alpha.empty();
    const std::vector<double> alphas =
        kind == TOVRAN_ITEM_CPROB && !estimate ? plan.alpha : std::vector<double>{0.0};
    for (const int32_t top : plan.top)
      for (const int32_t nnbr : nnbrs)
        for (const int32_t support : supports)
          for (const double alpha : alphas)
            runs.push_back(RunSetup{kind, top, nnbr, support, alpha, estimate && !plan.tune_alpha,
                                    estimate && plan.tune_alpha, plan.weighting, plan.bm25_k1,
                                    plan.bm25_b, plan.fallback});
  }
  return runs;
}
