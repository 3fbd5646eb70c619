#include "driver/evaluate.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <memory>

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
// Users asked in one batch: progress is counted batch by batch.
constexpr int32_t kBatchUsers = 8192;

// Prints one report line and lets a pipe or a log see it at once.
template <class... Args>
void Line(std::FILE *out, const char *format, Args... args) {
  std::fprintf(out, format, args...);
  FlushLine(out);
}

[[noreturn]] void EngineFailed() {
  // An invalid parameter or exhausted memory: the engine's reason, as its
  // fatal messages are given.
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", TOVRAN_LastError());
  std::exit(1);
}

}  // namespace

bool ModelLister::Lists(int32_t nbaskets, const int64_t *offsets, const int32_t *items, int32_t N,
                        int32_t nthreads, int32_t *rcmds, int32_t *counts) {
  if (!fallback_)
    return TOVRAN_RecommendBatch(model_, nbaskets, offsets, items, N, nthreads, rcmds, nullptr,
                                 counts) == 0;
  const TOVRAN_QueryOptions fill{nullptr, 0, nullptr, 0, 0, 1};
  return TOVRAN_RecommendFilteredBatch(model_, nbaskets, offsets, items, N, nthreads, &fill, rcmds,
                                       nullptr, counts) == 0;
}

Model *BuildModel(const Dataset &ds, const TOVRAN_Params &params) {
  return TOVRAN_BuildWeighted(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(),
                              ds.values.empty() ? nullptr : ds.values.data(), &params);
}

EvalData::EvalData(const Dataset &dataset) : ds(dataset), frequency(size_t(ds.ncols), 0) {
  for (int32_t i = 0; i < ds.ntrain; i++) frequency[size_t(ds.colid[size_t(i)])]++;
  const int32_t *bstart = ds.bstart.get(), *rowid = ds.rowid.get(), *colid = ds.colid.get();
  for (int32_t b = 0; b < ds.nbaskets; b++) {
    const int32_t user = rowid[bstart[b]];
    if (ds.HeldOutCount(user) > 0) users.push_back(user);
  }
  const bool every = int32_t(users.size()) == ds.nbaskets;
  offsets.assign(1, 0);
  held.assign(1, 0);
  for (int32_t b = 0, k = 0; b < ds.nbaskets; b++) {
    if (k == int32_t(users.size()) || rowid[bstart[b]] != users[size_t(k)]) continue;
    const int32_t user = users[size_t(k++)];
    if (!every) gathered.insert(gathered.end(), colid + bstart[b], colid + bstart[b + 1]);
    offsets.push_back(every ? bstart[b + 1] : int64_t(gathered.size()));
    const int32_t *first = ds.test_items.get() + ds.test_start[size_t(user)];
    held_items.insert(held_items.end(), first, first + ds.HeldOutCount(user));
    held.push_back(int64_t(held_items.size()));
  }
  items = every ? colid : gathered.data();
}

QueryOutcomes QueryUsers(Lister &lister, const EvalData &data, int32_t first, int32_t last,
                         int32_t N, int32_t nthreads, bool keep_lists, Progress *progress) {
  QueryOutcomes q;
  q.first = first;
  q.last = std::max(first, last);
  const int64_t held_first = data.held[size_t(first)];
  q.ranks.assign(size_t(data.held[size_t(q.last)] - held_first), 0);
  q.recommended.assign(size_t(data.ds.ncols), 0);
  if (keep_lists) q.lists.assign(size_t(q.last - first) * size_t(N), -1);
  std::vector<int32_t> rcmds, counts;
  for (int32_t begin = first; begin < q.last; begin += kBatchUsers) {
    const int32_t count = std::min(kBatchUsers, q.last - begin);
    rcmds.resize(size_t(count) * size_t(N));
    counts.resize(size_t(count));
    if (!lister.Lists(count, data.offsets.data() + begin, data.items, N, nthreads, rcmds.data(),
                      counts.data()))
      EngineFailed();
    for (int32_t j = 0; j < count; j++) {
      const int32_t k = begin + j, m = counts[size_t(j)];
      const int32_t *answer = rcmds.data() + int64_t(j) * N;
      for (int32_t t = 0; t < m; t++) q.recommended[size_t(answer[t])] = 1;
      for (int64_t h = data.held[size_t(k)]; h < data.held[size_t(k) + 1]; h++) {
        const int32_t *found = std::find(answer, answer + m, data.held_items[size_t(h)]);
        if (found != answer + m) q.ranks[size_t(h - held_first)] = int32_t(found - answer) + 1;
      }
      if (keep_lists) std::copy_n(answer, N, q.lists.begin() + int64_t(k - first) * N);
    }
    if (progress != nullptr) progress->Add(count);
  }
  return q;
}

