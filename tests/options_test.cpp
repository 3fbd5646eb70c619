// The command line of tovran: which argument lists are accepted and what
// they set, and what the program prints for help, version and errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fixtures.h"
#include "tests/program_runner.h"

TEST(Options, AcceptsTheFileAloneOrWithOptionsInAnyPosition) {
  std::optional<Options> opts = ParseTovranWords({"data.txt"});
  ASSERT_TRUE(opts);
  EXPECT_EQ(opts->file, "data.txt");
  EXPECT_EQ(opts->json, "");
  EXPECT_EQ(opts->threads, 1);

  ASSERT_TRUE(opts = ParseTovranWords({"--json", "out.json", "data.txt", "--threads", "256"}));
  EXPECT_EQ(opts->file, "data.txt");
  EXPECT_EQ(opts->json, "out.json");
  EXPECT_EQ(opts->threads, 256);

  ASSERT_TRUE(opts = ParseTovranWords({"data.txt", "--json=o.json", "--threads=3"}));
  EXPECT_EQ(opts->json, "o.json");
  EXPECT_EQ(opts->threads, 3);

  ASSERT_TRUE(opts = ParseTovranWords({"--", "-odd-name.txt"}));
  EXPECT_EQ(opts->file, "-odd-name.txt");
}

TEST(Options, RejectsUnknownOptionsBadValuesAndFileCounts) {
  for (const std::vector<const char *> &words : {std::vector<const char *>{},
                                                 {"a.txt", "b.txt"},
                                                 {"--jsonx", "o", "a.txt"},
                                                 {"-x", "a.txt"},
                                                 {"a.txt", "--json"},
                                                 {"--json=", "a.txt"},
                                                 {"--json", "o.json"},
                                                 {"--threads", "2"}})
    EXPECT_FALSE(ParseTovranWords(words)) << words.size();
  for (const char *bad : {"0", "-1", "257", "2x", "", "99999999999"})
    EXPECT_FALSE(ParseTovranWords({"--threads", bad, "data.txt"})) << bad;
}

TEST(Options, ProgramExplainsUsageErrorsOnStderrWithStatusOne) {
  const ProgramOutput zero = RunTovran({"--threads", "0", "x.txt"});
  EXPECT_EQ(zero.status, 1);
  EXPECT_EQ(zero.out, "");
  EXPECT_EQ(zero.err,
            "tovran: --threads: 0 is outside 1..256\nTry 'tovran --help' for the options.\n");
  const ProgramOutput none = RunTovran({});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err.rfind("tovran: missing FILE\n", 0), 0u) << none.err;
}

TEST(Options, HelpListsEveryOptionOnStdoutAndVersionPrintsIt) {
  for (const char *word : {"--help", "-h"}) {
    const ProgramOutput help = RunTovran({word});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("Usage: tovran [options] FILE\n", 0), 0u) << help.out;
    for (const char *option : {"--threads N", "--json OUT", "--help", "--version"})
      EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  const ProgramOutput version = RunTovran({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tovran ", 0), 0u);
}

// A sweep is counted from the lists alone: too many runs are refused at
// once, the dataset not even opened, with the option that allows them.
TEST(Options, SweepsBeyondTheLimitAreRefusedBeforeAnyWork) {
  std::string many;
  for (int k = 1; k <= 5000; k++) {
    if (k > 1) many += ',';
    many += std::to_string(k);
  }
  const ProgramOutput run =
      RunTovran({"--kinds", "2", "--top", many, "--nnbr", many, "--min-support", many, "--alpha",
                 "0.5", "/nonexistent/data.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "tovran: the options ask for 125000000000 runs, more than 100000; --max-runs N "
            "raises the limit\nTry 'tovran --help' for the options.\n");
  // Kinds count what applies to them: kind 3 ignores --nnbr, kind 0 every list.
  std::optional<Options> opts =
      ParseTovranWords({"--kinds", "0,1,3", "--top", "1,2", "--nnbr", "1,2,3", "--min-support",
                        "1,2", "--max-runs", "16", "data.txt"});
  ASSERT_TRUE(opts);
  EXPECT_EQ(CountRuns(opts->plan), int64_t(ExpandRuns(opts->plan).size()));
  EXPECT_EQ(CountRuns(opts->plan), 16);
  EXPECT_FALSE(ParseTovranWords({"--kinds", "0,1,3", "--top", "1,2", "--nnbr", "1,2,3",
                                 "--min-support", "1,2", "--max-runs", "15", "data.txt"}));
}
