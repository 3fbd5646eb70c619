// The pieces of tovran-convert on hand-made lines: fields, delimiters,
// headers and columns, timestamps, id maps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/timestamp.h"
#include "programs/convert/columns.h"
#include "programs/convert/convert_options.h"
#include "programs/convert/fields.h"
#include "programs/convert/id_map.h"
#include "programs/convert/pair_sorter.h"

namespace {

// What WriteSortedPairs writes for the pairs (user, item, time), added in
// this order to a sorter holding at most capacity of them in memory.
std::string SortedOutput(size_t capacity, const std::vector<PairRecord> &pairs) {
  PairSorter sorter;
  sorter.capacity = capacity;
  std::string error;
  for (const PairRecord &p : pairs)
    EXPECT_TRUE(AddToSorter(&sorter, p.user, p.item, p.time, p.value, &error)) << error;
  std::FILE *out = std::tmpfile();
  EXPECT_TRUE(WriteSortedPairs(&sorter, out, &error)) << error;
  EXPECT_TRUE(sorter.levels.empty());
  std::rewind(out);
  std::string text;
  for (int ch; (ch = std::fgetc(out)) != EOF;) text += char(ch);
  std::fclose(out);
  return text;
}

std::vector<std::string> Split(const std::string &line, Delimiter delimiter) {
  std::vector<std::string> fields;
  std::string error;
  EXPECT_TRUE(SplitFields(line, delimiter, &fields, &error)) << error;
  return fields;
}

using Fields = std::vector<std::string>;

}  // namespace

TEST(ConvertFields, DetectsTheDelimiterOfTheFirstLine) {
  EXPECT_EQ(DetectDelimiter("1::1193::5::978300760"), Delimiter::kDoubleColon);
  EXPECT_EQ(DetectDelimiter("196\t242\t3\t881250949"), Delimiter::kTab);
  EXPECT_EQ(DetectDelimiter("userId,movieId,rating"), Delimiter::kComma);
  EXPECT_EQ(DetectDelimiter("user;item;\"a,b\""), Delimiter::kSemicolon);
  EXPECT_EQ(DetectDelimiter("0 1"), Delimiter::kWhitespace);
  EXPECT_EQ(DetectDelimiter("a,b;c"), Delimiter::kComma);  // ties go to the comma
}

TEST(ConvertFields, SplitsTrimsAndUnquotes) {
  EXPECT_EQ(Split(" a , b ,c", Delimiter::kComma), (Fields{"a", "b", "c"}));
  EXPECT_EQ(Split("a,,c,", Delimiter::kComma), (Fields{"a", "", "c", ""}));
  EXPECT_EQ(Split("\"x, y\",\"say \"\"hi\"\"\", z", Delimiter::kComma),
            (Fields{"x, y", "say \"hi\"", "z"}));
  EXPECT_EQ(Split("1::Toy Story: 2::5", Delimiter::kDoubleColon),
            (Fields{"1", "Toy Story: 2", "5"}));
  EXPECT_EQ(Split("  1 \t 2   3 ", Delimiter::kWhitespace), (Fields{"1", "2", "3"}));
  EXPECT_EQ(Split("a b\tc", Delimiter::kTab), (Fields{"a b", "c"}));
  EXPECT_EQ(Split("a;b", Delimiter::kSemicolon), (Fields{"a", "b"}));
}

TEST(ConvertFields, RejectsBrokenQuotes) {
  std::vector<std::string> fields;
  std::string error;
  EXPECT_FALSE(SplitFields("\"open,b", Delimiter::kComma, &fields, &error));
  EXPECT_EQ(error, "a quoted field has no closing quote");
  EXPECT_FALSE(SplitFields("\"a\"x,b", Delimiter::kComma, &fields, &error));
  EXPECT_EQ(error, "text follows a closing quote");
  EXPECT_TRUE(IsBlank(" \t\r"));
  EXPECT_FALSE(IsBlank(" x"));
}

Timestamp At(int64_t seconds, int64_t fraction = 0) { return Timestamp{seconds, fraction}; }

// The time text reads as, or {INT64_MIN, -1} with the reason when refused.
std::pair<Timestamp, std::string> Read(const char *text) {
  Timestamp time{INT64_MIN, -1};
  std::string why;
  if (!ParseTimestamp(text, &time, &why)) return {Timestamp{INT64_MIN, -1}, why};
  return {time, ""};
}

constexpr int64_t kQuarter = kFractionUnits / 4;

