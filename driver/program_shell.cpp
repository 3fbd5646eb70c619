#include "driver/program_shell.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <memory>
#include <new>

#include "dataset/pair_times.h"
#include "dataset/pair_values.h"
#include "driver/json_report.h"
#include "driver/per_user.h"
#include "util/failure.h"
#include "util/output_file.h"

void ProgramHost::Step(const char *what, const std::function<void()> &step) {
  try {
    step();
  } catch (const std::bad_alloc &) {
    throw Failure(std::string("***Memory allocation failed for ") + what);
  }
}

DatasetPairs ProgramHost::Load(const std::string &fname) {
  DatasetPairs pairs;
  Step("the dataset", [&] { pairs = LoadPairs(fname.c_str()); });
  return pairs;
}

std::string OrderedWarning(double share) {
  if (!(share > 0.9)) return "";
  char text[400];
  std::snprintf(text, sizeof text,
                "Warning: %.0f%% of the users with 3 or more pairs list their items in "
                "ascending or descending order, so each user's last pair is an extreme item "
                "rather than a recent or random one; --split random:1 holds out a random pair.",
                100.0 * share);
  return text;
}

namespace {

// Every user's answers, run by run, as "kind user item item ...".
void WriteLists(std::FILE *out, const SequenceResult &result) {
  for (const RunResult &run : result.runs) {
    const FoldRecord &fold = result.folds[size_t(run.fold)];
    const auto N = size_t(run.setup.top);
    for (size_t q = 0; q < fold.users.size(); q++) {
      std::fprintf(out, "%d %d", run.setup.kind, fold.users[q]);
      for (size_t t = 0; t < N && run.lists[q * N + t] >= 0; t++)
        std::fprintf(out, " %d", run.lists[q * N + t]);
      std::fputc('\n', out);
    }
  }
}

// One output of the evaluation to a file: created before the runs, put in
// place once written.
struct FileOutput {
  std::string path;
  OutputFile file;
  bool wanted() const { return !path.empty() && path != "-"; }
};

}  // namespace

