#include "dataset/id_maps.h"

#include <climits>

#include "dataset/text_lines.h"
#include "util/failure.h"

namespace {
// Counts must leave room for one more entry in the program's arrays.
constexpr size_t kMaxIds = INT32_MAX - 1;
}  // namespace

int32_t IdMap::Find(std::string_view id) const {
  const auto found = index.find(id);
  return found == index.end() ? -1 : found->second;
}

int32_t MapId(IdMap *map, std::string_view id) {
  const int32_t found = map->Find(id);
  if (found >= 0) return found;
  if (map->ids.size() >= kMaxIds) return -1;
  const auto next = int32_t(map->ids.size());
  map->ids.emplace_back(id);
  map->index.emplace(std::string_view(map->ids.back()), next);
  return next;
}

void WriteIdMap(std::FILE *out, const IdMap &map) {
  for (const std::string &id : map.ids) {
    std::fwrite(id.data(), 1, id.size(), out);
    std::fputc('\n', out);
  }
}

IdMap ReadIdMap(const std::string &path) {
  IdMap map;
  ForEachLine(path, [&](const std::string &line, int64_t number) {
    if (map.Find(line) >= 0)
      throw Failure{path + ": line " + std::to_string(number) + ": id '" + line +
                    "' is listed twice"};
    if (map.ids.size() >= kMaxIds) throw Failure{path + ": holds more ids than an index can take"};
    map.ids.push_back(line);
    map.index.emplace(std::string_view(map.ids.back()), int32_t(map.ids.size() - 1));
  });
  return map;
}

IdMaps::IdMaps(const std::string &data)
    : users_(ReadIdMap(data + kUserMapSuffix)), items_(ReadIdMap(data + kItemMapSuffix)) {}
