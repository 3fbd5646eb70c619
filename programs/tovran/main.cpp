#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "driver/dataset.h"
#include "driver/evaluate.h"
#include "driver/json_report.h"
#include "driver/options.h"
#include "driver/progress.h"
#include "driver/run_sequence.h"
#include "util/checked_alloc.h"
#include "util/fatal_error.h"
#include "util/output_file.h"

namespace {

// Every line of the report is in standard output's buffer or written; true
// if some write failed (a full disk, a closed pipe), so that the report is
// incomplete. Closes standard output.
bool StandardOutputFailed() {
  errno = 0;
  const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  // A line flushed during the runs may have failed first, with the reason.
  const int reason = ReportWriteError() != 0 ? ReportWriteError() : errno != 0 ? errno : EIO;
  if (std::fclose(stdout) == 0 && !failed) return false;
  std::fprintf(stderr, "Error writing the report to standard output: %s\n",
               std::strerror(failed ? reason : errno));
  return true;
}

int Run(const Options &opts, double start) {
  const char *path = opts.json.c_str();
  const bool to_file = !opts.json.empty() && opts.json != "-";
  // The dataset opened for writing would be lost before it was read.
  const std::string refusal = to_file ? OutputRefusal(opts.json, opts.file, "the dataset") : "";
  if (!refusal.empty()) {
    std::fprintf(stderr, "Error opening file %s: %s\n", path, refusal.c_str());
    return 1;
  }
  const Dataset ds = ReadDataset(opts.file.c_str());
  ReportTimes times;
  times.load_seconds = Seconds() - start;
  // Created before the runs, so that a bad path costs no evaluation; put in
  // place only once complete, so that a failed run leaves an earlier file.
  OutputFile json;
  std::string error;
  if (to_file && !json.Open(opts.json, &error)) {
    if (errno == ENOMEM) AllocationFailed("fopen: stream", int64_t{sizeof(std::FILE)});
    std::fprintf(stderr, "Error opening file %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  Progress progress(opts.progress);
  EvalSettings settings;
  settings.nthreads = opts.threads;
  // "--json -": the document takes standard output, the report moves to
  // standard error.
  settings.out = opts.json == "-" ? stderr : stdout;
  settings.detailed = opts.detailed;
  settings.progress = &progress;
  const SequenceResult result = RunAll(ds, opts.plan, settings);
  if (opts.summary) PrintSummary(settings.out, result);
  times.total_seconds = Seconds() - start;
  if (opts.json == "-") {
    // The document is what standard output holds; the report went to
    // standard error, which must have taken it whole too.
    errno = 0;
    const bool written = WriteJsonReport(stdout, opts, ds, result, times);
    const int reason = errno != 0 ? errno : EIO;
    std::fclose(stdout);
    if (!written) {
      std::fprintf(stderr, "Error writing the JSON document to standard output: %s\n",
                   std::strerror(reason));
      return 1;
    }
    return std::fflush(stderr) != 0 || std::ferror(stderr) != 0 ? 1 : 0;
  }
  if (StandardOutputFailed()) return 1;
  if (to_file &&
      (!WriteJsonReport(json.stream(), opts, ds, result, times) || !json.Commit(&error))) {
    std::fprintf(stderr, "Error writing file %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  const double start = Seconds();
  // Exhausted memory in the standard library (its strings and lists) ends
  // the program with the labelled message too; with the heap that short, not
  // even an exception could be thrown.
  std::set_new_handler(
      [] { FatalError("***Memory allocation failed for the program's working lists."); });
  RemoveTemporariesOnSignals();
  Options opts;
  if (const std::optional<int> status = ParseOptions(argc, argv, &opts)) return *status;
  return Run(opts, start);
}
