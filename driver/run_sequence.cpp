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
                                      int32_t first, int32_t *index) {
  auto &all = result->estimations;
  for (size_t e = size_t(first); e < all.size(); e++) {
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

// The training pairs of ds as the pairs of a file, each user's run in order.
DatasetPairs TrainingPairs(const Dataset &ds) {
  DatasetPairs pairs;
  pairs.nrows = ds.nrows;
  pairs.ncols = ds.ncols;
  pairs.npairs = ds.ntrain;
  pairs.rowid.reset(static_cast<int32_t *>(std::malloc(4 * (size_t(ds.ntrain) + 1))));
  pairs.colid.reset(static_cast<int32_t *>(std::malloc(4 * (size_t(ds.ntrain) + 1))));
  if (!pairs.rowid || !pairs.colid)
    FatalError("***Memory allocation failed for the validation part.");
  std::copy_n(ds.rowid.get(), ds.ntrain, pairs.rowid.get());
  std::copy_n(ds.colid.get(), ds.ntrain, pairs.colid.get());
  pairs.rowid[size_t(ds.ntrain)] = ds.nrows;
  pairs.colid[size_t(ds.ntrain)] = 0;
  pairs.values = ds.values;
  return pairs;
}

// Chooses kind 2's alpha on a validation part carved from the training
// pairs of ds by the run's own split (a time split by each user's last
// pair, a k-fold split by its first fold), drawn with the seed's complement.
AlphaTuning TuneAlpha(const Dataset &ds, const RunSetup &setup, const EvalSettings &settings,
                      const Protocol &protocol, int32_t fold) {
  AlphaTuning tuning;
  tuning.fold = fold;
  tuning.top = setup.top;
  tuning.nnbr = setup.nnbr;
  tuning.min_support = setup.min_support;
  const double start = Seconds();
  SplitRule carve = protocol.split;
  if (carve.kind == SplitRule::kTime) carve = SplitRule{};
  Dataset part;
  try {
    part = SplitPairs(TrainingPairs(ds), carve, ~protocol.seed, 0, nullptr);
  } catch (const std::bad_alloc &) {
    FatalError("***Memory allocation failed for the validation part.");
  }
  const EvalData data(part);
  tuning.validation_users = data.baskets();
  EvalSettings quiet = settings;
  quiet.progress = nullptr;
  double best = -1;
  for (int32_t j = 0; j < kTuneSteps; j++) {
    RunSetup trial = setup;
    trial.tune_alpha = false;
    trial.alpha = double(float(j * 0.1));
    const TOVRAN_Params params = ModelParams(trial, settings.nthreads);
    Model *model =
        settings.steps.build ? settings.steps.build(data, params) : BuildModel(part, params);
    if (model == nullptr) FatalError("%s", TOVRAN_LastError());
    ModelLister lister(model, trial.fallback);
    const QueryOutcomes outcomes =
        settings.steps.query
            ? settings.steps.query(lister, data, trial, settings.nthreads, false, nullptr)
            : QueryUsers(lister, data, 0, data.baskets(), trial.top, settings.nthreads);
    TOVRAN_FreeModel(model);
    std::vector<UserMetrics> users;
    const RunMetrics m = ReduceOutcomes(outcomes, data, trial, &users);
    tuning.hit_rate[j] = HitRate(m);
    // The first of equal rates: the smaller alpha.
    if (tuning.hit_rate[j] > best) {
      best = tuning.hit_rate[j];
      tuning.step = j;
    }
  }
  tuning.seconds = Seconds() - start;
  return tuning;
}

FoldRecord RecordFold(const Dataset &ds, const EvalData &data) {
  FoldRecord f;
  f.nrows = ds.nrows;
  f.ncols = ds.ncols;
  f.ntrain = ds.ntrain;
  f.ntest = ds.ntest;
  for (int32_t u = 0; u < ds.nrows; u++) f.held_users += ds.HeldOutCount(u) > 0;
  f.left_out = ds.left_out;
  f.users = data.users;
  f.held = data.held;
  f.held_items = data.held_items;
  return f;
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

void RunAll(const Dataset &ds, const RunPlan &plan, const EvalSettings &settings,
            const Protocol &protocol, int32_t fold, SequenceResult *result) {
  std::FILE *out = settings.out;
  // "Ntrans;" is the report's own text, kept so reports compare line for line.
  std::fprintf(out, "Dataset Statistics: Nusers: %d, Nitems: %d, Ntrans; %d\n", ds.nrows, ds.ncols,
               ds.ntrain);
  if (protocol.Named()) {
    const LeftOut &left = ds.left_out;
    std::fprintf(out,
                 "Split: %s (seed %llu): %d held-out pairs; %d users asked, not asked: %d with "
                 "every pair held out, %d with none held out, %d without pairs\n",
                 protocol.split.text.c_str(), static_cast<unsigned long long>(protocol.seed),
                 ds.ntest, left.asked, left.no_training, left.no_held_out, left.without_pairs);
  }
  PrintSeparator(out);
  const EvalData data(ds);
  result->folds.push_back(RecordFold(ds, data));
  const auto first_estimation = int32_t(result->estimations.size());
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
      const AlphaEstimation &e =
          FindEstimation(ds, setup, settings, result, first_estimation, &estimation);
      // The value TOVRAN_EstimateAlphaInit returns; the model takes it in
      // single precision.
      setup.alpha = double(float(e.step * 0.1));
      std::fprintf(out, "  Alpha=%.2f\n", e.step * 0.1);
      FlushLine(out);
    } else if (setup.tune_alpha) {
      std::fprintf(out, "  Tuning Alpha...");
      FlushLine(out);
      result->tunings.push_back(TuneAlpha(ds, setup, settings, protocol, fold));
      const AlphaTuning &t = result->tunings.back();
      setup.alpha = double(float(t.step * 0.1));
      std::fprintf(out, "  Alpha=%.2f (HR@%d %.4f on %d validation users)\n", t.step * 0.1,
                   setup.top, t.hit_rate[t.step], t.validation_users);
      FlushLine(out);
    }
    result->runs.push_back(EvaluateRun(data, setup, settings));
    result->runs.back().estimation = estimation;
    result->runs.back().fold = fold;
  }
}

SequenceResult RunAll(const Dataset &ds, const RunPlan &plan, const EvalSettings &settings) {
  SequenceResult result;
  RunAll(ds, plan, settings, Protocol{}, 0, &result);
  return result;
}

SequenceResult RunProtocol(DatasetPairs pairs, const std::vector<Timestamp> *times,
                           const RunPlan &plan, const Protocol &protocol,
                           const EvalSettings &settings, const StepGuard &guard) {
  SequenceResult result;
  const int32_t folds = protocol.split.Runs();
  for (int32_t f = 0; f < folds; f++) {
    if (folds > 1) {
      if (f > 0) PrintSeparator(settings.out);
      std::fprintf(settings.out, "Fold %d of %d\n", f + 1, folds);
    }
    // The last fold may take the pairs themselves.
    Dataset ds;
    guard("the dataset", [&] {
      ds = SplitPairs(f + 1 < folds ? CopyPairs(pairs) : std::move(pairs), protocol.split,
                      protocol.seed, f, times);
    });
    RunAll(ds, plan, settings, protocol, f, &result);
  }
  return result;
}

void ComputeIntervals(const Protocol &protocol, int32_t nthreads, SequenceResult *result) {
  const int32_t B = protocol.bootstrap;
  result->resamples = B;
  result->intervals.assign(result->runs.size(), RunIntervals{});
  for (size_t f = 0; f < result->folds.size(); f++) {
    std::vector<size_t> runs;
    for (size_t r = 0; r < result->runs.size(); r++)
      if (result->runs[r].fold == int32_t(f)) runs.push_back(r);
    const auto Q = int32_t(result->folds[f].users.size());
    const auto R = int32_t(runs.size()), C = R * kMetrics;
    // One row per user: every run's metrics side by side.
    std::vector<double> values(size_t(Q) * size_t(C));
    for (int32_t j = 0; j < R; j++)
      for (int32_t q = 0; q < Q; q++)
        for (int32_t k = 0; k < kMetrics; k++)
          values[size_t(q) * size_t(C) + size_t(j * kMetrics + k)] =
              MetricOf(result->runs[runs[size_t(j)]].users[size_t(q)], k);
    const std::vector<double> means =
        ResampleMeans(values, Q, C, kMetrics, B, protocol.seed, f, nthreads);
    auto column = [&](int32_t c) {
      std::vector<double> v(static_cast<size_t>(B), 0.0);
      for (int32_t b = 0; b < B; b++) v[size_t(b)] = means[size_t(b) * size_t(C) + size_t(c)];
      return v;
    };
    for (int32_t j = 0; j < R; j++) {
      RunIntervals &ri = result->intervals[runs[size_t(j)]];
      const RunMetrics &m = result->runs[runs[size_t(j)]].metrics;
      const RunMetrics &ref = result->runs[runs[0]].metrics;
      if (j > 0) ri.reference = int32_t(runs[0]);
      for (int32_t k = 0; k < kMetrics; k++) {
        ri.metric[k] = PercentileInterval(column(j * kMetrics + k));
        if (j == 0) continue;
        std::vector<double> d = column(j * kMetrics + k);
        const std::vector<double> base = column(k);
        for (int32_t b = 0; b < B; b++) d[size_t(b)] -= base[size_t(b)];
        ri.difference[k] = Average(m, k) - Average(ref, k);
        ri.difference_interval[k] = PercentileInterval(d);
        ri.p_value[k] = BootstrapPValue(d);
      }
    }
  }
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

void PrintIntervals(std::FILE *out, const SequenceResult &result) {
  static const char *const kHeads[kMetrics] = {"HR@N",   "recall@N", "prec@N",
                                               "NDCG@N", "MAP@N",    "MRR"};
  std::fprintf(out,
               "\n95%% intervals (bootstrap over the users asked, %d resamples); each run "
               "against the first of its fold\n",
               result.resamples);
  std::fprintf(out, "%-4s %-4s %-13s %-9s %8s  %-17s  %-20s %8s\n", "run", "fold", "kind", "metric",
               "value", "interval", "difference", "p");
  for (size_t r = 0; r < result.runs.size(); r++) {
    const RunResult &run = result.runs[r];
    const RunIntervals &ri = result.intervals[r];
    const std::string kind = std::to_string(run.setup.kind) + " " + KindName(run.setup.kind);
    for (int32_t k = 0; k < kMetrics; k++) {
      char interval[48], difference[48] = "", p[16] = "";
      std::snprintf(interval, sizeof interval, "[%.4f, %.4f]", ri.metric[k].low, ri.metric[k].high);
      if (ri.reference >= 0) {
        const Interval &d = ri.difference_interval[k];
        std::snprintf(difference, sizeof difference, "%+.4f [%+.4f, %+.4f]%s", ri.difference[k],
                      d.low, d.high, d.Excludes(0.0) ? " *" : "");
        std::snprintf(p, sizeof p, "%.4f", ri.p_value[k]);
      }
      std::fprintf(out, "%-4zu %-4d %-13s %-9s %8.4f  %-17s  %-20s %8s\n", r, run.fold + 1,
                   kind.c_str(), kHeads[k], Average(run.metrics, k), interval, difference, p);
    }
  }
  std::fprintf(out, "* the difference's interval excludes 0\n");
  if (result.folds.size() > 1) {
    const size_t per_fold = result.runs.size() / result.folds.size();
    std::fprintf(out, "\nOver the %zu folds (mean +- standard deviation of the fold values)\n",
                 result.folds.size());
    std::fprintf(out, "%-4s %-13s %-9s %s\n", "run", "kind", "metric", "mean +- sd");
    for (size_t j = 0; j < per_fold; j++) {
      const std::string kind =
          std::to_string(result.runs[j].setup.kind) + " " + KindName(result.runs[j].setup.kind);
      for (int32_t k = 0; k < kMetrics; k++) {
        double sum = 0, squares = 0;
        const auto F = double(result.folds.size());
        for (size_t f = 0; f < result.folds.size(); f++)
          sum += Average(result.runs[f * per_fold + j].metrics, k);
        const double mean = sum / F;
        for (size_t f = 0; f < result.folds.size(); f++) {
          const double d = Average(result.runs[f * per_fold + j].metrics, k) - mean;
          squares += d * d;
        }
        std::fprintf(out, "%-4zu %-13s %-9s %.4f +- %.4f\n", j, kind.c_str(), kHeads[k], mean,
                     std::sqrt(squares / (F - 1)));
      }
    }
  }
  FlushLine(out);
}

double OrderedShare(const DatasetPairs &pairs) {
  int64_t users = 0, ascending = 0, descending = 0;
  const int32_t *rowid = pairs.rowid.get(), *colid = pairs.colid.get();
  for (int32_t f = 0; f < pairs.npairs;) {
    int32_t l = f + 1;
    bool up = true, down = true;
    for (; rowid[l] == rowid[f]; l++) {
      up = up && colid[l] > colid[l - 1];
      down = down && colid[l] < colid[l - 1];
    }
    if (l - f >= 3) {
      users++;
      ascending += up;
      descending += down;
    }
    f = l;
  }
  constexpr int64_t kFewestUsers = 100;
  return users >= kFewestUsers ? double(std::max(ascending, descending)) / double(users) : 0.0;
}
