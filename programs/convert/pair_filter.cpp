#include "programs/convert/pair_filter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

namespace {

// A temporary file of pairs in output order, written and read in chunks.
class PairFile {
 public:
  PairFile() = default;
  PairFile(const PairFile &) = delete;
  PairFile &operator=(const PairFile &) = delete;
  ~PairFile() {
    if (file_ != nullptr) std::fclose(file_);
  }

  // Opens the file; false with *error when it cannot be created.
  bool Open(std::string *error) {
    file_ = std::tmpfile();
    if (file_ == nullptr) return Fail("create", error);
    return true;
  }

  // Appends pair, its time and value kept, as the next pair of (user,
  // item); false with *error on a write failure.
  bool Append(const PairRecord &pair, int32_t user, int32_t item, std::string *error) {
    PairRecord record = pair;
    record.user = user;
    record.item = item;
    record.seq = count_++;
    chunk_.push_back(record);
    return chunk_.size() < kChunk || Flush(error);
  }

  // Writes what is pending and rewinds, ready for reading.
  bool Finish(std::string *error) {
    if (!Flush(error)) return false;
    if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) return Fail("write", error);
    std::vector<PairRecord>().swap(chunk_);
    return true;
  }

  // Calls visit for every pair from the start; false with *error on a read failure.
  bool Visit(const std::function<void(const PairRecord &)> &visit, std::string *error) {
    if (std::fseek(file_, 0, SEEK_SET) != 0) return Fail("read back", error);
    std::vector<PairRecord> chunk(kChunk);
    for (size_t n; (n = std::fread(chunk.data(), sizeof(PairRecord), kChunk, file_)) > 0;)
      for (size_t k = 0; k < n; k++) visit(chunk[k]);
    if (std::ferror(file_) != 0) return Fail("read back", error);
    return true;
  }

  int64_t count() const { return count_; }

  // Gives the file to sorter as its one ordered run.
  void HandTo(PairSorter *sorter) {
    AdoptSortedRun(sorter, file_, count_);
    file_ = nullptr;
  }

 private:
  static constexpr size_t kChunk = size_t{1} << 16;

  bool Flush(std::string *error) {
    if (chunk_.empty()) return true;
    if (std::fwrite(chunk_.data(), sizeof(PairRecord), chunk_.size(), file_) != chunk_.size())
      return Fail("write", error);
    chunk_.clear();
    return true;
  }

  static bool Fail(const char *what, std::string *error) {
    *error = std::string("cannot ") + what + " a temporary file (" + std::strerror(errno) + ")";
    return false;
  }

  std::FILE *file_ = nullptr;
  std::vector<PairRecord> chunk_;
  int64_t count_ = 0;
};

// Moves the pairs of data->pairs to *out in output order, keeping only the
// last copy of a repeated pair when dedupe is set, and counts each user's
// and item's pairs.
bool CopyPairs(bool dedupe, Interactions *data, PairFile *out, std::vector<int32_t> *user_pairs,
               std::vector<int32_t> *item_pairs, FilterCounts *counts, std::string *error) {
  user_pairs->assign(data->users.ids.size(), 0);
  item_pairs->assign(data->items.ids.size(), 0);
  // The current user's pairs in order; each item's last place among them.
  std::vector<PairRecord> held;
  std::vector<int32_t> last(dedupe ? data->items.ids.size() : 0);
  auto finish_user = [&]() {
    for (size_t p = 0; p < held.size(); p++) last[size_t(held[p].item)] = int32_t(p);
    for (size_t p = 0; p < held.size(); p++) {
      const PairRecord &pair = held[p];
      if (last[size_t(pair.item)] != int32_t(p)) {
        counts->repeats++;
        continue;
      }
      (*user_pairs)[size_t(pair.user)]++;
      (*item_pairs)[size_t(pair.item)]++;
      if (!out->Append(pair, pair.user, pair.item, error)) return false;
    }
    held.clear();
    return true;
  };
  const bool copied = VisitSortedPairs(
      &data->pairs,
      [&](const PairRecord &pair) {
        if (!dedupe) {
          (*user_pairs)[size_t(pair.user)]++;
          (*item_pairs)[size_t(pair.item)]++;
          return out->Append(pair, pair.user, pair.item, error);
        }
        if (!held.empty() && pair.user != held.front().user && !finish_user()) return false;
        held.push_back(pair);
        return true;
      },
      error);
  return copied && finish_user() && out->Finish(error);
}

