// The evaluation's parameters, sweeps, baseline and metrics: each run gives
// the lists the library gives for its values, a sweep's rows equal the
// single runs, the baseline equals a brute-force count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "driver/dataset.h"
#include "driver/evaluate.h"
#include "driver/options.h"
#include "driver/popularity.h"
#include "driver/run_sequence.h"
#include "engine/tovran.h"
#include "tests/fixtures.h"
#include "tests/program_runner.h"

namespace {

// A dataset with skewed item counts, so that some items have fewer than 3
// training pairs and some held-out items were never trained on.
std::string RandomDatasetText(uint32_t seed, int32_t nrows, int32_t ncols) {
  std::mt19937 rng(seed);
  std::string pairs;
  int32_t npairs = 0;
  for (int32_t u = 0; u < nrows; u++) {
    const int32_t n = 1 + int32_t(rng() % 12);
    for (int32_t k = 0; k < n; k++) {
      // Squaring a uniform draw makes low ids common and high ids rare.
      const double x = double(rng() % 1000) / 1000.0;
      pairs += std::to_string(u) + " " + std::to_string(int32_t(x * x * ncols)) + "\n";
      npairs++;
    }
  }
  return std::to_string(nrows) + " " + std::to_string(ncols) + " " + std::to_string(npairs) + "\n" +
         pairs;
}

Dataset Load(const std::string &text) {
  Dataset ds;
  std::string error;
  EXPECT_TRUE(DatasetFromText(text, &ds, &error)) << error;
  return ds;
}

// The options of tovran's words with a dataset named last.
Options Parse(std::vector<const char *> words) {
  words.push_back("data.txt");
  return ParseTovranWords(words).value();
}

// Every run of opts, its lists kept, the report thrown away.
SequenceResult RunQuietly(const Dataset &ds, const Options &opts, int32_t nthreads = 1) {
  std::FILE *sink = std::tmpfile();
  EvalSettings settings;
  settings.nthreads = nthreads;
  settings.out = sink;
  settings.detailed = opts.detailed;
  settings.keep_lists = true;
  SequenceResult result = RunAll(ds, opts.plan, settings);
  std::fclose(sink);
  return result;
}

// The lists the library gives for a model of the run's parameters.
std::vector<int32_t> LibraryLists(const Dataset &ds, const EvalData &data, const RunSetup &s) {
  TOVRAN_Params params = TOVRAN_DefaultParams(s.kind);
  params.nnbr = s.nnbr;
  params.alpha = float(s.alpha);
  if (s.kind != TOVRAN_USER_BASED) params.min_support = s.min_support;
  Model *model =
      TOVRAN_Build(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(), &params);
  std::vector<int32_t> lists(size_t(data.baskets()) * size_t(s.top), -1);
  for (int32_t b = 0; b < data.baskets(); b++) {
    const int32_t f = data.starts[size_t(b)];
    TOVRAN_Recommend(model, data.starts[size_t(b) + 1] - f, ds.colid.get() + f, s.top,
                     lists.data() + int64_t(b) * s.top);
  }
  TOVRAN_FreeModel(model);
  return lists;
}

// Brute force: every item's training count, then for each basket the N
// largest outside the basket, ties by lower id.
std::vector<int32_t> PopularLists(const Dataset &ds, const EvalData &data, int32_t N) {
  std::vector<int32_t> count(size_t(ds.ncols), 0);
  for (int32_t i = 0; i < ds.ntrain; i++) count[size_t(ds.colid[i])]++;
  std::vector<int32_t> lists;
  for (int32_t b = 0; b < data.baskets(); b++) {
    std::vector<int32_t> candidates;
    for (int32_t c = 0; c < ds.ncols; c++) {
      const int32_t *first = ds.colid.get() + data.starts[size_t(b)];
      const int32_t *last = ds.colid.get() + data.starts[size_t(b) + 1];
      if (count[size_t(c)] > 0 && std::find(first, last, c) == last) candidates.push_back(c);
    }
    std::sort(candidates.begin(), candidates.end(), [&](int32_t x, int32_t y) {
      return count[size_t(x)] != count[size_t(y)] ? count[size_t(x)] > count[size_t(y)] : x < y;
    });
    candidates.resize(size_t(N), -1);
    lists.insert(lists.end(), candidates.begin(), candidates.end());
  }
  return lists;
}

// The numbers of every "Nhits:" and "Alpha=" line of a console report.
std::vector<std::string> ReportFigures(const std::string &report) {
  static const std::regex kFigure("(Nhits: \\d+|Alpha=\\d\\.\\d\\d)");
  std::vector<std::string> figures;
  for (auto it = std::sregex_iterator(report.begin(), report.end(), kFigure);
       it != std::sregex_iterator(); ++it)
    figures.push_back(it->str());
  return figures;
}

}  // namespace

TEST(Evaluation, EachRunGivesTheLibrarysListsForItsParameters) {
  const Dataset ds = Load(RandomDatasetText(7, 150, 60));
  const EvalData data(ds);
  const Options opts = Parse({"--kinds", "3,2,1", "--top", "7", "--nnbr", "5", "--user-nnbr", "9",
                              "--alpha", "0.3", "--min-support", "2"});
  const SequenceResult result = RunQuietly(ds, opts);
  ASSERT_EQ(result.runs.size(), 3u);
  const int32_t kinds[] = {3, 2, 1};
  for (size_t r = 0; r < 3; r++) {
    const RunSetup &s = result.runs[r].setup;
    EXPECT_EQ(s.kind, kinds[r]);
    EXPECT_EQ(s.top, 7);
    EXPECT_EQ(s.nnbr, s.kind == 3 ? 9 : 5);
    EXPECT_EQ(result.runs[r].lists, LibraryLists(ds, data, s)) << "kind " << s.kind;
  }
  EXPECT_EQ(result.runs[1].setup.alpha, 0.3);
  EXPECT_EQ(result.runs[1].setup.min_support, 2);
  // The report names the alpha the model used: a float.
  RunSetup tiny = result.runs[1].setup;
  EXPECT_EQ(AlphaText(tiny), "0.3");
  tiny.alpha = 1e-50;
  EXPECT_EQ(AlphaText(tiny), "0");
}

