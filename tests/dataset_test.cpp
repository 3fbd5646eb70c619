#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/split.h"
#include "tests/fixtures.h"
#include "tests/program_runner.h"

namespace {

struct Parsed {
  bool ok;
  Dataset ds;
  std::string error;
};

Parsed Parse(const std::string &text) {
  Parsed p;
  p.ok = DatasetFromText(text, &p.ds, &p.error);
  return p;
}

std::string ErrorOf(const std::string &text) {
  Parsed p = Parse(text);
  EXPECT_FALSE(p.ok) << "accepted: " << text;
  return p.error;
}

}  // namespace

TEST(ReadDataset, HoldsOutTheLastListedPairOfEveryUser) {
  Parsed p = Parse("3 5 7\n0 1\n0 2\n0 3\n1 0\n1 4\n2 2\n2 3\n");
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.ds.nrows, 3);
  EXPECT_EQ(p.ds.ncols, 5);
  EXPECT_EQ(p.ds.ntrain, 4);
  EXPECT_EQ(Ints(p.ds.held_out_item, 3), (std::vector<int32_t>{3, 4, 3}));
  EXPECT_EQ(Ints(p.ds.rowid, 5), (std::vector<int32_t>{0, 0, 1, 2, 3}));
  EXPECT_EQ(Ints(p.ds.colid, 4), (std::vector<int32_t>{1, 2, 0, 2}));
  // Users 0, 1 and 2 keep baskets of 2, 1 and 1 training pairs.
  EXPECT_EQ(p.ds.nbaskets, 3);
  EXPECT_EQ(Ints(p.ds.basket_starts, 4), (std::vector<int32_t>{0, 2, 3, 4}));
}

TEST(ReadDataset, AcceptsAnyWhiteSpaceSignsAndUsersWithoutPairs) {
  // Users 1 and 3 have no pairs; user 2 has one, which is held out.
  Parsed p = Parse("4\t6 4\r\n+0 5\r\n0\n\n4 0 2 2 +3\v\f");
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.ds.ntrain, 2);
  EXPECT_EQ(Ints(p.ds.held_out_item, 4), (std::vector<int32_t>{2, -1, 3, -1}));
  EXPECT_EQ(Ints(p.ds.rowid, 3), (std::vector<int32_t>{0, 0, 4}));
  EXPECT_EQ(Ints(p.ds.colid, 2), (std::vector<int32_t>{5, 4}));
  EXPECT_EQ(Ints(p.ds.basket_starts, p.ds.nbaskets + 1), (std::vector<int32_t>{0, 2}));

  Parsed empty = Parse("2 2 0");
  ASSERT_TRUE(empty.ok) << empty.error;
  EXPECT_EQ(empty.ds.ntrain, 0);
  EXPECT_EQ(empty.ds.rowid[0], 2);
  EXPECT_EQ(Ints(empty.ds.basket_starts, empty.ds.nbaskets + 1), (std::vector<int32_t>{0}));
}

TEST(ReadDataset, RejectsEveryBreachOfTheFormatWithAReason) {
  EXPECT_EQ(ErrorOf(""),
            "the header must be three non-negative integers (users, items, pairs), "
            "but the file holds 0");
  EXPECT_EQ(ErrorOf("3 4"),
            "the header must be three non-negative integers (users, items, pairs), "
            "but the file holds 2");
  EXPECT_EQ(ErrorOf("3 -4 1\n0 0"),
            "header: the number of items must be a non-negative integer, not '-4'");
  EXPECT_EQ(ErrorOf("3 4 x1\n"),
            "header: the number of pairs must be a non-negative integer, not 'x1'");
  EXPECT_EQ(ErrorOf("2147483647 4 1\n0 0"),
            "header: 2147483647 users is more than can be indexed (at most 2147483646)");
  EXPECT_EQ(ErrorOf("2 4 2\n0 1\n0 1.5\n"), "pair 2 (line 3): '1.5' is not a decimal integer");
  EXPECT_EQ(ErrorOf("2 4 2\n0 1\n0 -\n"), "pair 2 (line 3): '-' is not a decimal integer");
  EXPECT_EQ(ErrorOf("2 4 1\n0 4294967296\n"),
            "pair 1 (line 2): '4294967296' does not fit in 32 bits");
  EXPECT_EQ(ErrorOf("2 4 3\n0 1\n1 2\n"),
            "the header announces 3 pairs, but the file holds only 2");
  EXPECT_EQ(ErrorOf("2 4 2\n0 1\n1 2\n1 3\n"), "line 4: '1' follows the last of the 2 pairs");
  EXPECT_EQ(ErrorOf("2 4 2\n0 1\n1 2 #\n"), "line 3: '#' follows the last of the 2 pairs");
  EXPECT_EQ(ErrorOf("2 4 2\n0 1\n2 2\n"), "pair 2 (line 3): user 2 is outside 0..1");
  EXPECT_EQ(ErrorOf("2 4 2\n0 1\n-1 2\n"), "pair 2 (line 3): user -1 is outside 0..1");
  EXPECT_EQ(ErrorOf("2 1682 1\n0 1700\n"), "pair 1 (line 2): item 1700 is outside 0..1681");
  EXPECT_EQ(ErrorOf("2 0 1\n0 0\n"),
            "pair 1 (line 2): item 0 is given, but the header declares no items");
  EXPECT_EQ(ErrorOf("3 4 4\n0 1\n1 2\n0 3\n2 0\n"),
            "pair 3 (line 4): user 0 appears again after other users; each user's pairs must stand "
            "together");
}

