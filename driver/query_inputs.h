#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

// The maps DATA.users and DATA.items the converter writes next to DATA:
// line k (from 0) holds the original id of index k.
class IdMaps {
 public:
  // Throws Failure when a map cannot be read.
  explicit IdMaps(const std::string &data);
  const std::string &ItemName(int32_t item) const { return items_[size_t(item)]; }
  const std::string &UserName(int32_t user) const { return users_[size_t(user)]; }
  // The index of an original id, or -1.
  int32_t Item(const std::string &id) const;
  int32_t User(const std::string &id) const;
  int32_t nitems() const { return int32_t(items_.size()); }

 private:
  std::string data_;
  std::vector<std::string> users_, items_;
  std::unordered_map<std::string, int32_t> user_index_, item_index_;
};

// The items of text (ids separated by commas or white space): original ids
// when maps is not null, else indices in 0..nitems-1. Throws Failure naming
// where (an option or "FILE: line N") and the id.
std::vector<int32_t> ParseItemList(const std::string &text, const std::string &where,
                                   const IdMaps *maps, int32_t nitems);

// The user of text for --user, as ParseItemList reads an item.
int32_t ParseUser(const std::string &text, const IdMaps *maps, int32_t nusers);

// Calls each(line, number) for every line of path ("-": standard input),
// numbers from 1. Throws Failure when the file cannot be read.
void ForEachLine(const std::string &path,
                 const std::function<void(const std::string &, int64_t)> &each);

// The format version in a model file's header and the file's size.
struct FileFacts {
  uint32_t version;
  int64_t size;
};
FileFacts ReadFileFacts(const std::string &path);
