#pragma once

#include <cstdint>

// The command line: tovran [--threads N] [--json OUT.json] FILE.
struct Options {
  const char *file = nullptr;  // the dataset, the one positional argument
  const char *json = nullptr;  // --json OUT: where the JSON results go, or null
  int32_t threads = 1;         // --threads N: threads for builds and query loops
};

// Largest accepted --threads value.
constexpr int32_t kMaxThreads = 256;

// Fills *opts from argv[1..argc-1]: "--threads N", "--json OUT" (each also
// as "--name=value") and exactly one file name, in any order; "--" ends the
// options. Returns false on an unknown option, a missing or bad value (N a
// whole number in 1..kMaxThreads), or other than one file name.
bool ParseOptions(int argc, char **argv, Options *opts);

// Prints the usage message, naming the program as invoked, on standard output.
void PrintUsage(const char *program);
