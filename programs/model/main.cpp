// tovran-model: builds a model file from a dataset, asks a model file for
// recommendations or similar items, describes a model file.
//
//   tovran-model build DATA MODEL --kind 0|1|2|3 [--nnbr K] [--alpha A|estimate]
//                [--min-support S] [--threads N|all] [--weighting W [--k1 K1] [--b B]]
//   tovran-model recommend MODEL [--top N] (--basket ID,... | --user ID --data DATA |
//                --baskets FILE|-) [--filter ID,...] [--items ID,...] [--keep-basket]
//                [--fallback popular] [--ids DATA] [--json]
//   tovran-model similar MODEL (--item ID | --user ID) [--top N] [--ids DATA] [--json]
//   tovran-model info MODEL
//
// Every error prints one line naming the file or the option and exits 1.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "driver/query_inputs.h"
#include "driver/run_plan.h"
#include "engine/tovran.h"
#include "util/json_writer.h"
#include "util/output_file.h"

namespace {

constexpr const char *kProgram = "tovran-model";
constexpr const char *kKindNames[] = {"popular", "item-cosine", "item-cprob", "user-based"};

// The model of path, or a Failure with the loader's reason.
struct LoadedModel {
  explicit LoadedModel(const std::string &path) : model(TOVRAN_LoadModel(path.c_str())) {
    if (model == nullptr) throw Failure{TOVRAN_LastError()};
  }
  ~LoadedModel() { TOVRAN_FreeModel(model); }
  LoadedModel(const LoadedModel &) = delete;
  LoadedModel &operator=(const LoadedModel &) = delete;
  Model *model;
};

TOVRAN_ModelInfo InfoOf(const Model *model) {
  TOVRAN_ModelInfo info;
  TOVRAN_GetModelInfo(model, &info);
  return info;
}

int Build(int argc, const char *const *argv) {
  int32_t kind = 0, nnbr = 0, min_support = 3, threads = 1, weighting = TOVRAN_WEIGHT_BINARY;
  double alpha = 0.0, k1 = 1.2, b = 0.75;
  bool estimate = true;
  cli::CommandLine line("tovran-model build", "DATA MODEL",
                        "Builds a model from every pair of DATA (nothing held out) and writes it "
                        "to MODEL.");
  line.Value("--kind", "0|1|2|3",
             "0 popularity, 1 item cosine, 2 item conditional probability, 3 user-based",
             cli::IntTo(&kind, 0, 3));
  line.Value("--nnbr", "K",
             "neighbours (default " + std::to_string(TOVRAN_DEFAULT_ITEM_NNBR) +
                 " for kinds 1 and 2, " + std::to_string(TOVRAN_DEFAULT_USER_NNBR) + " for kind 3)",
             cli::IntTo(&nnbr, 1, INT32_MAX));
  line.Value("--alpha", "A|estimate",
             "kind 2: the exponent in [0, 1], or estimate it as tovran does (the default)",
             [&](std::string_view value) -> std::string {
               estimate = value == "estimate";
               return estimate ? "" : cli::ParseReal(value, 0.0, 1.0, &alpha);
             });
  line.Value("--min-support", "S", "kinds 1 and 2: pairs an item needs to be a neighbour (3)",
             cli::IntTo(&min_support, 1, INT32_MAX));
  line.Value("--threads", "N|all",
             "threads for the build and the estimate (1; 'all': every processor)",
             cli::ThreadsTo(&threads, TOVRAN_MAX_THREADS));
  line.Value("--weighting", "W",
             "binary (the default), raw, log, bm25 or tfidf: how the pairs' values weigh",
             [&](std::string_view value) { return ParseWeighting(value, &weighting); });
  line.Value("--k1", "K1", "bm25: K1, at least 0 (1.2)",
             [&](std::string_view value) { return cli::ParseReal(value, 0.0, 1e30, &k1); });
  line.Value("--b", "B", "bm25: B in [0, 1] (0.75)",
             [&](std::string_view value) { return cli::ParseReal(value, 0.0, 1.0, &b); });
  line.Operands(2, 2);
  if (const std::optional<int> status = line.Parse(argc, argv)) return *status;
  if (!line.Given("--kind")) {
    line.PrintError("--kind: missing; give 0, 1, 2 or 3");
    return 1;
  }
  if ((line.Given("--k1") || line.Given("--b")) && weighting != TOVRAN_WEIGHT_BM25) {
    line.PrintError("--k1, --b: only --weighting bm25 reads them");
    return 1;
  }
  if (line.Given("--nnbr") && kind == TOVRAN_POPULAR) {
    line.PrintError("--nnbr: the popularity model (kind 0) has no neighbours");
    return 1;
  }
  if (line.Given("--alpha") && kind != TOVRAN_ITEM_CPROB) {
    line.PrintError("--alpha: only kind 2 has an alpha");
    return 1;
  }
  const std::string &data = line.operands()[0], &path = line.operands()[1];
  // The dataset opened for writing would be lost before it was read.
  const std::string refusal = OutputRefusal(path, data, "the dataset");
  if (!refusal.empty()) throw Failure{path + ": cannot be written: " + refusal};
  const Pairs pairs = ReadAllPairs(data, weighting != TOVRAN_WEIGHT_BINARY);
  TOVRAN_Params params = TOVRAN_DefaultParams(kind);
  if (line.Given("--nnbr")) params.nnbr = nnbr;
  params.min_support = min_support;
  params.nthreads = threads;
  params.weighting = weighting;
  params.bm25_k1 = float(k1);
  params.bm25_b = float(b);
  if (kind == TOVRAN_ITEM_CPROB) {
    if (estimate) {
      // The program's estimate: the generator as a fresh process has it.
      TOVRAN_RestartRandom();
      if (TOVRAN_EstimateAlpha(pairs.nusers, pairs.nitems, pairs.count(), pairs.users.data(),
                               pairs.items.data(), &params, 10, &alpha, nullptr) != 0)
        throw Failure{data + ": " + TOVRAN_LastError()};
    }
    params.alpha = float(alpha);
  }
  Model *model = TOVRAN_BuildWeighted(
      pairs.nusers, pairs.nitems, pairs.count(), pairs.users.data(), pairs.items.data(),
      pairs.values.empty() ? nullptr : pairs.values.data(), &params);
  if (model == nullptr) throw Failure{data + ": " + TOVRAN_LastError()};
  const int32_t saved = TOVRAN_SaveModel(model, path.c_str());
  const TOVRAN_ModelInfo info = InfoOf(model);
  TOVRAN_FreeModel(model);
  if (saved != 0) throw Failure{TOVRAN_LastError()};
  std::printf("%s: kind %d (%s)", path.c_str(), kind, kKindNames[kind]);
  if (kind != TOVRAN_POPULAR) std::printf(", nnbr %d", params.nnbr);
  if (weighting != TOVRAN_WEIGHT_BINARY) std::printf(", weighting %s", kWeightingNames[weighting]);
  if (kind == TOVRAN_ITEM_CPROB)
    std::printf(", alpha %.2f%s", double(params.alpha), estimate ? " (estimated)" : "");
  if (kind == TOVRAN_ITEM_COSINE || kind == TOVRAN_ITEM_CPROB)
    std::printf(", min support %d", params.min_support);
  std::printf(", %d users, %d items, %lld entries\n", info.nusers, info.nitems,
              static_cast<long long>(info.nentries));
  return 0;
}

// What recommend and similar read before answering: the model file (the
// operand) and the maps of --ids when given.
struct Query {
  Query(const cli::CommandLine &line, const std::string &ids_data)
      : loaded(line.operands()[0]), info(InfoOf(loaded.model)) {
    if (!line.Given("--ids")) return;
    maps.emplace(ids_data);
    // Every item the model can answer has its id.
    if (maps->nitems() != info.nitems)
      throw Failure{ids_data + ".items has " + std::to_string(maps->nitems()) +
                    " ids, the model has " + std::to_string(info.nitems) + " items"};
  }
  Model *model() const { return loaded.model; }
  const IdMaps *names() const { return maps ? &*maps : nullptr; }

