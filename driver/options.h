#pragma once

#include <cstdint>

// The command line: tovran [--threads N] FILE.
struct Options {
  const char *fname = nullptr;  // the data set file
  int32_t threads = 1;          // threads for builds and query loops
};

// Largest accepted --threads value.
constexpr int32_t kMaxThreads = 256;

// Reads argv[1..argc-1] into *options. Returns false, *options then partly set,
// for an unknown option, a --threads value that is not a whole number in
// 1..kMaxThreads, a missing or second file name.
bool ParseOptions(int argc, char **argv, Options *options);
