#pragma once

// The command line: the dataset file and the optional outputs.
struct Options {
  const char *file = nullptr;  // the dataset, the one positional argument
  const char *json = nullptr;  // --json OUT: where the JSON results go, or null
};

// Fills *opts from argv[1..argc-1]: "--json OUT" (or "--json=OUT") and
// exactly one file name, in any order; "--" ends the options. Returns false
// on an unknown option, a missing value, or other than one file name.
bool ParseOptions(int argc, char **argv, Options *opts);

// Prints the usage message, naming the program as invoked, on standard output.
void PrintUsage(const char *program);
