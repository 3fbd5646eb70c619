// Any bytes given to the loader either load into the dataset that a plain
// reading of the format gives (so every invariant holds: runs contiguous,
// ids in range, end marker, counts consistent) or are rejected with the
// reason the plain reading expects, at the same pair and line, and an empty
// dataset. The plain reading shares nothing with the loader: lines split at
// '\n', tokens taken by istringstream, numbers by strtoll. Memory errors and
// leaks are the sanitizers' to find.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "driver/split.h"

namespace {

// Files declaring more users than this are skipped: the loader's held_out_item is
// sized by the header alone, and the fuzzer's memory limit is not the
// subject here (tests/memory_limit_test.cpp covers exhausted memory).
constexpr long long kMaxFuzzedUsers = 1LL << 20;
constexpr long long kMaxIndexable = INT32_MAX - 1;

[[noreturn]] void Fail(const char *what, const std::string &detail = "") {
  std::fprintf(stderr, "dataset_fuzzer: %s %s\n", what, detail.c_str());
  std::abort();
}

struct Token {
  std::string text;
  long long line;
};

// The white-space separated tokens of the input with their lines.
std::vector<Token> Tokens(const uint8_t *data, size_t size) {
  std::vector<Token> tokens;
  std::istringstream input(std::string(reinterpret_cast<const char *>(data), size));
  std::string line, text;
  for (long long number = 1; std::getline(input, line); number++) {
    std::istringstream words(line);
    while (words >> text) tokens.push_back({text, number});
  }
  return tokens;
}

enum class Number { kOk, kNotInteger, kTooLarge };

// A token as a decimal integer with an optional sign, in 32 bits.
Number ToInt32(const std::string &text, long long *value) {
  const char *begin = text.c_str();
  char *end = nullptr;
  errno = 0;
  // strtoll itself would also take leading white space, which a token never has.
  *value = std::strtoll(begin, &end, 10);
  if (end == begin || end != begin + text.size()) return Number::kNotInteger;
  if (errno == ERANGE || *value < INT32_MIN || *value > INT32_MAX) return Number::kTooLarge;
  return Number::kOk;
}

// The plain reading: true with the dataset in the vectors and *ds's counts,
// or false with *where holding how the loader's message must begin.
bool ReferenceLoad(const std::vector<Token> &tokens, Dataset *ds, std::vector<int32_t> *rowid,
                   std::vector<int32_t> *colid, std::vector<int32_t> *held_out_item,
                   std::string *where) {
  long long header[3];
  for (size_t k = 0; k < 3; k++) {
    if (k == tokens.size()) {
      *where =
          "the header must be three non-negative integers (users, items, pairs), but the file "
          "holds " +
          std::to_string(k);
      return false;
    }
    const Number number = ToInt32(tokens[k].text, &header[k]);
    if (number != Number::kOk || header[k] < 0 || header[k] > kMaxIndexable) {
      *where = "header: ";
      return false;
    }
  }
  const long long npairs = header[2];
  held_out_item->assign(size_t(header[0]), -1);
  std::vector<bool> closed(size_t(header[0]), false);
  std::vector<long long> users, items;
  for (long long i = 0; i < npairs; i++) {
    long long pair[2];
    const std::string at = "pair " + std::to_string(i + 1) + " (line ";
    for (size_t k = 0; k < 2; k++) {
      const size_t t = size_t(3 + 2 * i) + k;
      if (t >= tokens.size()) {
        *where = "the header announces " + std::to_string(npairs) +
                 " pairs, but the file holds only " + std::to_string(i);
        return false;
      }
      const Number number = ToInt32(tokens[t].text, &pair[k]);
      if (number != Number::kOk) {
        *where = at + std::to_string(tokens[t].line) + "): '";
        return false;
      }
    }
    const long long user_line = tokens[size_t(3 + 2 * i)].line,
                    item_line = tokens[size_t(4 + 2 * i)].line;
    if (pair[0] < 0 || pair[0] >= header[0]) {
      *where = at + std::to_string(user_line) + "): user " + std::to_string(pair[0]);
      return false;
    }
    if (pair[1] < 0 || pair[1] >= header[1]) {
      *where = at + std::to_string(item_line) + "): item " + std::to_string(pair[1]);
      return false;
    }
    if (i > 0 && users.back() != pair[0]) {
      closed[size_t(users.back())] = true;
      if (closed[size_t(pair[0])]) {
        *where = at + std::to_string(user_line) + "): user " + std::to_string(pair[0]) +
                 " appears again";
        return false;
      }
    }
    users.push_back(pair[0]);
    items.push_back(pair[1]);
  }
  if (tokens.size() > size_t(3 + 2 * npairs)) {
    *where = "line " + std::to_string(tokens[size_t(3 + 2 * npairs)].line) + ": '";
    return false;
  }
  for (size_t i = 0; i < users.size(); i++) {
    const bool last_of_run = i + 1 == users.size() || users[i + 1] != users[i];
    if (last_of_run) {
      (*held_out_item)[size_t(users[i])] = int32_t(items[i]);
    } else {
      rowid->push_back(int32_t(users[i]));
      colid->push_back(int32_t(items[i]));
    }
  }
  ds->nrows = int32_t(header[0]);
  ds->ncols = int32_t(header[1]);
  ds->ntrain = int32_t(rowid->size());
  return true;
}

// The declared user count, read the plain way, or -1.
long long DeclaredUsers(const std::vector<Token> &tokens) {
  long long users;
  return !tokens.empty() && ToInt32(tokens[0].text, &users) == Number::kOk ? users : -1;
}

void ExpectEqual(const int32_t *got, const std::vector<int32_t> &want, const char *what) {
  for (size_t i = 0; i < want.size(); i++)
    if (got[i] != want[i]) Fail(what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<Token> tokens = Tokens(data, size);
  if (DeclaredUsers(tokens) > kMaxFuzzedUsers) return 0;

  Dataset want;
  std::vector<int32_t> rowid, colid, held_out_item;
  std::string where;
  const bool valid = ReferenceLoad(tokens, &want, &rowid, &colid, &held_out_item, &where);

  std::FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (in == nullptr) Fail("fmemopen failed");
  Dataset got;
  std::string error;
  const bool loaded = ParseDataset(in, &got, &error);
  std::fclose(in);

  if (!loaded) {
    if (valid) Fail("a valid file was rejected:", error);
    if (error.rfind(where, 0) != 0)
      Fail("the message differs from the plain reading's:", error + " | " + where);
    if (got.rowid || got.colid || got.held_out_item || got.nrows || got.ncols || got.ntrain)
      Fail("a rejected file left data behind");
    return 0;
  }
  if (!valid) Fail("an invalid file was accepted; the plain reading says:", where);
  if (got.nrows != want.nrows || got.ncols != want.ncols || got.ntrain != want.ntrain)
    Fail("counts differ from the plain reading");
  ExpectEqual(got.rowid.get(), rowid, "training users differ");
  ExpectEqual(got.colid.get(), colid, "training items differ");
  ExpectEqual(got.held_out_item.get(), held_out_item, "held-out items differ");
  if (got.rowid[got.ntrain] != got.nrows) Fail("the end marker is missing");
  // A basket starts at every change of user among the training pairs.
  std::vector<int32_t> starts;
  for (size_t i = 0; i < rowid.size(); i++)
    if (i == 0 || rowid[i] != rowid[i - 1]) starts.push_back(int32_t(i));
  starts.push_back(int32_t(rowid.size()));
  if (got.nbaskets + size_t{1} != starts.size()) Fail("the basket count differs");
  ExpectEqual(got.basket_starts.get(), starts, "basket starts differ");
  return 0;
}
