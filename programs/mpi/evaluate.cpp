#include "programs/mpi/evaluate.h"

#include "engine/tovran.h"
#include "programs/mpi/alpha.h"
#include "programs/mpi/build.h"
#include "programs/mpi/query.h"

RunSteps DistributedSteps(const Job &job) {
  RunSteps steps;
  steps.build = [job](const EvalData &data, const TOVRAN_Params &params) {
    const Dataset &ds = data.ds;
    Model *model = nullptr;
    if (params.kind == TOVRAN_ITEM_COSINE || params.kind == TOVRAN_ITEM_CPROB)
      return BuildItemModelOverJob(job, ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(),
                                   ds.colid.get(), params);
    // The user-based model is the matrix itself, the popularity model one
    // count per item: nothing to share out.
    RunStep(job, kModelStep, [&] {
      model = TOVRAN_Build(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(), &params);
      if (model == nullptr) throw Failure{TOVRAN_LastError()};
    });
    return model;
  };
  steps.query = [job](Lister &lister, const EvalData &data, const RunSetup &setup, int32_t nthreads,
                      bool keep_lists, Progress *progress) {
    return QueryBlocks(job, lister, data, setup, nthreads, keep_lists, progress);
  };
  steps.estimate = [job](const Dataset &ds, const TOVRAN_Params &params, int32_t N, double *alpha,
                         TOVRAN_AlphaTrace *trace) {
    return EstimateAlphaOverJob(job, ds, params, N, alpha, trace);
  };
  return steps;
}
