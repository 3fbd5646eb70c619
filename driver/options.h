#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "driver/run_plan.h"
#include "driver/split.h"

// How the runs are measured: the split, the draws and the intervals.
struct Protocol {
  SplitRule split;           // --split (default: each user's last pair)
  uint64_t seed = 1;         // --seed: random splits, folds and resamples
  int32_t bootstrap = 1000;  // --bootstrap: resamples behind each interval
  std::string per_user;      // --per-user OUT: one row per (run, user asked), or empty
  // Whether the split is other than each user's last pair alone, which the
  // report then names.
  bool Named() const { return !(split.kind == SplitRule::kLast && split.count == 1); }
};

// Runs one call may ask for unless --max-runs says otherwise: a sweep beyond
// it is refused before the dataset is read.
constexpr int64_t kDefaultMaxRuns = 100000;

// The command line of tovran: [options] FILE (ParseOptions lists the options).
struct Options {
  std::string file;       // the dataset, the one operand
  std::string json;       // --json OUT: where the JSON results go ("-": standard output), or empty
  int32_t threads = 1;    // --threads N: threads for builds and query loops
  RunPlan plan;           // --kinds, --top, --nnbr, --user-nnbr, --alpha, --min-support
  Protocol protocol;      // --split, --seed, --bootstrap, --per-user
  bool summary = false;   // --summary, or any option of the plan given
  bool detailed = false;  // an option of the plan given: parameters on every "Bulding" line
  bool progress = true;   // false with --no-progress
  int64_t max_runs = kDefaultMaxRuns;  // --max-runs N: the most runs a call may ask for
  std::string lists;                   // tovran-mpi's --lists OUT: every user's answers, or empty
};

// Where a usage error's text goes (the whole text, newlines included).
using ErrorSink = std::function<void(const std::string &text)>;

// Fills *opts from argv with the project's shared grammar (cli/); extend,
// when given, adds a program's own options. Returns the exit status when
// the program should stop: 0 after --help or --version, 1 after a usage
// error (given to sink; unset: standard error); nullopt to run.
std::optional<int> ParseOptions(int argc, const char *const *argv, Options *opts,
                                const ErrorSink &sink = nullptr,
                                const std::function<void(cli::CommandLine &)> &extend = nullptr);
