// The program on malformed files: every rejection names the file and what is
// wrong on standard error, exits with 1 and prints nothing on standard
// output (no statistics). The corpus in tests/bad_input/ holds one file per
// rejection class; formatted-input liberties (CR-LF, a leading '+') pass.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "tests/program_runner.h"

namespace {

namespace fs = std::filesystem;

const std::string kCorpus = TOVRAN_SOURCE_DIR "/tests/bad_input/";

// Corpus file -> the reason the program must give.
const std::map<std::string, std::string> kRejections = {
    {"empty.txt",
     "the header must be three non-negative integers (users, items, pairs), but the file holds 0"},
    {"header_short.txt",
     "the header must be three non-negative integers (users, items, pairs), but the file holds 2"},
    {"header_negative.txt", "header: the number of items must be a non-negative integer, not '-4'"},
    {"header_not_integer.txt",
     "header: the number of pairs must be a non-negative integer, not '7.0'"},
    {"header_beyond_32_bits.txt",
     "header: the number of users, '4294967296' does not fit in 32 bits"},
    {"header_too_large_to_index.txt",
     "header: 2147483647 users is more than can be indexed (at most 2147483646)"},
    {"binary_garbage.bin",
     "header: the number of users must be a non-negative integer, not "
     "'\\x7fELF\\x02\\x01\\x01\\x00D'"},
    {"pair_not_integer.txt", "pair 2 (line 3): 'x' is not a decimal integer"},
    {"pair_hexadecimal.txt", "pair 1 (line 2): '0x1' is not a decimal integer"},
    {"pair_long_token.txt",
     "pair 1 (line 2): 'abcdefghijklmnopqrstuvwx...' is not a decimal integer"},
    {"pair_beyond_32_bits.txt", "pair 2 (line 3): '99999999999' does not fit in 32 bits"},
    {"pair_negative_beyond_32_bits.txt", "pair 1 (line 2): '-2147483649' does not fit in 32 bits"},
    {"fewer_pairs.txt", "the header announces 4 pairs, but the file holds only 2"},
    {"half_a_pair.txt", "the header announces 2 pairs, but the file holds only 1"},
    {"content_after_pairs.txt", "line 4: '1' follows the last of the 2 pairs"},
    {"user_out_of_range.txt", "pair 2 (line 3): user 2 is outside 0..1"},
    {"user_negative.txt", "pair 1 (line 2): user -1 is outside 0..1"},
    {"item_out_of_range.txt", "pair 1 (line 2): item 3 is outside 0..2"},
    {"no_items_declared.txt", "pair 1 (line 2): item 0 is given, but the header declares no items"},
    {"no_users_declared.txt", "pair 1 (line 2): user 0 is given, but the header declares no users"},
    {"split_run.txt",
     "pair 3 (line 4): user 0 appears again after other users; each user's pairs must stand "
     "together"},
};

void ExpectRejected(const std::string &path, const std::string &reason) {
  const ProgramOutput run = RunTovran({path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "") << "nothing, statistics least of all, may reach standard output";
  EXPECT_EQ(run.err, "Error in file " + path + ": " + reason + "\n");
}

void ExpectNotOpened(const ProgramOutput &run, const std::string &path, const std::string &reason) {
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error opening file " + path + ": " + reason + "\n");
}

TEST(BadInput, EveryCorpusFileIsRejectedWithItsReason) {
  for (const auto &[name, reason] : kRejections) {
    SCOPED_TRACE(name);
    ExpectRejected(kCorpus + name, reason);
  }
}

TEST(BadInput, EveryCorpusFileHasAnExpectedReason) {
  for (const fs::directory_entry &entry : fs::directory_iterator(kCorpus))
    EXPECT_TRUE(kRejections.count(entry.path().filename().string()))
        << entry.path() << " is not listed in kRejections";
}

TEST(BadInput, DelimitedTextGetsAHintToConvertIt) {
  const std::string csv = WriteTempFile("ratings.csv", "userId,movieId,rating\n1,31,2.5\n");
  const ProgramOutput run = RunTovran({csv});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Error in file " + csv +
                         ": header: the number of users must be a non-negative integer, not "
                         "'userId,movieId,rating'\n"
                         "The first line looks like delimited text (a table with commas, tabs or "
                         "names);\nconvert the file first: tovran-convert " +
                         csv + " OUT.txt\n");
}

TEST(BadInput, DirectoryGivenAsTheFileIsRejected) {
  ExpectRejected(kCorpus, "cannot read it (Is a directory)");
}

TEST(BadInput, MissingFileIsNotOpened) {
  const std::string path = kCorpus + "no_such_file.txt";
  ExpectNotOpened(RunTovran({path}), path, "No such file or directory");
}

// Root reads any file, so as root the program runs as the unprivileged
// user 65534 instead; the test is skipped only where that cannot be done.
TEST(BadInput, FileWithoutReadPermissionIsNotOpened) {
  const std::string path = WriteTempFile("unreadable.txt", "1 1 1\n0 0\n");
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  std::string prefix;
  if (std::FILE *probe = std::fopen(path.c_str(), "r")) {
    std::fclose(probe);
    prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  const ProgramOutput run = RunTovran({path}, prefix);
  if (!prefix.empty() && (run.status == 126 || run.status == 127 || run.status == -1))
    GTEST_SKIP() << "cannot run the program as an unprivileged user: " << run.err;
  ExpectNotOpened(run, path, "Permission denied");
}

// The worked example of the loader, written plainly, and variants that
// formatted input reads the same way.
const char kPlain[] = "3 5 7\n0 1\n0 2\n0 3\n1 0\n1 4\n2 2\n2 3\n";

void ExpectSameReportAsPlain(const std::string &name, const std::string &text) {
  const ProgramOutput plain = RunTovran({WriteTempFile("plain.txt", kPlain)});
  const ProgramOutput variant = RunTovran({WriteTempFile(name, text)});
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(variant.status, 0);
  EXPECT_EQ(variant.err, "");
  EXPECT_EQ(variant.out.substr(0, variant.out.find('\n')),
            "Dataset Statistics: Nusers: 3, Nitems: 5, Ntrans; 4");
  EXPECT_EQ(MaskTimings(variant.out), MaskTimings(plain.out));
}

TEST(BadInput, CarriageReturnLineEndsAreAccepted) {
  ExpectSameReportAsPlain("crlf.txt", "3 5 7\r\n0 1\r\n0 2\r\n0 3\r\n1 0\r\n1 4\r\n2 2\r\n2 3\r\n");
}

TEST(BadInput, LeadingPlusSignsAreAccepted) {
  ExpectSameReportAsPlain("plus.txt", "+3 +5 +7\n+0 +1\n0 2\n0 +3\n1 0\n1 4\n+2 2\n2 3");
}

TEST(BadInput, AnyWhiteSpaceSeparatesNumbers) {
  ExpectSameReportAsPlain("spaces.txt", "\t3\v5\f7 0 1 0 2\n\n0 3   1 0 1 4 2 2 2 3\n\n");
}

}  // namespace