  LoadedModel loaded;
  TOVRAN_ModelInfo info;
  std::optional<IdMaps> maps;
};

// Prints one answer line per recommended item.
class AnswerPrinter {
 public:
  AnswerPrinter(bool json, const IdMaps *maps) : json_(json), maps_(maps) {}

  void Print(const std::string &query, const int32_t *ids, const float *scores, int32_t m) {
    for (int32_t r = 0; r < m; r++) {
      const std::string item = maps_ ? maps_->ItemName(ids[r]) : std::to_string(ids[r]);
      if (json_) {
        // Indices are numbers; original ids are text.
        auto value = [&](const std::string &text) { return maps_ ? JsonString(text) : text; };
        std::printf("{\"query\": %s, \"rank\": %d, \"item\": %s, \"score\": %s}\n",
                    value(query).c_str(), r + 1, value(item).c_str(), JsonFloat(scores[r]).c_str());
      } else {
        std::printf("%s\t%d\t%s\t%.9g\n", query.c_str(), r + 1, item.c_str(), double(scores[r]));
      }
    }
  }

 private:
  bool json_;
  const IdMaps *maps_;
};

// The answer to one basket under options (null: none), printed.
void Answer(Model *model, const std::string &query, const std::vector<int32_t> &basket, int32_t top,
            AnswerPrinter &printer, const TOVRAN_QueryOptions *options = nullptr) {
  std::vector<int32_t> ids(static_cast<size_t>(top));
  std::vector<float> scores(static_cast<size_t>(top));
  const int32_t m = TOVRAN_RecommendFiltered(model, int32_t(basket.size()), basket.data(), top,
                                             options, ids.data(), scores.data());
  if (m < 0) throw Failure{TOVRAN_LastError()};
  printer.Print(query, ids.data(), scores.data(), m);
}

int Recommend(int argc, const char *const *argv) {
  int32_t top = TOVRAN_DEFAULT_TOP;
  std::string basket_text, user, data, baskets_file, ids_data, filter_text, items_text, fallback;
  bool json = false, keep_basket = false;
  cli::CommandLine line("tovran-model recommend", "MODEL",
                        "Recommends items for baskets. Ids are indices, or the original ids of "
                        "--ids DATA's maps.");
  line.Value("--top", "N", "answers per basket (" + std::to_string(TOVRAN_DEFAULT_TOP) + ")",
             cli::IntTo(&top, 1, 1000000));
  line.Value("--basket", "ID,ID,...", "one basket", cli::TextTo(&basket_text));
  line.Value("--user", "ID", "the basket of this user of --data", cli::TextTo(&user));
  line.Value("--data", "DATA", "the dataset --user reads", cli::TextTo(&data));
  line.Value("--baskets", "FILE|-", "one basket a line (ids separated by commas or spaces)",
             cli::TextTo(&baskets_file));
  line.Value("--ids", "DATA", "read and write the ids of DATA.users and DATA.items",
             cli::TextTo(&ids_data));
  line.Value("--filter", "ID,ID,...", "items never recommended", cli::TextTo(&filter_text));
  line.Value("--items", "ID,ID,...",
             "recommend only among these, every one ranked (unscored ones after the scored, "
             "basket items last)",
             cli::TextTo(&items_text));
  line.Flag("--keep-basket", "basket items may be recommended", &keep_basket);
  line.Value("--fallback", "popular", "fill short answers from the popularity ranking",
             [&](std::string_view value) -> std::string {
               fallback = value;
               return value == "popular" ? "" : "the only fallback is 'popular'";
             });
  line.Flag("--json", "one JSON object a line instead of query, rank, item, score", &json);
  line.Epilogue(
      "Output: query<TAB>rank<TAB>item<TAB>score, one line per answer; the query is "
      "the basket's number from 0, or the user.");
  line.Operands(1, 1);
  if (const std::optional<int> status = line.Parse(argc, argv)) return *status;
  const int sources = line.Given("--basket") + line.Given("--user") + line.Given("--baskets");
  if (sources != 1) {
    line.PrintError("--basket, --user, --baskets: give exactly one");
    return 1;
  }
  if (line.Given("--user") != line.Given("--data")) {
    line.PrintError(line.Given("--user") ? "--data: --user needs the dataset"
                                         : "--data: only --user reads it");
    return 1;
  }
  const Query query(line, ids_data);
  const IdMaps *names = query.names();
  const TOVRAN_ModelInfo &info = query.info;
  if (line.Given("--fallback") && info.npopular < 0)
    throw Failure{"--fallback: " + line.operands()[0] +
                  " carries no popularity ranking (format version 1); build it again"};
  const std::vector<int32_t> filter =
      line.Given("--filter") ? ParseItemList(filter_text, "--filter", names, info.nitems)
                             : std::vector<int32_t>{};
  const std::vector<int32_t> items = line.Given("--items")
                                         ? ParseItemList(items_text, "--items", names, info.nitems)
                                         : std::vector<int32_t>{};
  static const int32_t kNone = 0;
  const TOVRAN_QueryOptions options{
      filter.data(),
      int32_t(filter.size()),
      line.Given("--items") ? (items.empty() ? &kNone : items.data()) : nullptr,
      int32_t(items.size()),
      keep_basket,
      line.Given("--fallback")};
  AnswerPrinter printer(json, names);
  if (line.Given("--basket")) {
    Answer(query.model(), "0", ParseItemList(basket_text, "--basket", names, info.nitems), top,
           printer, &options);
  } else if (line.Given("--user")) {
    const Pairs pairs = ReadAllPairs(data);
    const int32_t u = ParseUser(user, names, pairs.nusers);
    Answer(query.model(), names ? user : std::to_string(u), pairs.BasketOf(u), top, printer,
           &options);
  } else {
    ForEachLine(baskets_file, [&](const std::string &text, int64_t number) {
      const std::string where = (baskets_file == "-" ? "standard input" : baskets_file) +
                                ": line " + std::to_string(number);
      Answer(query.model(), std::to_string(number - 1),
             ParseItemList(text, where, names, info.nitems), top, printer, &options);
    });
  }
  return 0;
}

int Similar(int argc, const char *const *argv) {
  int32_t top = TOVRAN_DEFAULT_TOP;
  std::string item, user, ids_data;
  bool json = false;
  cli::CommandLine line("tovran-model similar", "MODEL",
                        "The items most similar to one item in an item model (kind 1 or 2), or "
                        "the users most similar to one user in a user-based model (kind 3: the "
                        "user first, then by the cosine of the users' rows).");
  line.Value("--item", "ID", "the item", cli::TextTo(&item));
  line.Value("--user", "ID", "the user (kind 3)", cli::TextTo(&user));
  line.Value("--top", "N", "neighbours to print (" + std::to_string(TOVRAN_DEFAULT_TOP) + ")",
             cli::IntTo(&top, 1, 1000000));
  line.Value("--ids", "DATA", "read and write the ids of DATA.users and DATA.items",
             cli::TextTo(&ids_data));
  line.Flag("--json", "one JSON object a line instead of item, rank, neighbour, score", &json);
  line.Operands(1, 1);
  if (const std::optional<int> status = line.Parse(argc, argv)) return *status;
  if (line.Given("--item") == line.Given("--user")) {
    line.PrintError("--item, --user: give exactly one");
    return 1;
  }
  const Query query(line, ids_data);
  const IdMaps *names = query.names();
  const TOVRAN_ModelInfo &info = query.info;
  if (line.Given("--user")) {
    if (info.params.kind != TOVRAN_USER_BASED)
      throw Failure{line.operands()[0] + ": only a user-based model (kind 3) has similar users"};
    const int32_t u = ParseUser(user, names, info.nusers);
    std::vector<int32_t> ids(static_cast<size_t>(top));
    std::vector<float> scores(static_cast<size_t>(top));
    const int32_t m = TOVRAN_SimilarUsers(query.model(), u, top, ids.data(), scores.data());
    if (m < 0) throw Failure{TOVRAN_LastError()};
    for (int32_t r = 0; r < m; r++) {
      const std::string other =
          names ? names->UserName(ids[size_t(r)]) : std::to_string(ids[size_t(r)]);
      const std::string self = names ? user : std::to_string(u);
      if (json)
        std::printf("{\"query\": %s, \"rank\": %d, \"user\": %s, \"score\": %s}\n",
                    names ? JsonString(self).c_str() : self.c_str(), r + 1,
                    names ? JsonString(other).c_str() : other.c_str(),
                    JsonFloat(scores[size_t(r)]).c_str());
      else
        std::printf("%s\t%d\t%s\t%.9g\n", self.c_str(), r + 1, other.c_str(),
                    double(scores[size_t(r)]));
    }
    return 0;
  }
  if (info.params.kind == TOVRAN_USER_BASED)
    throw Failure{line.operands()[0] + ": a user-based model (kind 3) has no item neighbours"};
  AnswerPrinter printer(json, names);
  const std::vector<int32_t> basket = ParseItemList(item, "--item", names, info.nitems);
  if (basket.size() != 1) throw Failure{"--item: give one item"};
  Answer(query.model(), names ? item : std::to_string(basket[0]), basket, top, printer);
  return 0;
}

int Info(int argc, const char *const *argv) {
  cli::CommandLine line("tovran-model info", "MODEL", "Describes a model file.");
  line.Operands(1, 1);
  if (const std::optional<int> status = line.Parse(argc, argv)) return *status;
  const std::string &path = line.operands()[0];
  LoadedModel loaded(path);
  const TOVRAN_ModelInfo info = InfoOf(loaded.model);
  const FileFacts facts = ReadFileFacts(path);
  std::printf("file: %s\n", path.c_str());
  std::printf("format version: %u\n", facts.version);
  std::printf("file size: %lld bytes\n", static_cast<long long>(facts.size));
  std::printf("kind: %d (%s)\n", info.params.kind, kKindNames[info.params.kind]);
  if (info.params.kind != TOVRAN_POPULAR) std::printf("nnbr: %d\n", info.params.nnbr);
  if (info.params.kind == TOVRAN_ITEM_CPROB)
    std::printf("alpha: %.9g\n", double(info.params.alpha));
  if (info.params.kind == TOVRAN_ITEM_COSINE || info.params.kind == TOVRAN_ITEM_CPROB)
    std::printf("min support: %d\n", info.params.min_support);
  if (info.params.weighting != TOVRAN_WEIGHT_BINARY) {
    std::printf("weighting: %s\n", kWeightingNames[info.params.weighting]);
    if (info.params.weighting == TOVRAN_WEIGHT_BM25)
      std::printf("k1: %.9g\nb: %.9g\n", double(info.params.bm25_k1), double(info.params.bm25_b));
  }
  std::printf("users: %d\n", info.nusers);
  std::printf("items: %d\n", info.nitems);
  std::printf("%s: %lld\n",
              info.params.kind == TOVRAN_USER_BASED ? "pairs"
              : info.params.kind == TOVRAN_POPULAR  ? "ranked items"
                                                    : "neighbour entries",
              static_cast<long long>(info.nentries));
  return 0;
}

void PrintUsage(std::FILE *out) {
  std::fprintf(out,
               "Usage: tovran-model COMMAND ...\n"
               "  build DATA MODEL --kind 0|1|2|3 [--nnbr K] [--alpha A|estimate]\n"
               "        [--min-support S] [--threads N|all] [--weighting W [--k1 K1] [--b B]]\n"
               "  recommend MODEL [--top N] (--basket ID,ID,... | --user ID --data DATA |\n"
               "        --baskets FILE|-) [--filter ID,...] [--items ID,...] [--keep-basket]\n"
               "        [--fallback popular] [--ids DATA] [--json]\n"
               "  similar MODEL (--item ID | --user ID) [--top N] [--ids DATA] [--json]\n"
               "  info MODEL\n"
               "'tovran-model COMMAND --help' describes each command's options.\n");
}

}  // namespace

