#include "driver/options.h"

#include "cli/command_line.h"

namespace {

// Largest values of the run parameters.
constexpr int32_t kMaxTop = 100000;
constexpr int32_t kMaxNeighbours = 1000000;
constexpr int32_t kMaxSupport = 1000000;

// Options that change the runs; any of them turns the detailed report on.
const char *const kPlanOptions[] = {"--kinds",     "--top",   "--nnbr",
                                    "--user-nnbr", "--alpha", "--min-support"};

}  // namespace

std::optional<int> ParseOptions(int argc, const char *const *argv, Options *opts) {
  *opts = Options{};
  RunPlan &plan = opts->plan;
  cli::CommandLine line("tovran", "FILE",
                        "Evaluates top-N recommendation models on the dataset FILE: each user's\n"
                        "last pair is held out and looked for in the list asked for the others.");
  line.Value("--threads", "N",
             "build and query on N threads (1 to " + std::to_string(TOVRAN_MAX_THREADS) +
                 "; default 1);\nthe report is the same for every N",
             cli::IntTo(&opts->threads, 1, TOVRAN_MAX_THREADS));
  line.Value("--json", "OUT",
             "also write the results as one JSON document to OUT; '-' writes\n"
             "it to standard output and the report to standard error",
             cli::TextTo(&opts->json));
  line.Value("--kinds", "LIST",
             "runs, in the order given (default 1,2,3): 0 popularity baseline,\n"
             "1 item cosine, 2 item conditional probability, 3 user-based",
             cli::IntListTo(&plan.kinds, 0, 3));
  line.Value("--top", "N[,N...]",
             "items asked per user (default " + std::to_string(TOVRAN_DEFAULT_TOP) + ")",
             cli::IntListTo(&plan.top, 1, kMaxTop));
  line.Value("--nnbr", "K[,K...]",
             "neighbours kept per item in kinds 1 and 2 (default " +
                 std::to_string(TOVRAN_DEFAULT_ITEM_NNBR) + ")",
             cli::IntListTo(&plan.nnbr, 1, kMaxNeighbours));
  line.Value("--user-nnbr", "K[,K...]",
             "neighbour users of kind 3 (default " + std::to_string(TOVRAN_DEFAULT_USER_NNBR) + ")",
             cli::IntListTo(&plan.user_nnbr, 1, kMaxNeighbours));
  line.Value("--alpha", "A[,A...]",
             "kind 2's exponent in 0..1, instead of estimating it\n"
             "(default: estimated once per nnbr, top and min-support)",
             cli::RealListTo(&plan.alpha, 0.0, 1.0));
  line.Value("--min-support", "S[,S...]",
             "training pairs an item needs to become a neighbour in\n"
             "kinds 1 and 2 (default " +
                 std::to_string(TOVRAN_DEFAULT_MIN_SUPPORT) + ")",
             cli::IntListTo(&plan.min_support, 1, kMaxSupport));
  line.Flag("--summary",
            "after the runs, a table of every run's metrics\n"
            "(the default when an option of the runs above is given)",
            &opts->summary);
  line.Value("--max-runs", "N",
             "refuse a sweep of more than N runs before any work\n(default " +
                 std::to_string(kDefaultMaxRuns) + ")",
             [opts](std::string_view text) {
               return cli::ParseInt(text, int64_t{1}, INT64_MAX, &opts->max_runs);
             });
  line.Flag("--no-progress", "no progress line on a terminal's standard error",
            [opts] { opts->progress = false; });
  line.Operands(1, 1);
  line.Epilogue(
      "Lists are comma-separated; every combination that applies to a kind is one run.\n"
      "\n"
      "Metrics (the summary and the JSON document), over the Q users asked, p being\n"
      "the rank of a user's held-out item in the list:\n"
      "  HR@N         hits / Q               recall@N     hits / Q (one held-out item)\n"
      "  ARHR         sum of 1/p / Q         precision@N  hits / (Q * N)\n"
      "  NDCG@N       sum of 1/log2(1+p) / Q coverage     items listed / items\n"
      "  unreachable  held-out items no list can hold: in the basket, never trained\n"
      "               on, or (kinds 1, 2) below the support\n"
      "The README defines each of them.");
  if (std::optional<int> status = line.Parse(argc, argv)) return status;
  const int64_t runs = CountRuns(plan);
  if (runs > opts->max_runs) {
    line.PrintError("the options ask for " + std::to_string(runs) + " runs, more than " +
                    std::to_string(opts->max_runs) + "; --max-runs N raises the limit");
    return 1;
  }
  opts->file = line.operands()[0];
  for (const char *name : kPlanOptions) opts->detailed = opts->detailed || line.Given(name);
  opts->summary = opts->summary || opts->detailed;
  return std::nullopt;
}
