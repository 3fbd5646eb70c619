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

std::string IntervalText(const Interval &i) {
  return "[" + JsonReal(i.low) + ", " + JsonReal(i.high) + "]";
}

// "intervals" and, against a reference run, "compared_with".
std::string IntervalFields(const RunIntervals &ri) {
  std::string text = "\"intervals\": {";
  for (int32_t k = 0; k < kMetrics; k++)
    text +=
        std::string(k > 0 ? ", " : "") + "\"" + MetricName(k) + "\": " + IntervalText(ri.metric[k]);
  text += "}";
  if (ri.reference < 0) return text + ", \"compared_with\": null";
  text += ", \"compared_with\": {\"run\": " + std::to_string(ri.reference);
  for (int32_t k = 0; k < kMetrics; k++)
    text += std::string(", \"") + MetricName(k) +
            "\": {\"difference\": " + JsonReal(ri.difference[k]) +
            ", \"interval\": " + IntervalText(ri.difference_interval[k]) +
            ", \"p_value\": " + JsonReal(ri.p_value[k]) + "}";
  return text + "}";
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

// The fields of a weighting other than binary and of fallback, each after
// ", "; none for the plain runs, whose documents stay as they were.
std::string WeighingFields(int32_t weighting, float k1, float b, bool fallback) {
  std::string fields;
  if (weighting != TOVRAN_WEIGHT_BINARY)
    fields += ", \"weighting\": \"" + std::string(kWeightingNames[weighting]) + "\"";
  if (weighting == TOVRAN_WEIGHT_BM25)
    fields += ", \"bm25_k1\": " + JsonReal(k1) + ", \"bm25_b\": " + JsonReal(b);
  if (fallback) fields += ", \"fallback\": \"popular\"";
  return fields;
}

void WriteRun(std::FILE *out, size_t r, const SequenceResult &result, bool last) {
  const RunResult &run = result.runs[r];
  const RunSetup &s = run.setup;
  const RunMetrics &m = run.metrics;
  const bool cprob = s.kind == TOVRAN_ITEM_CPROB;
  std::string alpha = "null";
  if (cprob)
    alpha = run.estimation >= 0 ? StepText(result.estimations[size_t(run.estimation)].step)
                                : JsonReal(s.alpha);
  std::fprintf(out, "    {\"kind\": %d, \"name\": \"%s\", \"top_n\": %d, \"nnbr\": %s, ", s.kind,
               KindName(s.kind), s.top, Count(s.nnbr, s.kind != kPopularity).c_str());
  std::fprintf(out, "\"min_support\": %s, \"alpha\": %s, \"alpha_estimation\": %s%s,\n",
               Count(s.min_support, s.min_support > 0).c_str(), alpha.c_str(),
               Count(run.estimation, run.estimation >= 0).c_str(),
               WeighingFields(s.weighting, s.bm25_k1, s.bm25_b, s.fallback).c_str());
  std::fprintf(out, "     \"hits\": %d, \"users_queried\": %d, \"hit_rate\": %s,\n", run.hits,
               m.queried, JsonReal(HitRate(m)).c_str());
  std::fprintf(out, "     \"average_reciprocal_hit_rank\": %s, \"ndcg\": %s,\n",
               JsonReal(AverageReciprocalHitRank(m)).c_str(), JsonReal(Ndcg(m)).c_str());
  std::fprintf(out, "     \"precision\": %s, \"recall\": %s,\n", JsonReal(Precision(m)).c_str(),
               JsonReal(Recall(m)).c_str());
  std::fprintf(
      out, "     \"map\": %s, \"mrr\": %s, \"held_out\": %lld, \"held_out_listed\": %lld,\n",
      JsonReal(MeanAveragePrecision(m)).c_str(), JsonReal(AverageReciprocalHitRank(m)).c_str(),
      static_cast<long long>(m.held_out), static_cast<long long>(m.listed));
  std::fprintf(out, "     \"fold\": %d, %s,\n", run.fold,
               r < result.intervals.size() ? IntervalFields(result.intervals[r]).c_str()
                                           : "\"intervals\": null, \"compared_with\": null");
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

bool WriteJsonReport(std::FILE *out, const Options &opts, const SequenceResult &result,
                     const ReportTimes &times) {
  const FoldRecord ds = result.folds.empty() ? FoldRecord{} : result.folds.front();
  const Protocol &protocol = opts.protocol;
  const RunPlan &plan = opts.plan;
  std::fprintf(out, "{\n  \"schema_version\": %d,\n  \"version\": %s,\n", kJsonSchemaVersion,
               JsonString(cli::ProjectVersion()).c_str());
  std::fprintf(out, "  \"file\": %s,\n", JsonString(opts.file.c_str()).c_str());
  std::fprintf(out,
               "  \"options\": {\"kinds\": %s, \"top\": %s, \"nnbr\": %s, \"user_nnbr\": %s, "
               "\"alpha\": %s, \"min_support\": %s%s, \"threads\": %d},\n",
               JsonList(plan.kinds).c_str(), JsonList(plan.top).c_str(),
               JsonList(plan.nnbr).c_str(), JsonList(plan.user_nnbr).c_str(),
               plan.alpha.empty() ? "null" : JsonList(plan.alpha).c_str(),
               JsonList(plan.min_support).c_str(),
               WeighingFields(plan.weighting, plan.bm25_k1, plan.bm25_b, plan.fallback).c_str(),
               opts.threads);
  std::fprintf(out, "  \"threads\": %d,\n", opts.threads);
  std::fprintf(out,
               "  \"dataset\": {\"users\": %d, \"items\": %d, \"training_pairs\": %d, "
               "\"held_out\": %d},\n",
               ds.nrows, ds.ncols, ds.ntrain, ds.held_users);
  std::fprintf(
      out,
      "  \"split\": {\"name\": %s, \"seed\": %llu, \"folds\": %zu, \"resamples\": %d, "
      "\"held_out_pairs\": %d, \"users_asked\": %d, \"not_asked\": {\"every_pair_held_out\": "
      "%d, \"none_held_out\": %d, \"without_pairs\": %d}},\n",
      JsonString(protocol.split.text.c_str()).c_str(),
      static_cast<unsigned long long>(protocol.seed), result.folds.size(), result.resamples,
      ds.ntest, ds.left_out.asked, ds.left_out.no_training, ds.left_out.no_held_out,
      ds.left_out.without_pairs);
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
  std::fprintf(out, ",\n  \"alpha_tunings\": [");
  for (size_t t = 0; t < result.tunings.size(); t++) {
    const AlphaTuning &tu = result.tunings[t];
    std::vector<double> rates(tu.hit_rate, tu.hit_rate + kTuneSteps);
    std::fprintf(
        out,
        "%s{\"fold\": %d, \"top_n\": %d, \"nnbr\": %d, \"min_support\": %d, \"alpha\": %s, "
        "\"validation_users\": %d, \"hit_rates\": %s, \"seconds\": %s}",
        t > 0 ? ", " : "", tu.fold, tu.top, tu.nnbr, tu.min_support, StepText(tu.step).c_str(),
        tu.validation_users, JsonList(rates).c_str(), JsonReal(tu.seconds).c_str());
  }
  std::fprintf(out, "],\n  \"alpha_estimations\": [");
  for (size_t e = 0; e < result.estimations.size(); e++) {
    std::fprintf(out, "%s\n    ", e > 0 ? "," : "");
    WriteEstimation(out, result.estimations[e]);
  }
  std::fprintf(out, "%s],\n  \"runs\": [\n", result.estimations.empty() ? "" : "\n  ");
  for (size_t r = 0; r < result.runs.size(); r++)
    WriteRun(out, r, result, r + 1 == result.runs.size());
  std::fprintf(out, "  ]\n}\n");
  return std::fflush(out) == 0 && !std::ferror(out);
}
