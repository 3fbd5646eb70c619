// tovran-convert end to end: small files of each kind in, the dataset and
// the id maps out, and converted files through the tovran program.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "dataset/pair_values.h"
#include "tests/fixtures.h"
#include "tests/program_runner.h"
#include "util/failure.h"

namespace {

// The three files a conversion writes.
struct Converted {
  ProgramOutput run;
  std::string data, users, items;
};

Converted Convert(const std::string &name, const std::string &input,
                  const std::vector<std::string> &options = {}) {
  const std::string in = WriteTempFile(name, input);
  const std::string out = WriteTempFile(name + ".out", "");
  std::remove(out.c_str());
  std::vector<std::string> words = options;
  words.push_back(in);
  words.push_back(out);
  Converted c;
  c.run = RunProgram(TOVRAN_CONVERT, words);
  c.data = ReadFile(out);
  c.users = ReadFile(out + ".users");
  c.items = ReadFile(out + ".items");
  return c;
}

void ExpectConverted(const Converted &c, const std::string &data, const std::string &users,
                     const std::string &items) {
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  EXPECT_EQ(c.run.err, "");
  EXPECT_EQ(c.data, data);
  EXPECT_EQ(c.users, users);
  EXPECT_EQ(c.items, items);
}

void ExpectRejected(const Converted &c, const std::string &message) {
  EXPECT_EQ(c.run.status, 1);
  EXPECT_NE(c.run.err.find(message), std::string::npos) << c.run.err;
  EXPECT_EQ(c.data + c.users + c.items, "") << "something was written";
}

std::vector<std::string> Lines(const std::string &text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The converted pairs with indices turned back into original ids.
std::vector<std::string> OriginalPairs(const Converted &c) {
  const PairList p = PairsOfText(c.data);
  const std::vector<std::string> users = Lines(c.users), items = Lines(c.items);
  std::vector<std::string> pairs;
  for (size_t k = 0; k < p.rows.size(); k++)
    pairs.push_back(users.at(size_t(p.rows[k])) + " " + items.at(size_t(p.cols[k])));
  return pairs;
}

std::string FirstLine(const std::string &text) { return text.substr(0, text.find('\n')); }

}  // namespace

TEST(Convert, CsvWithHeaderAndStringIdsInOrderOfFirstAppearance) {
  const Converted c = Convert("shop.csv",
                              "user_id,item_id,rating\r\n"
                              "ann,\"Bread, white\",5\r\n"
                              "bo,milk,1\r\n"
                              "ann,milk,2\r\n"
                              "\r\n"
                              "cy,eggs,4\r\n");
  ExpectConverted(c, "3 3 4\n0 0\n0 1\n1 1\n2 2\n", "ann\nbo\ncy\n", "Bread, white\nmilk\neggs\n");
  EXPECT_EQ(c.run.out.find("3 users, 3 items, 4 pairs") != std::string::npos, true) << c.run.out;
}

TEST(Convert, MovieLensRatingsDatAndUDataOrderEachUserByTime) {
  // ratings.dat: UserID::MovieID::Rating::Timestamp, no header.
  ExpectConverted(Convert("ratings.dat",
                          "1::1193::5::978300760\n"
                          "1::661::3::978302109\n"
                          "1::914::3::978301968\n"
                          "2::1193::4::978298413\n"),
                  "2 3 4\n0 0\n0 2\n0 1\n1 0\n", "1\n2\n", "1193\n661\n914\n");
  // u.data: user item rating timestamp separated by tabs.
  ExpectConverted(Convert("u.data",
                          "196\t242\t3\t881250949\n"
                          "186\t302\t3\t891717742\n"
                          "196\t377\t1\t878887116\n"),
                  "2 3 3\n0 2\n0 0\n1 1\n", "196\n186\n", "242\n302\n377\n");
}

TEST(Convert, TiesInTimeKeepInputOrderAndDatesCount) {
  ExpectConverted(Convert("ties.tsv",
                          "user\titem\ttime\n"
                          "u\tc\t2021-05-01 10:00\n"
                          "u\ta\t2021-05-01\n"
                          "u\tb\t2021-05-01T00:00:00Z\n"
                          "u\td\t2021-04-30\n"),
                  "1 4 4\n0 3\n0 1\n0 2\n0 0\n", "u\n", "c\na\nb\nd\n");
  // --no-timestamp keeps the input order.
  ExpectConverted(Convert("ties2.tsv", "u\tc\t1\t9\nu\ta\t1\t1\n", {"--no-timestamp"}),
                  "1 2 2\n0 0\n0 1\n", "u\n", "c\na\n");
}

TEST(Convert, NanosecondTimestampsOrderExactlyAndNoTimeIsInvented) {
  // As doubles both read 1.6e18; as integers "late" is one nanosecond later.
  ExpectConverted(
      Convert("ns.csv", "user,item,ts\n1,late,1600000000000000001\n1,early,1600000000000000000\n"),
      "1 2 2\n0 1\n0 0\n", "1\n", "late\nearly\n");
  ExpectConverted(Convert("frac.csv", "user,item,ts\n1,b,0.30000000000000001\n1,a,0.3\n"),
                  "1 2 2\n0 1\n0 0\n", "1\n", "b\na\n");
  ExpectRejected(Convert("feb.csv", "user,item,ts\n1,a,2020-02-28\n1,b,2020-02-31\n"),
                 "line 3: timestamp '2020-02-31' is not a date of the calendar");
  ExpectRejected(Convert("huge.csv", "user,item,ts\n1,a,1e999\n"),
                 "line 2: timestamp '1e999' does not fit in 64-bit seconds");
  for (const char *rating : {"inf", "0x10", "nan", "1e999"})
    ExpectRejected(Convert("stars.csv", std::string("user,item,rating\n1,2,") + rating + "\n",
                           {"--min-rating", "1"}),
                   std::string("line 2: rating '") + rating + "' is not a finite decimal number");
}

TEST(Convert, SemicolonsMinRatingAndColumnsChosenByNameOrPosition) {
  ExpectConverted(Convert("scores.txt",
                          "when;stars;customer;product\n"
                          "3;4.5;x;p1\n"
                          "1;2;x;p2\n"
                          "2;3.5;y;p1\n",
                          {"--user", "customer", "--item", "4", "--rating", "stars",
                           "--timestamp=when", "--min-rating", "3"}),
                  "2 1 2\n0 0\n1 0\n", "x\ny\n", "p1\n");
}

TEST(Convert, BasketsOneLineEachNumberedByTheirLine) {
  ExpectConverted(Convert("retail.dat", "1 2 3\n\n4 5\n3  2\n", {"--baskets"}),
                  "3 5 7\n0 0\n0 1\n0 2\n1 3\n1 4\n2 2\n2 1\n", "1\n3\n4\n", "1\n2\n3\n4\n5\n");
  ExpectConverted(Convert("baskets.csv", "bread,milk\nmilk\n", {"--baskets"}),
                  "2 2 3\n0 0\n0 1\n1 1\n", "1\n2\n", "bread\nmilk\n");
}

TEST(Convert, MalformedLinesAreNamedAndNothingIsWritten) {
  ExpectRejected(Convert("short.csv", "user,item\na,b\nc\n"),
                 "line 3: 1 fields, but column 2 is needed");
  ExpectRejected(Convert("time.csv", "user,item,timestamp\na,b,1\na,c,yesterday\n"),
                 "line 3: timestamp 'yesterday' is neither a number nor a date");
  ExpectRejected(Convert("rating.csv", "user,item,rating\n1,2,x\n", {"--min-rating", "1"}),
                 "line 2: rating 'x' is not a finite decimal number");
  ExpectRejected(Convert("quote.csv", "a,\"b\n"), "line 1: a quoted field has no closing quote");
  ExpectRejected(Convert("empty.csv", "user,item\n,b\n"), "line 2: an empty user");
  ExpectRejected(Convert("nocol.csv", "customer,product\n1,2\n", {"--header"}),
                 "line 1: no user column: name one with --user");
}

std::vector<std::string> FolderFiles(const std::string &folder);

TEST(Convert, AFailedConversionLeavesAnEarlierOutputAlone) {
  const std::string in = WriteTempFile("bad.csv", "user,item\na\n");
  const std::string out = WriteTempFile("kept.txt", "1 1 1\n0 0\n");
  EXPECT_EQ(RunProgram(TOVRAN_CONVERT, {in, out}).status, 1);
  EXPECT_EQ(ReadFile(out), "1 1 1\n0 0\n");
  // A write that fails (the file size limit, its signal ignored): the reason,
  // status 1, the earlier output kept and no temporary left.
  const std::string dir = TempPath("convert-write-fails");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directory(dir);
  RunCommand("seq 1 2000 | sed 's/.*/u&,i&/' >" + ShellQuote(dir + "/in.csv"));
  std::ofstream(dir + "/out") << "OLD\n";
  const ProgramOutput large = RunProgram(TOVRAN_CONVERT, {dir + "/in.csv", dir + "/out"},
                                         "trap '' XFSZ; prlimit --fsize=2000 ");
  EXPECT_EQ(large.status, 1);
  EXPECT_EQ(large.err,
            "tovran-convert: cannot write " + dir + "/out (File too large); nothing written\n");
  EXPECT_EQ(FolderFiles(dir), (std::vector<std::string>{"in.csv", "out"}));
  EXPECT_EQ(ReadFile(dir + "/out"), "OLD\n");
  // Its summary line lost: status 1 too.
  const ProgramOutput summary =
      RunProgram(TOVRAN_CONVERT, {dir + "/in.csv", dir + "/new"}, "exec >/dev/full; ");
  EXPECT_EQ(summary.status, 1);
  EXPECT_EQ(summary.err,
            "tovran-convert: cannot write to standard output (No space left on device)\n");
}

// Files in the output's folder after a conversion, sorted.
std::vector<std::string> FolderFiles(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string RunConvert(const std::string &in, const std::string &out) {
  const ProgramOutput run = RunProgram(TOVRAN_CONVERT, {in, out});
  return std::to_string(run.status) + " " + run.err;
}

TEST(Convert, FilesItDoesNotOwnAreNeverReplacedOrRemoved) {
  const std::string dir = TempPath("owned");
  std::filesystem::create_directory(dir);
  auto put = [&](const std::string &name, const std::string &text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
    return dir + "/" + name;
  };
  const std::string in = put("in.csv", "user,item\na,b\n");
  // One output is a folder: refused before anything is replaced.
  const std::string out = put("out.txt", "OLD\n");
  put("out.txt.users", "OLDU\n");
  std::filesystem::create_directory(out + ".items");
  put("out.txt.items/keep", "");
  EXPECT_EQ(RunConvert(in, out),
            "1 tovran-convert: cannot write " + out + ".items (it is a folder); nothing written\n");
  EXPECT_EQ(ReadFile(out), "OLD\n");
  EXPECT_EQ(ReadFile(out + ".users"), "OLDU\n");
  EXPECT_EQ(FolderFiles(dir),
            (std::vector<std::string>{"in.csv", "out.txt", "out.txt.items", "out.txt.users"}));
  // Names that the temporaries of another scheme might take are left alone.
  const std::string tmp_in = put("x.tmp", "user,item\na,b\n");
  std::filesystem::create_directory(dir + "/x.users.tmp");
  EXPECT_EQ(RunConvert(tmp_in, dir + "/x"), "0 ");
  EXPECT_EQ(ReadFile(tmp_in), "user,item\na,b\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/x.users.tmp"));
  // The input as an output (by any name), and an output that is a pipe,
  // written in place.
  EXPECT_EQ(RunConvert(in, in),
            "1 tovran-convert: cannot write " + in + " (it is the input); nothing written\n");
  EXPECT_EQ(ReadFile(in), "user,item\na,b\n");
  EXPECT_EQ(RunConvert(in, dir + "/in").substr(0, 2), "0 ");
  const std::string users = dir + "/in.users";
  EXPECT_EQ(RunConvert(users, dir + "/in"),
            "1 tovran-convert: cannot write " + users + " (it is the input); nothing written\n");
  ASSERT_EQ(link(in.c_str(), (dir + "/linked.csv").c_str()), 0);
  EXPECT_EQ(RunConvert(in, dir + "/linked.csv"), "1 tovran-convert: cannot write " + dir +
                                                     "/linked.csv (it is the input); nothing "
                                                     "written\n");
  ASSERT_EQ(mkfifo((dir + "/pipe").c_str(), 0600), 0);
  const ProgramOutput piped = RunCommand("timeout 20 cat " + ShellQuote(dir + "/pipe") + " & " +
                                         ShellQuote(TOVRAN_CONVERT) + " " + ShellQuote(in) + " " +
                                         ShellQuote(dir + "/pipe") + " >/dev/null; wait");
  EXPECT_EQ(piped.out, "1 1 1\n0 0\n");
  EXPECT_TRUE(std::filesystem::is_fifo(dir + "/pipe"));
  std::filesystem::remove_all(dir + "/pipe.users");
  std::filesystem::remove_all(dir + "/pipe.items");
}

// A signal while the outputs are written (opening OUT.users, a pipe nobody
// reads, blocks with OUT's temporary made) removes that temporary alone and
// still ends the program; the earlier OUT stays.
TEST(Convert, SignalsRemoveTheTemporariesAndNothingElse) {
  const std::pair<const char *, const char *> signals[] = {
      {"INT", "130"}, {"TERM", "143"}, {"HUP", "129"}, {"PIPE", "141"}};
  for (const auto &[signal, status] : signals) {
    const std::string dir = TempPath(std::string("convert-signal-") + signal);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directory(dir);
    std::ofstream(dir + "/in.csv") << "user,item\na,b\n";
    std::ofstream(dir + "/out") << "OLD\n";
    ASSERT_EQ(mkfifo((dir + "/out.users").c_str(), 0600), 0);
    const std::string d = ShellQuote(dir);
    const ProgramOutput run = RunCommand(
        "env --default-signal=INT " + ShellQuote(TOVRAN_CONVERT) + " " + d + "/in.csv " + d +
        "/out & for i in $(seq 3000); do ls " + d + "/out.?????? >/dev/null 2>&1 && break; " +
        "sleep 0.01; done; kill -" + signal + " $!; wait $!; echo $?");
    EXPECT_EQ(run.out, std::string(status) + "\n") << signal;
    EXPECT_EQ(FolderFiles(dir), (std::vector<std::string>{"in.csv", "out", "out.users"}));
    EXPECT_EQ(ReadFile(dir + "/out"), "OLD\n");
  }
}

TEST(Convert, BadCommandLinesNameTheOptionAndExitWithOne) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--frobnicate in out", "--frobnicate: unknown option"},
      {"only-one", "missing INPUT OUTPUT"},
      {"--delimiter pipe in out", "--delimiter: 'pipe' is not a delimiter"},
      {"--min-rating high in out", "--min-rating: 'high' is not a number"},
      {"--baskets --user 1 in out", "--baskets: takes no columns"},
      {"--buffer-pairs 0 in out", "--buffer-pairs: 0 is outside 1.."},
      {"--where kind in out", "--where: 'kind' is not COLUMN=VALUE"},
      {"--min-item-pairs=0 in out", "--min-item-pairs: 0 is outside 1..2147483647"},
      {"--dedupe=yes in out", "--dedupe: takes no value"}};
  for (const auto &[args, message] : cases) {
    const ProgramOutput run = RunCommand(ShellQuote(TOVRAN_CONVERT) + " " + args);
    EXPECT_EQ(run.status, 1) << args;
    EXPECT_EQ(run.out, "") << args;
    EXPECT_EQ(run.err.rfind("tovran-convert: " + message, 0), 0u) << run.err;
    EXPECT_NE(run.err.find("\nTry 'tovran-convert --help' for the options.\n"), std::string::npos)
        << run.err;
  }
  const ProgramOutput help = RunProgram(TOVRAN_CONVERT, {"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char *option : {"--where C=V", "--dedupe", "--min-user-pairs K", "--min-item-pairs K"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  const ProgramOutput version = RunProgram(TOVRAN_CONVERT, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tovran-convert ", 0), 0u) << version.out;
}

