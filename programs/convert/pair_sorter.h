#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "dataset/timestamp.h"

// One pair on its way to the output: its user and item indices, its time
// (zero without a timestamp), its place in the input, which breaks ties,
// and its value (zero without a value column).
struct PairRecord {
  int32_t user;
  int32_t item;
  Timestamp time;
  int64_t seq;
  float value;
};

// Puts pairs in output order (user, then time, then input order) within a
// bounded buffer: a full buffer is sorted and written to an anonymous
// temporary file (a run), and the runs are merged at the end.
struct PairSorter {
  size_t capacity = size_t{1} << 22;  // pairs held in memory at the most (40 bytes each)
  std::vector<PairRecord> buffer;
  std::vector<std::FILE *> runs;  // sorted runs; closing one deletes it
  int64_t count = 0;              // pairs added
};

// Adds one pair as the next in input order; spills the buffer when full.
// Returns false with *error when a temporary file cannot be written.
bool AddToSorter(PairSorter *sorter, int32_t user, int32_t item, const Timestamp &time, float value,
                 std::string *error);

// Calls visit for every pair in output order and releases the sorter.
// Returns false when visit does (which sets *error) or, with *error set, when
// a run cannot be read.
bool VisitSortedPairs(PairSorter *sorter, const std::function<bool(const PairRecord &)> &visit,
                      std::string *error);

// Writes "user item" lines for every pair in output order to out and
// releases the sorter. Returns false with *error when a run cannot be read.
bool WriteSortedPairs(PairSorter *sorter, std::FILE *out, std::string *error);

// Closes (and so deletes) the runs and empties the buffer.
void ReleaseSorter(PairSorter *sorter);
