#include "programs/convert/pair_sorter.h"

#include <unistd.h>

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

bool Fail(const char *what, std::string *error) {
  *error = std::string("cannot ") + what + " a temporary file (" + std::strerror(errno) + ")";
  return false;
}

// Pairs a source reads from its run at a time.
constexpr size_t kChunk = 512;

// One sorted source of a merge: a run, read in chunks at its own offset of
// its level's file, or the in-memory buffer (fd < 0).
struct Source {
  int fd = -1;
  off_t offset = 0;  // of the next chunk in the file
  int64_t left = 0;  // pairs of the run not yet read into chunk
  std::vector<PairRecord> chunk;
  const PairRecord *next = nullptr, *end = nullptr;
};

// Points source at its next pair; false at its end or, with *failed set, when
// the run cannot be read.
bool Advance(Source *source, bool *failed) {
  if (source->next != source->end) return true;
  if (source->fd < 0 || source->left == 0) return false;
  const size_t n = size_t(std::min<int64_t>(source->left, int64_t{kChunk}));
  source->chunk.resize(n);
  const size_t bytes = n * sizeof(PairRecord);
  size_t done = 0;
  while (done < bytes) {
    const ssize_t got = pread(source->fd, reinterpret_cast<char *>(source->chunk.data()) + done,
                              bytes - done, source->offset + off_t(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;  // the run is shorter than written
      *failed = true;
      return false;
    }
    done += size_t(got);
  }
  source->offset += off_t(bytes);
  source->left -= int64_t(n);
  source->next = source->chunk.data();
  source->end = source->next + n;
  return true;
}

// Calls visit for every pair of the sources in output order. Returns false
// when visit does, or with *error set when a run cannot be read.
bool Merge(std::vector<Source> *sources, const std::function<bool(const PairRecord &)> &visit,
           std::string *error) {
  struct Head {
    PairRecord record;
    size_t source;
  };
  auto after = [](const Head &a, const Head &b) { return Before(b.record, a.record); };
  std::priority_queue<Head, std::vector<Head>, decltype(after)> heads(after);
  bool failed = false;
  auto push_next = [&](size_t s) {
    Source &source = (*sources)[s];
    if (Advance(&source, &failed)) heads.push(Head{*source.next++, s});
  };
  for (size_t s = 0; s < sources->size(); s++) push_next(s);
  while (!failed && !heads.empty()) {
    const Head head = heads.top();
    heads.pop();
    if (!visit(head.record)) return false;
    push_next(head.source);
  }
  if (failed) return Fail("read back", error);
  return true;
}

// The runs of level as merge sources.
void AddRunSources(const RunLevel &level, std::vector<Source> *sources) {
  off_t offset = 0;
  for (int64_t size : level.sizes) {
    Source source;
    source.fd = fileno(level.file);
    source.offset = offset;
    source.left = size;
    sources->push_back(std::move(source));
    offset += off_t(size) * off_t(sizeof(PairRecord));
  }
}

// Appends n pairs as one run to level's file, creating it when needed.
bool AppendRun(RunLevel *level, const PairRecord *pairs, size_t n, std::string *error) {
  if (level->file == nullptr && (level->file = std::tmpfile()) == nullptr)
    return Fail("create", error);
  if (std::fwrite(pairs, sizeof(PairRecord), n, level->file) != n || std::fflush(level->file) != 0)
    return Fail("write", error);
  level->sizes.push_back(int64_t(n));
  return true;
}

// Merges the runs of level k into one run of level k + 1 and empties level k.
bool MergeLevel(PairSorter *sorter, size_t k, std::string *error) {
  if (sorter->levels.size() == k + 1) sorter->levels.emplace_back();
  std::vector<Source> sources;
  AddRunSources(sorter->levels[k], &sources);
  RunLevel &to = sorter->levels[k + 1];
  if (to.file == nullptr && (to.file = std::tmpfile()) == nullptr) return Fail("create", error);
  int64_t merged = 0;
  bool written = true;
  if (!Merge(
          &sources,
          [&](const PairRecord &pair) {
            merged++;
            written = std::fwrite(&pair, sizeof pair, 1, to.file) == 1;
            return written;
          },
          error))
    return written ? false : Fail("write", error);
  if (std::fflush(to.file) != 0) return Fail("write", error);
  to.sizes.push_back(merged);
  RunLevel &from = sorter->levels[k];
  if (ftruncate(fileno(from.file), 0) != 0 || std::fseek(from.file, 0, SEEK_SET) != 0)
    return Fail("empty", error);
  from.sizes.clear();
  return true;
}

bool Spill(PairSorter *sorter, std::string *error) {
  std::sort(sorter->buffer.begin(), sorter->buffer.end(), Before);
  if (sorter->levels.empty()) sorter->levels.emplace_back();
  if (!AppendRun(&sorter->levels[0], sorter->buffer.data(), sorter->buffer.size(), error))
    return false;
  sorter->buffer.clear();
  for (size_t k = 0; sorter->levels[k].sizes.size() >= kRunFanIn; k++)
    if (!MergeLevel(sorter, k, error)) return false;
  return true;
}

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
  std::vector<Source> sources;
  for (const RunLevel &level : sorter->levels) AddRunSources(level, &sources);
  Source buffered;
  buffered.next = sorter->buffer.data();
  buffered.end = buffered.next + sorter->buffer.size();
  sources.push_back(std::move(buffered));
  const bool merged = Merge(&sources, visit, error);
  ReleaseSorter(sorter);
  return merged;
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

void AdoptSortedRun(PairSorter *sorter, std::FILE *file, int64_t count) {
  ReleaseSorter(sorter);
  std::fseek(file, 0, SEEK_END);  // a later run goes after it
  sorter->levels.emplace_back();
  sorter->levels[0].file = file;
  sorter->levels[0].sizes.push_back(count);
  sorter->count = count;
}

void ReleaseSorter(PairSorter *sorter) {
  for (RunLevel &level : sorter->levels)
    if (level.file != nullptr) std::fclose(level.file);
  sorter->levels.clear();
  std::vector<PairRecord>().swap(sorter->buffer);
}