TEST(Convert, UnrecognisedHeadersAreNamedWhenTheFirstLineFails) {
  // No known name, so the first line is data, and its last field no time.
  ExpectRejected(Convert("odd.csv", "uid,sku,stars,when\n1,2,3,4\n"),
                 "line 1: timestamp 'when' is neither a number nor a date; the first line was "
                 "not taken as a header (its fields: \"uid\", \"sku\", \"stars\", \"when\"): "
                 "if it names the columns, add --header, or choose them with --user, --item, "
                 "--timestamp; nothing written");
  // Not for a later line, nor when --no-header said so.
  const Converted later = Convert("odd2.csv", "1,2,3,4\n1,2,3,x\n");
  EXPECT_EQ(later.run.err.find("header"), std::string::npos) << later.run.err;
  const Converted told = Convert("odd3.csv", "1,2,3,x\n", {"--no-header"});
  EXPECT_EQ(told.run.err.find("header"), std::string::npos) << told.run.err;
}

TEST(Convert, ByteOrderMarkSkippedAndNamedColumnsTakeNoTimestampUnlessNamed) {
  ExpectConverted(Convert("bom.csv", "\xEF\xBB\xBFuser,item\na,b\n"), "1 1 1\n0 0\n", "a\n", "b\n");
  // The fourth column would order the pairs if taken as the timestamp.
  const std::string udata = "u\ta\t1\t9\nu\tb\t1\t1\n";
  ExpectConverted(Convert("named.tsv", udata, {"--user", "1", "--item", "2"}), "1 2 2\n0 0\n0 1\n",
                  "u\n", "a\nb\n");
  ExpectConverted(Convert("named2.tsv", udata, {"--item", "2", "--timestamp", "4"}),
                  "1 2 2\n0 1\n0 0\n", "u\n", "a\nb\n");
}

