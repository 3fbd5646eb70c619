// tovran-mpi: the evaluation of tovran spread over the ranks of an MPI job.
// Same command line, report, JSON and exit status as tovran; only rank 0
// writes. Started without mpirun it runs as a job of one rank.
#include <fcntl.h>
#include <mpi.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "driver/json_report.h"
#include "driver/options.h"
#include "driver/progress.h"
#include "driver/run_sequence.h"
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
  const char *lists = nullptr;  // --lists OUT: every user's answers, per run
  bool timings = false;         // --timings: per-rank figures on standard error
};

// If arg is "--name" (its value the next word) or "--name=VALUE", stores the
// value and returns true.
bool TakeValue(const char *name, int argc, char **argv, int *i, const char **value) {
  const size_t len = std::strlen(name);
  const char *arg = argv[*i];
  if (std::strncmp(arg, name, len) != 0) return false;
  if (arg[len] == '=') {
    *value = arg + len + 1;
    return true;
  }
  if (arg[len] != '\0') return false;
  *value = *i + 1 < argc ? argv[++*i] : "";
  return true;
}

// Takes tovran-mpi's own options out of argv (the others stay for tovran's
// parser); false on a bad value.
bool TakeMpiOptions(int *argc, char **argv, MpiOptions *opts) {
  int kept = 1;
  bool ok = true;
  for (int i = 1; i < *argc; i++) {
    const char *value = nullptr;
    if (std::strcmp(argv[i], "--") == 0) {
      while (i < *argc) argv[kept++] = argv[i++];
      break;
    }
    if (std::strcmp(argv[i], "--timings") == 0) {
      opts->timings = true;
    } else if (TakeValue("--lists", *argc, argv, &i, &value)) {
      opts->lists = value;
      ok = ok && *value != '\0';
    } else if (TakeValue("--input", *argc, argv, &i, &value)) {
      const bool root = std::strcmp(value, "root") == 0, ranks = std::strcmp(value, "ranks") == 0;
      opts->input = root ? InputMode::kRoot : InputMode::kRanks;
      opts->input_given = true;
      ok = ok && (root || ranks);
    } else {
      argv[kept++] = argv[i];
    }
  }
  *argc = kept;
  argv[kept] = nullptr;
  return ok;
}

// Creates the root's output for path; the single-process program's
// message when it cannot.
void OpenOutput(const Job &job, const std::string &path, const std::string &dataset,
                OutputFile *out) {
  RunStep(job, "the output", [&] {
    Failure failure;
    std::string error;
    if (!job.root()) return failure;
    const std::string refusal = OutputRefusal(path, dataset, "the dataset");
    if (!refusal.empty()) {
      failure.message = "Error opening file " + path + ": " + refusal;
    } else if (!out->Open(path, &error)) {
      failure.message = "Error opening file " + path + ": " + std::strerror(errno);
    }
    return failure;
  });
}

// Puts the root's output in place once written; a failed write (write_error,
// the errno of the first failure, or 0) fails the job.
void CommitOutput(const Job &job, OutputFile *out, const std::string &path, int write_error) {
  RunStep(job, "the output", [&] {
    Failure failure;
    std::string error;
    if (job.root() && (write_error != 0 || !out->Commit(&error)))
      failure.message = "Error writing file " + path + ": " +
                        (write_error == 0 ? error : std::strerror(write_error));
    return failure;
  });
}

// The errno of a failed write to out (EIO when the system gave none), or 0.
int WriteError(std::FILE *out, bool written) {
  if (written && std::fflush(out) == 0 && std::ferror(out) == 0) return 0;
  return errno != 0 ? errno : EIO;
}

// Writes each run's answers, user by user, as "kind user item item ...".
// Returns the errno of a failed write, or 0.
int WriteLists(std::FILE *out, const Dataset &ds, const SequenceResult &result) {
  errno = 0;
  const EvalData data(ds);
  for (const RunResult &run : result.runs) {
    const auto N = size_t(run.setup.top);
    for (size_t b = 0; b < size_t(data.baskets()); b++) {
      std::fprintf(out, "%d %d", run.setup.kind, ds.rowid[size_t(data.starts[b])]);
      for (size_t t = 0; t < N && run.lists[b * N + t] >= 0; t++)
        std::fprintf(out, " %d", run.lists[b * N + t]);
      std::fputc('\n', out);
    }
  }
  return WriteError(out, true);
}

