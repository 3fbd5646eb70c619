// tovran-mpi against tovran: the same report, JSON, per-user lists and exit
// status for every number of ranks, and one message and a prompt end when
// any rank fails. Skipped when CMake found no MPI (then tovran-mpi is not
// built).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver/split.h"
#include "engine/tovran.h"
#include "programs/mpi/split.h"
#include "tests/program_runner.h"

namespace {

// Work split: blocks are consecutive, cover every task, follow the work.
TEST(MpiSplit, BlocksFollowTheWork) {
  EXPECT_EQ(SplitByWork({1, 1, 1, 1, 1, 1}, 3), (std::vector<int64_t>{0, 2, 4, 6}));
  // One task holding most of the work makes a block of its own.
  EXPECT_EQ(SplitByWork({1, 1, 10, 1, 1}, 2), (std::vector<int64_t>{0, 3, 5}));
  EXPECT_EQ(SplitByWork({1, 1, 10, 1, 1}, 3), (std::vector<int64_t>{0, 3, 3, 5}));
  EXPECT_EQ(SplitByWork({5, 5}, 4), (std::vector<int64_t>{0, 1, 1, 2, 2}));
  EXPECT_EQ(SplitByWork({}, 3), (std::vector<int64_t>{0, 0, 0, 0}));
  EXPECT_EQ(SplitByWork({0, 0, 0}, 2), (std::vector<int64_t>{0, 1, 3}));
}

#ifdef TOVRAN_MPI_PROGRAM

// mpirun refuses to start as root (as CI runs) unless told; a hung job
// fails its test instead of stalling the suite.
std::string Mpirun(int ranks, int seconds = 300) {
  return "OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 timeout -k 5 " +
         std::to_string(seconds) + " mpirun --oversubscribe -np " + std::to_string(ranks) + " ";
}

ProgramOutput RunMpi(int ranks, const std::vector<std::string> &args,
                     const std::string &prefix = "") {
  return RunProgram(TOVRAN_MPI_PROGRAM, args, Mpirun(ranks) + prefix);
}

// A generated data set; generated once per name.
std::string Generated(const std::string &name, const std::string &args) {
  const ProgramOutput run = RunCommand(ShellQuote(TOVRAN_GENERATOR) + " " + args);
  EXPECT_EQ(run.status, 0) << run.err;
  return WriteTempFile(name, run.out);
}

// The report, JSON, per-user rows and lists of P = 1, 2, 3, 4 ranks equal
// tovran's (timings masked); both ways of reading the file.
void ExpectSameAsSingleProcess(const std::string &data, const std::string &name,
                               const std::vector<std::string> &options = {}) {
  std::vector<std::string> args = options;
  const std::string json = WriteTempFile(name + ".json", "");
  const std::string rows = WriteTempFile(name + ".csv", "");
  args.insert(args.end(), {"--json", json, "--per-user", rows, data});
  const ProgramOutput single = RunTovran(args);
  ASSERT_EQ(single.status, 0) << single.err;
  const std::string single_json = MaskJsonTimings(ReadFile(json));
  const std::string single_rows = ReadFile(rows);
  std::string first_lists;
  for (const std::string input : {"root", "ranks"}) {
    for (int ranks = 1; ranks <= 4; ranks++) {
      SCOPED_TRACE(name + ", " + input + ", P = " + std::to_string(ranks));
      const std::string lists = WriteTempFile(name + ".lists", "");
      std::vector<std::string> mpi_args = {"--input=" + input, "--lists", lists};
      mpi_args.insert(mpi_args.end(), args.begin(), args.end());
      const ProgramOutput run = RunMpi(ranks, mpi_args);
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(MaskReport(run.out), MaskReport(single.out));
      EXPECT_EQ(MaskJsonTimings(ReadFile(json)), single_json);
      EXPECT_EQ(ReadFile(rows), single_rows);
      if (first_lists.empty()) first_lists = ReadFile(lists);
      EXPECT_EQ(ReadFile(lists), first_lists);
    }
  }
}

TEST(MpiReport, SampleOnOneToFourRanks) {
  ExpectSameAsSingleProcess(TOVRAN_SOURCE_DIR "/data/sample.txt", "sample");
}

TEST(MpiReport, TwoThreadsInEachRank) {
  ExpectSameAsSingleProcess(TOVRAN_SOURCE_DIR "/data/sample.txt", "sample2", {"--threads", "2"});
}

// Every run option of tovran, swept: every kind, several sizes and
// supports, the summary; then given alphas and user neighbourhoods.
TEST(MpiReport, SweepsOfEveryRunOption) {
  ExpectSameAsSingleProcess(
      TOVRAN_SOURCE_DIR "/data/sample.txt", "sweep",
      {"--kinds", "0,1,2,3", "--nnbr", "5,10", "--top", "5,10", "--min-support", "2", "--summary"});
  const std::string data = Generated("generated5.txt", "20000 5");
  ExpectSameAsSingleProcess(data, "sweep_alpha",
                            {"--kinds", "2,3", "--alpha", "0.2,0.7", "--user-nnbr", "10,30",
                             "--min-support", "1,4", "--threads", "2"});
}

// Seeded splits: every rank count and thread count draws the same held-out
// pairs, folds and resamples, so the rows, intervals and comparisons agree.
TEST(MpiReport, SeededSplitsOnEveryRankAndThreadCount) {
  const std::string data = Generated("generated5.txt", "20000 5");
  // The document names its thread count.
  auto json_of = [](const std::string &path) {
    return std::regex_replace(MaskJsonTimings(ReadFile(path)), std::regex("\"threads\": \\d"),
                              "\"threads\": #");
  };
  for (const std::string split : {"random:1", "random:0.2", "kfold:3"}) {
    SCOPED_TRACE(split);
    const std::vector<std::string> options = {"--split", split, "--seed", "7", "--kinds", "0,1,2"};
    std::string first_rows, first_json, first_report;
    for (const std::string threads : {"1", "2", "3"}) {
      std::vector<std::string> args = options;
      const std::string json = WriteTempFile("threads.json", ""), rows = TempPath("threads.csv");
      args.insert(args.end(), {"--threads", threads, "--json", json, "--per-user", rows, data});
      const ProgramOutput run = RunTovran(args);
      ASSERT_EQ(run.status, 0) << run.err;
      if (first_rows.empty()) {
        first_rows = ReadFile(rows);
        first_json = json_of(json);
        first_report = MaskReport(run.out);
        ASSERT_GT(std::count(first_rows.begin(), first_rows.end(), '\n'), 1000) << first_rows;
      }
      EXPECT_EQ(ReadFile(rows), first_rows) << threads << " threads";
      EXPECT_EQ(json_of(json), first_json) << threads << " threads";
      EXPECT_EQ(MaskReport(run.out), first_report) << threads << " threads";
    }
    ExpectSameAsSingleProcess(data, "seeded", options);
  }
}

// "--json -": the document on standard output, the report on standard
// error, as tovran writes them.
TEST(MpiReport, JsonOnStandardOutput) {
  const std::vector<std::string> args = {
      "--json", "-", "--kinds", "0,2", "--summary", TOVRAN_SOURCE_DIR "/data/sample.txt"};
  const ProgramOutput single = RunTovran(args);
  ASSERT_EQ(single.status, 0) << single.err;
  for (int ranks : {1, 3}) {
    SCOPED_TRACE("P = " + std::to_string(ranks));
    const ProgramOutput run = RunMpi(ranks, args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(MaskJsonTimings(run.out), MaskJsonTimings(single.out));
    EXPECT_EQ(MaskReport(run.err), MaskReport(single.err));
  }
}

// Generated sets hold users without pairs and repeated pairs; checked here
// so that the comparison covers them.
TEST(MpiReport, GeneratedSetsWithEmptyUsersAndRepeatedPairs) {
  for (const std::string seed : {"3", "4"}) {
    const std::string data = Generated("generated" + seed + ".txt", "20000 " + seed);
    std::istringstream in(ReadFile(data));
    int64_t nusers, nitems, npairs;
    in >> nusers >> nitems >> npairs;
    std::set<int64_t> users;
    std::set<std::pair<int64_t, int64_t>> pairs;
    for (int64_t u, i; in >> u >> i;) {
      users.insert(u);
      pairs.insert({u, i});
    }
    ASSERT_LT(int64_t(users.size()), nusers) << "no user without pairs";
    ASSERT_LT(int64_t(pairs.size()), npairs) << "no repeated pair";
    ExpectSameAsSingleProcess(data, "generated" + seed);
  }
}

// More ranks than users with baskets: most blocks are empty.
TEST(MpiReport, FewerBasketsThanRanks) {
  ExpectSameAsSingleProcess(WriteTempFile("tiny.txt", "5 4 4\n1 0\n1 1\n1 2\n3 2\n"), "tiny");
}

TEST(MpiReport, MovieLens100kOnThreeRanks) {
  const std::string data = SharedData("ml100k.txt");
  if (data.empty()) GTEST_SKIP() << "shared data sets not present";
  const ProgramOutput run = RunMpi(3, {data});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(MaskTimings(run.out), MaskTimings(ReadFile(SharedData("ml100k.expected"))));
}

// The lists of one rank are the library's own answers.
TEST(MpiReport, ListsAreTheLibrarysAnswers) {
  const std::string data = TOVRAN_SOURCE_DIR "/data/sample.txt";
  const std::string lists = WriteTempFile("library.lists", "");
  const ProgramOutput run = RunMpi(2, {"--lists", lists, data});
  ASSERT_EQ(run.status, 0) << run.err;
  std::smatch alpha;
  ASSERT_TRUE(std::regex_search(run.out, alpha, std::regex("Alpha=([0-9.]+)")));

  std::FILE *in = std::fopen(data.c_str(), "r");
  Dataset ds;
  std::string error;
  ASSERT_TRUE(ParseDataset(in, &ds, &error)) << error;
  std::fclose(in);
  std::ostringstream expected;
  const int32_t nnbr[] = {20, 20, 50};
  for (int32_t type = 1; type <= 3; type++) {
    Model *model = TOVRAN_BuildModel(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(),
                                     type, nnbr[type - 1], type == 2 ? std::stof(alpha[1]) : 0.0f);
    for (int32_t b = 0; b < ds.nbaskets; b++) {
      const int32_t f = ds.basket_starts[b], e = ds.basket_starts[b + 1];
      int32_t rcmds[10];
      const int32_t m = TOVRAN_Recommend(model, e - f, ds.colid.get() + f, 10, rcmds);
      expected << type << ' ' << ds.rowid[f];
      for (int32_t t = 0; t < m; t++) expected << ' ' << rcmds[t];
      expected << '\n';
    }
    TOVRAN_FreeModel(model);
  }
  EXPECT_EQ(ReadFile(lists), expected.str());
}

// Faults: one message, status 1, nothing more on standard output than
// tovran prints, for every way of reading and a few rank counts.
void ExpectSameFailure(const std::vector<std::string> &args) {
  const ProgramOutput single = RunTovran(args);
  ASSERT_EQ(single.status, 1);
  for (const std::string input : {"root", "ranks"}) {
    for (int ranks : {3}) {
      SCOPED_TRACE(input + ", P = " + std::to_string(ranks));
      std::vector<std::string> mpi_args = {"--input", input};
      mpi_args.insert(mpi_args.end(), args.begin(), args.end());
      const ProgramOutput run = RunMpi(ranks, mpi_args);
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.out, single.out);
      // mpirun may add a notice of its own on standard error; the
      // program's message stands there once.
      const std::string message = single.err;
      if (!message.empty()) {
        const size_t at = run.err.find(message);
        ASSERT_NE(at, std::string::npos) << run.err;
        EXPECT_EQ(run.err.find(message, at + 1), std::string::npos) << run.err;
      }
    }
  }
}

TEST(MpiFaults, MalformedFilesGiveTheSingleProcessMessage) {
  for (const std::string file :
       {"split_run.txt", "content_after_pairs.txt", "fewer_pairs.txt", "pair_long_token.txt",
        "item_out_of_range.txt", "empty.txt", "binary_garbage.bin", "header_beyond_32_bits.txt"}) {
    SCOPED_TRACE(file);
    ExpectSameFailure({TOVRAN_SOURCE_DIR "/tests/bad_input/" + file});
  }
  ExpectSameFailure({"/nonexistent/data.txt"});
}

TEST(MpiFaults, UnwritableOutputFailsBeforeTheRuns) {
  ExpectSameFailure({"--json", "/nonexistent/out.json", TOVRAN_SOURCE_DIR "/data/sample.txt"});
}

TEST(MpiFaults, FullOutputsNameTheirReason) {
  for (const char *option : {"--lists", "--json"}) {
    const ProgramOutput run =
        RunMpi(2, {option, "/dev/full", "--kinds", "1", TOVRAN_SOURCE_DIR "/data/sample.txt"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Error writing file /dev/full: No space left on device\n"),
              std::string::npos)
        << run.err;
  }
}

TEST(MpiFaults, BadOwnOptionFailsTheJob) {
  const ProgramOutput run = RunMpi(2, {"--input", "disk", TOVRAN_SOURCE_DIR "/data/sample.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("tovran: --input: 'disk' is neither root nor ranks"), std::string::npos)
      << run.err;
}

TEST(MpiFaults, WeightingAndFallbackAreRefusedByName) {
  for (const char *option : {"--weighting=bm25", "--fallback=popular"}) {
    const ProgramOutput run = RunMpi(2, {option, TOVRAN_SOURCE_DIR "/data/sample.txt"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("tovran-mpi: --weighting, --fallback: only tovran evaluates weighted "
                           "models and fallback\n"),
              std::string::npos)
        << run.err;
  }
}

TEST(MpiFaults, BadCommandLineIsReportedOnce) {
  const ProgramOutput run = RunMpi(2, {"--threads", "0", "x.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  const std::string reason = "--threads: 0 is outside 1..256\n";
  const size_t at = run.err.find(reason);
  ASSERT_NE(at, std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(reason, at + 1), std::string::npos) << run.err;

  // A bad value of a run option: tovran's message, once.
  const std::vector<std::string> kinds = {"--kinds", "1,4", TOVRAN_SOURCE_DIR "/data/sample.txt"};
  const ProgramOutput single = RunTovran(kinds);
  ASSERT_EQ(single.status, 1);
  ASSERT_NE(single.err, "");
  const ProgramOutput sweep = RunMpi(3, kinds);
  EXPECT_EQ(sweep.status, 1);
  EXPECT_EQ(sweep.out, "");
  const size_t first = sweep.err.find(single.err);
  ASSERT_NE(first, std::string::npos) << sweep.err;
  EXPECT_EQ(sweep.err.find(single.err, first + 1), std::string::npos) << sweep.err;

  // A sweep beyond --max-runs: refused before the dataset is opened.
  const ProgramOutput over = RunMpi(2, {"--kinds", "1", "--top", "1,2,3", "--nnbr", "1,2",
                                        "--max-runs", "5", "/nonexistent/data.txt"});
  EXPECT_EQ(over.status, 1);
  EXPECT_EQ(over.out, "");
  const std::string refusal =
      "the options ask for 6 runs, more than 5; --max-runs N raises the limit\n";
  const size_t once = over.err.find(refusal);
  ASSERT_NE(once, std::string::npos) << over.err;
  EXPECT_EQ(over.err.find(refusal, once + 1), std::string::npos) << over.err;
}

// Runs the program that follows on every rank, after the shell command
// `what` on rank 1 alone.
std::string OnRankOne(const std::string &what) {
  return "sh -c " +
         ShellQuote("if [ \"$OMPI_COMM_WORLD_RANK\" = 1 ]; then\n" + what +
                    "\nfi\nexec \"$0\" \"$@\"") +
         " ";
}

TEST(MpiFaults, ExhaustedMemoryOnOneRankEndsTheJob) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "sanitizer builds reserve more address space than the limit";
#endif
  // 400 million users: a 1.6 GB vector of held-out items on every rank.
  const std::string data = WriteTempFile("many_users.txt", "400000000 1 0\n");
  const ProgramOutput run = RunMpi(3, {data}, OnRankOne("ulimit -v 1000000"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("***Memory allocation failed for the dataset"), std::string::npos)
      << run.err;
}

TEST(MpiFaults, RankKilledBySignalEndsTheJobPromptly) {
  // Long enough to be killed in the middle: the whole report takes several
  // seconds on three ranks. Rank 1 is killed once it has spent a second of
  // processor time, so well inside its work however loaded the machine is
  // (a rank killed while the launcher still starts it can leave the
  // launcher itself waiting, which is not what this test is about); the
  // moment of the kill is noted, and the job must end within 30 s of it.
  const std::string data = Generated("killed.txt", "1000000 5");
  const std::string killed_at = TempPath("killed_at");
  std::remove(killed_at.c_str());
  const std::string killer =
      "(ticks=$(getconf CLK_TCK); while [ -e /proc/$$ ]; do\n"
      "  used=$(awk '{print $14 + $15}' /proc/$$/stat 2>/dev/null || echo 0)\n"
      "  if [ \"${used:-0}\" -ge \"$ticks\" ]; then date +%s.%N > " +
      ShellQuote(killed_at) +
      "; kill -9 $$; break; fi\n"
      "  sleep 0.05\n"
      "done) &";
  const ProgramOutput run =
      RunProgram(TOVRAN_MPI_PROGRAM, {data}, Mpirun(3, 300) + OnRankOne(killer));
  const double ended =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  // Killed before the report ended, its last result line missing.
  int results = 0;
  for (size_t at = run.out.find("Nhits:"); at != std::string::npos;
       at = run.out.find("Nhits:", at + 1))
    results++;
  EXPECT_LT(results, 3) << run.out;
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.status, 124) << "the job hung";
  const std::string kill_time = ReadFile(killed_at);
  ASSERT_FALSE(kill_time.empty()) << "rank 1 was never killed";
  EXPECT_LT(ended - std::stod(kill_time), 30);
}

#else

TEST(MpiReport, NeedsMpi) {
  GTEST_SKIP() << "tovran-mpi or tovran-generate is not built: CMake found no MPI "
                  "(install openmpi-bin and libopenmpi-dev; -DTOVRAN_MPI=ON requires it), "
                  "or TOVRAN_MPI or TOVRAN_TOOLS is OFF";
}

#endif

}  // namespace