TEST(Convert, WhereKeepsRowsWithEveryColumnMatchingOneOfItsValues) {
  const std::string csv =
      "user,item,event_type,shop\n"
      "a,x,view,1\n"
      "a,y,purchase,1\n"
      "b,x,cart,2\n"
      "b,z,purchase,2\n"
      "c,x,purchase,1\n";
  const Converted c = Convert("events.csv", csv, {"--where", "event_type=purchase"});
  ExpectConverted(c, "3 3 3\n0 0\n1 1\n2 2\n", "a\nb\nc\n", "y\nz\nx\n");
  EXPECT_NE(c.run.out.find("(2 rows not matching --where left out)"), std::string::npos)
      << c.run.out;
  ExpectConverted(Convert("events2.csv", csv,
                          {"--where", "event_type=purchase", "--where=3=cart", "--where", "4=2"}),
                  "1 2 2\n0 0\n0 1\n", "b\n", "x\nz\n");
  ExpectRejected(Convert("events3.csv", csv, {"--where", "kind=view"}),
                 "line 1: --where kind: the header has no such column (it has \"user\", "
                 "\"item\", \"event_type\", \"shop\")");
}

TEST(Convert, DedupeKeepsTheLatestCopyOrTheLastInInputOrder) {
  const std::string csv =
      "user,item,ts\n"
      "a,x,5\n"
      "a,y,3\n"
      "a,x,1\n"
      "b,x,2\n"
      "b,x,2\n";
  // a: y@3 then x@5 (the copy at 1 goes); b: one x.
  const Converted c = Convert("repeats.csv", csv, {"--dedupe"});
  ExpectConverted(c, "2 2 3\n0 1\n0 0\n1 0\n", "a\nb\n", "x\ny\n");
  EXPECT_NE(c.run.out.find("(2 repeats left out)"), std::string::npos) << c.run.out;
  // Untimed: a's second x is its last pair.
  ExpectConverted(Convert("repeats2.csv", csv, {"--dedupe", "--no-timestamp"}),
                  "2 2 3\n0 1\n0 0\n1 0\n", "a\nb\n", "x\ny\n");
  ExpectConverted(Convert("repeats3.csv", "a,x\na,y\na,x\n", {"--dedupe"}), "1 2 2\n0 1\n0 0\n",
                  "a\n", "x\ny\n");
}

