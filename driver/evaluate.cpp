#include "driver/evaluate.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "driver/popularity.h"
#include "util/parallel.h"

double Seconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

namespace {
// The reason of the first failed flush of the report.
int report_write_error = 0;
}  // namespace

void FlushLine(std::FILE *out) {
  if (std::fflush(out) != 0 && report_write_error == 0) report_write_error = errno;
}

int ReportWriteError() { return report_write_error; }

namespace {
// Users handed to a query thread at a time.
constexpr int64_t kBasketChunk = 256;

// Prints one report line and lets a pipe or a log see it at once.
template <class... Args>
void Line(std::FILE *out, const char *format, Args... args) {
  std::fprintf(out, format, args...);
  FlushLine(out);
}

}  // namespace

EvalData::EvalData(const Dataset &dataset)
    : ds(dataset), starts(dataset.bstart.get()), frequency(size_t(ds.ncols), 0) {
  for (int32_t i = 0; i < ds.ntrain; i++) frequency[size_t(ds.colid[size_t(i)])]++;
}

ModelRecommender::ModelRecommender(Model *model, int32_t nthreads)
    : model_(model), scratch_{nullptr} {
  for (int32_t t = 1; t < nthreads; t++) scratch_.push_back(TOVRAN_CreateScratch(model));
}

ModelRecommender::~ModelRecommender() {
  for (size_t t = 1; t < scratch_.size(); t++) TOVRAN_FreeScratch(scratch_[t]);
}

int32_t ModelRecommender::Answer(int32_t thread, int32_t n, const int32_t *basket, int32_t N,
                                 int32_t *rcmds) {
  return thread == 0 ? TOVRAN_Recommend(model_, n, basket, N, rcmds)
                     : TOVRAN_RecommendWith(model_, scratch_[size_t(thread)], n, basket, N, rcmds);
}

QueryOutcomes QueryUsers(Recommender &rec, const EvalData &data, int32_t first, int32_t last,
                         int32_t N, int32_t nthreads, bool keep_lists, Progress *progress) {
  QueryOutcomes q;
  q.first = first;
  const int32_t count = std::max(last - first, 0);
  const int32_t threads = UsableThreads(nthreads, count);
  q.ranks.assign(size_t(count), 0);
  if (keep_lists) q.lists.assign(size_t(count) * size_t(N), -1);
  // Each thread's recommended items, merged afterwards.
  std::vector<std::vector<uint8_t>> seen(size_t(threads),
                                         std::vector<uint8_t>(size_t(data.ds.ncols), 0));
  std::vector<std::vector<int32_t>> rcmds(size_t(threads), std::vector<int32_t>(size_t(N), 0));
  const int32_t *colid = data.ds.colid.get();
  ParallelChunks(threads, count, kBasketChunk, [&](int32_t thread, int64_t begin, int64_t end) {
    int32_t *answer = rcmds[size_t(thread)].data();
    for (auto k = int32_t(begin); k < end; k++) {
      const int32_t b = first + k, f = data.starts[size_t(b)], n = data.starts[size_t(b) + 1] - f;
      const int32_t m = rec.Answer(thread, n, colid + f, N, answer);
      q.ranks[size_t(k)] = RecordAnswer(answer, m, data.HeldOut(b), seen[size_t(thread)].data());
      if (keep_lists && m > 0) std::copy_n(answer, m, q.lists.begin() + int64_t(k) * N);
    }
    if (progress != nullptr) progress->Add(end - begin);
  });
  q.recommended.assign(size_t(data.ds.ncols), 0);
  for (const std::vector<uint8_t> &marks : seen)
    for (size_t c = 0; c < marks.size(); c++) q.recommended[c] |= marks[c];
  return q;
}

RunMetrics ReduceOutcomes(const QueryOutcomes &outcomes, const EvalData &data,
                          const RunSetup &setup) {
  RunMetrics m = SumRun(data.ds.ncols, outcomes.ranks, {outcomes.recommended});
  m.top = setup.top;
  const bool item_model = setup.kind == TOVRAN_ITEM_COSINE || setup.kind == TOVRAN_ITEM_CPROB;
  const int32_t *colid = data.ds.colid.get();
  for (size_t k = 0; k < outcomes.ranks.size(); k++) {
    const auto b = outcomes.first + int32_t(k);
    const int32_t f = data.starts[size_t(b)], l = data.starts[size_t(b) + 1];
    const int32_t test = data.HeldOut(b);
    if (std::find(colid + f, colid + l, test) != colid + l) {
      m.in_basket++;
    } else if (data.frequency[size_t(test)] == 0) {
      m.unseen++;
    } else if (item_model && data.frequency[size_t(test)] < setup.min_support) {
      m.below_support++;
    }
  }
  return m;
}

