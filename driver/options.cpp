#include "driver/options.h"

#include <climits>

#include "cli/command_line.h"
#include "util/output_file.h"

namespace {

// Most resamples of --bootstrap.
constexpr int32_t kMaxResamples = 1000000;

// Largest values of the run parameters.
constexpr int32_t kMaxTop = 100000;
constexpr int32_t kMaxNeighbours = 1000000;
constexpr int32_t kMaxSupport = 1000000;

// Options that change the runs; any of them turns the detailed report on.
const char *const kPlanOptions[] = {"--kinds", "--top",         "--nnbr",      "--user-nnbr",
                                    "--alpha", "--min-support", "--weighting", "--fallback"};

}  // namespace

std::optional<int> ParseOptions(int argc, const char *const *argv, Options *opts,
                                const ErrorSink &sink,
                                const std::function<void(cli::CommandLine &)> &extend) {
  *opts = Options{};
  RunPlan &plan = opts->plan;
  Protocol &protocol = opts->protocol;
  cli::CommandLine line("tovran", "FILE",
                        "Evaluates top-N recommendation models on the dataset FILE: each user's\n"
                        "last pair (or the pairs --split chooses) is held out and looked for in\n"
                        "the list asked for the others.");
  if (sink) line.ErrorSink(sink);
  line.Value("--threads", "N|all",
             "build and query on N threads (1 to " + std::to_string(TOVRAN_MAX_THREADS) +
                 "; default 1), or on\nevery processor this process may use ('all');\n"
                 "the report is the same for every N",
             cli::ThreadsTo(&opts->threads, TOVRAN_MAX_THREADS));
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
  line.Value("--alpha", "A[,A...]|tune",
             "kind 2's exponent in 0..1, instead of estimating it\n"
             "(default: estimated once per nnbr, top and min-support);\n"
             "tune: the alpha of 0.0, 0.1, ..., 1.0 with the best HR@N on a\n"
             "validation part of the training pairs, split as --split says",
             [&plan](std::string_view text) {
               plan.tune_alpha = text == "tune";
               if (plan.tune_alpha) {
                 plan.alpha.clear();
                 return std::string();
               }
               return cli::ParseRealList(text, 0.0, 1.0, &plan.alpha);
             });
  line.Value("--min-support", "S[,S...]",
             "training pairs an item needs to become a neighbour in\n"
             "kinds 1 and 2 (default " +
                 std::to_string(TOVRAN_DEFAULT_MIN_SUPPORT) + ")",
             cli::IntListTo(&plan.min_support, 1, kMaxSupport));
  line.Value("--weighting", "W",
             "binary (default), raw, log, bm25 or tfidf: how the pairs' values\n"
             "(FILE.values, from tovran-convert --value) weigh in every model",
             [&plan](std::string_view text) { return ParseWeighting(text, &plan.weighting); });
  line.Value("--k1", "K1", "bm25's K1, at least 0 (default 1.2)",
             cli::FloatTo(&plan.bm25_k1, 0.0, 1e30));
  line.Value("--b", "B", "bm25's B in [0, 1] (default 0.75)", cli::FloatTo(&plan.bm25_b, 0.0, 1.0));
  line.Value("--fallback", "popular",
             "fill lists shorter than N from the popularity ranking of\n"
             "the training pairs, skipping the user's own (default: none)",
             [&plan](std::string_view text) {
               plan.fallback = text == "popular";
               return plan.fallback ? std::string()
                                    : "'" + std::string(text) + "' is not a fallback; give popular";
             });
  line.Value("--split", "SPLIT",
             "which pairs of each user are held out: last (default), last:K\n"
             "(the last K), random:K or random:F (K pairs, or the share F in\n"
             "(0,1), drawn with --seed), kfold:F (F folds, each pair in one\n"
             "test fold; F runs of the plan), time:T (pairs at or after T, an\n"
             "integer or a date; needs FILE.times from tovran-convert)",
             [&protocol](std::string_view text) { return ParseSplit(text, &protocol.split); });
  line.Value("--seed", "S",
             "the seed of random splits, folds and resamples (0 to 2^63-1;\n"
             "default 1); the same seed gives the same report everywhere",
             [&protocol](std::string_view text) {
               int64_t seed = 0;
               std::string reason = cli::ParseInt(text, int64_t{0}, INT64_MAX, &seed);
               protocol.seed = uint64_t(seed);
               return reason;
             });
  line.Value("--bootstrap", "B",
             "resamples of the users behind each 95% interval (1 to\n" +
                 std::to_string(kMaxResamples) + "; default 1000)",
             cli::IntTo(&protocol.bootstrap, 1, kMaxResamples));
  line.Value("--per-user", "OUT",
             "also write one row per run and user asked to OUT: CSV, or JSON\n"
             "lines when OUT ends in .jsonl or .json; '-' writes standard output",
             cli::TextTo(&protocol.per_user));
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
  if (extend) extend(line);
  line.Operands(1, 1);
  line.Epilogue(
      "Lists are comma-separated; every combination that applies to a kind is one run.\n"
      "\n"
      "Metrics (the summary and the JSON document), each the average over the Q\n"
      "users asked of the user's value; a user holds out the items T, and h of\n"
      "them are among the N listed, at ranks p1 < p2 < ... (from 1):\n"
      "  HR@N         1 if h > 0             recall@N     h / |T|\n"
      "  ARHR (MRR)   1/p1, 0 if h = 0       precision@N  h / N (summed: hits / (Q*N))\n"
      "  NDCG@N       sum of 1/log2(1+pk) / sum over k = 1..min(N,|T|) of 1/log2(1+k)\n"
      "  MAP@N        sum of k/pk / min(N,|T|)\n"
      "  coverage     items listed to anyone / items\n"
      "  unreachable  held-out items no list can hold: in the basket, never trained\n"
      "               on, or (kinds 1, 2) below the support\n"
      "With one held-out item each is today's leave-one-out value; the README\n"
      "defines each of them. Each interval is the 2.5th to 97.5th percentile of the\n"
      "metric over B resamples of the users asked. There is no --compare: each run\n"
      "is compared with the first run of its fold on the same resamples\n"
      "(--kinds 0,1,2 compares kinds 1 and 2 with popularity).");
  if (std::optional<int> status = line.Parse(argc, argv)) return status;
  const int64_t runs = CountRuns(plan);
  if (runs > opts->max_runs) {
    line.PrintError("the options ask for " + std::to_string(runs) + " runs, more than " +
                    std::to_string(opts->max_runs) + "; --max-runs N raises the limit");
    return 1;
  }
  if ((line.Given("--k1") || line.Given("--b")) && plan.weighting != TOVRAN_WEIGHT_BM25) {
    line.PrintError("--k1, --b: only --weighting bm25 reads them");
    return 1;
  }
  opts->file = line.operands()[0];
  for (const char *name : kPlanOptions) opts->detailed = opts->detailed || line.Given(name);
  // The rows would replace the dataset before it was read.
  const std::string refusal = !protocol.per_user.empty() && protocol.per_user != "-"
                                  ? OutputRefusal(protocol.per_user, opts->file, "the dataset")
                                  : "";
  if (!refusal.empty()) {
    line.PrintError("--per-user: " + protocol.per_user + ": " + refusal);
    return 1;
  }
  if (protocol.per_user == "-" && opts->json == "-") {
    line.PrintError("--per-user: standard output already takes the --json document");
    return 1;
  }
  opts->summary = opts->summary || opts->detailed;
  return std::nullopt;
}