TEST(Convert, MinPairsDropsInRoundsUntilEveryoneLeftHasEnough) {
  // Dropping d (one pair) takes item w to one user, so w goes, then c.
  const std::string csv =
      "user,item\n"
      "a,u\na,v\na,w\n"
      "b,u\nb,v\n"
      "c,w\nc,u\n"
      "d,w\n";
  const Converted c =
      Convert("core.csv", csv, {"--min-user-pairs", "2", "--min-item-pairs=3", "--dedupe"});
  // The k-core of (users >= 2, items >= 3) is empty here: u has a, b, c;
  // v has a, b only, so v goes, then b, then u falls to two, and so on.
  ExpectConverted(c, "0 0 0\n", "", "");
  const Converted two =
      Convert("core2.csv", csv, {"--min-user-pairs", "2", "--min-item-pairs", "2"});
  ExpectConverted(two, "3 3 7\n0 0\n0 1\n0 2\n1 0\n1 1\n2 2\n2 0\n", "a\nb\nc\n", "u\nv\nw\n");
  EXPECT_NE(two.run.out.find("(too few pairs: 1 users, 0 items and their 1 pairs left out)"),
            std::string::npos)
      << two.run.out;
}

// The sample's k-core, with and without --dedupe, against a plain one on its
// pairs, ordered through many temporary runs: the same pairs, in the same
// order, under their ids.
TEST(ConvertPipeline, MinPairsGivesTheKCoreOfTheSample) {
  const PairList p = PairsOfText(ReadFile(TOVRAN_SOURCE_DIR "/data/sample.txt"));
  auto id = [](char kind, int index) { return std::string(1, kind) + std::to_string(index); };
  std::string csv;
  for (size_t k = 0; k < p.rows.size(); k++)
    csv += id('u', p.rows[k]) + "," + id('i', p.cols[k]) + "\n";
  const int min_user = 10, min_item = 15;  // seven rounds
  for (const bool dedupe : {false, true}) {
    // Without a timestamp, the copy kept is the last in the file.
    std::vector<char> pair_kept(p.rows.size(), 1);
    for (size_t k = 0; dedupe && k < p.rows.size(); k++)
      for (size_t later = k + 1; later < p.rows.size(); later++)
        if (p.rows[later] == p.rows[k] && p.cols[later] == p.cols[k]) pair_kept[k] = 0;
    const size_t repeats = size_t(std::count(pair_kept.begin(), pair_kept.end(), 0));
    for (bool dropped = true; dropped;) {
      std::vector<int> user_pairs(size_t(p.nrows)), item_pairs(size_t(p.ncols));
      for (size_t k = 0; k < p.rows.size(); k++) {
        user_pairs[size_t(p.rows[k])] += pair_kept[k];
        item_pairs[size_t(p.cols[k])] += pair_kept[k];
      }
      dropped = false;
      for (size_t k = 0; k < p.rows.size(); k++) {
        if (pair_kept[k] && (user_pairs[size_t(p.rows[k])] < min_user ||
                             item_pairs[size_t(p.cols[k])] < min_item)) {
          pair_kept[k] = 0;
          dropped = true;
        }
      }
    }
    std::vector<std::string> expected;
    for (size_t k = 0; k < p.rows.size(); k++)
      if (pair_kept[k]) expected.push_back(id('u', p.rows[k]) + " " + id('i', p.cols[k]));
    ASSERT_GT(expected.size(), size_t{800});
    ASSERT_LT(expected.size(), p.rows.size() - 500);
    std::vector<std::string> options = {"--min-user-pairs", std::to_string(min_user),
                                        "--min-item-pairs", std::to_string(min_item),
                                        "--buffer-pairs",   "97"};
    if (dedupe) {
      ASSERT_GT(repeats, size_t{0});
      options.push_back("--dedupe");
    }
    const Converted c = Convert("sample-core.csv", csv, options);
    ASSERT_EQ(c.run.status, 0) << c.run.err;
    EXPECT_EQ(OriginalPairs(c), expected) << "dedupe " << dedupe;
    EXPECT_EQ(FirstLine(c.data), std::to_string(Lines(c.users).size()) + " " +
                                     std::to_string(Lines(c.items).size()) + " " +
                                     std::to_string(expected.size()));
    if (dedupe) {
      const std::string left_out = " (" + std::to_string(repeats) + " repeats left out)";
      EXPECT_NE(c.run.out.find(left_out), std::string::npos) << c.run.out;
    }
  }
}

