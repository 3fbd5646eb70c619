#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/run_plan.h"

// Runs one call may ask for unless --max-runs says otherwise: a sweep beyond
// it is refused before the dataset is read.
constexpr int64_t kDefaultMaxRuns = 100000;

// The command line of tovran: [options] FILE (ParseOptions lists the options).
struct Options {
  std::string file;       // the dataset, the one operand
  std::string json;       // --json OUT: where the JSON results go ("-": standard output), or empty
  int32_t threads = 1;    // --threads N: threads for builds and query loops
  RunPlan plan;           // --kinds, --top, --nnbr, --user-nnbr, --alpha, --min-support
  bool summary = false;   // --summary, or any option of the plan given
  bool detailed = false;  // an option of the plan given: parameters on every "Bulding" line
  bool progress = true;   // false with --no-progress
  int64_t max_runs = kDefaultMaxRuns;  // --max-runs N: the most runs a call may ask for
};

// Fills *opts from argv with the project's shared grammar (cli/). Returns
// the exit status when the program should stop: 0 after --help or --version,
// 1 after a usage error (printed on standard error); nullopt to run.
std::optional<int> ParseOptions(int argc, const char *const *argv, Options *opts);