void RunEvaluation(ProgramHost &host, const Options &opts, double start) {
  const Protocol &protocol = opts.protocol;
  FileOutput json{opts.json, {}}, per_user{protocol.per_user, {}}, lists{opts.lists, {}};
  FileOutput *outputs[] = {&json, &per_user, &lists};
  // An output opened for writing onto the dataset would lose it before it was read.
  host.Step("the output", [&] {
    for (FileOutput *out : outputs) {
      const std::string refusal =
          host.Writes() && out->wanted() ? OutputRefusal(out->path, opts.file, "the dataset") : "";
      if (!refusal.empty()) throw Failure("Error opening file " + out->path + ": " + refusal);
    }
  });
  DatasetPairs pairs = host.Load(opts.file);
  const double loaded = host.Now();
  const SplitRule &split = protocol.split;
  host.Step("the split", [&] {
    if (split.kind == SplitRule::kKFold && split.folds > pairs.npairs)
      throw Failure("tovran: --split: " + split.text + " needs at least " +
                    std::to_string(split.folds) + " pairs, but the dataset holds " +
                    std::to_string(pairs.npairs));
  });
  if (opts.plan.weighting != TOVRAN_WEIGHT_BINARY)
    host.Step("the values", [&] {
      pairs.values = LoadPairValues(opts.file, pairs.npairs);
      // Named by the file's line here: the builds see training pairs alone.
      for (size_t i = 0; i < pairs.values.size(); i++)
        if (!(pairs.values[i] > 0.0f))
          throw Failure("Error in file " + PairValuesPath(opts.file) + ": line " +
                        std::to_string(i + 1) + ": weighting " +
                        kWeightingNames[opts.plan.weighting] + " needs values above 0");
    });
  std::vector<Timestamp> times;
  if (split.kind == SplitRule::kTime)
    host.Step("the timestamps", [&] { times = LoadPairTimes(opts.file, pairs.npairs); });
  if (split.kind == SplitRule::kLast && host.Writes()) {
    const std::string warning = OrderedWarning(OrderedShare(pairs));
    if (!warning.empty()) std::fprintf(stderr, "%s\n", warning.c_str());
  }
  // Created before the runs, so that a bad path costs no evaluation.
  for (FileOutput *out : outputs)
    if (out->wanted())
      host.Step("the output", [&] {
        std::string error;
        if (host.Writes() && !out->file.Open(out->path, &error))
          throw Failure("Error opening file " + out->path + ": " + std::strerror(errno));
      });

  Progress progress(opts.progress && host.Writes());
  EvalSettings settings;
  settings.nthreads = opts.threads;
  // A document or rows on standard output move the report to standard error.
  const bool stdout_taken = opts.json == "-" || protocol.per_user == "-";
  settings.out = stdout_taken && host.Writes() ? stderr : stdout;
  settings.detailed = opts.detailed;
  settings.keep_lists = lists.wanted();
  settings.progress = &progress;
  settings.steps = host.Steps();
  SequenceResult result = RunProtocol(
      std::move(pairs), split.kind == SplitRule::kTime ? &times : nullptr, opts.plan, protocol,
      settings,
      [&host](const char *what, const std::function<void()> &step) { host.Step(what, step); });
  const bool writes = host.Writes();
  if (writes && (opts.summary || !opts.json.empty()))
    ComputeIntervals(protocol, opts.threads, &result);
  if (opts.summary) {
    PrintSummary(settings.out, result);
    if (writes) PrintIntervals(settings.out, result);
  }
  ReportTimes report_times;
  report_times.load_seconds = loaded - start;
  report_times.total_seconds = host.Now() - start;
  const bool jsonl = PerUserAsJsonLines(protocol.per_user);
  host.Step("standard output", [&] {
    if (!writes) return;
    errno = 0;
    // A document or rows on standard output are named as such when lost;
    // the report then went to standard error, which must have taken it too.
    if (stdout_taken) {
      bool written = true;
      if (opts.json == "-") written = WriteJsonReport(stdout, opts, result, report_times);
      if (protocol.per_user == "-") written = WritePerUser(stdout, jsonl, result) && written;
      written = std::fflush(stdout) == 0 && !std::ferror(stdout) && written;
      const int reason = errno != 0 ? errno : EIO;
      if (!written)
        throw Failure(std::string(opts.json == "-" ? "Error writing the JSON document"
                                                   : "Error writing the per-user rows") +
                      " to standard output: " + std::strerror(reason));
      errno = 0;
      if (std::fflush(stderr) != 0 || std::ferror(stderr))
        throw Failure(std::string("Error writing the report to standard error: ") +
                      std::strerror(errno != 0 ? errno : EIO));
      return;
    }
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    // A line flushed during the runs may have failed first, with the reason.
    const int reason = ReportWriteError() != 0 ? ReportWriteError() : errno != 0 ? errno : EIO;
    if (failed || ReportWriteError() != 0)
      throw Failure(std::string("Error writing the report to standard output: ") +
                    std::strerror(reason));
  });
  for (FileOutput *out : outputs) {
    if (!out->wanted()) continue;
    host.Step("the output", [&] {
      if (!writes) return;
      std::FILE *stream = out->file.stream();
      bool written = true;
      errno = 0;
      if (out == &json) written = WriteJsonReport(stream, opts, result, report_times);
      if (out == &per_user) written = WritePerUser(stream, jsonl, result);
      if (out == &lists) WriteLists(stream, result);
      written = std::fflush(stream) == 0 && !std::ferror(stream) && written;
      // The first failure's reason (EIO when the system gave none).
      const int reason = errno != 0 ? errno : EIO;
      std::string error;
      if (!written || !out->file.Commit(&error))
        throw Failure("Error writing file " + out->path + ": " +
                      (written ? error : std::strerror(reason)));
    });
  }
  host.Finished(loaded - start, host.Now() - start);
}