// The sample written as a MovieLens u.data file with its lines in reverse
// order and the original position as timestamp: the conversion must restore
// every user's order, and the program must read the result.
TEST(ConvertPipeline, MovieLensFileThroughConvertAndTovran) {
  const std::string sample = ReadFile(TOVRAN_SOURCE_DIR "/data/sample.txt");
  const PairList p = PairsOfText(sample);
  std::string udata;
  std::vector<std::string> want;
  for (size_t k = p.rows.size(); k-- > 0;)
    udata += std::to_string(p.rows[k] + 1) + "\t" + std::to_string(p.cols[k] + 1) + "\t4\t" +
             std::to_string(880000000 + k) + "\n";
  const Converted c = Convert("sample.udata", udata);
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  // Ordered through many temporary runs, the output is the same.
  const Converted spilled = Convert("sample-spilled.udata", udata, {"--buffer-pairs", "97"});
  ExpectConverted(spilled, c.data, c.users, c.items);
  // Users come in order of first appearance, so compare user by user.
  std::vector<std::vector<std::string>> by_user(size_t(p.nrows));
  for (size_t k = 0; k < p.rows.size(); k++)
    by_user[size_t(p.rows[k])].push_back(std::to_string(p.rows[k] + 1) + " " +
                                         std::to_string(p.cols[k] + 1));
  std::vector<std::string> expected;
  for (int u = p.nrows; u-- > 0;)
    expected.insert(expected.end(), by_user[size_t(u)].begin(), by_user[size_t(u)].end());
  EXPECT_EQ(OriginalPairs(c), expected);

  const std::string converted = WriteTempFile("sample.converted", c.data);
  const ProgramOutput run = RunTovran({converted});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(FirstLine(run.out), FirstLine(ReadFile(TOVRAN_SOURCE_DIR "/data/sample.expected")));
  EXPECT_NE(run.out.find("Testing RType=3...\n"), std::string::npos);
}

