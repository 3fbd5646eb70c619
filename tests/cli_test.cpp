// The shared command-line grammar: values in both spellings, flags, "--",
// help and version, and the wording of every usage error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"

namespace {

struct Parsed {
  std::optional<int> status;
  std::vector<std::string> operands;
  std::string error;
  int32_t count = 7;
  std::string name;
  bool flag = false;
};

Parsed ParseWords(std::vector<const char *> words) {
  Parsed p;
  cli::CommandLine line("prog", "FILE", "");
  line.Value("--count", "N", "a count", cli::IntTo(&p.count, 1, 256));
  line.Value("--name", "TEXT", "a name", cli::TextTo(&p.name));
  line.Flag("--flag", "a flag", &p.flag);
  line.Operands(1, 1);
  words.insert(words.begin(), "prog");
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  p.status = line.Parse(int(words.size()), words.data());
  testing::internal::GetCapturedStdout();
  p.error = testing::internal::GetCapturedStderr();
  p.operands = line.operands();
  return p;
}

}  // namespace

TEST(CommandLine, TakesValuesInBothSpellingsFlagsAndOperandsInAnyOrder) {
  Parsed p = ParseWords({"--count", "3", "a.txt", "--name=-x", "--flag"});
  EXPECT_EQ(p.status, std::nullopt) << p.error;
  EXPECT_EQ(p.count, 3);
  EXPECT_EQ(p.name, "-x");
  EXPECT_TRUE(p.flag);
  EXPECT_EQ(p.operands, std::vector<std::string>{"a.txt"});

  // A value may start with a dash; "--" makes every later word an operand.
  p = ParseWords({"--name", "-", "--", "--flag"});
  EXPECT_EQ(p.status, std::nullopt) << p.error;
  EXPECT_EQ(p.name, "-");
  EXPECT_FALSE(p.flag);
  EXPECT_EQ(p.operands, std::vector<std::string>{"--flag"});
  EXPECT_EQ(ParseWords({"-"}).operands, std::vector<std::string>{"-"});
}

TEST(CommandLine, HelpAndVersionStopWithStatusZero) {
  for (const char *word : {"--help", "-h", "--version"}) {
    // Even with a bad option after them.
    const Parsed p = ParseWords({word, "--bogus"});
    EXPECT_EQ(p.status, 0) << word;
    EXPECT_EQ(p.error, "");
  }
}

TEST(CommandLine, EveryErrorNamesTheOptionAndTheReason) {
  const char *const tail = "Try 'prog --help' for the options.\n";
  const std::vector<std::pair<std::vector<const char *>, std::string>> cases = {
      {{"--count", "0", "a"}, "prog: --count: 0 is outside 1..256\n"},
      {{"--count=2x", "a"}, "prog: --count: '2x' is not a whole number\n"},
      {{"--count", "99999999999999999999", "a"},
       "prog: --count: 99999999999999999999 is outside 1..256\n"},
      {{"a", "--count"}, "prog: --count: needs a value (N)\n"},
      {{"--name=", "a"}, "prog: --name: needs a value (TEXT)\n"},
      {{"--flag=1", "a"}, "prog: --flag: takes no value\n"},
      {{"--frob", "a"}, "prog: --frob: unknown option\n"},
      {{"-x", "a"}, "prog: -x: unknown option\n"},
      {{}, "prog: missing FILE\n"},
      {{"a", "b"}, "prog: unexpected operand 'b' (FILE already given)\n"},
  };
  for (const auto &[words, message] : cases) {
    const Parsed p = ParseWords(words);
    EXPECT_EQ(p.status, 1) << message;
    EXPECT_EQ(p.error, message + tail);
  }
}

TEST(CommandLine, ListsAndRealsAreCheckedEntryByEntry) {
  std::vector<int32_t> ints;
  EXPECT_EQ(cli::ParseIntList("5,10,20", 1, 100, &ints), "");
  EXPECT_EQ(ints, (std::vector<int32_t>{5, 10, 20}));
  EXPECT_EQ(cli::ParseIntList("5,,20", 1, 100, &ints), "'' is not a whole number");
  EXPECT_EQ(cli::ParseIntList("5,200", 1, 100, &ints), "200 is outside 1..100");
  EXPECT_EQ(ints, (std::vector<int32_t>{5, 10, 20}));  // untouched on failure
  std::vector<double> reals;
  EXPECT_EQ(cli::ParseRealList("0.25,1", 0, 1, &reals), "");
  EXPECT_EQ(reals, (std::vector<double>{0.25, 1}));
  EXPECT_EQ(cli::ParseRealList("1.5", 0, 1, &reals), "1.5 is outside 0..1");
  EXPECT_EQ(cli::ParseRealList("nan", 0, 1, &reals), "'nan' is not a number");
  EXPECT_EQ(cli::ParseRealList("1e-400", 0, 1, &reals),
            "'1e-400' is too near 0 for a double (it underflows); give 0 or a larger value");
  EXPECT_EQ(cli::ParseRealList("1e400", 0, 1, &reals), "1e400 is outside 0..1");
}
