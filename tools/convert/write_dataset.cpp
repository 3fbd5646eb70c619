#include "tools/convert/write_dataset.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Why a file operation on path failed, with the system's reason.
std::string Failure(const char *what, const std::string &path) {
  return std::string("cannot ") + what + " " + path + " (" + std::strerror(errno) + ")";
}

void WriteIds(std::FILE *out, const IdMap &map) {
  for (const std::string &id : map.ids) {
    std::fwrite(id.data(), 1, id.size(), out);
    std::fputc('\n', out);
  }
}

// Writes file k of the three (dataset, users, items) to path.
bool WriteFile(int k, const std::string &path, Interactions *data, std::string *error) {
  std::FILE *out = std::fopen(path.c_str(), "w");
  if (out == nullptr) {
    *error = Failure("create", path);
    return false;
  }
  bool ok = true;
  if (k == 0) {
    std::fprintf(out, "%zu %zu %lld\n", data->users.ids.size(), data->items.ids.size(),
                 static_cast<long long>(data->pairs.count));
    ok = WriteSortedPairs(&data->pairs, out, error);
  } else {
    WriteIds(out, k == 1 ? data->users : data->items);
  }
  if (ok && std::ferror(out) != 0) {
    *error = Failure("write", path);
    ok = false;
  }
  if (std::fclose(out) != 0 && ok) {
    *error = Failure("write", path);
    ok = false;
  }
  return ok;
}

}  // namespace

bool WriteDataset(const std::string &path, Interactions *data, std::string *error) {
  const std::string finals[3] = {path, path + ".users", path + ".items"};
  const std::string temps[3] = {finals[0] + ".tmp", finals[1] + ".tmp", finals[2] + ".tmp"};
  for (int k = 0; k < 3; k++) {
    if (!WriteFile(k, temps[k], data, error)) {
      for (int j = 0; j <= k; j++) std::remove(temps[j].c_str());
      return false;
    }
  }
  for (int k = 0; k < 3; k++) {
    if (std::rename(temps[k].c_str(), finals[k].c_str()) != 0) {
      *error = Failure("rename", temps[k]) + " to " + finals[k];
      for (int j = 0; j < k; j++) std::remove(finals[j].c_str());
      for (int j = k; j < 3; j++) std::remove(temps[j].c_str());
      return false;
    }
  }
  return true;
}
