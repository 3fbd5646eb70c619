#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/metrics.h"
#include "driver/progress.h"
#include "driver/run_plan.h"
#include "driver/split.h"
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

// What every run over one split shares: the users asked (those with a
// basket and held-out items, in basket order), their baskets as one batch
// and their held-out items in the same order.
struct EvalData {
  explicit EvalData(const Dataset &ds);
  const Dataset &ds;
  std::vector<int32_t> frequency;  // training pairs of each item
  std::vector<int32_t> users;      // user of asked k
  std::vector<int64_t> offsets;    // asked k's basket: items[offsets[k] .. offsets[k+1]-1]
  const int32_t *items = nullptr;  // the training items, or the asked users' gathered
  std::vector<int32_t> gathered;   // the baskets, when not every basket is asked
  std::vector<int64_t> held;       // asked k's held-out items: held_items[held[k] .. held[k+1]-1]
  std::vector<int32_t> held_items;
  int32_t baskets() const { return int32_t(users.size()); }
  int32_t HeldCount(int32_t k) const { return int32_t(held[size_t(k) + 1] - held[size_t(k)]); }
};

// Lists from a model, many baskets at a time.
class Lister {
 public:
  virtual ~Lister() = default;
  // As TOVRAN_RecommendBatch: basket b holds items[offsets[b] ..
  // offsets[b+1]-1]; its answers go to rcmds[b*N ..], -1 past them, their
  // number to counts[b]. False with the reason in TOVRAN_LastError.
  virtual bool Lists(int32_t nbaskets, const int64_t *offsets, const int32_t *items, int32_t N,
                     int32_t nthreads, int32_t *rcmds, int32_t *counts) = 0;
};

// An engine model, owned by the caller.
class ModelLister : public Lister {
 public:
  // fallback: short lists are filled from the model's popularity ranking.
  explicit ModelLister(const Model *model, bool fallback = false)
      : model_(model), fallback_(fallback) {}
  bool Lists(int32_t nbaskets, const int64_t *offsets, const int32_t *items, int32_t N,
             int32_t nthreads, int32_t *rcmds, int32_t *counts) override;

 private:
  const Model *model_;
  bool fallback_;
};

// The model of params on the training pairs of ds, weighing their values
// when ds holds them (TOVRAN_BuildWeighted); null with the reason in
// TOVRAN_LastError.
Model *BuildModel(const Dataset &ds, const TOVRAN_Params &params);

// The outcome of the queries of asked users first..last-1.
struct QueryOutcomes {
  int32_t first = 0, last = 0;
  // Per held-out item of those users (EvalData::held order): its rank in
  // the user's list from 1, 0 when not listed.
  std::vector<int32_t> ranks;
  std::vector<uint8_t> recommended;  // per item: 1 when some list holds it
  std::vector<int32_t> lists;        // when kept: N entries per user, -1 past the answers
};

// Asks lister for N items for every asked user in [first, last) (each
// user's training items) on nthreads threads, adding one unit to progress
// per user. Keeps every list when keep_lists. The outcomes do not depend on
// nthreads. A failed batch ends the process with the engine's reason.
QueryOutcomes QueryUsers(Lister &lister, const EvalData &data, int32_t first, int32_t last,
                         int32_t N, int32_t nthreads, bool keep_lists = false,
                         Progress *progress = nullptr);

// Steps of the runs a caller may carry out its own way (over the processes
// of a job, say); each one left empty is done here. A step that fails
// returns the failure value with the reason in TOVRAN_LastError, or throws.
struct RunSteps {
  // The model of params (kinds 0..3) from the training pairs, as TOVRAN_Build
  // gives it; null on failure.
  std::function<Model *(const EvalData &data, const TOVRAN_Params &params)> build;
  // The outcomes of every asked user [0, data.baskets()), as QueryUsers
  // gives them for (lister, data, 0, data.baskets(), setup.top, nthreads,
  // keep_lists, progress).
  std::function<QueryOutcomes(Lister &lister, const EvalData &data, const RunSetup &setup,
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
  int32_t fold = 0;          // the split's fold the run was on
  int32_t hits = 0;          // users with a held-out item listed
  double build_seconds = 0;  // the model (or the popularity order) alone
  double query_seconds = 0;  // the "Computing" line and the query loop
  double rate = 0;           // users of the file per second of query time
  int32_t estimation = -1;   // kind 2 with an estimated alpha: its index in the sequence
  RunMetrics metrics;
  std::vector<UserMetrics> users;  // per asked user, in EvalData order
  std::vector<int32_t> ranks;      // QueryOutcomes::ranks
  std::vector<int32_t> lists;      // with keep_lists: QueryOutcomes::lists
};

// The metrics of a run of setup from the outcomes of every asked user, and
// each user's own values.
RunMetrics ReduceOutcomes(const QueryOutcomes &outcomes, const EvalData &data,
                          const RunSetup &setup, std::vector<UserMetrics> *users);

// The engine's parameters for the model of setup (kinds 0..3), built on
// nthreads threads.
TOVRAN_Params ModelParams(const RunSetup &setup, int32_t nthreads);

// The "Bulding model [...]..." line of setup, newline included: the
// neighbour count alone, or every parameter of the kind when detailed.
std::string BuildingLine(const RunSetup &setup, bool detailed);
// Alpha as the report writes it: two decimals for an estimate or a tuned
// value, else the
// shortest text that reads back to the value.
std::string AlphaText(const RunSetup &setup);

// Prints the "Bulding" line, builds the model of setup from the training pairs
// (or the popularity order), asks it for N items for every user asked,
// prints the "Computing" line and the result line, and releases the model.
// Only the timings depend on settings.nthreads.
RunResult EvaluateRun(const EvalData &data, const RunSetup &setup, const EvalSettings &settings);

// The run of one model kind with N = kTopN and the default support, as the
// report prints it.
RunResult EvaluateModel(const Dataset &ds, int32_t type, int32_t nnbr, float alpha,
                        int32_t nthreads = 1);
