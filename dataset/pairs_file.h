#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "util/free_all.h"

// An int array from the checked allocation, released with its owner.
using IntArray = Owned<int32_t[]>;

// Every pair of a dataset file, in file order: pair i is (rowid[i],
// colid[i]); rowid[npairs] holds nrows as end marker (colid[npairs] 0), so
// every run of a user ends at a change of id. Each user's pairs stand
// together in one run.
struct DatasetPairs {
  int32_t nrows = 0;
  int32_t ncols = 0;
  int32_t npairs = 0;
  IntArray rowid;  // npairs+1 entries
  IntArray colid;  // npairs+1 entries
  std::vector<float>
      values;  // pair i's value, when read beside the file (pair_values.h); else empty
};

// A copy of pairs; exhausted memory ends the process as AllocInts does.
DatasetPairs CopyPairs(const DatasetPairs &pairs);

// The white space of the dataset format: space, \n, \t, \r, \v, \f.
bool IsDatasetSpace(char ch);

// What ReadIntegerToken found.
enum class TokenVerdict { kInteger, kNotInteger, kTooLarge };
struct TokenRead {
  const char *end;  // where reading stopped: past the token, unless kNotInteger
  TokenVerdict verdict;
};

// The dataset grammar's one number reader. Reads the token that starts at
// first (first < last, *first not white space) as a decimal integer with an
// optional sign that must fit in 32 bits, storing it in *value. A token ends
// at white space or at last; when end == last the caller decides whether
// more bytes belong to it. A token of digits followed by other bytes is
// kNotInteger however long its digits.
TokenRead ReadIntegerToken(const char *first, const char *last, int32_t *value);

// Parses a dataset from an open stream: a header "users items pairs" and
// that many "user item" pairs, any white space between numbers, each user's
// pairs together. Returns true with *ds filled, or false with *error saying
// what is wrong (pair and line numbers count from 1); *ds is then left empty.
// Exhausted memory ends the process with the labelled message.
bool ParsePairs(std::FILE *in, DatasetPairs *ds, std::string *error);

// As ParsePairs on the file fname; throws Failure with the whole message
// ("Error opening file F: reason" or "Error in file F: reason", no newline).
DatasetPairs LoadPairs(const char *fname);

// Loads fname. On failure prints LoadPairs's message on standard error and
// ends the process with status 1.
DatasetPairs ReadPairs(const char *fname);
