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

// Line k of path (from 0) in lines, its index in index.
void ReadMap(const std::string &path, std::vector<std::string> *lines,
             std::unordered_map<std::string, int32_t> *index) {
  ForEachLine(path, [&](const std::string &line, int64_t) {
    index->emplace(line, int32_t(lines->size()));
    lines->push_back(line);
  });
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
  std::vector<float> values;
  if (with_values && !LoadPairValues(path, ds.npairs, &values, &error)) throw Failure{error};
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

IdMaps::IdMaps(const std::string &data) : data_(data) {
  ReadMap(data + ".users", &users_, &user_index_);
  ReadMap(data + ".items", &items_, &item_index_);
}

int32_t IdMaps::Item(const std::string &id) const {
  const auto found = item_index_.find(id);
  return found == item_index_.end() ? -1 : found->second;
}

int32_t IdMaps::User(const std::string &id) const {
  const auto found = user_index_.find(id);
  return found == user_index_.end() ? -1 : found->second;
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

void ForEachLine(const std::string &path,
                 const std::function<void(const std::string &, int64_t)> &each) {
  File owned;
  std::FILE *in = stdin;
  if (path != "-") {
    owned = OpenOrFail(path);
    in = owned.get();
  }
  std::string line;
  int64_t number = 0;
  for (int c; (c = std::fgetc(in)) != EOF;) {
    if (c != '\n') {
      line.push_back(char(c));
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    each(line, ++number);
    line.clear();
  }
  if (std::ferror(in))
    throw Failure{(path == "-" ? "standard input" : path) + ": " + std::strerror(errno)};
  if (!line.empty()) each(line, ++number);
}

FileFacts ReadFileFacts(const std::string &path) {
  const uint32_t version = TOVRAN_ModelFileVersion(path.c_str());
  if (version == 0) throw Failure{TOVRAN_LastError()};
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) throw Failure{path + ": cannot be read: " + error.message()};
  return FileFacts{version, int64_t(size)};
}
