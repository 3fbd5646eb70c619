// The JSON results, read back with python3's json module and held against the
// console report of the same run.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "engine/tovran.h"
#include "tests/fixtures.h"
#include "tests/program_runner.h"

namespace {

void ExpectJsonAgreesWithReport(const std::string &data, const std::string &name) {
  const std::string json = WriteTempFile(name + ".json", "");
  const ProgramOutput run = RunTovran({"--json", json, data});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string report = WriteTempFile(name + ".report", run.out);
  const ProgramOutput check =
      RunProgram(TOVRAN_PYTHON, {TOVRAN_SOURCE_DIR "/tests/check_json_report.py", json, report});
  EXPECT_EQ(check.status, 0) << check.out << check.err;
}

}  // namespace

TEST(JsonReport, ConsoleReportIsUnchangedByTheOption) {
  const std::string data = TOVRAN_SOURCE_DIR "/data/sample.txt";
  const ProgramOutput plain = RunTovran({data});
  const ProgramOutput with_json = RunTovran({data, "--json", WriteTempFile("unchanged.json", "")});
  ASSERT_EQ(with_json.status, 0) << with_json.err;
  EXPECT_EQ(MaskTimings(with_json.out), MaskTimings(plain.out));
}

TEST(JsonReport, AgreesWithTheConsoleReportOnTheSample) {
  ExpectJsonAgreesWithReport(TOVRAN_SOURCE_DIR "/data/sample.txt", "sample");
}

TEST(JsonReport, AgreesWithTheConsoleReportOnGeneratedData) {
  ExpectJsonAgreesWithReport(GeneratedData(), "generated");
}

TEST(JsonReport, AgreesWithTheConsoleReportOnMovieLens100k) {
  const std::string data = SharedData("ml100k.txt");
  if (data.empty()) GTEST_SKIP() << "shared data sets not present";
  ExpectJsonAgreesWithReport(data, "ml100k");
}

TEST(JsonReport, UnwritablePathFailsBeforeTheRuns) {
  const ProgramOutput run =
      RunTovran({"--json", "/nonexistent-dir/x.json", TOVRAN_SOURCE_DIR "/data/sample.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error opening file /nonexistent-dir/x.json: No such file or directory\n");
}

// A report or a document that cannot be written in full is an error, said
// once on standard error; an earlier document stays as it was.
TEST(ProgramOutput, FailedWritesEndWithStatusOneAndTheReason) {
  const std::string data = TOVRAN_SOURCE_DIR "/data/sample.txt";
  const ProgramOutput full = RunTovran({data}, ">/dev/full ");
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "Error writing the report to standard output: No space left on device\n");

  const ProgramOutput json = RunTovran({"--json", "/dev/full", data});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.err, "Error writing file /dev/full: No space left on device\n");

  const std::string earlier = WriteTempFile("earlier.json", "{}\n");
  const ProgramOutput both = RunTovran({"--json", earlier, data}, ">/dev/full ");
  EXPECT_EQ(both.status, 1);
  EXPECT_EQ(ReadFile(earlier), "{}\n");
  const ProgramOutput bad =
      RunTovran({"--json", earlier, WriteTempFile("bad.txt", "1 1 2\n0 0\n")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(ReadFile(earlier), "{}\n");
}

// /dev/stdout with standard output sent to a file names that file: the
// document goes after the report in it, and nothing earlier is lost.
TEST(ProgramOutput, StandardStreamsNamedAsOutputsAreWrittenInPlace) {
  const std::string data = TOVRAN_SOURCE_DIR "/data/sample.txt";
  const std::string report = RunTovran({data}).out;
  for (const char *redirect : {">>", ">"}) {
    const std::string log = WriteTempFile("log.txt", "earlier\n");
    const ProgramOutput run = RunTovran({"--json", "/dev/stdout", data},
                                        std::string("exec ") + redirect + ShellQuote(log) + ";");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string text = ReadFile(log);
    const std::string kept = redirect == std::string(">>") ? "earlier\n" : "";
    const size_t json = text.find("{\n  \"schema_version\"");
    ASSERT_NE(json, std::string::npos) << text;
    EXPECT_EQ(text.substr(0, kept.size()), kept);
    EXPECT_EQ(MaskTimings(text.substr(kept.size(), json - kept.size())), MaskTimings(report));
  }
}

// An interrupted run removes its temporary file, and the signal still ends it.
TEST(ProgramOutput, SignalsLeaveNoTemporaryFile) {
  const std::string data = GeneratedData();
  const std::pair<const char *, const char *> signals[] = {
      {"INT", "130\n"}, {"TERM", "143\n"}, {"HUP", "129\n"}, {"PIPE", "141\n"}};
  for (const auto &[signal, status] : signals) {
    const std::string dir = TempPath(std::string("signal-") + signal);
    RunCommand("rm -rf " + ShellQuote(dir) + "; mkdir " + ShellQuote(dir));
    // Sent once the temporary exists, that is while the runs go on; a
    // background command of the shell would ignore SIGINT.
    const ProgramOutput run = RunCommand(
        "env --default-signal=INT " + ShellQuote(TOVRAN_PROGRAM) + " --json " +
        ShellQuote(dir + "/out.json") + " --kinds 1,2,3 --top 10,20,30 --nnbr 10,20,30,40,50 " +
        ShellQuote(data) + " >/dev/null & " + "for i in $(seq 3000); do ls " + ShellQuote(dir) +
        "/out.json.* >/dev/null 2>&1 && " + "break; sleep 0.01; done; kill -" + signal +
        " $!; wait $!; echo $?; ls -A " + ShellQuote(dir));
    EXPECT_EQ(run.out, status) << signal;
  }
}

// With "--json -" the document is standard output's text and the report
// standard error's: losing either is a failure.
TEST(ProgramOutput, EitherStreamLostWithTheDocumentIsAFailure) {
  const std::string data = TOVRAN_SOURCE_DIR "/data/sample.txt";
  const ProgramOutput json = RunTovran({"--json", "-", data}, "exec >/dev/full;");
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.err.substr(json.err.rfind("Error")),
            "Error writing the JSON document to standard output: No space left on device\n");
  EXPECT_EQ(RunTovran({"--json", "-", data}, "exec 2>/dev/full;").status, 1);
  // Likewise the per-user rows: on standard output the report moves to
  // standard error, and a lost row is a failure wherever it goes.
  const ProgramOutput rows = RunTovran({"--per-user", "-", "--kinds", "0", data});
  EXPECT_EQ(rows.status, 0) << rows.err;
  EXPECT_EQ(rows.out.rfind("run,user,held_out,", 0), 0u) << rows.out;
  EXPECT_NE(rows.err.find("Dataset Statistics"), std::string::npos) << rows.err;
  const ProgramOutput lost =
      RunTovran({"--per-user", "-", "--kinds", "0", data}, "exec >/dev/full;");
  EXPECT_EQ(lost.status, 1);
  EXPECT_EQ(lost.err.substr(lost.err.rfind("Error")),
            "Error writing the per-user rows to standard output: No space left on device\n");
  const ProgramOutput device = RunTovran({"--per-user", "/dev/full", "--kinds", "0", data});
  EXPECT_EQ(device.status, 1);
  EXPECT_EQ(device.err.substr(device.err.rfind("Error")),
            "Error writing file /dev/full: No space left on device\n");
}

