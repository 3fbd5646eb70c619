#include "driver/run_sequence.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/tovran.h"
#include "util/fatal_error.h"

namespace {

// The report's line before the estimate, ended once it is known.
const char *const kEstimating = "  Estimating Alpha...";

void PrintSeparator(std::FILE *out) {
  std::fprintf(out,
               "-----------------------------------------------------------------------------\n");
  FlushLine(out);
}

// The estimation for the parameters, made on first use.
const AlphaEstimation &FindEstimation(const Dataset &ds, const RunSetup &setup,
                                      const EvalSettings &settings, SequenceResult *result,
                                      int32_t *index) {
  auto &all = result->estimations;
  for (size_t e = 0; e < all.size(); e++) {
    if (all[e].top == setup.top && all[e].nnbr == setup.nnbr &&
        all[e].min_support == setup.min_support) {
      *index = int32_t(e);
      return all[e];
    }
  }
  all.push_back(EstimateAlpha(
      ds, setup.top, setup.nnbr, setup.min_support, settings.nthreads, settings.progress,
      isatty(fileno(settings.out)) == 1 ? kEstimating : nullptr, settings.steps));
  result->alpha_seconds += all.back().seconds;
  *index = int32_t(all.size()) - 1;
  return all.back();
}

}  // namespace

AlphaEstimation EstimateAlpha(const Dataset &ds, int32_t top, int32_t nnbr, int32_t min_support,
                              int32_t nthreads, Progress *progress, const char *resume,
                              const RunSteps &steps) {
  AlphaEstimation e;
  e.top = top;
  e.nnbr = nnbr;
  e.min_support = min_support;
  if (progress != nullptr) progress->Start("estimating", 0, resume);
  const double start = Seconds();
  TOVRAN_RestartRandom();
  TOVRAN_Params params = TOVRAN_DefaultParams(TOVRAN_ITEM_CPROB);
  params.nnbr = nnbr;
  params.min_support = min_support;
  params.nthreads = nthreads;
  double estimate = 0.0;
  TOVRAN_AlphaTrace trace;
  const int32_t status =
      steps.estimate ? steps.estimate(ds, params, top, &estimate, &trace)
                     : TOVRAN_EstimateAlpha(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(),
                                            ds.colid.get(), &params, top, &estimate, &trace);
  if (status != 0) FatalError("%s", TOVRAN_LastError());
  e.step = int32_t(std::lround(estimate * 10));
  e.tried = trace.ntried;
  std::copy_n(trace.hits, trace.ntried, e.hits);
  e.seconds = Seconds() - start;
  if (progress != nullptr) progress->Finish();
  return e;
}

SequenceResult RunAll(const Dataset &ds, const RunPlan &plan, const EvalSettings &settings) {
  SequenceResult result;
  std::FILE *out = settings.out;
  // "Ntrans;" is the report's own text, kept so reports compare line for line.
  std::fprintf(out, "Dataset Statistics: Nusers: %d, Nitems: %d, Ntrans; %d\n", ds.nrows, ds.ncols,
               ds.ntrain);
  PrintSeparator(out);
  const EvalData data(ds);
  const std::vector<RunSetup> setups = ExpandRuns(plan);
  for (size_t r = 0; r < setups.size(); r++) {
    RunSetup setup = setups[r];
    if (r > 0) PrintSeparator(out);
    std::fprintf(out, "Testing RType=%d...\n", setup.kind);
    FlushLine(out);
    int32_t estimation = -1;
    if (setup.estimate_alpha) {
      std::fprintf(out, "%s", kEstimating);
      FlushLine(out);
      const AlphaEstimation &e = FindEstimation(ds, setup, settings, &result, &estimation);
      // The value TOVRAN_EstimateAlphaInit returns; the model takes it in
      // single precision.
      setup.alpha = double(float(e.step * 0.1));
      std::fprintf(out, "  Alpha=%.2f\n", e.step * 0.1);
      FlushLine(out);
    }
    result.runs.push_back(EvaluateRun(data, setup, settings));
    result.runs.back().estimation = estimation;
  }
  return result;
}

const char *KindName(int32_t kind) {
  static const char *const kNames[] = {"popularity", "item-cosine", "item-cprob", "user-based"};
  return kind >= 0 && kind <= 3 ? kNames[kind] : "?";
}

void PrintSummary(std::FILE *out, const SequenceResult &result) {
  std::fprintf(out, "Summary\n");
  std::fprintf(out, "%-13s %6s %6s %6s %7s %7s %7s %7s %7s %7s %8s %8s %12s\n", "kind", "top",
               "nnbr", "alpha", "support", "hits", "HR@N", "ARHR", "NDCG@N", "prec@N", "coverage",
               "build_s", "users/s");
  for (const RunResult &run : result.runs) {
    const RunSetup &s = run.setup;
    const RunMetrics &m = run.metrics;
    const std::string kind = std::to_string(s.kind) + " " + KindName(s.kind);
    const std::string nnbr = s.kind == kPopularity ? "-" : std::to_string(s.nnbr);
    const std::string alpha = s.kind == TOVRAN_ITEM_CPROB ? AlphaText(s) : "-";
    const std::string support = s.min_support > 0 ? std::to_string(s.min_support) : "-";
    std::fprintf(out, "%-13s %6d %6s %6s %7s %7d %7.4f %7.4f %7.4f %7.4f %8.4f %8.2f %12.2f\n",
                 kind.c_str(), s.top, nnbr.c_str(), alpha.c_str(), support.c_str(), run.hits,
                 HitRate(m), AverageReciprocalHitRank(m), Ndcg(m), Precision(m), Coverage(m),
                 run.build_seconds, run.rate);
    FlushLine(out);
  }
}