RunMetrics ReduceOutcomes(const QueryOutcomes &outcomes, const EvalData &data,
                          const RunSetup &setup, std::vector<UserMetrics> *users) {
  RunMetrics m;
  m.nitems = data.ds.ncols;
  m.top = setup.top;
  m.distinct = int32_t(std::count(outcomes.recommended.begin(), outcomes.recommended.end(), 1));
  const bool item_model = setup.kind == TOVRAN_ITEM_COSINE || setup.kind == TOVRAN_ITEM_CPROB;
  const int64_t held_first = data.held[size_t(outcomes.first)];
  users->clear();
  for (int32_t k = outcomes.first; k < outcomes.last; k++) {
    const int64_t h0 = data.held[size_t(k)], h1 = data.held[size_t(k) + 1];
    const UserMetrics u =
        ScoreUser(outcomes.ranks.data() + (h0 - held_first), int32_t(h1 - h0), setup.top);
    AddUser(u, &m);
    users->push_back(u);
    m.held_out += h1 - h0;
    const int32_t *basket = data.items + data.offsets[size_t(k)];
    const int32_t *basket_end = data.items + data.offsets[size_t(k) + 1];
    for (int64_t h = h0; h < h1; h++) {
      const int32_t test = data.held_items[size_t(h)];
      if (std::find(basket, basket_end, test) != basket_end) {
        m.in_basket++;
      } else if (data.frequency[size_t(test)] == 0) {
        m.unseen++;
      } else if (item_model && data.frequency[size_t(test)] < setup.min_support) {
        m.below_support++;
      }
    }
  }
  return m;
}

TOVRAN_Params ModelParams(const RunSetup &setup, int32_t nthreads) {
  TOVRAN_Params params = TOVRAN_DefaultParams(setup.kind);
  if (setup.kind != kPopularity) params.nnbr = setup.nnbr;
  // The alpha is read for kind 2 only, the support for kinds 1 and 2.
  params.alpha = float(setup.alpha);
  if (setup.min_support > 0) params.min_support = setup.min_support;
  params.nthreads = nthreads;
  params.weighting = setup.weighting;
  params.bm25_k1 = setup.bm25_k1;
  params.bm25_b = setup.bm25_b;
  return params;
}

namespace {

// The shortest text that reads back as value.
std::string FloatText(float value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return std::string(text, ec == std::errc() ? end : text);
}

}  // namespace

std::string AlphaText(const RunSetup &setup) {
  char text[32];
  if (setup.estimate_alpha || setup.tune_alpha) {
    std::snprintf(text, sizeof text, "%.2f", setup.alpha);
    return text;
  }
  // The value the model uses: a float, so 1e-50 is 0.
  return FloatText(float(setup.alpha));
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
    if (setup.weighting != TOVRAN_WEIGHT_BINARY)
      params += std::string(", Weighting=") + kWeightingNames[setup.weighting];
    if (setup.weighting == TOVRAN_WEIGHT_BM25)
      params += ", K1=" + FloatText(setup.bm25_k1) + ", B=" + FloatText(setup.bm25_b);
    if (setup.fallback) params += ", Fallback=popular";
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
  // Every kind, the popularity baseline (kind 0) included, is an engine model.
  const TOVRAN_Params params = ModelParams(setup, settings.nthreads);
  Model *model = settings.steps.build ? settings.steps.build(data, params) : BuildModel(ds, params);
  if (model == nullptr) EngineFailed();
  std::unique_ptr<Lister> lister = std::make_unique<ModelLister>(model, setup.fallback);
  result.build_seconds = Seconds() - build_start;
  if (progress != nullptr) progress->Finish();

  const double query_start = Seconds();
  Line(out, "  Computing top-%d recommendations...\n", setup.top);
  const int32_t asked = data.baskets();
  if (progress != nullptr) progress->Start("asking users", asked);
  QueryOutcomes outcomes = settings.steps.query
                               ? settings.steps.query(*lister, data, setup, settings.nthreads,
                                                      settings.keep_lists, progress)
                               : QueryUsers(*lister, data, 0, asked, setup.top, settings.nthreads,
                                            settings.keep_lists, progress);
  if (progress != nullptr) progress->Finish();
  lister.reset();
  result.query_seconds = Seconds() - query_start;
  result.metrics = ReduceOutcomes(outcomes, data, setup, &result.users);
  result.hits = result.metrics.hits;
  result.ranks = std::move(outcomes.ranks);
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