// Help and version texts are the whole work of the call.
TEST(ProgramOutput, HelpAndVersionToAStreamThatFailsEndWithStatusOne) {
  for (const char *program : {TOVRAN_PROGRAM, TOVRAN_CONVERT, TOVRAN_MODEL_PROGRAM}) {
    for (const char *option : {"--help", "--version"}) {
      const std::pair<const char *, const char *> cases[] = {
          {">/dev/full", "(No space left on device)\n"}, {">&-", "(Bad file descriptor)\n"}};
      for (const auto &[redirect, reason] : cases) {
        const ProgramOutput run = RunCommand(ShellQuote(program) + " " + option + " " + redirect);
        EXPECT_EQ(run.status, 1) << program << " " << option << " " << redirect;
        EXPECT_NE(run.err.find(std::string(": cannot write to standard output ") + reason),
                  std::string::npos)
            << run.err;
      }
    }
  }
}

TEST(ProgramOutput, JsonNamingTheDatasetIsRefused) {
  const std::string data =
      WriteTempFile("dataset.txt", ReadFile(TOVRAN_SOURCE_DIR "/data/sample.txt"));
  const ProgramOutput run = RunTovran({"--json", data, data});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error opening file " + data + ": it is the dataset\n");
  EXPECT_EQ(ReadFile(data), ReadFile(TOVRAN_SOURCE_DIR "/data/sample.txt"));
  // By any other name: a hard link, a symbolic link; and a folder.
  const std::string hard = TempPath("dataset-hard.txt"), soft = TempPath("dataset-soft.txt");
  std::remove(hard.c_str());
  std::remove(soft.c_str());
  ASSERT_EQ(link(data.c_str(), hard.c_str()), 0);
  ASSERT_EQ(symlink(data.c_str(), soft.c_str()), 0);
  for (const std::string &name : {hard, soft}) {
    const ProgramOutput other = RunTovran({"--json", name, data});
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.err, "Error opening file " + name + ": it is the dataset\n");
  }
  EXPECT_EQ(ReadFile(data), ReadFile(TOVRAN_SOURCE_DIR "/data/sample.txt"));
  const std::string folder = TempPath("json-folder");
  std::filesystem::create_directories(folder);
  EXPECT_EQ(RunTovran({"--json", folder, data}).err,
            "Error opening file " + folder + ": it is a folder\n");
}

// A pipe named as the document's path is written in place, never replaced.
TEST(ProgramOutput, PipeNamedAsTheDocumentIsWrittenInPlace) {
  const std::string data = TOVRAN_SOURCE_DIR "/data/sample.txt";
  const std::string pipe = TempPath("document.pipe");
  std::remove(pipe.c_str());
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const ProgramOutput run =
      RunCommand("timeout 60 cat " + ShellQuote(pipe) + " & " + ShellQuote(TOVRAN_PROGRAM) +
                 " --json " + ShellQuote(pipe) + " " + ShellQuote(data) + " >/dev/null; wait");
  EXPECT_EQ(run.out.rfind("{\n  \"schema_version\"", 0), 0u) << run.out;
  EXPECT_EQ(run.out.back(), '\n');
  EXPECT_TRUE(std::filesystem::is_fifo(pipe));
}

