// tovran-model end to end on the shipped sample: the answers it prints are
// the library's for the model file it wrote, ids go through the converter's
// maps, and every error is one line naming the file or option, status 1.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "engine/tovran.h"
#include "tests/fixtures.h"
#include "tests/program_runner.h"

namespace {

const std::string kSample = TOVRAN_SOURCE_DIR "/data/sample.txt";

ProgramOutput RunModel(const std::vector<std::string> &args, const std::string &input = "") {
  return RunProgram(TOVRAN_MODEL_PROGRAM, args, input);
}

// The lines "query<TAB>rank<TAB>item<TAB>score" the library gives for basket.
std::string LibraryLines(const std::string &model_path, const std::string &query,
                         const std::vector<int32_t> &basket, int32_t top) {
  Model *model = TOVRAN_LoadModel(model_path.c_str());
  EXPECT_NE(model, nullptr) << TOVRAN_LastError();
  std::vector<int32_t> ids(static_cast<size_t>(top));
  std::vector<float> scores(static_cast<size_t>(top));
  const int32_t m = TOVRAN_RecommendScored(model, int32_t(basket.size()), basket.data(), top,
                                           ids.data(), scores.data());
  TOVRAN_FreeModel(model);
  std::string lines;
  for (int32_t r = 0; r < m; r++) {
    char line[96];
    std::snprintf(line, sizeof line, "%s\t%d\t%d\t%.9g\n", query.c_str(), r + 1, ids[size_t(r)],
                  double(scores[size_t(r)]));
    lines += line;
  }
  return lines;
}

// User u's items of the sample, in file order (every pair, none held out).
std::vector<int32_t> SampleBasket(int32_t u) {
  const PairList p = PairsOfText(ReadFile(kSample));
  std::vector<int32_t> basket;
  for (size_t k = 0; k < p.rows.size(); k++)
    if (p.rows[k] == u) basket.push_back(p.cols[k]);
  return basket;
}

TEST(ModelProgram, PrintsTheLibrarysAnswersForTheModelItWrote) {
  for (const char *kind : {"1", "2", "3"}) {
    const std::string model = TempPath(std::string("kind") + kind + ".tovran");
    std::vector<std::string> args = {"build", kSample, model, "--kind", kind, "--threads", "2"};
    if (kind[0] == '2') args.insert(args.end(), {"--alpha", "0.3"});
    const ProgramOutput build = RunModel(args);
    ASSERT_EQ(build.status, 0) << build.err;
    EXPECT_EQ(build.err, "");
    const ProgramOutput basket = RunModel({"recommend", model, "--basket", "3,7,9", "--top", "5"});
    EXPECT_EQ(basket.out, LibraryLines(model, "0", {3, 7, 9}, 5)) << "kind " << kind;
    const ProgramOutput user = RunModel({"recommend", model, "--user", "4", "--data", kSample});
    EXPECT_EQ(user.out, LibraryLines(model, "4", SampleBasket(4), 10));
    EXPECT_NE(user.out, "");
    // Baskets from standard input: one a line, numbered from 0; a blank line has no answers.
    const ProgramOutput lines = RunModel({"recommend", model, "--baskets", "-", "--top", "3"},
                                         "printf '3 7,9\\n\\n5\\n' |");
    EXPECT_EQ(lines.out, LibraryLines(model, "0", {3, 7, 9}, 3) + LibraryLines(model, "2", {5}, 3));
  }
  const std::string item_model = TempPath("kind1.tovran");
  EXPECT_EQ(RunModel({"similar", item_model, "--item", "4", "--top", "3"}).out,
            LibraryLines(item_model, "4", {4}, 3));
}

// A weighted build reads DATA.values in the dataset's order: its model
// answers as the library's model of the same pairs and values.
TEST(ModelProgram, WeightedBuildsWeighTheValuesBesideTheDataset) {
  const std::string data = WriteTempFile("valued_sample.txt", ReadFile(kSample));
  const PairList p = PairsOfText(ReadFile(kSample));
  std::vector<float> values;
  std::string text;
  for (size_t k = 0; k < p.rows.size(); k++) {
    values.push_back(float(k % 7) * 0.5f + 0.25f);
    text += std::to_string(values.back()) + "\n";
  }
  WriteTempFile("valued_sample.txt.values", text);
  for (const char *kind : {"1", "3"}) {
    const std::string built = TempPath(std::string("weighted") + kind + ".tovran");
    const ProgramOutput run =
        RunModel({"build", data, built, "--kind", kind, "--weighting", "bm25", "--k1", "2"});
    ASSERT_EQ(run.status, 0) << run.err;
    TOVRAN_Params params = TOVRAN_DefaultParams(kind[0] - '0');
    params.weighting = TOVRAN_WEIGHT_BM25;
    params.bm25_k1 = 2;
    Model *model = TOVRAN_BuildWeighted(p.nrows, p.ncols, int32_t(p.rows.size()), p.rows.data(),
                                        p.cols.data(), values.data(), &params);
    ASSERT_NE(model, nullptr) << TOVRAN_LastError();
    const std::string expected = TempPath("weighted_library.tovran");
    ASSERT_EQ(TOVRAN_SaveModel(model, expected.c_str()), 0);
    TOVRAN_FreeModel(model);
    const std::vector<int32_t> basket = SampleBasket(4);
    EXPECT_EQ(LibraryLines(built, "4", basket, 10), LibraryLines(expected, "4", basket, 10));
    const std::string binary = TempPath("unweighted.tovran");
    ASSERT_EQ(RunModel({"build", data, binary, "--kind", kind}).status, 0);
    EXPECT_NE(LibraryLines(built, "4", basket, 10), LibraryLines(binary, "4", basket, 10));
  }
}

TEST(ModelProgram, InfoDescribesTheModelBuiltFromEveryPair) {
  const std::string model = TempPath("info.tovran");
  const ProgramOutput build =
      RunModel({"build", kSample, model, "--kind", "2", "--nnbr", "7", "--alpha", "0.5"});
  ASSERT_EQ(build.status, 0) << build.err;
  EXPECT_EQ(build.out, model +
                           ": kind 2 (item-cprob), nnbr 7, alpha 0.50, min support 3, "
                           "300 users, 120 items, 840 entries\n");
  const ProgramOutput info = RunModel({"info", model});
  EXPECT_EQ(info.out, "file: " + model + "\nformat version: 2\nfile size: " +
                          std::to_string(ReadFile(model).size()) +
                          " bytes\nkind: 2 (item-cprob)\nnnbr: 7\nalpha: 0.5\nmin support: 3\n"
                          "users: 300\nitems: 120\nneighbour entries: 840\n");
  // The user model holds every pair of the file, the last of each user too.
  const std::string users = TempPath("users.tovran");
  ASSERT_EQ(RunModel({"build", kSample, users, "--kind", "3"}).status, 0);
  EXPECT_NE(RunModel({"info", users}).out.find("pairs: 3278\n"), std::string::npos);
}

TEST(ModelProgram, OriginalIdsGoThroughTheConvertersMaps) {
  const std::string data = TempPath("converted.txt"), model = TempPath("converted.tovran");
  ASSERT_EQ(RunProgram(TOVRAN_CONVERT, {TOVRAN_SOURCE_DIR "/data/sample.udata", data}).status, 0);
  ASSERT_EQ(RunModel({"build", data, model, "--kind", "1"}).status, 0);
  // Item 25 is index 0 and user 1 is index 0 (the README's worked example).
  const ProgramOutput by_index =
      RunModel({"recommend", model, "--user", "0", "--data", data, "--top", "3", "--json"});
  const ProgramOutput by_id = RunModel(
      {"recommend", model, "--user", "1", "--data", data, "--ids", data, "--top", "3", "--json"});
  ASSERT_EQ(by_id.status, 0) << by_id.err;
  std::istringstream maps(ReadFile(data + ".items"));
  std::vector<std::string> names;
  for (std::string line; std::getline(maps, line);) names.push_back(line);
  // Each answer line of by_id is the line of by_index with the ids translated.
  std::istringstream a(by_index.out), b(by_id.out);
  std::string la, lb;
  int lines = 0;
  while (std::getline(a, la) && std::getline(b, lb)) {
    int rank, item;
    char score[32];
    ASSERT_EQ(
        std::sscanf(la.c_str(), "{\"query\": 0, \"rank\": %d, \"item\": %d, \"score\": %31[^}]}",
                    &rank, &item, score),
        3)
        << la;
    EXPECT_EQ(lb, "{\"query\": \"1\", \"rank\": " + std::to_string(rank) + ", \"item\": \"" +
                      names[size_t(item)] + "\", \"score\": " + score + "}");
    lines++;
  }
  EXPECT_EQ(lines, 3);
  const ProgramOutput unknown = RunModel({"similar", model, "--item", "nosuch", "--ids", data});
  EXPECT_EQ(unknown.err, "tovran-model: --item: item 'nosuch' is not among the model's items\n");
}

// Three items, 0 and 1 both neighbours of 2 at support 1, with the maps
// named by the item ids given.
std::string TinyConverted(const std::string &name, const std::string &items) {
  const std::string data = WriteTempFile(name + ".txt", "2 3 4\n0 0\n0 1\n1 0\n1 2\n");
  WriteTempFile(name + ".txt.items", items);
  WriteTempFile(name + ".txt.users", "u0\nu1\n");
  EXPECT_EQ(RunModel({"build", data, data + ".mdl", "--kind", "1", "--min-support", "1"}).status,
            0);
  return data;
}

TEST(ModelProgram, JsonIdsAreTextWhateverTheirBytes) {
  const std::string data = TinyConverted("bytes", "A\nb\xe9\"\nc\\\x01\n");
  const ProgramOutput run =
      RunModel({"similar", data + ".mdl", "--item", "A", "--ids", data, "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find("\"score\"")),
            "{\"query\": \"A\", \"rank\": 1, \"item\": \"b\\ufffd\\\"\", ");
  EXPECT_NE(run.out.find("\"item\": \"c\\\\\\u0001\""), std::string::npos) << run.out;
}

