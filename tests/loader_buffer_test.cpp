// Loading: numbers read straight from the buffer and numbers read byte by
// byte (across buffer ends, or malformed) must give the same data and the
// same messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "driver/dataset.h"

namespace {

struct Parsed {
  bool ok;
  Dataset ds;
  std::string error;
};

Parsed Parse(const std::string &text) {
  std::FILE *in = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), in);
  std::rewind(in);
  Parsed p{false, {}, ""};
  p.ok = ParseDataset(in, &p.ds, &p.error);
  std::fclose(in);
  return p;
}

TEST(Dataset, ReadsPairsThatStraddleTheReadBuffer) {
  // Enough pairs, with varied padding, that many numbers cross a 64 KiB end.
  const int32_t nusers = 9000;
  std::string text = std::to_string(nusers) + " 7 " + std::to_string(3 * nusers) + "\n";
  for (int32_t u = 0; u < nusers; u++)
    for (int32_t k = 0; k < 3; k++)
      text += std::string(u % 3 + 1, ' ') + "+" + std::to_string(u) + "\t" + std::to_string((u + k) % 7) + "\r\n";
  const Parsed p = Parse(text);
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.ds.ntrain, 2 * nusers);
  for (int32_t u = 0; u < nusers; u++) {
    ASSERT_EQ(p.ds.rowid[2 * u], u);
    ASSERT_EQ(p.ds.colid[2 * u + 1], (u + 1) % 7);
    ASSERT_EQ(p.ds.tvec[u], (u + 2) % 7);
  }
}

TEST(Dataset, NamesTheBadTokenAndItsLine) {
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

}  // namespace
