// The whole report, run end to end on real data, against reports known to be
// right. Timings differ from run to run and are masked; every other line,
// hit counts and the estimated alpha included, must match exactly.
#include <gtest/gtest.h>

#include <vector>

#include "tests/program_runner.h"

namespace {

// ordered: the file lists every user's items in order, which standard
// error warns of once; the report itself is unchanged.
void ExpectReportMatches(const std::string &data, const std::string &expected,
                         const std::vector<std::string> &options = {}, bool ordered = false) {
  std::vector<std::string> args = options;
  args.push_back(data);
  const ProgramOutput run = RunTovran(args);
  ASSERT_EQ(run.status, 0) << run.err;
  if (ordered) {
    EXPECT_EQ(run.err.find("Warning: 100% of the users"), 0u) << run.err;
    EXPECT_NE(run.err.find("--split random:1"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  } else {
    EXPECT_EQ(run.err, "");
  }
  EXPECT_EQ(MaskTimings(run.out), MaskTimings(ReadFile(expected)));
}

}  // namespace

// "--split last:1" names the default split: the same report and JSON
// document as no option, timings apart, with and without the summary's
// intervals.
TEST(GoldenReport, SplitLastOneIsTheDefault) {
  for (const std::string &data :
       {std::string(TOVRAN_SOURCE_DIR "/data/sample.txt"), GeneratedData()}) {
    for (const std::vector<std::string> &plan :
         {std::vector<std::string>{}, std::vector<std::string>{"--kinds", "0,1,2", "--summary"}}) {
      std::string report[2], json[2];
      for (int named = 0; named < 2; named++) {
        std::vector<std::string> args = plan;
        const std::string out = WriteTempFile("last1.json", "");
        if (named == 1) args.insert(args.end(), {"--split", "last:1"});
        args.insert(args.end(), {"--json", out, data});
        const ProgramOutput run = RunTovran(args);
        ASSERT_EQ(run.status, 0) << run.err;
        report[named] = MaskReport(run.out);
        json[named] = MaskJsonTimings(ReadFile(out));
      }
      EXPECT_EQ(report[1], report[0]) << data;
      EXPECT_EQ(json[1], json[0]) << data;
    }
  }
}

TEST(GoldenReport, SampleShippedWithTheRepository) {
  ExpectReportMatches(TOVRAN_SOURCE_DIR "/data/sample.txt",
                      TOVRAN_SOURCE_DIR "/data/sample.expected");
}

// 60,000 generated pairs: the same bytes on every machine, so the same report.
TEST(GoldenReport, GeneratedMidSizeFile) {
  if (GeneratedData() == TOVRAN_SOURCE_DIR "/data/sample.txt") GTEST_SKIP() << "no generator built";
  ExpectReportMatches(GeneratedData(), TOVRAN_SOURCE_DIR "/data/generated-60000-11.expected");
}

TEST(GoldenReport, MovieLens100k) {
  const std::string data = SharedData("ml100k.txt");
  if (data.empty()) GTEST_SKIP() << "shared data sets not present";
  ExpectReportMatches(data, SharedData("ml100k.expected"));
}

// About a minute unoptimised-free; run in optimised builds only.
TEST(GoldenReport, RetailBaskets) {
#ifndef TOVRAN_OPTIMISED_BUILD
  GTEST_SKIP() << "runs in the Release build only";
#endif
  const std::string data = SharedData("retail.txt");
  if (data.empty()) GTEST_SKIP() << "shared data sets not present";
  ExpectReportMatches(data, SharedData("retail.expected"), {}, true);
}

TEST(GoldenReport, RetailBasketsOnTwoThreads) {
#ifndef TOVRAN_OPTIMISED_BUILD
  GTEST_SKIP() << "runs in the Release build only";
#endif
  const std::string data = SharedData("retail.txt");
  if (data.empty()) GTEST_SKIP() << "shared data sets not present";
  ExpectReportMatches(data, SharedData("retail.expected"), {"--threads", "2"}, true);
}
