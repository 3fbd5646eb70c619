#pragma once

#include <cstdint>
#include <string>

#include "programs/convert/convert_options.h"
#include "programs/convert/interactions.h"

// What --dedupe and the k-core bounds left out.
struct FilterCounts {
  int64_t repeats = 0;        // repeated (user, item) pairs dropped by --dedupe
  int64_t users_dropped = 0;  // users below --min-user-pairs, or left without pairs, at some round
  int64_t items_dropped = 0;  // items below --min-item-pairs, or left without pairs
  int64_t pairs_dropped = 0;  // the pairs those users and items held
  int rounds = 0;             // rounds that dropped someone
};

// True when opts ask for --dedupe or a k-core bound.
bool WantsPairFilter(const ConvertOptions &opts);

// Applies --dedupe, then --min-user-pairs/--min-item-pairs, to the pairs of
// data, which keep their output order: a repeated pair keeps its last copy
// in that order (the latest by time, ties and untimed pairs the last in the
// input). Users and items are dropped in rounds until every one left has
// enough pairs (and so at least one); the rest are renumbered in their former order and the id
// maps lose the dropped ids. The pairs then wait in data->pairs as one
// ordered run on disk. Memory: the pairs of the user with the most, and a
// few bytes per user and item. Returns false with *error when a temporary
// file fails; *data must then not be written.
bool FilterPairs(const ConvertOptions &opts, Interactions *data, FilterCounts *counts,
                 std::string *error);
