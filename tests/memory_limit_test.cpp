// The program under an address-space limit (prlimit --as) on files whose
// arrays cannot fit: the first allocation the heap refuses is named with its
// label and its full 64-bit byte count on standard error, and the process
// ends with status 1. Skipped without prlimit and in sanitizer builds, whose
// shadow memory needs more address space than any limit here allows.
#include <gtest/gtest.h>

#include <string>

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

#define SKIP_UNLESS_MEMORY_CAN_BE_LIMITED()             \
  do {                                                  \
    std::string why;                                    \
    if (!CanLimitMemory(&why)) GTEST_SKIP() << why;     \
  } while (false)

TEST(MemoryLimit, LoaderNamesTheArrayItCannotAllocate) {
  SKIP_UNLESS_MEMORY_CAN_BE_LIMITED();
  // Two billion users need an 8 GB test vector before any pair is read.
  const ProgramOutput run = RunTovran({WriteTempFile("many_users.txt", "2000000000 1 0\n")}, kLimit);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "***Memory allocation failed for ReadDataset: tvec. Requested size: 8000000000 bytes\n");
}

TEST(MemoryLimit, EngineNamesTheArrayItCannotAllocate) {
  SKIP_UNLESS_MEMORY_CAN_BE_LIMITED();
  // Fifty million items: the offsets fit (200 MB each), the 20 neighbours
  // per item (4 GB) do not.
  const ProgramOutput run = RunTovran(
      {WriteTempFile("many_items.txt", "2 50000000 4\n0 0\n0 1\n1 2\n1 3\n")}, kLimit);
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