TEST(ReadDataset, AHeaderClaimingFarMorePairsThanTheFileHoldsCostsNoHugeAllocation) {
  // Two billion claimed pairs would need 16 GB if allocated up front.
  EXPECT_EQ(ErrorOf("2 2 2000000000\n0 1\n"),
            "the header announces 2000000000 pairs, but the file holds only 1");
}

// Numbers that cross the end of the read buffer read as any other; a token
// longer than the buffer is read whole.
TEST(ReadDataset, ReadsPairsThatStraddleTheReadBuffer) {
  // Enough pairs, with varied padding, that many numbers cross a 64 KiB end.
  const int32_t nusers = 9000;
  std::string text = std::to_string(nusers) + " 7 " + std::to_string(3 * nusers) + "\n";
  for (int32_t u = 0; u < nusers; u++)
    for (int32_t k = 0; k < 3; k++)
      text += std::string(u % 3 + 1, ' ') + "+" + std::to_string(u) + "\t" +
              std::to_string((u + k) % 7) + "\r\n";
  const Parsed p = Parse(text);
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.ds.ntrain, 2 * nusers);
  for (int32_t u = 0; u < nusers; u++) {
    ASSERT_EQ(p.ds.rowid[2 * u], u);
    ASSERT_EQ(p.ds.colid[2 * u + 1], (u + 1) % 7);
    ASSERT_EQ(p.ds.held_out_item[u], (u + 2) % 7);
  }

  const std::string zeros(300000, '0'), nines(300000, '9');
  const Parsed padded = Parse("2 2 2\n0 1\n1 " + zeros + "1\n");
  ASSERT_TRUE(padded.ok) << padded.error;
  EXPECT_EQ(padded.ds.held_out_item[1], 1);
  EXPECT_EQ(ErrorOf("2 2 2\n0 1\n1 " + nines + "\n"),
            "pair 2 (line 3): '" + nines.substr(0, 24) + "...' does not fit in 32 bits");
  EXPECT_EQ(ErrorOf("2 2 2\n0 1\n1 " + zeros + "x\n"),
            "pair 2 (line 3): '" + zeros.substr(0, 24) + "...' is not a decimal integer");
}

// Through a pipe the size is unknown: room grows as the pairs arrive (see
// the memory-limit tests for a header that claims too many).
TEST(ReadDataset, StreamsGrowTheirRoomAsPairsArrive) {
  const int32_t npairs = 300000;
  std::FILE *in =
      popen(("awk 'BEGIN { print \"7 5 " + std::to_string(npairs) + "\"; for (i = 0; i < " +
             std::to_string(npairs) + "; i++) print int(i / 50000), i % 5 }'")
                .c_str(),
            "r");
  ASSERT_NE(in, nullptr);
  Dataset ds;
  std::string error;
  ASSERT_TRUE(ParseDataset(in, &ds, &error)) << error;
  pclose(in);
  ASSERT_EQ(ds.ntrain, npairs - 6);
  for (int32_t i = 0; i < ds.ntrain; i++) {
    ASSERT_EQ(ds.rowid[i], (i + i / 49999) / 50000) << i;
    ASSERT_EQ(ds.colid[i], (i + i / 49999) % 5) << i;
  }
  EXPECT_EQ(Ints(ds.held_out_item, 7), (std::vector<int32_t>{4, 4, 4, 4, 4, 4, -1}));
}

TEST(ReadDataset, NamesTheBadTokenAndItsLine) {
  // A pair may span lines; each number is named with its own line.
  EXPECT_EQ(Parse("2 2 2\n0 1\n5\n1\n").error, "pair 2 (line 3): user 5 is outside 0..1");
  EXPECT_EQ(Parse("2 2 2\n0 1\n1\n\n7\n").error, "pair 2 (line 5): item 7 is outside 0..1");
  EXPECT_EQ(Parse("2 2 3\n0 1\n1 1\n0\n1\n").error,
            "pair 3 (line 4): user 0 appears again after other users; each user's pairs must "
            "stand together");
  EXPECT_EQ(Parse("2 2 2\n0 1\n1 1x\n").error, "pair 2 (line 3): '1x' is not a decimal integer");
  EXPECT_EQ(Parse("2 2 2\n0 1\n1 4294967296\n").error,
            "pair 2 (line 3): '4294967296' does not fit in 32 bits");
  EXPECT_EQ(Parse("2 2 2\n0 1\n1 -2147483649\n").error,
            "pair 2 (line 3): '-2147483649' does not fit in 32 bits");
  EXPECT_EQ(Parse("2 2 2\n0 1\n1 00000000000000000000001\n").error, "");
  EXPECT_EQ(Parse("-2 2 2\n").error,
            "header: the number of users must be a non-negative integer, not '-2'");
  EXPECT_EQ(Parse("2 2 1\n0 1\n7").error, "line 3: '7' follows the last of the 1 pairs");
  EXPECT_EQ(Parse("2 2 1\n0 -\n").error, "pair 1 (line 2): '-' is not a decimal integer");
}

TEST(ReadDatasetProgram, FailuresExitWithOneAndPrintNoStatistics) {
  ProgramOutput missing = RunTovran({"/nonexistent/ratings.txt"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err,
            "Error opening file /nonexistent/ratings.txt: No such file or directory\n");

  const std::string bad = WriteTempFile("ratings.txt", "2 1682 2\n0 5\n0 1700\n");
  ProgramOutput invalid = RunTovran({bad});
  EXPECT_EQ(invalid.status, 1);
  EXPECT_EQ(invalid.out, "");
  EXPECT_EQ(invalid.err,
            "Error in file " + bad + ": pair 2 (line 3): item 1700 is outside 0..1681\n");
}
