#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dataset/id_maps.h"
#include "dataset/text_lines.h"
#include "util/failure.h"

// What the programs that ask models (tovran-model, tovran-serve) read
// besides model files: datasets with every pair kept, the converter's id
// maps, baskets written as text.

// Every pair of a dataset (nothing held out), grouped by user: user u's
// items in file order are items[start[u] .. start[u+1]-1].
struct Pairs {
  int32_t nusers = 0, nitems = 0;
  std::vector<int32_t> users, items;
  std::vector<float> values;  // one per pair when the dataset carries values; else empty
  std::vector<int32_t> start;

  int32_t count() const { return int32_t(items.size()); }
  std::vector<int32_t> BasketOf(int32_t user) const;
};

// Reads the dataset at path and, when with_values, the pairs' values
// beside it (path.values); throws Failure with the reader's message.
Pairs ReadAllPairs(const std::string &path, bool with_values = false);

// The items of text (ids separated by commas or white space): original ids
// when maps is not null, else indices in 0..nitems-1. Throws Failure naming
// where (an option or "FILE: line N") and the id.
std::vector<int32_t> ParseItemList(const std::string &text, const std::string &where,
                                   const IdMaps *maps, int32_t nitems);

// The user of text for --user, as ParseItemList reads an item.
int32_t ParseUser(const std::string &text, const IdMaps *maps, int32_t nusers);

// The format version in a model file's header and the file's size.
struct FileFacts {
  uint32_t version;
  int64_t size;
};
FileFacts ReadFileFacts(const std::string &path);
