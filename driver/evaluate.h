#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "driver/dataset.h"
#include "driver/metrics.h"
#include "driver/progress.h"
#include "driver/run_plan.h"
#include "engine/tovran.h"

// Number of recommendations asked per user unless --top says otherwise.
constexpr int32_t kTopN = TOVRAN_DEFAULT_TOP;

// Flushes the report after a line, so that a pipe or a log sees each phase
// when it happens; remembers the reason (errno) of the first flush that
// failed, which ReportWriteError returns (0 when none failed).
void FlushLine(std::FILE *out);
int ReportWriteError();

// Seconds on a monotonic clock, in double precision (microseconds or finer).
double Seconds();

// What every run over one dataset shares.
struct EvalData {
  explicit EvalData(const Dataset &ds);
  const Dataset &ds;
  const int32_t *starts;           // ds.bstart: basket b is training pairs starts[b]..starts[b+1]-1
  std::vector<int32_t> frequency;  // training pairs of each item
  int32_t baskets() const { return ds.nbaskets; }
  // The held-out item of the user of basket b.
  int32_t HeldOut(int32_t b) const { return ds.tvec[size_t(ds.rowid[size_t(starts[b])])]; }
};

// Answers top-N queries from up to nthreads threads at once, thread t with
// its own scratch (t in 0..nthreads-1).
class Recommender {
 public:
  virtual ~Recommender() = default;
  // Writes up to N items, best first, for the basket into rcmds; returns how
  // many, or -1 for a basket the recommender cannot take.
  virtual int32_t Answer(int32_t thread, int32_t n, const int32_t *basket, int32_t N,
                         int32_t *rcmds) = 0;
};

// An engine model (owned by the caller) and a scratch for each extra thread.
class ModelRecommender : public Recommender {
 public:
  ModelRecommender(Model *model, int32_t nthreads);
  ~ModelRecommender() override;
  int32_t Answer(int32_t thread, int32_t n, const int32_t *basket, int32_t N,
                 int32_t *rcmds) override;

 private:
  Model *model_;
  std::vector<TOVRAN_Scratch *> scratch_;
};

// The per-user outcome of the queries of baskets first..first+ranks.size()-1.
struct QueryOutcomes {
  int32_t first = 0;
  std::vector<int32_t> ranks;        // per basket: rank of the held-out item from 1, 0 a miss
  std::vector<uint8_t> recommended;  // per item: 1 when some list holds it
  std::vector<int32_t> lists;        // when kept: N entries per basket, -1 past the answers
};

// Asks rec for N items for every basket in [first, last) (each user's
// training items) on nthreads threads, adding one unit to progress per
// basket. Keeps every list when keep_lists. The outcomes do not depend on
// nthreads.
QueryOutcomes QueryUsers(Recommender &rec, const EvalData &data, int32_t first, int32_t last,
                         int32_t N, int32_t nthreads, bool keep_lists = false,
                         Progress *progress = nullptr);

// The metrics of a run of setup from the outcomes of its queries (one range
// or several merged in basket order), the unreachable held-out items of
// those baskets included.
RunMetrics ReduceOutcomes(const QueryOutcomes &outcomes, const EvalData &data,
                          const RunSetup &setup);

// Steps of the runs a caller may carry out its own way (over the processes
// of a job, say); each one left empty is done here. A step that fails
// returns the failure value with the reason in TOVRAN_LastError, or throws.
struct RunSteps {
  // The model of params (kinds 1..3) from the training pairs, as TOVRAN_Build
  // gives it; null on failure.
  std::function<Model *(const EvalData &data, const TOVRAN_Params &params)> build;
  // The outcomes of every basket [0, data.baskets()) in basket order, as
  // QueryUsers gives them for (rec, data, 0, data.baskets(), setup.top,
  // nthreads, keep_lists, progress).
  std::function<QueryOutcomes(Recommender &rec, const EvalData &data, const RunSetup &setup,
                              int32_t nthreads, bool keep_lists, Progress *progress)>
      query;
  // As TOVRAN_EstimateAlpha over the training pairs of ds: 0, or -1.
  std::function<int32_t(const Dataset &ds, const TOVRAN_Params &params, int32_t N, double *alpha,
                        TOVRAN_AlphaTrace *trace)>
      estimate;
};

// How a run is carried out and reported.
struct EvalSettings {
  int32_t nthreads = 1;
  std::FILE *out = stdout;  // the console report
  bool detailed = false;    // every parameter on the "Bulding model" line
  bool keep_lists = false;  // every user's list in RunResult::lists
  Progress *progress = nullptr;
  RunSteps steps;
};

// The outcome of one run.
struct RunResult {
  RunSetup setup;
  int32_t hits = 0;          // users whose held-out item was recommended
  double build_seconds = 0;  // the model (or the popularity order) alone
  double query_seconds = 0;  // the "Computing" line and the query loop
  double rate = 0;           // users of the file per second of query time
  int32_t estimation = -1;   // kind 2 with an estimated alpha: its index in the sequence
  RunMetrics metrics;
  std::vector<int32_t> lists;  // with keep_lists: QueryOutcomes::lists
};

// The engine's parameters for the model of setup (kinds 1..3), built on
// nthreads threads.
TOVRAN_Params ModelParams(const RunSetup &setup, int32_t nthreads);

// The "Bulding model [...]..." line of setup, newline included: the
// neighbour count alone, or every parameter of the kind when detailed.
std::string BuildingLine(const RunSetup &setup, bool detailed);
// Alpha as the report writes it: two decimals for an estimate, else the
// shortest text that reads back to the value.
std::string AlphaText(const RunSetup &setup);

// Prints the "Bulding" line, builds the model of setup from the training pairs
// (or the popularity order), asks it for N items for every user with a
// basket, prints the "Computing" line and the result line, and releases the
// model. Only the timings depend on settings.nthreads.
RunResult EvaluateRun(const EvalData &data, const RunSetup &setup, const EvalSettings &settings);

// The run of one model kind with N = kTopN and the default support, as the
// report prints it.
RunResult EvaluateModel(const Dataset &ds, int32_t type, int32_t nnbr, float alpha,
                        int32_t nthreads = 1);