TEST(ConvertTimestamp, ReadsNumbersAndDatesExactly) {
  const std::vector<std::pair<const char *, Timestamp>> read = {
      {"881250949", At(881250949)},
      {"-1.5", At(-2, 2 * kQuarter)},
      {"-7", At(-7)},
      {"1970-01-02", At(86400)},
      {"2000-03-01T00:00:01Z", At(951868801)},
      {"2020-02-29", At(1582934400)},
      {"1969-12-31 23:59", At(-60)},
      {"2001-09-09 01:46:40.25", At(1000000000, kQuarter)},
      {"1600000000000000001", At(1600000000000000001)},
      {"9223372036854775807", At(INT64_MAX)},
      {"-9223372036854775808", At(INT64_MIN)},
      {"1.6e9", At(1600000000)},
      {"25e-2", At(0, kQuarter)},
      // A hyphen fifth, yet no date.
      {"1.5e-1", At(0, kQuarter * 6 / 10)},
      {"125e-2", At(1, kQuarter)},
      {"100e-20", At(0, 1)},
      {"0.000000000000000001", At(0, 1)},
      {"+0.250000000000000000000", At(0, kQuarter)},
      {"-0", At(0)}};
  for (const auto &[text, want] : read) {
    const auto [got, why] = Read(text);
    EXPECT_EQ(why, "") << text;
    EXPECT_EQ(got.seconds, want.seconds) << text;
    EXPECT_EQ(got.fraction, want.fraction) << text;
  }
  EXPECT_TRUE(At(1600000000000000000) < At(1600000000000000001));
  EXPECT_TRUE(At(-2, 2 * kQuarter) < At(-1));
}

TEST(ConvertTimestamp, RefusesWhatIsNoExactTime) {
  const std::vector<std::pair<const char *, const char *>> refused = {
      {"", "is neither a number nor a date"},
      {"abc", "is neither a number nor a date"},
      {"0x10", "is neither a number nor a date"},
      {"inf", "is neither a number nor a date"},
      {"nan", "is neither a number nor a date"},
      {"1e", "is neither a number nor a date"},
      {"12 34", "is neither a number nor a date"},
      {"2020/01/01", "is neither a number nor a date"},
      {"2020-01-01T10", "is neither a number nor a date"},
      {"1e999", "does not fit in 64-bit seconds"},
      {"9223372036854775808", "does not fit in 64-bit seconds"},
      {"-9223372036854775808.5", "does not fit in 64-bit seconds"},
      {"1e-19", "is finer than 1e-18 seconds"},
      {"0.0000000000000000001", "is finer than 1e-18 seconds"},
      {"2020-02-31", "is not a date of the calendar"},
      {"2019-02-29", "is not a date of the calendar"},
      {"2020-13-01", "is not a date of the calendar"},
      {"2020-01-01 25:00", "is not a time of the day"}};
  for (const auto &[text, why] : refused) EXPECT_EQ(Read(text).second, why) << text;
}

TEST(ConvertIdMap, NumbersIdsInOrderOfFirstAppearance) {
  IdMap map;
  EXPECT_EQ(MapId(&map, "b"), 0);
  EXPECT_EQ(MapId(&map, "a"), 1);
  EXPECT_EQ(MapId(&map, "b"), 0);
  EXPECT_EQ(MapId(&map, "01"), 2);
  EXPECT_EQ(MapId(&map, "1"), 3);  // ids are strings: "01" and "1" differ
  // Many more ids move no earlier one (the map holds views of them).
  for (int k = 0; k < 1000; k++) MapId(&map, "id-with-a-long-name-" + std::to_string(k));
  EXPECT_EQ(MapId(&map, "a"), 1);
  EXPECT_EQ(MapId(&map, "id-with-a-long-name-7"), 11);
  EXPECT_EQ(map.ids[2], "01");
}

TEST(ConvertColumns, FindsKnownNamesOrPositions) {
  ConvertOptions opts;
  Columns c;
  std::string error;
  const Fields header = {"Rating", "movieId", "Timestamp", "userId"};
  EXPECT_TRUE(LooksLikeHeader(header, opts));
  EXPECT_FALSE(LooksLikeHeader(Fields{"1", "31", "2.5", "1260759144"}, opts));
  EXPECT_FALSE(LooksLikeHeader(Fields{"customer", "sku"}, opts));
  opts.item = "sku";
  EXPECT_TRUE(LooksLikeHeader(Fields{"customer", "sku"}, opts));
  opts.item.clear();
  ASSERT_TRUE(ResolveColumns(&header, 4, opts, &c, &error)) << error;
  EXPECT_EQ(c.user, 3);
  EXPECT_EQ(c.item, 1);
  EXPECT_EQ(c.timestamp, 2);
  EXPECT_EQ(c.rating, -1);  // read only for --min-rating
  EXPECT_EQ(c.needed, 4);

  opts.has_min_rating = true;
  ASSERT_TRUE(ResolveColumns(nullptr, 3, opts, &c, &error)) << error;
  EXPECT_EQ(c.user, 0);
  EXPECT_EQ(c.item, 1);
  EXPECT_EQ(c.rating, 2);
  EXPECT_EQ(c.timestamp, -1);

  opts = ConvertOptions{};
  opts.user = "3";
  opts.item = "what";
  opts.timestamp = "when";
  const Fields named = {"what", "when", "who"};
  ASSERT_TRUE(ResolveColumns(&named, 3, opts, &c, &error)) << error;
  EXPECT_EQ(c.user, 2);
  EXPECT_EQ(c.item, 0);
  EXPECT_EQ(c.timestamp, 1);
}

