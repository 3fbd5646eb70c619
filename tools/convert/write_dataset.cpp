#include "tools/convert/write_dataset.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The pair indices grouped by user, users in index order, each group in
// input order and then stably by time.
std::vector<int32_t> OrderPairs(const Interactions &data) {
  const size_t npairs = data.user.size();
  std::vector<int32_t> start(data.users.ids.size() + 1, 0);
  for (int32_t u : data.user) start[size_t(u) + 1]++;
  for (size_t u = 1; u < start.size(); u++) start[u] += start[u - 1];
  std::vector<int32_t> order(npairs);
  {
    std::vector<int32_t> next(start.begin(), start.end() - 1);
    for (size_t k = 0; k < npairs; k++) order[size_t(next[size_t(data.user[k])]++)] = int32_t(k);
  }
  if (!data.time.empty()) {
    const std::vector<double> &time = data.time;
    for (size_t u = 0; u + 1 < start.size(); u++)
      std::stable_sort(order.begin() + start[u], order.begin() + start[u + 1],
                       [&time](int32_t a, int32_t b) { return time[size_t(a)] < time[size_t(b)]; });
  }
  return order;
}

void WriteIds(std::FILE *out, const IdMap &map) {
  for (const std::string &id : map.ids) {
    std::fwrite(id.data(), 1, id.size(), out);
    std::fputc('\n', out);
  }
}

void WritePairs(std::FILE *out, const Interactions &data, const std::vector<int32_t> &order) {
  std::fprintf(out, "%zu %zu %zu\n", data.users.ids.size(), data.items.ids.size(), order.size());
  for (int32_t k : order) std::fprintf(out, "%d %d\n", data.user[size_t(k)], data.item[size_t(k)]);
}

}  // namespace

bool WriteDataset(const std::string &path, const Interactions &data, std::string *error) {
  const std::vector<int32_t> order = OrderPairs(data);
  const std::string finals[3] = {path, path + ".users", path + ".items"};
  std::string temps[3];
  int written = 0;
  for (; written < 3; written++) {
    temps[written] = finals[written] + ".tmp";
    std::FILE *out = std::fopen(temps[written].c_str(), "w");
    if (out == nullptr) {
      *error = "cannot create " + temps[written] + " (" + std::strerror(errno) + ")";
      break;
    }
    if (written == 0) WritePairs(out, data, order);
    if (written == 1) WriteIds(out, data.users);
    if (written == 2) WriteIds(out, data.items);
    const bool failed = std::ferror(out) != 0;
    if (std::fclose(out) != 0 || failed) {
      *error = "cannot write " + temps[written] + " (" + std::strerror(errno) + ")";
      written++;  // remove this one too
      break;
    }
  }
  if (written == 3 && error->empty()) {
    for (int f = 0; f < 3; f++) {
      if (std::rename(temps[f].c_str(), finals[f].c_str()) != 0) {
        *error = "cannot rename " + temps[f] + " to " + finals[f] + " (" + std::strerror(errno) +
                 ")";
        for (int g = 0; g < f; g++) std::remove(finals[g].c_str());
        for (int g = f; g < 3; g++) std::remove(temps[g].c_str());
        return false;
      }
    }
    return true;
  }
  for (int f = 0; f < written; f++) std::remove(temps[f].c_str());
  return false;
}