// The sample as a CSV with a header and string ids, in file order: the
// conversion renumbers items in order of first appearance only.
TEST(ConvertPipeline, CsvWithStringIdsThroughConvertAndTovran) {
  const PairList p = PairsOfText(ReadFile(TOVRAN_SOURCE_DIR "/data/sample.txt"));
  std::string csv = "userId,itemId,rating,timestamp\n";
  std::vector<std::string> expected;
  for (size_t k = 0; k < p.rows.size(); k++) {
    const std::string user = "customer-" + std::to_string(p.rows[k]);
    const std::string item = "sku \"" + std::to_string(p.cols[k]) + "\"";
    csv += user + ",\"sku \"\"" + std::to_string(p.cols[k]) + "\"\"\",1.0,2020-01-01\n";
    expected.push_back(user + " " + item);
  }
  const Converted c = Convert("sample.csv", csv);
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  EXPECT_EQ(OriginalPairs(c), expected);

  const ProgramOutput run = RunTovran({WriteTempFile("sample-csv.converted", c.data)});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(FirstLine(run.out), FirstLine(ReadFile(TOVRAN_SOURCE_DIR "/data/sample.expected")));
}

// The README's worked example: the sample in u.data form, converted, gives
// the report shipped next to it.
TEST(ConvertPipeline, WorkedExampleOfTheReadme) {
  const Converted c = Convert("worked.udata", ReadFile(TOVRAN_SOURCE_DIR "/data/sample.udata"));
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  EXPECT_EQ(Lines(c.users).at(1), "38");
  EXPECT_EQ(Lines(c.items).at(0), "25");
  const ProgramOutput run = RunTovran({WriteTempFile("worked.converted", c.data)});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(MaskTimings(run.out),
            MaskTimings(ReadFile(TOVRAN_SOURCE_DIR "/data/sample-udata.expected")));
}

