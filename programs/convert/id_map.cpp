#include "programs/convert/id_map.h"

#include <climits>

namespace {
// Counts must leave room for one more entry in the program's arrays.
constexpr size_t kMaxIds = INT32_MAX - 1;
}  // namespace

int32_t MapId(IdMap *map, std::string_view id) {
  const auto found = map->index.find(id);
  if (found != map->index.end()) return found->second;
  if (map->ids.size() >= kMaxIds) return -1;
  const auto next = int32_t(map->ids.size());
  map->ids.emplace_back(id);
  map->index.emplace(std::string_view(map->ids.back()), next);
  return next;
}