TEST(ModelProgram, MapsOfAnotherSizeThanTheModelAreRefused) {
  const std::string data = TinyConverted("short", "A\n");
  for (const char *command : {"similar", "recommend"}) {
    const ProgramOutput run = RunModel(
        {command, data + ".mdl", "--ids", data, command[0] == 's' ? "--item" : "--basket", "A"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tovran-model: " + data + ".items has 1 ids, the model has 3 items\n");
  }
}

TEST(ModelProgram, EveryErrorIsOneLineNamingTheFileOrOptionWithStatusOne) {
  const std::string model = TempPath("kind3.tovran");
  ASSERT_EQ(RunModel({"build", kSample, model, "--kind", "3"}).status, 0);
  const std::string damaged = TOVRAN_SOURCE_DIR "/tests/bad_models/truncated.tovran";
  // The dataset under another name of the same file.
  const std::string copy = WriteTempFile("dataset.txt", ReadFile(kSample));
  const std::string alias = copy.substr(0, copy.rfind('/')) + "/./dataset.txt";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"build", kSample, "m.tovran"},
       "tovran-model build: --kind: missing; give 0, 1, 2 or 3\n"
       "Try 'tovran-model build --help' for the options.\n"},
      {{"build", kSample, "m.tovran", "--kind", "1", "--alpha", "0.5"},
       "tovran-model build: --alpha: only kind 2 has an alpha\n"
       "Try 'tovran-model build --help' for the options.\n"},
      {{"build", copy, alias, "--kind", "1"},
       "tovran-model: " + alias + ": cannot be written: it is the dataset\n"},
      {{"build", kSample, ".", "--kind", "1"},
       "tovran-model: .: cannot be written: it is a folder\n"},
      {{"build", "/nonexistent/data.txt", "m.tovran", "--kind", "1"},
       "tovran-model: /nonexistent/data.txt: cannot be opened: No such file or directory\n"},
      {{"info", damaged},
       "tovran-model: Model file " + damaged +
           ": truncated: 128 bytes where the header's counts need 192\n"},
      {{"recommend", model, "--basket", "3,120"},
       "tovran-model: --basket: item 120 is outside 0..119\n"},
      {{"recommend", model, "--user", "4"},
       "tovran-model recommend: --data: --user needs the dataset\n"
       "Try 'tovran-model recommend --help' for the options.\n"},
      {{"similar", model, "--item", "4"},
       "tovran-model: " + model + ": a user-based model (kind 3) has no item neighbours\n"},
      {{"evaluate", model},
       "tovran-model: evaluate: unknown command (build, recommend, similar, info)\n"},
  };
  for (const auto &[args, message] : cases) {
    const ProgramOutput run = RunModel(args);
    EXPECT_EQ(run.status, 1) << message;
    EXPECT_EQ(run.out, "") << message;
    EXPECT_EQ(run.err, message);
  }
}

}  // namespace

