// The pieces of tovran-convert on hand-made lines: fields, delimiters,
// headers and columns, timestamps, id maps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/convert/columns.h"
#include "tools/convert/convert_options.h"
#include "tools/convert/fields.h"
#include "tools/convert/id_map.h"
#include "tools/convert/pair_sorter.h"
#include "tools/convert/timestamp.h"

namespace {

// What WriteSortedPairs writes for the pairs (user, item, time), added in
// this order to a sorter holding at most capacity of them in memory.
std::string SortedOutput(size_t capacity, const std::vector<PairRecord> &pairs) {
  PairSorter sorter;
  sorter.capacity = capacity;
  std::string error;
  for (const PairRecord &p : pairs)
    EXPECT_TRUE(AddToSorter(&sorter, p.user, p.item, p.time, &error)) << error;
  std::FILE *out = std::tmpfile();
  EXPECT_TRUE(WriteSortedPairs(&sorter, out, &error)) << error;
  EXPECT_TRUE(sorter.runs.empty());
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

TEST(ConvertTimestamp, ReadsNumbersAndDates) {
  double s = -1;
  EXPECT_TRUE(ParseTimestamp("881250949", &s));
  EXPECT_EQ(s, 881250949.0);
  EXPECT_TRUE(ParseTimestamp("-1.5", &s));
  EXPECT_EQ(s, -1.5);
  EXPECT_TRUE(ParseTimestamp("1970-01-02", &s));
  EXPECT_EQ(s, 86400.0);
  EXPECT_TRUE(ParseTimestamp("2000-03-01T00:00:01Z", &s));
  EXPECT_EQ(s, 951868801.0);
  EXPECT_TRUE(ParseTimestamp("1969-12-31 23:59", &s));
  EXPECT_EQ(s, -60.0);
  EXPECT_TRUE(ParseTimestamp("2001-09-09 01:46:40.25", &s));
  EXPECT_EQ(s, 1000000000.25);
  for (const char *bad : {"", "abc", "0x10", "inf", "nan", "2020-13-01", "2020-01-01 25:00",
                          "2020-01-01T10", "2020/01/01", "12 34"})
    EXPECT_FALSE(ParseTimestamp(bad, &s)) << bad;
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
  EXPECT_EQ(error, "no user column: name one with --user (the header has \"customer\", \"product\")");
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
  EXPECT_EQ(error, "--where 0: the first line has 2 fields");
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
  const std::vector<PairRecord> pairs = {{2, 0, 5, 0}, {0, 1, 9, 0}, {2, 1, 1, 0}, {0, 2, 9, 0},
                                         {1, 3, 0, 0}, {0, 3, 2, 0}, {2, 2, 5, 0}, {0, 4, 9, 0}};
  const std::string want = "0 3\n0 1\n0 2\n0 4\n1 3\n2 1\n2 0\n2 2\n";
  for (size_t capacity : {size_t{1}, size_t{2}, size_t{3}, size_t{8}, size_t{100}})
    EXPECT_EQ(SortedOutput(capacity, pairs), want) << "capacity " << capacity;
  EXPECT_EQ(SortedOutput(4, {}), "");
}