TEST(Evaluation, MinSupportKeepsRareItemsOutOfTheItemModelsLists) {
  const Dataset ds = Load(RandomDatasetText(3, 150, 60));
  const EvalData data(ds);
  const SequenceResult result = RunQuietly(ds, Parse({"--kinds", "1", "--min-support", "1,6"}));
  ASSERT_EQ(result.runs.size(), 2u);
  for (const RunResult &run : result.runs) {
    for (const int32_t item : run.lists) {
      if (item < 0) continue;
      EXPECT_GE(data.frequency[size_t(item)], run.setup.min_support);
    }
    EXPECT_EQ(run.lists, LibraryLists(ds, data, run.setup));
  }
  EXPECT_NE(result.runs[0].lists, result.runs[1].lists);
  EXPECT_GT(result.runs[1].metrics.below_support, result.runs[0].metrics.below_support);
}

TEST(Evaluation, PopularityBaselineEqualsABruteForceCount) {
  for (const uint32_t seed : {1u, 2u, 3u}) {
    const Dataset ds = Load(RandomDatasetText(seed, 120, 50));
    const EvalData data(ds);
    for (const int32_t threads : {1, 3}) {
      const SequenceResult result =
          RunQuietly(ds, Parse({"--kinds", "0", "--top", "1,10,60"}), threads);
      ASSERT_EQ(result.runs.size(), 3u);
      for (const RunResult &run : result.runs) {
        const std::vector<int32_t> want = PopularLists(ds, data, run.setup.top);
        EXPECT_EQ(run.lists, want) << "seed " << seed << ", N " << run.setup.top;
        int32_t hits = 0;
        for (int32_t b = 0; b < data.baskets(); b++) {
          const auto first = want.begin() + int64_t(b) * run.setup.top;
          hits += std::find(first, first + run.setup.top, data.HeldOut(b)) != first + run.setup.top;
        }
        EXPECT_EQ(run.hits, hits);
      }
    }
  }
}

TEST(Evaluation, UnreachableHeldOutItemsAreCountedByTheirFirstReason) {
  // Users 0..4 hold out an item of their own basket; user 5 holds out item
  // 3, never trained on; user 6 item 2, trained on once (by user 7).
  const Dataset ds = Load(
      "8 4 20\n0 0\n0 1\n0 1\n1 0\n1 1\n1 0\n2 0\n2 1\n2 1\n3 0\n3 1\n3 0\n4 0\n4 0\n"
      "5 1\n5 3\n6 0\n6 2\n7 2\n7 1\n");
  const SequenceResult result = RunQuietly(ds, Parse({"--kinds", "1,3,0"}));
  ASSERT_EQ(result.runs.size(), 3u);
  for (const RunResult &run : result.runs) {
    EXPECT_EQ(run.metrics.in_basket, 5) << run.setup.kind;  // users 0..4
    EXPECT_EQ(run.metrics.unseen, 1) << run.setup.kind;
    EXPECT_EQ(run.metrics.below_support, run.setup.kind == 1 ? 1 : 0) << run.setup.kind;
  }
}

TEST(EvaluationProgram, SweepRowsEqualSingleRunsEachInAFreshProcess) {
  const std::string data = TOVRAN_SOURCE_DIR "/data/sample.txt";
  const ProgramOutput sweep =
      RunTovran({"--kinds", "2,0", "--nnbr", "10,20", "--top", "5,10", data});
  ASSERT_EQ(sweep.status, 0) << sweep.err;
  std::vector<std::string> singles;
  for (const char *top : {"5", "10"}) {
    for (const char *nnbr : {"10", "20"}) {
      const ProgramOutput one = RunTovran({"--kinds", "2", "--nnbr", nnbr, "--top", top, data});
      ASSERT_EQ(one.status, 0) << one.err;
      for (const std::string &figure : ReportFigures(one.out)) singles.push_back(figure);
    }
  }
  for (const char *top : {"5", "10"}) {
    const ProgramOutput one = RunTovran({"--kinds", "0", "--top", top, data});
    for (const std::string &figure : ReportFigures(one.out)) singles.push_back(figure);
  }
  EXPECT_EQ(ReportFigures(sweep.out), singles);
  // One estimation per (top, nnbr).
  EXPECT_EQ(std::regex_search(sweep.out, std::regex("(Estimating Alpha[^]*){4}")), true);
  EXPECT_EQ(std::regex_search(sweep.out, std::regex("(Estimating Alpha[^]*){5}")), false);
  EXPECT_NE(sweep.out.find("  Bulding model [NNbr=10, Alpha="), std::string::npos);
  EXPECT_NE(sweep.out.find("Summary\n"), std::string::npos);
}

TEST(EvaluationProgram, JsonToStandardOutputMovesTheReportToStandardError) {
  const std::string data = TOVRAN_SOURCE_DIR "/data/sample.txt";
  const ProgramOutput plain = RunTovran({data});
  const ProgramOutput run = RunTovran({"--json", "-", data});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("{\n  \"schema_version\": 2,\n", 0), 0u) << run.out;
  EXPECT_EQ(MaskTimings(run.err), MaskTimings(plain.out));
}
