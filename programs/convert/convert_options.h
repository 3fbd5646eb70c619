#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "programs/convert/fields.h"

// One --where condition: the column (header name or position from 1) and the
// text its field must equal.
struct WhereCondition {
  std::string column, value;
};

// The command line of tovran-convert.
struct ConvertOptions {
  std::string input;   // "-" reads standard input
  std::string output;  // the dataset; the id maps go to <output>.users/.items
  Delimiter delimiter = Delimiter::kAuto;
  int header = -1;  // -1: detect, 0: none, 1: the first line is one
  // Columns by header name or 1-based position; empty for the default.
  std::string user, item, rating, timestamp;
  std::string value;            // --value: the column whose values the dataset keeps, or empty
  bool use_timestamp = true;    // false: keep input order even with a timestamp
  bool baskets = false;         // one basket a line instead of one pair
  bool has_min_rating = false;  // keep only pairs rated at least min_rating
  double min_rating = 0;
  std::vector<WhereCondition> where;  // rows kept only when these hold
  bool dedupe = false;                // keep one copy of a repeated (user, item) pair
  int32_t min_user_pairs = 0;         // k-core bounds; 0 (or 1) keeps everyone
  int32_t min_item_pairs = 0;
  size_t buffer_pairs = size_t{1} << 22;  // pairs sorted in memory before a run is spilled
};

// Fills *opts from argv with the project's command-line grammar. Returns the
// exit status when the program should stop now: 0 after --help or
// --version, 1 after a usage error (printed on standard error); nullopt
// when it should convert.
std::optional<int> ParseConvertOptions(int argc, const char *const *argv, ConvertOptions *opts);
