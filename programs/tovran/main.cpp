#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "driver/options.h"
#include "driver/program_shell.h"
#include "util/failure.h"
#include "util/fatal_error.h"
#include "util/output_file.h"

int main(int argc, char **argv) {
  const double start = Seconds();
  // Exhausted memory in the standard library (its strings and lists) ends
  // the program with the labelled message too; with the heap that short, not
  // even an exception could be thrown.
  std::set_new_handler(
      [] { FatalError("***Memory allocation failed for the program's working lists."); });
  RemoveTemporariesOnSignals();
  Options opts;
  if (const std::optional<int> status = ParseOptions(argc, argv, &opts)) return *status;
  ProgramHost host;
  int status = 0;
  try {
    RunEvaluation(host, opts, start);
  } catch (const Failure &failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", failure.what());
    status = 1;
  }
  // Closing standard output can fail too (a full disk found late).
  errno = 0;
  if (std::fclose(stdout) != 0 && status == 0) {
    std::fprintf(stderr, "Error writing the report to standard output: %s\n",
                 std::strerror(errno != 0 ? errno : EIO));
    return 1;
  }
  return status;
}
