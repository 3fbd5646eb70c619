// tovran-generate: the same arguments give the same bytes, and what it
// writes is a dataset the program accepts, with the requested number of
// pairs and a few users without pairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

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

// Users in a generated file's header.
long Users(const std::string &out) {
  long users = -1;
  std::istringstream(out) >> users;
  return users;
}

// Pairs held by the most popular item.
long TopItemPairs(const std::string &out) {
  std::istringstream in(out);
  long users = 0, items = 0, pairs = 0;
  in >> users >> items >> pairs;
  std::vector<long> held(size_t(items), 0);
  for (long user = 0, item = 0; in >> user >> item;) held[size_t(item)]++;
  return *std::max_element(held.begin(), held.end());
}

TEST(Generator, BasketMeanAndZipfExponentShapeTheData) {
  const ProgramOutput small = Generate("60000 3 2000 0.9 5");
  const ProgramOutput large = Generate("60000 3 2000 0.9 40");
  ASSERT_EQ(small.status, 0) << small.err;
  ASSERT_EQ(large.status, 0) << large.err;
  // About 60000 / (mean + 1.6) users: the one basket in 100 drawn from 20..299 adds about 1.6.
  EXPECT_NEAR(Users(small.out), 60000 / 6.6, 60000 / 6.6 * 0.1);
  EXPECT_NEAR(Users(large.out), 60000 / 41.6, 60000 / 41.6 * 0.1);

  const ProgramOutput flat = Generate("60000 3 2000 0.6"), steep = Generate("60000 3 2000 1.3");
  ASSERT_EQ(flat.status, 0) << flat.err;
  ASSERT_EQ(steep.status, 0) << steep.err;
  EXPECT_GT(TopItemPairs(steep.out), 3 * TopItemPairs(flat.out));
  // The defaults are the exponent 0.9 and the mean 8.
  EXPECT_EQ(Generate("20000 7 300").out, Generate("20000 7 300 0.9 8").out);
}

TEST(Generator, RejectsMalformedCounts) {
  const ProgramOutput run = Generate("12x");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "tovran-generate: PAIRS must be an integer in 0..2147483646, not '12x'\n");
  const ProgramOutput zipf = Generate("100 1 10 -1");
  EXPECT_EQ(zipf.status, 1);
  EXPECT_EQ(zipf.err, "tovran-generate: ZIPF must be a number in 0..10, not '-1'\n");
}

}  // namespace