// MovieLens 100K, whose shared copy numbers ids in order of first appearance
// with each user's ratings in time order, as a ratings.dat file with ties in
// time, ordered in four runs: converted, it is the shared copy byte for byte,
// and gives its report.
TEST(ConvertPipeline, MovieLens100kRatingsDatGivesTheSharedDatasetAndReport) {
  const std::string data = SharedData("ml100k.txt");
  if (data.empty()) GTEST_SKIP() << "shared data sets not present";
  const std::string original = ReadFile(data);
  const PairList p = PairsOfText(original);
  std::string dat;
  for (size_t k = 0; k < p.rows.size(); k++)
    dat += std::to_string(p.rows[k] + 1) + "::" + std::to_string(p.cols[k] + 1) +
           "::3::" + std::to_string(978300000 + k / 3) + "\n";
  const Converted c = Convert("ml100k-ratings.dat", dat, {"--buffer-pairs=30000"});
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  ASSERT_TRUE(c.data == original) << "the converted file differs from " << data;

  const ProgramOutput run = RunTovran({WriteTempFile("ml100k.converted", c.data)});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(MaskTimings(run.out), MaskTimings(ReadFile(SharedData("ml100k.expected"))));
}

// Each pair's value and time stay with it through spilled runs, --dedupe
// and the k-core; the values read back as the floats parsed, and a later
// conversion without them removes the file an earlier one wrote.
TEST(Convert, ValuesAndTimesTravelWithTheirPairs) {
  // Value 10*ts + item code: which copy survived shows in both side files.
  const std::string csv =
      "user,item,rating,ts\n"
      "a,x,51,5\na,y,32,3\na,x,11,1\nb,x,21,2\nb,y,42,4\nc,z,13,1\nc,x,0.1,7\n";
  const std::vector<std::string> options = {"--value",          "rating", "--dedupe",
                                            "--min-item-pairs", "2",      "--buffer-pairs=2"};
  const Converted c = Convert("valued.csv", csv, options);
  // z (one pair) goes; a keeps y@3 then x@5; b x@2, y@4; c x@7.
  ExpectConverted(c, "3 2 5\n0 1\n0 0\n1 0\n1 1\n2 0\n", "a\nb\nc\n", "x\ny\n");
  const std::string out = TempPath("valued.csv.out");
  EXPECT_EQ(ReadFile(out + ".values"), "32\n51\n21\n42\n0.100000001\n");
  EXPECT_EQ(ReadFile(out + ".times"), "3\n5\n2\n4\n7\n");
  EXPECT_EQ(LoadPairValues(out, 5), (std::vector<float>{32, 51, 21, 42, float(0.1)}));
  // The message of the Failure loading npairs values throws ("" if none).
  const auto refusal = [&out](int32_t npairs) {
    try {
      LoadPairValues(out, npairs);
    } catch (const Failure &failure) {
      return failure.message;
    }
    return std::string();
  };
  EXPECT_EQ(refusal(6),
            "Error in file " + out + ".values: it holds 5 values for the dataset's 6 pairs");

  // A bad value is named with its line and leaves the earlier files alone.
  const Converted bad = Convert("valued.csv", "a,x,1\nb,x,inf\n", {"--value", "3"});
  EXPECT_EQ(bad.run.status, 1);
  EXPECT_NE(bad.run.err.find("line 2: value 'inf' is not a finite decimal number; nothing written"),
            std::string::npos)
      << bad.run.err;
  EXPECT_EQ(ReadFile(out + ".values"), "32\n51\n21\n42\n0.100000001\n");
  const Converted plain = Convert("valued.csv", "a,x\n");
  ASSERT_EQ(plain.run.status, 0) << plain.run.err;
  EXPECT_FALSE(std::filesystem::exists(out + ".values"));
  EXPECT_FALSE(std::filesystem::exists(out + ".times"));
  EXPECT_NE(refusal(1).find("tovran-convert writes them when given --value"), std::string::npos);
}
