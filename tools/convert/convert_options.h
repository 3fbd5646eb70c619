#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/convert/fields.h"

// One --where condition: the column (header name or position from 1) and the
// text its field must equal.
struct WhereCondition {
  std::string column, value;
};

// The command line of tovran-convert.
struct ConvertOptions {
  const char *input = nullptr;   // "-" reads standard input
  const char *output = nullptr;  // the dataset; the id maps go to <output>.users/.items
  Delimiter delimiter = Delimiter::kAuto;
  int header = -1;               // -1: detect, 0: none, 1: the first line is one
  // Columns by header name or 1-based position; empty for the default.
  std::string user, item, rating, timestamp;
  bool use_timestamp = true;     // false: keep input order even with a timestamp
  bool baskets = false;          // one basket a line instead of one pair
  bool has_min_rating = false;   // keep only pairs rated at least min_rating
  double min_rating = 0;
  std::vector<WhereCondition> where;  // rows kept only when these hold
  bool dedupe = false;           // keep one copy of a repeated (user, item) pair
  int32_t min_user_pairs = 0;    // k-core bounds; 0 (or 1) keeps everyone
  int32_t min_item_pairs = 0;
  size_t buffer_pairs = size_t{1} << 22;  // pairs sorted in memory before a run is spilled
};

// Fills *opts from argv; returns false with *error naming the fault (an
// unknown option, a missing or bad value, other than two file names).
bool ParseConvertOptions(int argc, char **argv, ConvertOptions *opts, std::string *error);

// Prints the usage message with every option on standard output.
void PrintConvertUsage(const char *program);
