// Run metrics on hand-computed answers, and the JSON text helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "driver/json_report.h"
#include "driver/metrics.h"
#include "util/json_writer.h"

TEST(Metrics, OneHeldOutItemGivesTheLeaveOneOutValues) {
  // Ranks 3, a miss, 1: gains 1/log2(4) and 1/log2(2).
  RunMetrics m;
  m.top = 3;
  for (const int32_t rank : {3, 0, 1}) AddUser(ScoreUser(&rank, 1, 3), &m);
  EXPECT_EQ(m.queried, 3);
  EXPECT_EQ(m.hits, 2);
  EXPECT_EQ(HitRate(m), 2.0 / 3);
  EXPECT_EQ(Recall(m), 2.0 / 3);
  EXPECT_EQ(AverageReciprocalHitRank(m), (1.0 / 3 + 0.0 + 1.0) / 3);
  EXPECT_EQ(MeanAveragePrecision(m), (1.0 / 3 + 0.0 + 1.0) / 3);
  EXPECT_EQ(Ndcg(m), (0.5 + 0.0 + 1.0) / 3);
  EXPECT_EQ(Precision(m), 2.0 / (3 * 3));
}

TEST(Metrics, SeveralHeldOutItemsUseTheirOwnDenominators) {
  // Four held out, N = 3: listed at ranks 2 and 3 (item order is free), one
  // item held out twice and listed once counts once.
  const int32_t ranks[] = {0, 3, 2, 3};
  const UserMetrics u = ScoreUser(ranks, 4, 3);
  EXPECT_EQ(u.hits, 2);
  EXPECT_EQ(u.hr, 1.0);
  EXPECT_EQ(u.recall, 2.0 / 4);
  EXPECT_EQ(u.precision, 2.0 / 3);
  EXPECT_EQ(u.rr, 1.0 / 2);
  // Ideal: ranks 1..min(3, 4).
  EXPECT_DOUBLE_EQ(u.ndcg, (1 / std::log2(3.0) + 1 / std::log2(4.0)) /
                               (1 + 1 / std::log2(3.0) + 1 / std::log2(4.0)));
  EXPECT_DOUBLE_EQ(u.ap, (1.0 / 2 + 2.0 / 3) / 3);

  const int32_t none[] = {0, 0};
  const UserMetrics miss = ScoreUser(none, 2, 10);
  EXPECT_EQ(miss.hr + miss.recall + miss.precision + miss.ndcg + miss.ap + miss.rr, 0.0);
  const RunMetrics empty;
  EXPECT_EQ(HitRate(empty) + Recall(empty) + Precision(empty) + Ndcg(empty) + Coverage(empty), 0.0);
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