// Marks the users (or items) with fewer than bound pairs as dropped, and
// those left with none.
int64_t DropBelow(const std::vector<int32_t> &pairs, int32_t bound, std::vector<char> *kept) {
  int64_t dropped = 0;
  for (size_t k = 0; k < pairs.size(); k++) {
    if ((*kept)[k] && (pairs[k] < bound || pairs[k] == 0)) {
      (*kept)[k] = 0;
      dropped++;
    }
  }
  return dropped;
}

// Keeps the ids marked in kept, in their order, and indexes them again.
void KeepIds(const std::vector<char> &kept, IdMap *map) {
  map->index = {};  // its views would dangle once the ids move
  std::deque<std::string> ids;
  for (size_t k = 0; !map->ids.empty(); k++) {
    if (kept[k]) ids.push_back(std::move(map->ids.front()));
    map->ids.pop_front();
  }
  map->ids = std::move(ids);
  for (size_t k = 0; k < map->ids.size(); k++)
    map->index.emplace(std::string_view(map->ids[k]), int32_t(k));
}

// The new index of every kept entry (its rank among the kept); -1 for the rest.
std::vector<int32_t> Renumber(const std::vector<char> &kept) {
  std::vector<int32_t> index(kept.size(), -1);
  int32_t next = 0;
  for (size_t k = 0; k < kept.size(); k++)
    if (kept[k]) index[k] = next++;
  return index;
}

}  // namespace

bool WantsPairFilter(const ConvertOptions &opts) {
  return opts.dedupe || opts.min_user_pairs > 1 || opts.min_item_pairs > 1;
}

bool FilterPairs(const ConvertOptions &opts, Interactions *data, FilterCounts *counts,
                 std::string *error) {
  *counts = FilterCounts{};
  PairFile copy;
  std::vector<int32_t> user_pairs, item_pairs;
  if (!copy.Open(error) ||
      !CopyPairs(opts.dedupe, data, &copy, &user_pairs, &item_pairs, counts, error))
    return false;

  // Each round drops whoever is below a bound, then counts the pairs left;
  // dropping an item can take a user below the bound, so rounds go on until
  // one drops nobody.
  std::vector<char> user_kept(user_pairs.size(), 1), item_kept(item_pairs.size(), 1);
  for (;;) {
    const int64_t users = DropBelow(user_pairs, opts.min_user_pairs, &user_kept);
    const int64_t items = DropBelow(item_pairs, opts.min_item_pairs, &item_kept);
    if (users + items == 0) break;
    counts->users_dropped += users;
    counts->items_dropped += items;
    counts->rounds++;
    user_pairs.assign(user_pairs.size(), 0);
    item_pairs.assign(item_pairs.size(), 0);
    const bool read = copy.Visit(
        [&](const PairRecord &pair) {
          if (user_kept[size_t(pair.user)] && item_kept[size_t(pair.item)]) {
            user_pairs[size_t(pair.user)]++;
            item_pairs[size_t(pair.item)]++;
          }
        },
        error);
    if (!read) return false;
  }
  if (counts->rounds == 0) {
    copy.HandTo(&data->pairs);
    return true;
  }

  // Renumber what is left and write its pairs once more.
  const std::vector<int32_t> user_index = Renumber(user_kept), item_index = Renumber(item_kept);
  PairFile kept;
  bool written = kept.Open(error);
  const bool read = written && copy.Visit(
                                   [&](const PairRecord &pair) {
                                     const int32_t user = user_index[size_t(pair.user)];
                                     const int32_t item = item_index[size_t(pair.item)];
                                     if (user < 0 || item < 0 || !written) return;
                                     written = kept.Append(pair, user, item, error);
                                   },
                                   error);
  if (!read || !written || !kept.Finish(error)) return false;
  counts->pairs_dropped = copy.count() - kept.count();
  KeepIds(user_kept, &data->users);
  KeepIds(item_kept, &data->items);
  kept.HandTo(&data->pairs);
  return true;
}
