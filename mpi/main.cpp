// tovran-mpi: the evaluation of tovran spread over the ranks of an MPI job.
// Same command line, report, JSON and exit status as tovran; only rank 0
// writes. Started without mpirun it runs as a job of one rank.
#include <mpi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/json_report.h"
#include "driver/options.h"
#include "mpi/evaluate.h"
#include "mpi/input.h"
#include "mpi/job.h"
#include "mpi/timings.h"

namespace {

// The options tovran-mpi adds to tovran's.
struct MpiOptions {
  InputMode input = InputMode::kRoot;
  const char *lists = nullptr;  // --lists OUT: every user's answers, per run
  bool timings = false;         // --timings: per-rank figures on standard error
};

// Takes tovran-mpi's own options out of argv; false on a bad value.
bool TakeMpiOptions(int *argc, char **argv, MpiOptions *opts) {
  int kept = 1;
  bool ok = true;
  for (int i = 1; i < *argc; i++) {
    const char *arg = argv[i];
    if (std::strcmp(arg, "--") == 0) {
      while (i < *argc) argv[kept++] = argv[i++];
      break;
    }
    if (std::strcmp(arg, "--timings") == 0) {
      opts->timings = true;
    } else if (std::strcmp(arg, "--input") == 0 || std::strcmp(arg, "--lists") == 0) {
      const char *value = i + 1 < *argc ? argv[++i] : "";
      if (arg[2] == 'l') {
        opts->lists = value;
        ok = ok && *value != '\0';
      } else if (std::strcmp(value, "root") == 0) {
        opts->input = InputMode::kRoot;
      } else if (std::strcmp(value, "ranks") == 0) {
        opts->input = InputMode::kRanks;
      } else {
        ok = false;
      }
    } else {
      argv[kept++] = argv[i];
    }
  }
  *argc = kept;
  argv[kept] = nullptr;
  return ok;
}

// Opens path for writing on the root; the single-process program's message
// when it cannot.
std::FILE *OpenOutput(const Job &job, const char *path) {
  std::FILE *out = nullptr;
  RunStep(job, "the output", [&] {
    Failure failure;
    if (job.root() && (out = std::fopen(path, "w")) == nullptr) {
      failure.message = std::string("Error opening file ") + path;
      failure.stream = stdout;
    }
    return failure;
  });
  return out;
}

// Closes an output of the root after the write; a failed write fails the job.
void CloseOutput(const Job &job, std::FILE *out, const char *path, bool written) {
  RunStep(job, "the output", [&] {
    Failure failure;
    if (job.root() && (std::fclose(out) != 0 || !written))
      failure.message = std::string("Error writing file ") + path;
    return failure;
  });
}

int Run(const Job &job, int argc, char **argv) {
  MpiOptions mpi_opts;
  Options opts;
  if (!TakeMpiOptions(&argc, argv, &mpi_opts) || !ParseOptions(argc, argv, &opts)) {
    PrintUsage(argv[0]);
    if (job.root())
      std::printf("       tovran-mpi also takes --input root|ranks, --lists OUT and --timings\n");
    return 1;
  }
  const double start = MPI_Wtime();
  const Dataset ds = LoadDataset(job, opts.file, mpi_opts.input);
  const double loaded = MPI_Wtime();
  // Opened before the runs, so that a bad path costs no evaluation.
  // Only the root holds the streams; every rank takes the same steps.
  std::FILE *json = opts.json != nullptr ? OpenOutput(job, opts.json) : nullptr;
  std::FILE *lists = mpi_opts.lists != nullptr ? OpenOutput(job, mpi_opts.lists) : nullptr;
  const DistributedData data = PrepareData(job, ds, mpi_opts.lists != nullptr, lists);
  const SequenceResult result = RunAllDistributed(job, data, opts.threads);
  std::fflush(stdout);
  if (mpi_opts.lists != nullptr)
    CloseOutput(job, lists, mpi_opts.lists, !job.root() || !std::ferror(lists));
  if (opts.json != nullptr) {
    const bool written = !job.root() || WriteJsonReport(json, opts.file, ds, result);
    CloseOutput(job, json, opts.json, written);
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
  // Only the root's report is seen; the others run the same code silently.
  if (!job.root() && std::freopen("/dev/null", "w", stdout) == nullptr) MPI_Abort(MPI_COMM_WORLD, 1);
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