namespace {

// Kind 0, filters, kept baskets, fallback and similar users through the
// program, and the refusals that name what is wrong.
TEST(ModelProgram, PopularityFiltersFallbackAndSimilarUsers) {
  const std::string popular = TempPath("popular.tovran"), users = TempPath("users.tovran");
  ASSERT_EQ(RunModel({"build", kSample, popular, "--kind", "0"}).status, 0);
  ASSERT_EQ(RunModel({"build", kSample, users, "--kind", "3"}).status, 0);
  // The sample's three most held items are 0, 1, 2 (229, 179 and 161 pairs).
  EXPECT_EQ(RunModel({"recommend", popular, "--basket", "1", "--top", "2"}).out,
            "0\t1\t0\t229\n0\t2\t2\t161\n");
  EXPECT_EQ(RunModel({"recommend", popular, "--basket", "1", "--top", "2", "--keep-basket",
                      "--filter", "0"})
                .out,
            "0\t1\t1\t179\n0\t2\t2\t161\n");
  EXPECT_EQ(RunModel({"recommend", popular, "--basket", "1", "--items", "1,119,2"}).out,
            "0\t1\t2\t161\n0\t2\t119\t7\n0\t3\t1\t-inf\n");
  // An empty basket answers nothing from the users, everything from fallback.
  const std::string empty = WriteTempFile("empty_basket.txt", "\n");
  EXPECT_EQ(
      RunModel({"recommend", users, "--baskets", empty, "--top", "2", "--fallback", "popular"}).out,
      "0\t1\t0\t0\n0\t2\t1\t0\n");
  const ProgramOutput similar = RunModel({"similar", users, "--user", "4", "--top", "2"});
  EXPECT_EQ(similar.out.substr(0, 8), "4\t1\t4\t1\n");
  const std::pair<std::vector<std::string>, std::string> refusals[] = {
      {{"build", kSample, TempPath("w.tovran"), "--kind", "1", "--weighting", "bm25"},
       "tovran-model: Error opening file " + kSample +
           ".values: No such file or directory\nWeighting needs the pairs' values beside the "
           "dataset; tovran-convert writes them when given --value\n"},
      {{"recommend", TOVRAN_SOURCE_DIR "/tests/models_v1/sample_kind1.tovran", "--basket", "1",
        "--fallback", "popular"},
       "tovran-model: --fallback: " TOVRAN_SOURCE_DIR
       "/tests/models_v1/sample_kind1.tovran carries no popularity ranking (format version 1); "
       "build it again\n"},
      {{"similar", popular, "--user", "4"},
       "tovran-model: " + popular + ": only a user-based model (kind 3) has similar users\n"},
      {{"recommend", popular, "--basket", "1", "--filter", "120"}, ""},
  };
  for (const auto &[args, message] : refusals) {
    const ProgramOutput run = RunModel(args);
    EXPECT_EQ(run.status, 1) << args[0];
    if (!message.empty()) {
      EXPECT_EQ(run.err, message);
    }
  }
}

}  // namespace
