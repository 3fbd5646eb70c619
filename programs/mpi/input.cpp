#include "programs/mpi/input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Counts must leave room for one more entry, as in the single-process loader.
constexpr int64_t kMaxCount = INT32_MAX - 1;

// Shares the root's pairs with every rank.
void BroadcastPairs(const Job &job, DatasetPairs *ds) {
  int32_t counts[3] = {ds->nrows, ds->ncols, ds->npairs};
  MPI_Bcast(counts, 3, MPI_INT32_T, 0, MPI_COMM_WORLD);
  RunStep(job, "the dataset", [&] {
    if (!job.root()) {
      ds->nrows = counts[0];
      ds->ncols = counts[1];
      ds->npairs = counts[2];
      ds->rowid = Ints(int64_t{ds->npairs} + 1);
      ds->colid = Ints(int64_t{ds->npairs} + 1);
    }
  });
  BroadcastBytes(job, ds->rowid.get(), 4 * (int64_t{ds->npairs} + 1), 0);
  BroadcastBytes(job, ds->colid.get(), 4 * (int64_t{ds->npairs} + 1), 0);
}

// Reads bytes [begin, end) of the file and, past end, the rest of a token
// that starts before end. *starts_token: whether begin starts a token (the
// byte before it, if any, is white space).
bool ReadRange(int fd, int64_t begin, int64_t end, int64_t size, std::vector<char> *text,
               bool *starts_token) {
  const int64_t from = begin > 0 ? begin - 1 : 0;
  text->resize(size_t(end - from));
  int64_t done = 0;
  while (done < end - from) {
    const ssize_t got = pread(fd, text->data() + done, size_t(end - from - done), from + done);
    if (got <= 0) return false;
    done += got;
  }
  *starts_token = begin == 0 || IsDatasetSpace((*text)[0]);
  if (begin > 0) text->erase(text->begin());
  // Only a token still open at the end of the range goes on past it.
  const bool open = !text->empty() && !IsDatasetSpace(text->back());
  for (int64_t at = end; open && at < size;) {
    char piece[4096];
    const ssize_t got = pread(fd, piece, sizeof piece, at);
    if (got <= 0) return false;
    for (ssize_t k = 0; k < got; k++) {
      if (IsDatasetSpace(piece[k])) return true;
      text->push_back(piece[k]);
    }
    at += got;
  }
  return true;
}

// The integers of the tokens that start in text (skipping a first token that
// started before it); false at the first token that is not a 32-bit integer.
bool Tokenize(const std::vector<char> &text, bool starts_token, std::vector<int32_t> *tokens) {
  size_t p = 0;
  const size_t n = text.size();
  if (!starts_token)
    while (p < n && !IsDatasetSpace(text[p])) p++;
  for (;;) {
    while (p < n && IsDatasetSpace(text[p])) p++;
    if (p == n) return true;
    int32_t value;
    const TokenRead token = ReadIntegerToken(text.data() + p, text.data() + n, &value);
    if (token.verdict != TokenVerdict::kInteger) return false;
    tokens->push_back(value);
    p = size_t(token.end - text.data());
  }
}

