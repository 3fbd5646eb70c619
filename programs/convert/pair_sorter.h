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

// Sorted runs of one merge level, stored end to end in one anonymous
// temporary file (closing it deletes it).
struct RunLevel {
  std::FILE *file = nullptr;
  std::vector<int64_t> sizes;  // pairs in each run, in file order
};

// Puts pairs in output order (user, then time, then input order) within a
// bounded buffer: a full buffer is sorted and appended to level 0 as a run.
// When a level holds kRunFanIn runs they are merged into one run of the next
// level and the level's file is emptied, so at most kRunFanIn - 1 runs wait
// at each level, a merge reads at most kRunFanIn runs, and the files open
// number the levels (log base kRunFanIn of the spilled buffers). The runs
// left and the buffer are merged at the end.
constexpr size_t kRunFanIn = 64;

struct PairSorter {
  size_t capacity = size_t{1} << 22;  // pairs held in memory at the most (40 bytes each)
  std::vector<PairRecord> buffer;
  std::vector<RunLevel> levels;  // levels[k]: runs merged k times
  int64_t count = 0;             // pairs added
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

// Makes file, holding count pairs already in output order, the sorter's one
// run; the sorter owns it from then on.
void AdoptSortedRun(PairSorter *sorter, std::FILE *file, int64_t count);

// Closes (and so deletes) the runs and empties the buffer.
void ReleaseSorter(PairSorter *sorter);
