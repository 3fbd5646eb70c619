#include "driver/options.h"

#include "cli/command_line.h"

std::optional<int> ParseOptions(int argc, const char *const *argv, Options *opts) {
  *opts = Options{};
  cli::CommandLine line("tovran", "FILE",
                        "Evaluates the recommendation models on the dataset FILE: each user's\n"
                        "last pair is held out and looked for in the top-N list of the others.");
  line.Value("--threads", "N",
             "build and query on N threads (1 to " + std::to_string(kMaxThreads) +
                 "; default 1);\nthe report is the same for every N",
             cli::IntTo(&opts->threads, 1, kMaxThreads));
  line.Value("--json", "OUT", "also write the results as one JSON document to OUT",
             cli::TextTo(&opts->json));
  line.Operands(1, 1);
  if (std::optional<int> status = line.Parse(argc, argv)) return status;
  opts->file = line.operands()[0];
  return std::nullopt;
}