TEST(ConvertColumns, NamesWhatCannotBeFound) {
  ConvertOptions opts;
  Columns c;
  std::string error;
  const Fields header = {"customer", "product"};
  EXPECT_FALSE(ResolveColumns(&header, 2, opts, &c, &error));
  EXPECT_EQ(error,
            "no user column: name one with --user (the header has \"customer\", \"product\")");
  opts.user = "customer";
  opts.item = "sku";
  EXPECT_FALSE(ResolveColumns(&header, 2, opts, &c, &error));
  EXPECT_EQ(error, "--item sku: the header has no such column (it has \"customer\", \"product\")");
  opts.item = "3";
  EXPECT_FALSE(ResolveColumns(&header, 2, opts, &c, &error));
  EXPECT_EQ(error, "--item 3: the first line has 2 fields");
  opts = ConvertOptions{};
  opts.has_min_rating = true;
  EXPECT_FALSE(ResolveColumns(nullptr, 2, opts, &c, &error));
  EXPECT_EQ(error, "--min-rating needs a rating column: name one with --rating");
  opts = ConvertOptions{};
  opts.where = {{"0", "x"}};
  EXPECT_FALSE(ResolveColumns(nullptr, 2, opts, &c, &error));
  EXPECT_EQ(error, "--where 0: there is no column 0 (columns count from 1)");
  opts = ConvertOptions{};
  opts.user = "00";
  EXPECT_FALSE(ResolveColumns(nullptr, 2, opts, &c, &error));
  EXPECT_EQ(error, "--user 00: there is no column 00 (columns count from 1)");
}

TEST(ConvertColumns, WhereGroupsTheValuesOfOneColumn) {
  ConvertOptions opts;
  opts.where = {{"kind", "buy"}, {"3", "cart"}, {"shop", "7"}};
  const Fields header = {"user", "item", "kind", "shop"};
  EXPECT_TRUE(LooksLikeHeader(Fields{"who", "what", "shop"}, opts));
  Columns c;
  std::string error;
  ASSERT_TRUE(ResolveColumns(&header, 4, opts, &c, &error)) << error;
  ASSERT_EQ(c.where.size(), size_t{2});
  EXPECT_EQ(c.where[0].column, 2);
  EXPECT_EQ(c.where[0].values, (Fields{"buy", "cart"}));
  EXPECT_EQ(c.needed, 4);
  EXPECT_TRUE(RowMatches(Fields{"a", "b", "cart", "7"}, c));
  EXPECT_TRUE(RowMatches(Fields{"a", "b", "buy", "7"}, c));
  EXPECT_FALSE(RowMatches(Fields{"a", "b", "buy", "8"}, c));
  EXPECT_FALSE(RowMatches(Fields{"a", "b", "view", "7"}, c));
}

TEST(ConvertPairSorter, OrdersByUserThenTimeThenInputOrderWhateverTheBuffer) {
  // (user, item, time); seq is assigned by the sorter.
  const std::vector<PairRecord> pairs = {
      {2, 0, At(5), 0, 0}, {0, 1, At(9), 0, 0}, {2, 1, At(1), 0, 0}, {0, 2, At(9), 0, 0},
      {1, 3, At(0), 0, 0}, {0, 3, At(2), 0, 0}, {2, 2, At(5), 0, 0}, {0, 4, At(9, 1), 0, 0}};
  const std::string want = "0 3\n0 1\n0 2\n0 4\n1 3\n2 1\n2 0\n2 2\n";
  for (size_t capacity : {size_t{1}, size_t{2}, size_t{3}, size_t{8}, size_t{100}})
    EXPECT_EQ(SortedOutput(capacity, pairs), want) << "capacity " << capacity;
  EXPECT_EQ(SortedOutput(4, {}), "");
}

// 5,000 runs of one pair are merged 64 at a time over three levels; the
// order is that of one sort in memory, ties in time in input order.
TEST(ConvertPairSorter, MergesInPassesToTheOrderOfOneSort) {
  std::vector<PairRecord> pairs;
  for (int32_t k = 0; k < 5000; k++) pairs.push_back({k * 37 % 101, k, At(k * 11 % 7), 0, 0});
  const std::string whole = SortedOutput(pairs.size(), pairs);
  EXPECT_EQ(SortedOutput(1, pairs), whole);
  EXPECT_EQ(SortedOutput(63, pairs), whole);
}
