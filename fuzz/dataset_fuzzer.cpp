// Any bytes given to the loader either load into a dataset equal to the one
// a plain reading of the format gives (so every invariant holds: runs
// contiguous, ids in range, end marker, counts consistent) or are rejected
// with a reason and an empty dataset. Memory errors and leaks are the
// sanitizers' to find.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/dataset.h"

namespace {

// Files declaring more users than this are skipped: the loader's tvec is
// sized by the header alone, and the fuzzer's memory limit is not the
// subject here (tests/memory_limit_test.cpp covers exhausted memory).
constexpr int64_t kMaxFuzzedUsers = int64_t{1} << 20;
constexpr int64_t kMaxIndexable = INT32_MAX - 1;

[[noreturn]] void Fail(const char *what) {
  std::fprintf(stderr, "dataset_fuzzer: %s\n", what);
  std::abort();
}

bool IsSpace(unsigned char ch) {
  return ch == ' ' || ch == '\n' || ch == '\t' || ch == '\r' || ch == '\v' || ch == '\f';
}

// The white-space separated tokens of the input.
std::vector<std::string> Tokens(const uint8_t *data, size_t size) {
  std::vector<std::string> tokens;
  std::string token;
  for (size_t i = 0; i <= size; i++) {
    if (i == size || IsSpace(data[i])) {
      if (!token.empty()) tokens.push_back(token);
      token.clear();
    } else {
      token.push_back(char(data[i]));
    }
  }
  return tokens;
}

// A token as a signed 32-bit decimal integer with an optional sign.
bool ToInt32(const std::string &token, int64_t *value) {
  size_t at = token[0] == '+' || token[0] == '-' ? 1 : 0;
  if (at == token.size()) return false;
  int64_t magnitude = 0;
  for (size_t i = at; i < token.size(); i++) {
    if (token[i] < '0' || token[i] > '9') return false;
    magnitude = magnitude * 10 + (token[i] - '0');
    if (magnitude > (int64_t{1} << 32)) magnitude = int64_t{1} << 32;
  }
  *value = token[0] == '-' ? -magnitude : magnitude;
  return *value >= INT32_MIN && *value <= INT32_MAX;
}

// The dataset a plain reading of the format gives: counts in *ds, the
// training pairs and held-out items in the vectors; false for a bad file.
bool ReferenceLoad(const std::vector<std::string> &tokens, Dataset *ds,
                   std::vector<int32_t> *rowid, std::vector<int32_t> *colid,
                   std::vector<int32_t> *tvec) {
  int64_t header[3];
  if (tokens.size() < 3) return false;
  for (int k = 0; k < 3; k++)
    if (!ToInt32(tokens[k], &header[k]) || header[k] < 0 || header[k] > kMaxIndexable)
      return false;
  const int64_t npairs = header[2];
  if (int64_t(tokens.size()) != 3 + 2 * npairs) return false;
  ds->nrows = int32_t(header[0]);
  ds->ncols = int32_t(header[1]);
  tvec->assign(size_t(header[0]), -1);
  std::vector<bool> closed(size_t(header[0]), false);
  std::vector<int32_t> users_of_pairs, items_of_pairs;
  for (int64_t i = 0; i < npairs; i++) {
    int64_t user, item;
    if (!ToInt32(tokens[3 + 2 * i], &user) || !ToInt32(tokens[4 + 2 * i], &item)) return false;
    if (user < 0 || user >= header[0] || item < 0 || item >= header[1]) return false;
    if (i > 0 && users_of_pairs.back() != user) {
      closed[size_t(users_of_pairs.back())] = true;
      if (closed[size_t(user)]) return false;
    }
    users_of_pairs.push_back(int32_t(user));
    items_of_pairs.push_back(int32_t(item));
  }
  for (int64_t i = 0; i < npairs; i++) {
    const bool last_of_run = i + 1 == npairs || users_of_pairs[i + 1] != users_of_pairs[i];
    if (last_of_run) {
      (*tvec)[size_t(users_of_pairs[i])] = items_of_pairs[i];
    } else {
      rowid->push_back(users_of_pairs[i]);
      colid->push_back(items_of_pairs[i]);
    }
  }
  ds->ntrain = int32_t(rowid->size());
  return true;
}

// The declared user count, read the plain way, or -1.
int64_t DeclaredUsers(const std::vector<std::string> &tokens) {
  int64_t users;
  return !tokens.empty() && ToInt32(tokens[0], &users) ? users : -1;
}

void ExpectEqual(const int32_t *got, const std::vector<int32_t> &want, const char *what) {
  for (size_t i = 0; i < want.size(); i++)
    if (got[i] != want[i]) Fail(what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::string> tokens = Tokens(data, size);
  if (DeclaredUsers(tokens) > kMaxFuzzedUsers) return 0;

  Dataset want;
  std::vector<int32_t> rowid, colid, tvec;
  const bool valid = ReferenceLoad(tokens, &want, &rowid, &colid, &tvec);

  std::FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (in == nullptr) Fail("fmemopen failed");
  Dataset got;
  std::string error;
  const bool loaded = ParseDataset(in, &got, &error);
  std::fclose(in);

  if (!loaded) {
    if (valid) Fail("a valid file was rejected");
    if (error.empty()) Fail("a rejection without a reason");
    if (got.rowid || got.colid || got.tvec || got.nrows || got.ncols || got.ntrain)
      Fail("a rejected file left data behind");
    return 0;
  }
  if (!valid) Fail("an invalid file was accepted");
  if (got.nrows != want.nrows || got.ncols != want.ncols || got.ntrain != want.ntrain)
    Fail("counts differ from the plain reading");
  ExpectEqual(got.rowid.get(), rowid, "training users differ");
  ExpectEqual(got.colid.get(), colid, "training items differ");
  ExpectEqual(got.tvec.get(), tvec, "held-out items differ");
  if (got.rowid[got.ntrain] != got.nrows) Fail("the end marker is missing");
  return 0;
}