TOVRAN_Params ModelParams(const RunSetup &setup, int32_t nthreads) {
  TOVRAN_Params params = TOVRAN_DefaultParams(setup.kind);
  params.nnbr = setup.nnbr;
  // The alpha is read for kind 2 only, the support for kinds 1 and 2.
  params.alpha = float(setup.alpha);
  if (setup.min_support > 0) params.min_support = setup.min_support;
  params.nthreads = nthreads;
  return params;
}

std::string AlphaText(const RunSetup &setup) {
  char text[32];
  if (setup.estimate_alpha) {
    std::snprintf(text, sizeof text, "%.2f", setup.alpha);
    return text;
  }
  // The value the model uses: a float, so 1e-50 is 0.
  const auto [end, ec] = std::to_chars(text, text + sizeof text, float(setup.alpha));
  return std::string(text, ec == std::errc() ? end : text);
}

std::string BuildingLine(const RunSetup &setup, bool detailed) {
  std::string params;
  if (!detailed) {
    params = "NNbr=" + std::to_string(setup.nnbr);
  } else {
    if (setup.kind != kPopularity) params = "NNbr=" + std::to_string(setup.nnbr) + ", ";
    if (setup.kind == TOVRAN_ITEM_CPROB) params += "Alpha=" + AlphaText(setup) + ", ";
    if (setup.kind == TOVRAN_ITEM_COSINE || setup.kind == TOVRAN_ITEM_CPROB)
      params += "MinSupport=" + std::to_string(setup.min_support) + ", ";
    params += "TopN=" + std::to_string(setup.top);
  }
  // "Bulding" is the report's own spelling, kept so reports compare line for line.
  return "  Bulding model [" + params + "]...\n";
}

RunResult EvaluateRun(const EvalData &data, const RunSetup &setup, const EvalSettings &settings) {
  RunResult result;
  result.setup = setup;
  const Dataset &ds = data.ds;
  std::FILE *out = settings.out;
  Progress *progress = settings.progress;
  Line(out, "%s", BuildingLine(setup, settings.detailed).c_str());

  if (progress != nullptr) progress->Start("building");
  const double build_start = Seconds();
  Model *model = nullptr;
  std::unique_ptr<Recommender> rec;
  if (setup.kind == kPopularity) {
    rec = std::make_unique<PopularityRecommender>(data.frequency, settings.nthreads);
  } else {
    const TOVRAN_Params params = ModelParams(setup, settings.nthreads);
    model = settings.steps.build ? settings.steps.build(data, params)
                                 : TOVRAN_Build(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(),
                                                ds.colid.get(), &params);
    if (model == nullptr) {
      // An invalid parameter or exhausted memory: the engine's reason, as
      // its fatal messages are given.
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", TOVRAN_LastError());
      std::exit(1);
    }
  }
  result.build_seconds = Seconds() - build_start;
  if (progress != nullptr) progress->Finish();

  const double query_start = Seconds();
  Line(out, "  Computing top-%d recommendations...\n", setup.top);
  const int32_t nbaskets = data.baskets();
  if (model != nullptr)
    rec = std::make_unique<ModelRecommender>(model, UsableThreads(settings.nthreads, nbaskets));
  if (progress != nullptr) progress->Start("asking users", nbaskets);
  QueryOutcomes outcomes = settings.steps.query
                               ? settings.steps.query(*rec, data, setup, settings.nthreads,
                                                      settings.keep_lists, progress)
                               : QueryUsers(*rec, data, 0, nbaskets, setup.top, settings.nthreads,
                                            settings.keep_lists, progress);
  if (progress != nullptr) progress->Finish();
  rec.reset();
  result.query_seconds = Seconds() - query_start;
  result.metrics = ReduceOutcomes(outcomes, data, setup);
  result.hits = result.metrics.hits;
  result.lists = std::move(outcomes.lists);
  // A zero elapsed time gives an infinite rate, printed as "inf".
  result.rate = double(ds.nrows) / result.query_seconds;

  Line(out, "    Nhits: %d, InitTime: %.2f secs, TopN-Rate: %.2f rcmds/sec\n\n", result.hits,
       result.build_seconds, result.rate);
  TOVRAN_FreeModel(model);
  return result;
}

RunResult EvaluateModel(const Dataset &ds, int32_t type, int32_t nnbr, float alpha,
                        int32_t nthreads) {
  RunSetup setup;
  setup.kind = type;
  setup.nnbr = nnbr;
  setup.alpha = alpha;
  EvalSettings settings;
  settings.nthreads = nthreads;
  return EvaluateRun(EvalData(ds), setup, settings);
}