namespace {

// The first number after "key": in text.
int64_t FirstCount(const std::string &text, const std::string &key) {
  const size_t at = text.find("\"" + key + "\": ");
  return at == std::string::npos ? -1 : std::stoll(text.substr(at + key.size() + 4));
}

}  // namespace

// A weighted run builds from the training pairs' own values (FILE.values),
// fallback fills short lists, and the document records both: the hits are
// the library's for the same split, each user's last pair held out.
TEST(JsonReport, WeightedAndFallbackRunsCountTheLibrarysHits) {
  const PairList p = PairsOfText(ReadFile(TOVRAN_SOURCE_DIR "/data/sample.txt"));
  const std::string data =
      WriteTempFile("weighted_runs.txt", ReadFile(TOVRAN_SOURCE_DIR "/data/sample.txt"));
  std::vector<float> values;
  std::string text;
  for (size_t k = 0; k < p.rows.size(); k++) {
    values.push_back(float(1 + (k * 7) % 5));
    text += std::to_string(int(values.back())) + "\n";
  }
  // Each user's pairs stand together; the last of each run is held out.
  std::vector<int32_t> rows, cols, held(size_t(p.nrows), -1);
  std::vector<float> kept;
  for (size_t k = 0; k < p.rows.size(); k++) {
    if (k + 1 == p.rows.size() || p.rows[k + 1] != p.rows[k]) {
      held[size_t(p.rows[k])] = p.cols[k];
      continue;
    }
    rows.push_back(p.rows[k]);
    cols.push_back(p.cols[k]);
    kept.push_back(values[k]);
  }
  EXPECT_EQ(RunTovran({data, "--weighting", "bm25"}).status, 1);  // no values beside it yet
  WriteTempFile("weighted_runs.txt.values", text);
  for (const int32_t kind : {TOVRAN_POPULAR, TOVRAN_ITEM_COSINE, TOVRAN_USER_BASED}) {
    for (const int32_t fallback : {0, 1}) {
      std::vector<std::string> args = {
          data,     "--kinds", std::to_string(kind), "--weighting", "bm25", "--k1",        "2",
          "--json", "-",       "--no-progress",      "--nnbr",      "2",    "--user-nnbr", "2"};
      if (fallback) args.insert(args.end(), {"--fallback", "popular"});
      const ProgramOutput run = RunTovran(args);
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_NE(run.out.find("\"weighting\": \"bm25\", \"bm25_k1\": 2, \"bm25_b\": 0.75"),
                std::string::npos);
      EXPECT_EQ(run.out.find("\"fallback\": \"popular\"") != std::string::npos, fallback == 1);
      TOVRAN_Params params = TOVRAN_DefaultParams(kind);
      params.weighting = TOVRAN_WEIGHT_BM25;
      params.bm25_k1 = 2.0f;
      if (kind != TOVRAN_POPULAR) params.nnbr = 2;  // short lists for fallback to fill
      Model *model = TOVRAN_BuildWeighted(p.nrows, p.ncols, int32_t(rows.size()), rows.data(),
                                          cols.data(), kept.data(), &params);
      ASSERT_NE(model, nullptr) << TOVRAN_LastError();
      const TOVRAN_QueryOptions o{nullptr, 0, nullptr, 0, 0, fallback};
      int64_t hits = 0;
      for (int32_t u = 0; u < p.nrows; u++) {
        std::vector<int32_t> basket;
        for (size_t k = 0; k < rows.size(); k++)
          if (rows[k] == u) basket.push_back(cols[k]);
        if (basket.empty() || held[size_t(u)] < 0) continue;
        int32_t answer[10];
        const int32_t m = TOVRAN_RecommendFiltered(model, int32_t(basket.size()), basket.data(), 10,
                                                   &o, answer, nullptr);
        hits += std::count(answer, answer + m, held[size_t(u)]);
      }
      TOVRAN_FreeModel(model);
      EXPECT_EQ(FirstCount(run.out, "hits"), hits) << "kind " << kind << " fallback " << fallback;
    }
  }
  WriteTempFile("weighted_runs.txt.values", text.substr(0, text.size() - 2) + "0\n");
  const ProgramOutput zero = RunTovran({data, "--weighting", "log"});
  EXPECT_EQ(zero.status, 1);
  EXPECT_NE(zero.err.find("weighted_runs.txt.values: line " + std::to_string(p.rows.size()) +
                          ": weighting log needs values above 0"),
            std::string::npos)
      << zero.err;
  const ProgramOutput k1 = RunTovran({data, "--weighting", "log", "--k1", "2"});
  EXPECT_EQ(k1.status, 1);
  EXPECT_NE(k1.err.find("--k1, --b: only --weighting bm25 reads them"), std::string::npos);
}