int main(int argc, char **argv) {
  std::set_new_handler(nullptr);  // exhausted memory: std::bad_alloc, reported below
  RemoveTemporariesOnSignals();
  if (argc < 2) {
    PrintUsage(stderr);
    return 1;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h") {
    PrintUsage(stdout);
    return cli::StandardOutputStatus(kProgram);
  }
  if (command == "--version") {
    std::printf("%s %s\n", kProgram, cli::ProjectVersion());
    return cli::StandardOutputStatus(kProgram);
  }
  int status = 1;
  try {
    if (command == "build")
      status = Build(argc - 1, argv + 1);
    else if (command == "recommend")
      status = Recommend(argc - 1, argv + 1);
    else if (command == "similar")
      status = Similar(argc - 1, argv + 1);
    else if (command == "info")
      status = Info(argc - 1, argv + 1);
    else {
      std::fprintf(stderr, "%s: %s: unknown command (build, recommend, similar, info)\n", kProgram,
                   command.c_str());
      return 1;
    }
  } catch (const Failure &failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, failure.message.c_str());
    return 1;
  } catch (const std::bad_alloc &) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: ***Memory allocation failed\n", kProgram);
    return 1;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "%s: standard output: %s\n", kProgram, std::strerror(errno));
    return 1;
  }
  return status;
}
