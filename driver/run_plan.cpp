#include "driver/run_plan.h"

#include "engine/tovran.h"

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
                                    estimate && plan.tune_alpha});
  }
  return runs;
}