// Every rank parses its byte range, then the ranks' tokens are shared in file
// order. On any fault the root parses the whole file once more for the
// message the single-process program gives.
DatasetPairs LoadByRanges(const Job &job, const char *fname) {
  DatasetPairs ds;
  std::vector<int32_t> tokens;
  int fd = -1;
  int64_t size = 0;
  RunStep(job, "the dataset", [&] {
    fd = open(fname, O_RDONLY);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0)
      throw Failure{std::string("Error opening file ") + fname + ": " + std::strerror(errno)};
    size = info.st_size;
  });
  int good = 0;
  RunStep(job, "the dataset", [&] {
    const int64_t begin = size * job.rank / job.size, end = size * (job.rank + 1) / job.size;
    std::vector<char> text;
    bool starts_token = false;
    good = begin >= end || (ReadRange(fd, begin, end, size, &text, &starts_token) &&
                            Tokenize(text, starts_token, &tokens));
  });
  close(fd);

  int all_good = 0;
  MPI_Allreduce(&good, &all_good, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  std::vector<int64_t> counts(size_t(job.size), 0);
  const int64_t mine = int64_t(tokens.size());
  MPI_Allgather(&mine, 1, MPI_INT64_T, counts.data(), 1, MPI_INT64_T, MPI_COMM_WORLD);
  int64_t total = 0;
  for (const int64_t count : counts) total += count;

  bool valid = false;
  if (all_good) {
    std::vector<int32_t> all;
    RunStep(job, "the dataset", [&] { all.resize(size_t(total)); });
    int64_t offset = 0;
    for (int r = 0; r < job.size; r++) {
      if (r == job.rank) std::copy(tokens.begin(), tokens.end(), all.begin() + offset);
      BroadcastBytes(job, all.data() + offset, 4 * counts[size_t(r)], r);
      offset += counts[size_t(r)];
    }
    std::vector<int32_t>().swap(tokens);
    RunStep(job, "the dataset", [&] { valid = DatasetFromTokens(all.data(), total, &ds); });
  }
  // Every rank reaches the same verdict from the same tokens.
  if (!valid) {
    RunStep(job, "the dataset", [&] {
      if (!job.root()) return;
      // The loader's own message names the fault; none found means a change.
      LoadPairs(fname);
      throw Failure{std::string("Error in file ") + fname + ": the file changed while it was read"};
    });
  }
  return ds;
}

}  // namespace

bool DatasetFromTokens(const int32_t *tokens, int64_t ntokens, DatasetPairs *ds) {
  *ds = DatasetPairs{};
  if (ntokens < 3) return false;
  for (int k = 0; k < 3; k++)
    if (tokens[k] < 0 || tokens[k] > kMaxCount) return false;
  const int32_t nrows = tokens[0], ncols = tokens[1], npairs = tokens[2];
  if (ntokens != 3 + 2 * int64_t{npairs}) return false;
  const int32_t *pairs = tokens + 3;

  // A user whose run closed already must not open another.
  std::vector<uint8_t> closed(size_t(nrows), 0);
  for (int32_t i = 0; i < npairs; i++) {
    const int32_t user = pairs[2 * int64_t{i}], item = pairs[2 * int64_t{i} + 1];
    if (user < 0 || user >= nrows || item < 0 || item >= ncols) return false;
    const bool last = i + 1 == npairs || pairs[2 * int64_t{i} + 2] != user;
    if (last) {
      if (closed[size_t(user)]) return false;
      closed[size_t(user)] = 1;
    }
  }
  IntArray rowid = Ints(int64_t{npairs} + 1), colid = Ints(int64_t{npairs} + 1);
  for (int32_t i = 0; i < npairs; i++) {
    rowid[size_t(i)] = pairs[2 * int64_t{i}];
    colid[size_t(i)] = pairs[2 * int64_t{i} + 1];
  }
  ds->nrows = nrows;
  ds->ncols = ncols;
  rowid[size_t(npairs)] = nrows;
  colid[size_t(npairs)] = 0;
  ds->npairs = npairs;
  ds->rowid = std::move(rowid);
  ds->colid = std::move(colid);
  return true;
}

DatasetPairs SharePairs(const Job &job, const char *fname, InputMode mode) {
  if (mode == InputMode::kRanks) return LoadByRanges(job, fname);
  DatasetPairs ds;
  RunStep(job, "the dataset", [&] {
    if (job.root()) ds = LoadPairs(fname);
  });
  BroadcastPairs(job, &ds);
  return ds;
}

IntArray Ints(int64_t n) {
  auto *block = static_cast<int32_t *>(std::malloc(size_t(n > 0 ? n : 1) * sizeof(int32_t)));
  if (block == nullptr) throw std::bad_alloc();
  return IntArray(block);
}
