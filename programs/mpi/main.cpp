// tovran-mpi: the evaluation of tovran spread over the ranks of an MPI job.
// Same command line, report, JSON and exit status as tovran; only rank 0
// writes. Started without mpirun it runs as a job of one rank.
#include <mpi.h>

#include <cstdio>
#include <optional>
#include <string>

#include "driver/options.h"
#include "driver/program_shell.h"
#include "programs/mpi/evaluate.h"
#include "programs/mpi/input.h"
#include "programs/mpi/job.h"
#include "programs/mpi/timings.h"
#include "util/output_file.h"

namespace {

// The options tovran-mpi adds to tovran's.
struct MpiOptions {
  bool input_given = false;  // else: byte ranges on several ranks, rank 0 alone on one
  InputMode input = InputMode::kRoot;
  bool timings = false;  // --timings: per-rank figures on standard error
};

// The evaluation's steps over the job: every rank takes each step, only
// the root writes, and a failure on any rank ends every rank.
class JobHost : public ProgramHost {
 public:
  JobHost(const Job &job, const MpiOptions &opts) : job_(job), opts_(opts) {}
  bool Writes() const override { return job_.root(); }
  void Step(const char *what, const std::function<void()> &step) override {
    RunStep(job_, what, step);
  }
  DatasetPairs Load(const std::string &fname) override {
    // Parsing by byte ranges is the faster once several nodes share it; one
    // rank parses faster on its own (bench/README.md).
    const InputMode input = opts_.input_given ? opts_.input
                            : job_.size > 1   ? InputMode::kRanks
                                              : InputMode::kRoot;
    const double start = MPI_Wtime();
    DatasetPairs pairs = SharePairs(job_, fname.c_str(), input);
    if (opts_.timings && job_.root())
      std::fprintf(stderr, "loaded in %.3f s\n", MPI_Wtime() - start);
    return pairs;
  }
  RunSteps Steps() override { return DistributedSteps(job_); }
  double Now() override { return MPI_Wtime(); }
  void Finished(double load_seconds, double total_seconds) override {
    if (opts_.timings) PrintTimings(job_, load_seconds, total_seconds);
  }

 private:
  const Job &job_;
  const MpiOptions &opts_;
};

int Run(const Job &job, int argc, char **argv) {
  const double start = MPI_Wtime();
  MpiOptions mpi_opts;
  Options opts;
  // Every rank parses the same words; only the root tells what was wrong.
  ErrorSink sink = [&job](const std::string &text) {
    if (job.root()) std::fputs(text.c_str(), stderr);
  };
  const std::optional<int> status =
      ParseOptions(argc, argv, &opts, sink, [&](cli::CommandLine &line) {
        line.Value("--input", "root|ranks",
                   "how the ranks read FILE: rank 0 alone, or each rank a byte\n"
                   "range (default: ranks on several ranks, root on one)",
                   [&](std::string_view text) {
                     mpi_opts.input_given = true;
                     mpi_opts.input = text == "root" ? InputMode::kRoot : InputMode::kRanks;
                     return text == "root" || text == "ranks"
                                ? std::string()
                                : std::string("'") + std::string(text) +
                                      "' is neither root nor ranks";
                   });
        line.Value("--lists", "OUT", "also write every user's answers, run by run, to OUT",
                   cli::TextTo(&opts.lists));
        line.Flag("--timings", "per-rank figures on standard error", &mpi_opts.timings);
      });
  if (status) return *status;
  // The ranks read byte ranges of FILE and build item lists in pieces from
  // the pairs alone: no values travel with them, nor a popularity ranking.
  if (opts.plan.weighting != TOVRAN_WEIGHT_BINARY || opts.plan.fallback) {
    if (job.root())
      std::fputs(
          "tovran-mpi: --weighting, --fallback: only tovran evaluates weighted models and "
          "fallback\n",
          stderr);
    return 1;
  }
  JobHost host(job, mpi_opts);
  RunEvaluation(host, opts, start);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  Job job;
  MPI_Comm_rank(MPI_COMM_WORLD, &job.rank);
  MPI_Comm_size(MPI_COMM_WORLD, &job.size);
  RemoveTemporariesOnSignals();
  // Only the root's report is seen; the others run the same code silently.
  if (!job.root() && std::freopen("/dev/null", "w", stdout) == nullptr)
    MPI_Abort(MPI_COMM_WORLD, 1);
  int status = 0;
  try {
    status = Run(job, argc, argv);
  } catch (const JobFailed &) {
    status = 1;
  } catch (const std::exception &error) {
    // Outside a step the other ranks may wait in a collective: end them all.
    std::fflush(stdout);
    std::fprintf(stderr, "tovran-mpi: rank %d: %s\n", job.rank, error.what());
    MPI_Abort(MPI_COMM_WORLD, 1);
  }
  MPI_Finalize();
  return status;
}
