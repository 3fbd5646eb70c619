#include "driver/json_report.h"

#include <cinttypes>

#include "cli/command_line.h"
#include "engine/tovran.h"

namespace {

// One tenth-step alpha as written in the document: "0.0" ... "1.0".
std::string StepText(int32_t step) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d", step / 10, step % 10);
  return text;
}

int32_t HeldOut(const Dataset &ds) {
  int32_t count = 0;
  for (int32_t u = 0; u < ds.nrows; u++)
    if (ds.tvec[size_t(u)] >= 0) count++;
  return count;
}

template <class T>
std::string JsonList(const std::vector<T> &values) {
  std::string text = "[";
  for (size_t k = 0; k < values.size(); k++) {
    if (k > 0) text += ", ";
    if constexpr (std::is_floating_point_v<T>) {
      text += JsonReal(values[k]);
    } else {
      text += std::to_string(values[k]);
    }
  }
  return text + "]";
}

std::string Count(int32_t value, bool present) { return present ? std::to_string(value) : "null"; }

// "[{"alpha": 0.0, "hits": H}, ...]" for every alpha tried.
std::string TriedList(const AlphaEstimation &e) {
  std::string text = "[";
  for (int32_t j = 0; j < e.tried; j++)
    text += (j > 0 ? ", {\"alpha\": " : "{\"alpha\": ") + StepText(j) +
            ", \"hits\": " + std::to_string(e.hits[j]) + "}";
  return text + "]";
}

void WriteEstimation(std::FILE *out, const AlphaEstimation &e) {
  std::fprintf(out, "{\"top_n\": %d, \"nnbr\": %d, \"min_support\": %d, \"estimate\": %s, ", e.top,
               e.nnbr, e.min_support, StepText(e.step).c_str());
  std::fprintf(out, "\"seconds\": %s, \"tried\": %s}", JsonReal(e.seconds).c_str(),
               TriedList(e).c_str());
}

void WriteRun(std::FILE *out, const RunResult &run, const SequenceResult &result, bool last) {
  const RunSetup &s = run.setup;
  const RunMetrics &m = run.metrics;
  const bool cprob = s.kind == TOVRAN_ITEM_CPROB;
  std::string alpha = "null";
  if (cprob)
    alpha = run.estimation >= 0 ? StepText(result.estimations[size_t(run.estimation)].step)
                                : JsonReal(s.alpha);
  std::fprintf(out, "    {\"kind\": %d, \"name\": \"%s\", \"top_n\": %d, \"nnbr\": %s, ", s.kind,
               KindName(s.kind), s.top, Count(s.nnbr, s.kind != kPopularity).c_str());
  std::fprintf(out, "\"min_support\": %s, \"alpha\": %s, \"alpha_estimation\": %s,\n",
               Count(s.min_support, s.min_support > 0).c_str(), alpha.c_str(),
               Count(run.estimation, run.estimation >= 0).c_str());
  std::fprintf(out, "     \"hits\": %d, \"users_queried\": %d, \"hit_rate\": %s,\n", run.hits,
               m.queried, JsonReal(HitRate(m)).c_str());
  std::fprintf(out, "     \"average_reciprocal_hit_rank\": %s, \"ndcg\": %s,\n",
               JsonReal(AverageReciprocalHitRank(m)).c_str(), JsonReal(Ndcg(m)).c_str());
  std::fprintf(out, "     \"precision\": %s, \"recall\": %s,\n", JsonReal(Precision(m)).c_str(),
               JsonReal(HitRate(m)).c_str());
  std::fprintf(out, "     \"distinct_items\": %d, \"catalogue_coverage\": %s,\n", m.distinct,
               JsonReal(Coverage(m)).c_str());
  std::fprintf(
      out, "     \"unreachable\": {\"in_basket\": %d, \"unseen\": %d, \"below_support\": %d},\n",
      m.in_basket, m.unseen, m.below_support);
  std::fprintf(out, "     \"build_seconds\": %s, \"query_seconds\": %s, \"rate\": %s}%s\n",
               JsonReal(run.build_seconds).c_str(), JsonReal(run.query_seconds).c_str(),
               JsonReal(run.rate).c_str(), last ? "" : ",");
}

}  // namespace

bool WriteJsonReport(std::FILE *out, const Options &opts, const Dataset &ds,
                     const SequenceResult &result, const ReportTimes &times) {
  const RunPlan &plan = opts.plan;
  std::fprintf(out, "{\n  \"schema_version\": %d,\n  \"version\": %s,\n", kJsonSchemaVersion,
               JsonString(cli::ProjectVersion()).c_str());
  std::fprintf(out, "  \"file\": %s,\n", JsonString(opts.file.c_str()).c_str());
  std::fprintf(out,
               "  \"options\": {\"kinds\": %s, \"top\": %s, \"nnbr\": %s, \"user_nnbr\": %s, "
               "\"alpha\": %s, \"min_support\": %s, \"threads\": %d},\n",
               JsonList(plan.kinds).c_str(), JsonList(plan.top).c_str(),
               JsonList(plan.nnbr).c_str(), JsonList(plan.user_nnbr).c_str(),
               plan.alpha.empty() ? "null" : JsonList(plan.alpha).c_str(),
               JsonList(plan.min_support).c_str(), opts.threads);
  std::fprintf(out, "  \"threads\": %d,\n", opts.threads);
  std::fprintf(out,
               "  \"dataset\": {\"users\": %d, \"items\": %d, \"training_pairs\": %d, "
               "\"held_out\": %d},\n",
               ds.nrows, ds.ncols, ds.ntrain, HeldOut(ds));
  std::fprintf(out, "  \"load_seconds\": %s, \"alpha_seconds\": %s, \"total_seconds\": %s,\n",
               JsonReal(times.load_seconds).c_str(), JsonReal(result.alpha_seconds).c_str(),
               JsonReal(times.total_seconds).c_str());
  std::fprintf(out, "  \"top_n\": %d,\n", plan.top.front());
  // The first estimation, where the document's first readers look for it.
  std::fprintf(out, "  \"alpha\": ");
  if (result.estimations.empty()) {
    std::fprintf(out, "null");
  } else {
    const AlphaEstimation &e = result.estimations.front();
    std::fprintf(out, "{\"estimate\": %s, \"tried\": %s}", StepText(e.step).c_str(),
                 TriedList(e).c_str());
  }
  std::fprintf(out, ",\n  \"alpha_estimations\": [");
  for (size_t e = 0; e < result.estimations.size(); e++) {
    std::fprintf(out, "%s\n    ", e > 0 ? "," : "");
    WriteEstimation(out, result.estimations[e]);
  }
  std::fprintf(out, "%s],\n  \"runs\": [\n", result.estimations.empty() ? "" : "\n  ");
  for (size_t r = 0; r < result.runs.size(); r++)
    WriteRun(out, result.runs[r], result, r + 1 == result.runs.size());
  std::fprintf(out, "  ]\n}\n");
  return std::fflush(out) == 0 && !std::ferror(out);
}
