// Run metrics on hand-computed answers, and the JSON text helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "driver/json_report.h"
#include "driver/metrics.h"
#include "util/json_writer.h"

TEST(Metrics, CountsHitPositionsQueriesAndDistinctItems) {
  // Two threads' marks; the positions are in user order.
  std::vector<std::vector<uint8_t>> seen(2, std::vector<uint8_t>(5, 0));
  const int32_t first[] = {3, 1, 4};
  const int32_t second[] = {1, 2};
  std::vector<int32_t> positions;
  positions.push_back(RecordAnswer(first, 3, 4, seen[0].data()));
  positions.push_back(RecordAnswer(second, 2, 0, seen[1].data()));
  positions.push_back(RecordAnswer(second, -1, 1, seen[1].data()));  // invalid basket
  positions.push_back(RecordAnswer(second, 2, 1, seen[0].data()));
  EXPECT_EQ(positions, (std::vector<int32_t>{3, 0, 0, 1}));
  RunMetrics m = SumRun(5, positions, seen);
  m.top = 3;
  EXPECT_EQ(m.queried, 4);
  EXPECT_EQ(m.hits, 2);
  EXPECT_EQ(m.distinct, 4);  // 1, 2, 3, 4
  EXPECT_DOUBLE_EQ(HitRate(m), 0.5);
  EXPECT_DOUBLE_EQ(AverageReciprocalHitRank(m), (1.0 / 3 + 1.0) / 4);
  EXPECT_DOUBLE_EQ(Coverage(m), 0.8);
  // Ranks 3 and 1: gains 1/log2(4) and 1/log2(2).
  EXPECT_DOUBLE_EQ(Ndcg(m), (0.5 + 1.0) / 4);
  EXPECT_DOUBLE_EQ(Precision(m), 2.0 / (4 * 3));
}

TEST(Metrics, OnlyTheFirstMatchCountsAndEmptyRunsGiveZero) {
  std::vector<uint8_t> seen(3, 0);
  const int32_t twice[] = {0, 2, 2};
  EXPECT_EQ(RecordAnswer(twice, 3, 2, seen.data()), 2);

  const RunMetrics empty = SumRun(0, {}, {});
  EXPECT_EQ(HitRate(empty), 0.0);
  EXPECT_EQ(AverageReciprocalHitRank(empty), 0.0);
  EXPECT_EQ(Coverage(empty), 0.0);
  EXPECT_EQ(Ndcg(empty), 0.0);
  EXPECT_EQ(Precision(empty), 0.0);
}

TEST(JsonText, EscapesQuotesBackslashesControlsAndReplacesNonUtf8) {
  EXPECT_EQ(JsonString("plain/ok.txt"), "\"plain/ok.txt\"");
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("tab\there\n"), "\"tab\\u0009here\\u000a\"");
  EXPECT_EQ(JsonString("caf\xc3\xa9"), "\"caf\xc3\xa9\"");
  // Bytes of a file name that are no text: Latin-1, a stray continuation, an
  // overlong slash, a surrogate, a sequence cut short; four-byte ones stay.
  EXPECT_EQ(JsonString("caf\xe9.txt"), "\"caf\\ufffd.txt\"");
  EXPECT_EQ(JsonString("\x80\xc0\xaf\xed\xa0\x80"),
            "\"\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\"");
  EXPECT_EQ(JsonString("\xe2\x82"), "\"\\ufffd\\ufffd\"");
  EXPECT_EQ(JsonString("\xf0\x9f\x8d\x95"), "\"\xf0\x9f\x8d\x95\"");
  // Ids may hold NUL bytes, and a sequence cut short by the end of the text
  // is not completed from what lies beyond it.
  EXPECT_EQ(JsonString(std::string_view("a\0b", 3)), "\"a\\u0000b\"");
  EXPECT_EQ(JsonString(std::string_view("\xc3\xa9", 1)), "\"\\ufffd\"");
}

TEST(JsonText, RealsRoundTripAndNonFiniteBecomesNull) {
  EXPECT_EQ(JsonReal(0.5), "0.5");
  EXPECT_EQ(JsonReal(0.8), "0.8");  // shortest text, not 0.80000000000000004
  EXPECT_EQ(JsonReal(1e300), "1e+300");
  EXPECT_EQ(std::stod(JsonReal(0.1)), 0.1);
  EXPECT_EQ(std::stod(JsonReal(2.0 / 3)), 2.0 / 3);
  EXPECT_EQ(JsonReal(std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(JsonReal(std::nan("")), "null");
  EXPECT_EQ(JsonFloat(0.1f), "0.100000001");
  EXPECT_EQ(JsonFloat(3e38f * 10), "null");
  EXPECT_EQ(JsonFloat(-std::numeric_limits<float>::quiet_NaN()), "null");
}
