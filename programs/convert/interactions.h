#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "programs/convert/convert_options.h"
#include "programs/convert/id_map.h"
#include "programs/convert/pair_sorter.h"

// The pairs read from an input, with ids mapped to indices, on their way
// into output order.
struct Interactions {
  IdMap users;  // baskets: the input line number of each basket
  IdMap items;
  PairSorter pairs;       // its capacity comes from the options
  int64_t lines = 0;      // lines read
  int64_t below_min = 0;  // pairs dropped by --min-rating
  int64_t unmatched = 0;  // rows dropped by --where
  bool timed = false;     // every pair has a time from a timestamp column
  bool valued = false;    // every pair has a value from the --value column
};

// Reads every line of in as opts describe, skipping a UTF-8 byte-order mark
// at the start. Returns false with *error as "line N: reason" (N from 1) at
// the first malformed line; *data is then incomplete and must not be written.
// When the first line was not recognised as a header and cannot be read as
// data, the reason lists its fields and the options that name columns.
bool ReadInteractions(std::FILE *in, const ConvertOptions &opts, Interactions *data,
                      std::string *error);