// Whether the root's report reached standard output whole.
void FinishStandardOutput(const Job &job) {
  RunStep(job, "standard output", [&] {
    Failure failure;
    errno = 0;
    if (!job.root()) return failure;
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    // A line flushed during the runs may have failed first, with the reason.
    const int reason = ReportWriteError() != 0 ? ReportWriteError() : errno != 0 ? errno : EIO;
    if (failed || ReportWriteError() != 0)
      failure.message =
          std::string("Error writing the report to standard output: ") + std::strerror(reason);
    return failure;
  });
}

int Run(const Job &job, int argc, char **argv) {
  MpiOptions mpi_opts;
  Options opts;
  if (!TakeMpiOptions(&argc, argv, &mpi_opts)) {
    if (job.root())
      std::fprintf(stderr, "tovran-mpi: --input takes root or ranks, --lists a file name\n");
    return 1;
  }
  // Every rank parses the same words; only the root tells what was wrong.
  const int saved = job.root() ? -1 : dup(STDERR_FILENO);
  if (saved >= 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    close(null);
  }
  const std::optional<int> status = ParseOptions(argc, argv, &opts);
  if (saved >= 0) {
    dup2(saved, STDERR_FILENO);
    close(saved);
  }
  if (status) return *status;
  const double start = MPI_Wtime();
  const bool json_file = !opts.json.empty() && opts.json != "-";
  OutputFile json, lists;
  // The dataset opened for writing would be lost before it was read.
  RunStep(job, "the output", [&] {
    Failure failure;
    const std::string refusal =
        json_file && job.root() ? OutputRefusal(opts.json, opts.file, "the dataset") : "";
    if (!refusal.empty()) failure.message = "Error opening file " + opts.json + ": " + refusal;
    return failure;
  });
  // Parsing by byte ranges is the faster once several nodes share it; one
  // rank parses faster on its own (bench/README.md).
  const InputMode input = mpi_opts.input_given ? mpi_opts.input
                          : job.size > 1       ? InputMode::kRanks
                                               : InputMode::kRoot;
  const Dataset ds = ShareDataset(job, opts.file.c_str(), input);
  const double loaded = MPI_Wtime();
  if (mpi_opts.timings && job.root()) std::fprintf(stderr, "loaded in %.3f s\n", loaded - start);
  // Created before the runs, so that a bad path costs no evaluation; only
  // the root writes, but every rank takes the same steps.
  if (json_file) OpenOutput(job, opts.json, opts.file, &json);
  const bool keep_lists = mpi_opts.lists != nullptr;
  if (keep_lists) OpenOutput(job, mpi_opts.lists, opts.file, &lists);
  // Only the root's report is seen; with "--json -" it moves to standard
  // error, as tovran's does.
  Progress progress(opts.progress && job.root());
  EvalSettings settings;
  settings.nthreads = opts.threads;
  settings.out = opts.json == "-" && job.root() ? stderr : stdout;
  settings.detailed = opts.detailed;
  settings.keep_lists = keep_lists;
  settings.progress = &progress;
  settings.steps = DistributedSteps(job);
  const SequenceResult result = RunAll(ds, opts.plan, settings);
  if (opts.summary) PrintSummary(settings.out, result);
  ReportTimes times;
  times.load_seconds = loaded - start;
  times.total_seconds = MPI_Wtime() - start;
  if (opts.json == "-" && job.root()) WriteJsonReport(stdout, opts, ds, result, times);
  const int lists_error = keep_lists && job.root() ? WriteLists(lists.stream(), ds, result) : 0;
  FinishStandardOutput(job);
  if (keep_lists) CommitOutput(job, &lists, mpi_opts.lists, lists_error);
  if (json_file) {
    errno = 0;
    const int json_error =
        job.root()
            ? WriteError(json.stream(), WriteJsonReport(json.stream(), opts, ds, result, times))
            : 0;
    CommitOutput(job, &json, opts.json, json_error);
  }
  if (mpi_opts.timings) PrintTimings(job, loaded - start, MPI_Wtime() - start);
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
