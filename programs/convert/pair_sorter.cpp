#include "programs/convert/pair_sorter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <queue>

namespace {

bool Before(const PairRecord &a, const PairRecord &b) {
  if (a.user != b.user) return a.user < b.user;
  if (a.time != b.time) return a.time < b.time;
  return a.seq < b.seq;
}

bool Spill(PairSorter *sorter, std::string *error) {
  std::sort(sorter->buffer.begin(), sorter->buffer.end(), Before);
  std::FILE *run = std::tmpfile();
  if (run == nullptr) {
    *error = std::string("cannot create a temporary file (") + std::strerror(errno) + ")";
    return false;
  }
  sorter->runs.push_back(run);
  const size_t n = sorter->buffer.size();
  if (std::fwrite(sorter->buffer.data(), sizeof(PairRecord), n, run) != n ||
      std::fflush(run) != 0 || std::fseek(run, 0, SEEK_SET) != 0) {
    *error = std::string("cannot write a temporary file (") + std::strerror(errno) + ")";
    return false;
  }
  sorter->buffer.clear();
  return true;
}

// The next record of one source: a run (index < runs.size()) or the buffer.
struct Head {
  PairRecord record;
  size_t source;
};

struct HeadAfter {
  bool operator()(const Head &a, const Head &b) const { return Before(b.record, a.record); }
};

}  // namespace

bool AddToSorter(PairSorter *sorter, int32_t user, int32_t item, const Timestamp &time, float value,
                 std::string *error) {
  if (sorter->buffer.size() >= sorter->capacity && !Spill(sorter, error)) return false;
  sorter->buffer.push_back(PairRecord{user, item, time, sorter->count++, value});
  return true;
}

bool VisitSortedPairs(PairSorter *sorter, const std::function<bool(const PairRecord &)> &visit,
                      std::string *error) {
  std::sort(sorter->buffer.begin(), sorter->buffer.end(), Before);
  const size_t nruns = sorter->runs.size();
  size_t buffered = 0;  // next record of the buffer
  // Reads the next record of a source into *head; false when it is exhausted.
  bool read_failed = false;
  auto next = [&](size_t source, Head *head) {
    head->source = source;
    if (source == nruns) {
      if (buffered == sorter->buffer.size()) return false;
      head->record = sorter->buffer[buffered++];
      return true;
    }
    if (std::fread(&head->record, sizeof(PairRecord), 1, sorter->runs[source]) == 1) return true;
    read_failed = read_failed || std::ferror(sorter->runs[source]) != 0;
    return false;
  };
  std::priority_queue<Head, std::vector<Head>, HeadAfter> heads;
  Head head;
  for (size_t source = 0; source <= nruns; source++)
    if (next(source, &head)) heads.push(head);
  bool visited = true;
  while (visited && !heads.empty()) {
    head = heads.top();
    heads.pop();
    visited = visit(head.record);
    if (next(head.source, &head)) heads.push(head);
  }
  ReleaseSorter(sorter);
  if (!visited) return false;
  if (read_failed) *error = "cannot read back a temporary file";
  return !read_failed;
}

bool WriteSortedPairs(PairSorter *sorter, std::FILE *out, std::string *error) {
  return VisitSortedPairs(
      sorter,
      [out](const PairRecord &pair) {
        std::fprintf(out, "%d %d\n", pair.user, pair.item);
        return true;
      },
      error);
}

void ReleaseSorter(PairSorter *sorter) {
  for (std::FILE *run : sorter->runs) std::fclose(run);
  sorter->runs.clear();
  std::vector<PairRecord>().swap(sorter->buffer);
}
