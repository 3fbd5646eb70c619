// tovran-generate: the same arguments give the same bytes, and what it
// writes is a dataset the program accepts, with the requested number of
// pairs and a few users without pairs.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "tests/program_runner.h"

namespace {

ProgramOutput Generate(const std::string &args) {
  return RunCommand(ShellQuote(TOVRAN_GENERATOR) + " " + args);
}

TEST(Generator, SameSeedGivesSameBytesAndAnotherSeedOthers) {
  const ProgramOutput first = Generate("20000 7"), again = Generate("20000 7"),
                      other = Generate("20000 8");
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, again.out);
  EXPECT_NE(first.out, other.out);
}

TEST(Generator, OutputIsADatasetTheProgramAccepts) {
  const ProgramOutput data = Generate("20000 7 300");
  ASSERT_EQ(data.status, 0) << data.err;
  std::istringstream header(data.out);
  long users = 0, items = 0, pairs = 0;
  header >> users >> items >> pairs;
  EXPECT_EQ(items, 300);
  EXPECT_EQ(pairs, 20000);

  const ProgramOutput run = RunTovran({WriteTempFile("generated.txt", data.out)});
  ASSERT_EQ(run.status, 0) << run.err;
  // Every user without pairs keeps its test item unset, so the training
  // count exceeds pairs - users exactly by the number of such users.
  const std::string stats = run.out.substr(0, run.out.find('\n'));
  long ntrain = 0;
  ASSERT_EQ(std::sscanf(stats.c_str(), "Dataset Statistics: Nusers: %*d, Nitems: %*d, Ntrans; %ld",
                        &ntrain),
            1);
  EXPECT_GT(ntrain, pairs - users);
  EXPECT_LT(ntrain, pairs - users + users / 100);
}

TEST(Generator, RejectsMalformedCounts) {
  const ProgramOutput run = Generate("12x");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "tovran-generate: PAIRS must be an integer in 0..2147483646, not '12x'\n");
}

}  // namespace
