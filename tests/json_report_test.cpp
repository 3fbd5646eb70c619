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
  const ProgramOutput check = RunCommand(ShellQuote(TOVRAN_PYTHON) + " " +
                                         ShellQuote(TOVRAN_SOURCE_DIR "/tests/check_json_report.py") +
                                         " " + ShellQuote(json) + " " + ShellQuote(report));
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

TEST(JsonReport, AgreesWithTheConsoleReportOnMovieLens100k) {
  const std::string data = SharedData("ml100k.txt");
  if (data.empty()) GTEST_SKIP() << "shared data sets not present";
  ExpectJsonAgreesWithReport(data, "ml100k");
}

TEST(JsonReport, UnwritablePathFailsBeforeTheRuns) {
  const ProgramOutput run =
      RunTovran({"--json", "/nonexistent-dir/x.json", TOVRAN_SOURCE_DIR "/data/sample.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Error opening file /nonexistent-dir/x.json\n");
}
