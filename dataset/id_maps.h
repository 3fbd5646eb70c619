#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

// The id maps beside a dataset DATA: DATA.users and DATA.items, where line k
// (from 0) holds the original id of user or item k, each line ended by '\n',
// and no id is listed twice.
// The converter writes them; the programs that ask models read them to take
// and give original ids.

constexpr const char *kUserMapSuffix = ".users";
constexpr const char *kItemMapSuffix = ".items";

// Original ids and their 0-based indices. Moved, never copied: the index
// views the ids where they stand.
struct IdMap {
  std::deque<std::string> ids;  // index -> id; a deque keeps each id in place
  std::unordered_map<std::string_view, int32_t> index;  // views into ids

  IdMap() = default;
  IdMap(IdMap &&) = default;
  IdMap &operator=(IdMap &&) = default;
  IdMap(const IdMap &) = delete;
  IdMap &operator=(const IdMap &) = delete;

  // The index of id, or -1.
  int32_t Find(std::string_view id) const;
};

// The index of id in *map, adding it as the next index if it is new.
// Returns -1 when the map already holds the most ids an index can take.
int32_t MapId(IdMap *map, std::string_view id);

// Writes the map in the format above.
void WriteIdMap(std::FILE *out, const IdMap &map);

// Reads a map written in the format above (a '\r' before a line's end is
// dropped, a last line without '\n' counts). Throws Failure naming the file
// when it cannot be read or lists an id twice.
IdMap ReadIdMap(const std::string &path);

// Both maps of the dataset DATA.
class IdMaps {
 public:
  // Throws Failure when a map cannot be read.
  explicit IdMaps(const std::string &data);
  const std::string &ItemName(int32_t item) const { return items_.ids[size_t(item)]; }
  const std::string &UserName(int32_t user) const { return users_.ids[size_t(user)]; }
  // The index of an original id, or -1.
  int32_t Item(const std::string &id) const { return items_.Find(id); }
  int32_t User(const std::string &id) const { return users_.Find(id); }
  int32_t nitems() const { return int32_t(items_.ids.size()); }

 private:
  IdMap users_, items_;
};
