// The JSON results, read back with python3's json module and held against the
// console report of the same run.
#include <gtest/gtest.h>

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

TEST(ProgramOutput, JsonNamingTheDatasetIsRefused) {
  const std::string data =
      WriteTempFile("dataset.txt", ReadFile(TOVRAN_SOURCE_DIR "/data/sample.txt"));
  const ProgramOutput run = RunTovran({"--json", data, data});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error opening file " + data + ": it is the dataset\n");
  EXPECT_EQ(ReadFile(data), ReadFile(TOVRAN_SOURCE_DIR "/data/sample.txt"));
}
