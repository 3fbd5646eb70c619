// The complete report on the shipped sample under valgrind's memcheck: no
// memory error and no byte definitely or indirectly lost, and the report
// unchanged. Skipped when valgrind is absent and in sanitizer builds, which
// cannot run under it.
#include <gtest/gtest.h>

#include <string>

#include "tests/program_runner.h"

namespace {

constexpr char kMemcheck[] =
    "valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect "
    "--errors-for-leak-kinds=definite,indirect --error-exitcode=99 --log-fd=2 ";

TEST(Valgrind, CompleteReportHasNoMemoryErrorsAndNoLeaks) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "sanitizer builds cannot run under valgrind";
#endif
  if (RunCommand("command -v valgrind").status != 0) GTEST_SKIP() << "valgrind is not installed";
  const ProgramOutput run = RunTovran({TOVRAN_SOURCE_DIR "/data/sample.txt"}, kMemcheck);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("ERROR SUMMARY: 0 errors from 0 contexts"), std::string::npos) << run.err;
  const bool all_freed = run.err.find("All heap blocks were freed") != std::string::npos;
  const bool none_lost = run.err.find("definitely lost: 0 bytes") != std::string::npos &&
                         run.err.find("indirectly lost: 0 bytes") != std::string::npos;
  EXPECT_TRUE(all_freed || none_lost) << run.err;
  EXPECT_EQ(MaskTimings(run.out), MaskTimings(ReadFile(TOVRAN_SOURCE_DIR "/data/sample.expected")));
}

}  // namespace
