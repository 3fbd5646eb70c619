// The command line: which argument lists are accepted and what they set.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/options.h"
#include "tests/program_runner.h"

namespace {

// Parses the words after the program name; *opts receives the result.
bool Parse(std::vector<std::string> words, Options *opts) {
  static std::vector<std::string> kept;
  kept = std::move(words);
  kept.insert(kept.begin(), "tovran");
  std::vector<char *> argv;
  for (std::string &w : kept) argv.push_back(w.data());
  return ParseOptions(int(argv.size()), argv.data(), opts);
}

}  // namespace

TEST(Options, AcceptsTheFileAloneOrWithJsonInAnyPosition) {
  Options opts;
  ASSERT_TRUE(Parse({"data.txt"}, &opts));
  EXPECT_STREQ(opts.file, "data.txt");
  EXPECT_EQ(opts.json, nullptr);

  ASSERT_TRUE(Parse({"--json", "out.json", "data.txt"}, &opts));
  EXPECT_STREQ(opts.file, "data.txt");
  EXPECT_STREQ(opts.json, "out.json");

  ASSERT_TRUE(Parse({"data.txt", "--json=o.json"}, &opts));
  EXPECT_STREQ(opts.file, "data.txt");
  EXPECT_STREQ(opts.json, "o.json");

  ASSERT_TRUE(Parse({"--", "-odd-name.txt"}, &opts));
  EXPECT_STREQ(opts.file, "-odd-name.txt");
}

TEST(Options, RejectsUnknownOptionsMissingValuesAndFileCounts) {
  Options opts;
  EXPECT_FALSE(Parse({}, &opts));
  EXPECT_FALSE(Parse({"a.txt", "b.txt"}, &opts));
  EXPECT_FALSE(Parse({"--jsonx", "o", "a.txt"}, &opts));
  EXPECT_FALSE(Parse({"-x", "a.txt"}, &opts));
  EXPECT_FALSE(Parse({"a.txt", "--json"}, &opts));
  EXPECT_FALSE(Parse({"--json=", "a.txt"}, &opts));
  EXPECT_FALSE(Parse({"--json", "o.json"}, &opts));
}

TEST(Options, ProgramPrintsUsageOnStdoutAndExitsWithOne) {
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{}, {"--frobnicate", "x.txt"}, {"a.txt", "b.txt"}}) {
    const ProgramOutput run = RunTovran(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind("Usage: " TOVRAN_PROGRAM " <fname>\n", 0), 0u) << run.out;
  }
}
