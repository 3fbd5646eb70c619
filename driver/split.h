#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/pairs_file.h"
#include "dataset/timestamp.h"

// How each user's pairs are divided into training pairs and held-out pairs.
struct SplitRule {
  enum Kind { kLast, kRandom, kKFold, kTime };
  Kind kind = kLast;
  int32_t count = 1;    // last:K, random:K: pairs held out per user
  double fraction = 0;  // random:F (count is then 0): share held out per user
  int32_t folds = 0;    // kfold:F
  Timestamp cutoff;     // time:T: pairs at or after it are held out
  std::string text = "last";
  // The number of evaluations the split asks for: the folds, else 1.
  int32_t Runs() const { return kind == kKFold ? folds : 1; }
};

// Reads "last", "last:K", "random:K", "random:F", "kfold:F" or "time:T" (T an
// integer or a date as the converter reads them). Returns "" with *rule
// set, or the reason the text is refused.
std::string ParseSplit(std::string_view text, SplitRule *rule);

// Why users of the file are not asked.
struct LeftOut {
  int32_t without_pairs = 0;  // no pair in the file
  int32_t no_training = 0;    // every pair held out (too few pairs for the split)
  int32_t no_held_out = 0;    // no pair held out (time or fold split)
  int32_t asked = 0;          // users with training and held-out pairs
};

// The evaluation's dataset: the training pairs, grouped by user in file
// order, and every user's held-out pairs. rowid[ntrain] holds nrows as end
// marker. A basket is the run of one user's training pairs: basket b is
// pairs basket_starts[b] .. basket_starts[b+1]-1. User u's held-out items, in file order,
// are test_items[test_start[u] .. test_start[u+1]-1]; held_out_item[u] is the first
// of them, -1 for none.
struct Dataset {
  int32_t nrows = 0;
  int32_t ncols = 0;
  int32_t ntrain = 0;
  int32_t nbaskets = 0;
  int32_t ntest = 0;
  IntArray rowid;             // ntrain+1 entries
  IntArray colid;             // ntrain+1 entries
  IntArray held_out_item;     // nrows entries
  IntArray basket_starts;     // nbaskets+1 entries, basket_starts[nbaskets] = ntrain
  IntArray test_start;        // nrows+1 entries
  IntArray test_items;        // ntest entries
  std::vector<float> values;  // the training pairs' values when the file's were read; else empty
  LeftOut left_out;
  int32_t HeldOutCount(int32_t user) const {
    return test_start[size_t(user) + 1] - test_start[size_t(user)];
  }
};

// Splits the pairs of a file, in their own arrays. fold (0..rule.Runs()-1) picks the test fold of
// a k-fold split; seed draws the random splits, each user from a stream of
// its own, so that the split is the same on every machine and however the
// work is shared. times (one per pair, file order) is read by time splits
// alone. Exhausted memory throws std::bad_alloc.
Dataset SplitPairs(DatasetPairs pairs, const SplitRule &rule, uint64_t seed, int32_t fold,
                   const std::vector<Timestamp> *times);

// Each user's last listed pair held out: the split of the plain report.
Dataset HoldOutLast(DatasetPairs pairs);

// Sets ds->basket_starts and ds->nbaskets from the ds->ntrain training pairs, whose
// runs of one user each are contiguous (for a dataset made other than by
// splitting, such as a re-split). Exhausted memory throws std::bad_alloc.
void RecordBasketStarts(Dataset *ds);

// The file's pairs split as HoldOutLast does, for callers that load and
// split in one step: ParsePairs and ReadPairs followed by it (ReadDataset
// ends the process with status 1 on exhausted memory).
bool ParseDataset(std::FILE *in, Dataset *ds, std::string *error);
Dataset ReadDataset(const char *fname);

// Runs a step that may fail by throwing Failure (util/failure.h).
using StepGuard = std::function<void(const char *what, const std::function<void()> &step)>;

// Draws of one stream of the generator the splits and intervals share
// (64-bit mixes of a counter, as plain to write in any language): stream
// (seed, purpose, index) is the same sequence everywhere.
class Draws {
 public:
  Draws(uint64_t seed, uint64_t purpose, uint64_t index);
  uint64_t Next();
  // A draw in 0..n-1 (n >= 1): the next draw modulo n.
  uint64_t Below(uint64_t n) { return Next() % n; }
  // A draw in 0..n-1 (1 <= n < 2^32) without a division: the high 64 bits
  // of the next draw times n.
  uint64_t Scaled(uint64_t n) {
    const uint64_t x = Next();
    return ((x >> 32) * n + (((x & 0xFFFFFFFFu) * n) >> 32)) >> 32;
  }
  // The next count draws by Scaled(n) into out (1 <= n < 2^32), eight at a
  // time on processors with AVX-512.
  void ScaledBlock(uint64_t n, int32_t count, uint32_t *out);

 private:
  uint64_t state_;
};

// The purposes of the generator's streams.
constexpr uint64_t kSplitDraws = 1, kBootstrapDraws = 2, kTuneDraws = 3;
