#include "driver/query_inputs.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "cli/command_line.h"
#include "dataset/pair_values.h"
#include "dataset/pairs_file.h"
#include "engine/tovran.h"

namespace {

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File OpenOrFail(const std::string &path) {
  File file(std::fopen(path.c_str(), "r"));
  if (!file) throw Failure{path + ": cannot be opened: " + std::strerror(errno)};
  return file;
}

}  // namespace

std::vector<int32_t> Pairs::BasketOf(int32_t user) const {
  return std::vector<int32_t>(items.begin() + start[size_t(user)],
                              items.begin() + start[size_t(user) + 1]);
}

Pairs ReadAllPairs(const std::string &path, bool with_values) {
  File in = OpenOrFail(path);
  DatasetPairs ds;
  std::string error;
  if (!ParsePairs(in.get(), &ds, &error)) throw Failure{path + ": " + error};
  const std::vector<float> values =
      with_values ? LoadPairValues(path, ds.npairs) : std::vector<float>();
  // Each user's pairs stand together in the file, in file order.
  const int32_t *rowid = ds.rowid.get(), *colid = ds.colid.get();
  Pairs p;
  p.nusers = ds.nrows;
  p.nitems = ds.ncols;
  p.start.assign(size_t(ds.nrows) + 1, 0);
  for (int32_t i = 0; i < ds.npairs; i++) p.start[size_t(rowid[i]) + 1]++;
  for (int32_t u = 0; u < ds.nrows; u++) p.start[size_t(u) + 1] += p.start[size_t(u)];
  p.users.resize(size_t(ds.npairs));
  p.items.resize(size_t(ds.npairs));
  p.values.resize(values.size());
  std::vector<int32_t> next(p.start.begin(), p.start.end() - 1);
  for (int32_t i = 0; i < ds.npairs; i++) {
    const auto k = size_t(next[size_t(rowid[i])]++);
    p.users[k] = rowid[i];
    p.items[k] = colid[i];
    if (with_values) p.values[k] = values[size_t(i)];
  }
  return p;
}

std::vector<int32_t> ParseItemList(const std::string &text, const std::string &where,
                                   const IdMaps *maps, int32_t nitems) {
  std::vector<int32_t> basket;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find_first_of(", \t\r", at);
    const std::string id = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (id.empty()) continue;
    int32_t item = -1;
    if (maps != nullptr) {
      item = maps->Item(id);
      if (item < 0 || item >= nitems)
        throw Failure{where + ": item '" + id + "' is not among the model's items"};
    } else {
      const std::string reason = cli::ParseInt(id, 0, nitems - 1, &item);
      if (!reason.empty()) throw Failure{where + ": item " + reason};
    }
    basket.push_back(item);
  }
  return basket;
}

int32_t ParseUser(const std::string &text, const IdMaps *maps, int32_t nusers) {
  int32_t user = -1;
  if (maps != nullptr) {
    user = maps->User(text);
    if (user < 0 || user >= nusers)
      throw Failure{"--user: user '" + text + "' is not among the dataset's users"};
  } else {
    const std::string reason = cli::ParseInt(text, 0, nusers - 1, &user);
    if (!reason.empty()) throw Failure{"--user: " + reason};
  }
  return user;
}

FileFacts ReadFileFacts(const std::string &path) {
  const uint32_t version = TOVRAN_ModelFileVersion(path.c_str());
  if (version == 0) throw Failure{TOVRAN_LastError()};
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) throw Failure{path + ": cannot be read: " + error.message()};
  return FileFacts{version, int64_t(size)};
}
