#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

// Original ids and their 0-based indices in order of first appearance.
struct IdMap {
  std::deque<std::string> ids;  // index -> id; a deque keeps each id in place
  std::unordered_map<std::string_view, int32_t> index;  // views into ids
};

// The index of id in *map, adding it as the next index if it is new.
// Returns -1 when the map already holds the most ids an index can take.
int32_t MapId(IdMap *map, std::string_view id);
