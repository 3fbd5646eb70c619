#include "programs/mpi/evaluate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "driver/evaluate.h"
#include "driver/metrics.h"
#include "engine/tovran.h"
#include "programs/mpi/query.h"
#include "programs/mpi/split.h"

namespace {

constexpr int32_t kItemNeighbours = 20;
constexpr int32_t kUserNeighbours = 50;

void PrintSeparator() {
  std::printf("-----------------------------------------------------------------------------\n");
}

// "Bulding" is the report's own spelling, kept so reports compare line for line.
void PrintBuilding(int32_t nnbr) { std::printf("  Bulding model [NNbr=%d]...\n", nnbr); }

// Writes each basket's answers as "kind user item item ...".
void WriteLists(std::FILE *out, int32_t type, const Dataset &ds, const QuerySet &set,
                const std::vector<int32_t> &lists, int32_t N) {
  for (size_t b = 0; b + 1 < set.starts.size(); b++) {
    std::fprintf(out, "%d %d", type, ds.rowid[set.starts[b]]);
    for (int32_t t = 0; t < N && lists[b * size_t(N) + size_t(t)] >= 0; t++)
      std::fprintf(out, " %d", lists[b * size_t(N) + size_t(t)]);
    std::fputc('\n', out);
  }
}

}  // namespace

DistributedData PrepareData(const Job &job, const Dataset &ds, bool keep_lists, std::FILE *lists) {
  DistributedData data;
  data.ds = &ds;
  data.keep_lists = keep_lists;
  data.lists = lists;
  RunStep(job, "the work estimates", [&] {
    data.collen.assign(size_t(ds.ncols), 0);
    for (int32_t i = 0; i < ds.ntrain; i++) data.collen[size_t(ds.colid[i])]++;
    return Failure{};
  });
  return data;
}

RunResult EvaluateDistributed(const Job &job, const DistributedData &data, int32_t type,
                              int32_t nnbr, float alpha, int32_t nthreads) {
  const Dataset &ds = *data.ds;
  RunResult result;
  result.setup.kind = type;
  result.setup.top = kTopN;
  result.setup.nnbr = nnbr;
  result.setup.min_support = type == TOVRAN_USER_BASED ? 0 : kDefaultSupport;
  result.setup.alpha = alpha;

  const double build_start = MPI_Wtime();
  Model *model = nullptr;
  RunStep(job, "the model", [&] {
    TOVRAN_Params params = TOVRAN_DefaultParams(type);
    params.nnbr = nnbr;
    params.alpha = alpha;
    params.nthreads = nthreads;
    model = TOVRAN_Build(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(), &params);
    return model != nullptr ? Failure{} : Failure{TOVRAN_LastError()};
  });
  result.build_seconds = MPI_Wtime() - build_start;

  const double query_start = MPI_Wtime();
  std::printf("  Computing top-10 recommendations...\n");
  QuerySet set;
  RunStep(job, "the query set", [&] {
    set.starts = BasketStarts(ds.rowid.get(), ds.ntrain);
    set.items = ds.colid.get();
    set.tests.resize(set.starts.size() - 1);
    for (size_t b = 0; b < set.tests.size(); b++) set.tests[b] = ds.tvec[ds.rowid[set.starts[b]]];
    if (type == TOVRAN_USER_BASED) {
      UserQueryWork(&set, data.collen);
    } else {
      ItemQueryWork(&set);
    }
    return Failure{};
  });
  const QueryOutcome outcome =
      QueryBlocks(job, model, ds.ncols, set, kTopN, nthreads, data.keep_lists);
  result.query_seconds = MPI_Wtime() - query_start;
  QueryOutcomes outcomes;
  outcomes.ranks.assign(outcome.positions.begin(), outcome.positions.end());
  outcomes.recommended = outcome.seen;
  result.metrics = ReduceOutcomes(outcomes, EvalData(ds), result.setup);
  result.hits = result.metrics.hits;
  result.rate = double(ds.nrows) / result.query_seconds;
  // Every rank reports the root's timings.
  double timings[3] = {result.build_seconds, result.query_seconds, result.rate};
  MPI_Bcast(timings, 3, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  result.build_seconds = timings[0];
  result.query_seconds = timings[1];
  result.rate = timings[2];

  std::printf("    Nhits: %d, InitTime: %.2f secs, TopN-Rate: %.2f rcmds/sec\n\n", result.hits,
              result.build_seconds, result.rate);
  if (job.root() && data.keep_lists) WriteLists(data.lists, type, ds, set, outcome.lists, kTopN);
  TOVRAN_FreeModel(model);
  return result;
}

SequenceResult RunAllDistributed(const Job &job, const DistributedData &data, int32_t nthreads) {
  const Dataset &ds = *data.ds;
  SequenceResult result;
  std::printf("Dataset Statistics: Nusers: %d, Nitems: %d, Ntrans; %d\n", ds.nrows, ds.ncols,
              ds.ntrain);
  PrintSeparator();

  std::printf("Testing RType=1...\n");
  PrintBuilding(kItemNeighbours);
  result.runs.push_back(
      EvaluateDistributed(job, data, TOVRAN_ITEM_COSINE, kItemNeighbours, 0.0f, nthreads));
  PrintSeparator();

  std::printf("Testing RType=2...\n");
  std::printf("  Estimating Alpha...");
  std::fflush(stdout);
  double estimate = 0.0;
  RunStep(job, "the estimate of Alpha", [&] {
    TOVRAN_Params params = TOVRAN_DefaultParams(TOVRAN_ITEM_CPROB);
    params.nnbr = kItemNeighbours;
    params.nthreads = nthreads;
    TOVRAN_AlphaTrace trace;
    if (TOVRAN_EstimateAlpha(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(),
                             &params, kTopN, &estimate, &trace) != 0)
      return Failure{TOVRAN_LastError()};
    AlphaEstimation e;
    e.top = kTopN;
    e.nnbr = kItemNeighbours;
    e.min_support = kDefaultSupport;
    e.step = int32_t(std::lround(estimate * 10));
    e.tried = trace.ntried;
    std::copy_n(trace.hits, trace.ntried, e.hits);
    result.estimations.push_back(e);
    return Failure{};
  });
  std::printf("  Alpha=%.2f\n", estimate);
  PrintBuilding(kItemNeighbours);
  result.runs.push_back(
      EvaluateDistributed(job, data, TOVRAN_ITEM_CPROB, kItemNeighbours, float(estimate), nthreads));
  result.runs.back().setup.estimate_alpha = true;
  result.runs.back().estimation = 0;
  PrintSeparator();

  std::printf("Testing RType=3...\n");
  PrintBuilding(kUserNeighbours);
  result.runs.push_back(
      EvaluateDistributed(job, data, TOVRAN_USER_BASED, kUserNeighbours, 0.0f, nthreads));
  return result;
}
