// The command line of tovran: which argument lists are accepted and what
// they set, and what the program prints for help, version and errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/options.h"
#include "tests/program_runner.h"

namespace {

// Parses the words after the program name; true when the program should run.
bool Parse(std::vector<const char *> words, Options *opts) {
  words.insert(words.begin(), "tovran");
  testing::internal::CaptureStderr();
  const bool run = !ParseOptions(int(words.size()), words.data(), opts).has_value();
  testing::internal::GetCapturedStderr();
  return run;
}

}  // namespace

TEST(Options, AcceptsTheFileAloneOrWithOptionsInAnyPosition) {
  Options opts;
  ASSERT_TRUE(Parse({"data.txt"}, &opts));
  EXPECT_EQ(opts.file, "data.txt");
  EXPECT_EQ(opts.json, "");
  EXPECT_EQ(opts.threads, 1);

  ASSERT_TRUE(Parse({"--json", "out.json", "data.txt", "--threads", "256"}, &opts));
  EXPECT_EQ(opts.file, "data.txt");
  EXPECT_EQ(opts.json, "out.json");
  EXPECT_EQ(opts.threads, 256);

  ASSERT_TRUE(Parse({"data.txt", "--json=o.json", "--threads=3"}, &opts));
  EXPECT_EQ(opts.json, "o.json");
  EXPECT_EQ(opts.threads, 3);

  ASSERT_TRUE(Parse({"--", "-odd-name.txt"}, &opts));
  EXPECT_EQ(opts.file, "-odd-name.txt");
}

TEST(Options, RejectsUnknownOptionsBadValuesAndFileCounts) {
  Options opts;
  for (const std::vector<const char *> &words :
       {std::vector<const char *>{}, {"a.txt", "b.txt"}, {"--jsonx", "o", "a.txt"},
        {"-x", "a.txt"}, {"a.txt", "--json"}, {"--json=", "a.txt"}, {"--json", "o.json"},
        {"--threads", "2"}})
    EXPECT_FALSE(Parse(words, &opts)) << words.size();
  for (const char *bad : {"0", "-1", "257", "2x", "", "99999999999"})
    EXPECT_FALSE(Parse({"--threads", bad, "data.txt"}, &opts)) << bad;
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
