// The program under an address-space limit (prlimit --as) on files whose
// arrays cannot fit: the first allocation the heap refuses is named with its
// label and its full 64-bit byte count on standard error, and the process
// ends with status 1. Skipped without prlimit and in sanitizer builds, whose
// shadow memory needs more address space than any limit here allows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/program_runner.h"

namespace {

constexpr char kLimit[] = "prlimit --as=1000000000 ";  // 1 GB of address space

bool CanLimitMemory(std::string *why) {
#if defined(__SANITIZE_ADDRESS__)
  *why = "sanitizer builds reserve more address space than the limit";
  return false;
#else
  if (RunCommand("command -v prlimit").status != 0) {
    *why = "prlimit (util-linux) is not installed";
    return false;
  }
  return true;
#endif
}

#define SKIP_UNLESS_MEMORY_CAN_BE_LIMITED()         \
  do {                                              \
    std::string why;                                \
    if (!CanLimitMemory(&why)) GTEST_SKIP() << why; \
  } while (false)

TEST(MemoryLimit, LoaderNamesTheArrayItCannotAllocate) {
  SKIP_UNLESS_MEMORY_CAN_BE_LIMITED();
  // Two billion users need an 8 GB record of their runs before any pair is read.
  const ProgramOutput run =
      RunTovran({WriteTempFile("many_users.txt", "2000000000 1 0\n")}, kLimit);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(
      run.err,
      "***Memory allocation failed for ReadDataset: runs. Requested size: 8000000000 bytes\n");
}

TEST(MemoryLimit, EngineNamesTheArrayItCannotAllocate) {
  SKIP_UNLESS_MEMORY_CAN_BE_LIMITED();
  // Fifty million items: the offsets fit (200 MB each), the 20 neighbours
  // per item (4 GB) do not.
  const ProgramOutput run =
      RunTovran({WriteTempFile("many_items.txt", "2 50000000 4\n0 0\n0 1\n1 2\n1 3\n")}, kLimit);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "Dataset Statistics: Nusers: 2, Nitems: 50000000, Ntrans; 2\n"
            "-----------------------------------------------------------------------------\n"
            "Testing RType=1...\n"
            "  Bulding model [NNbr=20]...\n");
  EXPECT_EQ(run.err,
            "***Memory allocation failed for TOVRAN_Init_ColVecSim: itemind. "
            "Requested size: 4000000000 bytes\n");
}

}  // namespace

namespace {

const std::string kSample = TOVRAN_SOURCE_DIR "/data/sample.txt";

// True when out is the start of the expected report, timings masked.
bool StartsTheReport(const std::string &out, const std::string &expected) {
  const std::string masked = MaskTimings(out);
  return expected.compare(0, masked.size(), masked) == 0;
}

// From the limit at which the program first loads up to where it completes
// time after time, every run ends with the complete report or with the
// labelled allocation message after a part of it: never an abort, and never
// an exhausted heap passed off as another fault.
TEST(MemoryLimit, ExhaustedMemoryLeavesNoTemporaryFile) {
  SKIP_UNLESS_MEMORY_CAN_BE_LIMITED();
  const std::string dir = TempPath("out-of-memory");
  RunCommand("rm -rf " + ShellQuote(dir) + "; mkdir " + ShellQuote(dir));
  // The document's temporary exists when the engine's allocation fails.
  const ProgramOutput run =
      RunTovran({"--json", dir + "/out.json",
                 WriteTempFile("many_items.txt", "2 50000000 4\n0 0\n0 1\n1 2\n1 3\n")},
                kLimit);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("***Memory allocation failed"), std::string::npos) << run.err;
  EXPECT_EQ(RunCommand("ls -A " + ShellQuote(dir)).out, "");
}

// The converter out of memory: a line too long to hold is no end of input,
// and a heap too small for the ids ends with the labelled message; either
// way status 1 and no file written.
TEST(MemoryLimit, ConverterFailsWholeWhenMemoryRunsOut) {
  SKIP_UNLESS_MEMORY_CAN_BE_LIMITED();
  const std::string dir = TempPath("convert-memory");
  RunCommand("rm -rf " + ShellQuote(dir) + "; mkdir " + ShellQuote(dir));
  const std::string pairs = "seq 1 1000 | sed 's/.*/u&,i&/'";
  const ProgramOutput line =
      RunProgram(TOVRAN_CONVERT, {"-", dir + "/long"},
                 "{ " + pairs + "; head -c 64000000 /dev/zero | tr '\\0' a; echo; " + pairs +
                     "; } | prlimit --as=40000000 ");
  EXPECT_EQ(line.status, 1);
  EXPECT_EQ(line.err,
            "tovran-convert: -: line 1001: cannot be read (Cannot allocate memory); nothing "
            "written\n");
  const std::string csv = dir + "/s.csv";
  RunCommand("seq 1 20000 | awk '{print \"u\"($1%3000)\",i\"($1%5000)}' >" + ShellQuote(csv));
  for (const char *limit : {"7000000", "8000000"}) {
    const ProgramOutput run =
        RunProgram(TOVRAN_CONVERT, {csv, dir + "/out"}, std::string("prlimit --as=") + limit + " ");
    EXPECT_EQ(run.status, 1) << limit;
    EXPECT_EQ(run.err,
              "tovran-convert: ***Memory allocation failed for the conversion's working lists; "
              "nothing written\n")
        << limit;
  }
  EXPECT_EQ(RunCommand("ls -A " + ShellQuote(dir)).out, "s.csv\n");
}

// A buffer of one pair makes one run per pair; merged in passes of bounded
// fan-in, 10,000 of them fit in 32 file descriptors and 30 MB of address
// space, and the outputs are those of one in-memory sort, ties in time in
// input order, with or without the filters that read the pairs back.
TEST(MemoryLimit, ConverterMergesManyRunsInFewFilesAndLittleMemory) {
  SKIP_UNLESS_MEMORY_CAN_BE_LIMITED();
  const std::string dir = TempPath("convert-runs");
  RunCommand("rm -rf " + ShellQuote(dir) + "; mkdir " + ShellQuote(dir));
  const std::string csv = dir + "/in.csv";
  RunCommand("seq 1 10000 | awk '{print \"u\"($1%701)\",i\"(($1*$1)%53)\",4,\"($1*13%17)}' >" +
             ShellQuote(csv));
  for (const std::vector<std::string> &filters :
       {std::vector<std::string>{}, {"--dedupe", "--min-user-pairs", "12"}}) {
    std::vector<std::string> whole = filters, limited = filters;
    whole.insert(whole.end(), {csv, dir + "/whole"});
    limited.insert(limited.end(), {"--buffer-pairs", "1", csv, dir + "/limited"});
    ASSERT_EQ(RunProgram(TOVRAN_CONVERT, whole).status, 0);
    const ProgramOutput run =
        RunProgram(TOVRAN_CONVERT, limited, "prlimit --nofile=32 --as=30000000 ");
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char *suffix : {"", ".users", ".items", ".times"}) {
      const std::string want = ReadFile(dir + "/whole" + suffix);
      EXPECT_FALSE(want.empty()) << suffix;
      EXPECT_EQ(ReadFile(dir + "/limited" + suffix), want) << suffix;
    }
  }
  EXPECT_EQ(RunCommand("ls -A " + ShellQuote(dir)).out,
            "in.csv\nlimited\nlimited.items\nlimited.times\nlimited.users\nwhole\nwhole.items\n"
            "whole.times\nwhole.users\n");
}

TEST(MemoryLimit, EveryLimitGivesTheReportOrTheLabelledMessage) {
  SKIP_UNLESS_MEMORY_CAN_BE_LIMITED();
  const std::string expected = MaskTimings(ReadFile(TOVRAN_SOURCE_DIR "/data/sample.expected"));
  int complete_in_a_row = 0, refused = 0;
  for (long limit = 3000000; limit < 40000000 && complete_in_a_row < 10; limit += 40000) {
    const ProgramOutput run =
        RunTovran({"--threads", "2", kSample}, "prlimit --as=" + std::to_string(limit) + " ");
    SCOPED_TRACE("limit " + std::to_string(limit) + ": " + run.err);
    if (run.status == 127) continue;  // the loader itself found no room
    if (run.status == 0) {
      complete_in_a_row++;
      EXPECT_EQ(MaskTimings(run.out), expected);
      EXPECT_EQ(run.err, "");
      continue;
    }
    complete_in_a_row = 0;
    refused++;
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("***Memory allocation failed for ", 0), 0u);
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line";
    EXPECT_TRUE(StartsTheReport(run.out, expected)) << run.out;
  }
  EXPECT_EQ(complete_in_a_row, 10);
  EXPECT_GT(refused, 0) << "no limit was tight enough to matter";
}

// Through a pipe the file's size is unknown; two billion claimed pairs are
// not allocated up front, so the fault named is the missing pairs.
TEST(MemoryLimit, StreamedHeaderClaimingTooManyPairsIsAFormatFault) {
  SKIP_UNLESS_MEMORY_CAN_BE_LIMITED();
  const ProgramOutput run =
      RunTovran({"/dev/stdin"}, "printf '2 2 2000000000\\n0 1\\n' | " + std::string(kLimit));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "Error in file /dev/stdin: the header announces 2000000000 pairs, but the "
            "file holds only 1\n");
}

// 256 threads' stacks (8 MB each) do not fit in 1 GB of address space; the runs
// carry on with the threads that started, and the report is the same.
TEST(MemoryLimit, ThreadsThatCannotStartAreDoneWithout) {
  SKIP_UNLESS_MEMORY_CAN_BE_LIMITED();
  const ProgramOutput run = RunTovran({"--threads", "256", kSample}, kLimit);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(MaskTimings(run.out), MaskTimings(ReadFile(TOVRAN_SOURCE_DIR "/data/sample.expected")));
}

}  // namespace
