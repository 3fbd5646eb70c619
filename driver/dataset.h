#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "util/free_all.h"

// An int array from the checked allocation, released with its owner.
using IntArray = Owned<int32_t[]>;

// The loaded file: training pairs in file order with each user's last listed
// pair held out as tvec[user] (-1 for a user without pairs). rowid[ntrain]
// holds nrows as end marker, so every run of a user ends at a change of id.
// A basket is the run of one user's training pairs: basket b is pairs
// bstart[b] .. bstart[b+1]-1, in file order; users with one pair or none
// have no basket.
struct Dataset {
  int32_t nrows = 0;
  int32_t ncols = 0;
  int32_t ntrain = 0;
  int32_t nbaskets = 0;
  IntArray rowid;   // ntrain+1 entries
  IntArray colid;   // ntrain+1 entries
  IntArray tvec;    // nrows entries
  IntArray bstart;  // nbaskets+1 entries, bstart[nbaskets] = ntrain
};

// The white space of the dataset format: space, \n, \t, \r, \v, \f.
bool IsDatasetSpace(char ch);

// What ReadIntegerToken found.
enum class TokenVerdict { kInteger, kNotInteger, kTooLarge };
struct TokenRead {
  const char *end;  // where reading stopped: past the token, unless kNotInteger
  TokenVerdict verdict;
};

// The dataset grammar's one number reader. Reads the token that starts at
// first (first < last, *first not white space) as a decimal integer with an
// optional sign that must fit in 32 bits, storing it in *value. A token ends
// at white space or at last; when end == last the caller decides whether
// more bytes belong to it. A token of digits followed by other bytes is
// kNotInteger however long its digits.
TokenRead ReadIntegerToken(const char *first, const char *last, int32_t *value);

// Parses a dataset from an open stream: a header "users items pairs" and
// that many "user item" pairs, any white space between numbers. Returns true
// with *ds filled, or false with *error saying what is wrong (pair and line
// numbers count from 1); *ds is then left empty.
bool ParseDataset(std::FILE *in, Dataset *ds, std::string *error);

// Completes a dataset from every pair of a valid file: ds->rowid and
// ds->colid hold the npairs pairs in file order (room for npairs+1 entries),
// ds->tvec each user's last listed item, ds->nrows and ds->ncols the header's
// counts. Drops the last pair of every run, keeping the order, puts the end
// marker and records the basket starts. Exhausted memory is reported as
// AllocInts does.
void DropHeldOutPairs(int32_t npairs, Dataset *ds);

// Sets ds->bstart and ds->nbaskets from the ds->ntrain training pairs, whose
// runs of one user each are contiguous (for a dataset made other than by
// loading, such as a re-split). Exhausted memory is reported as AllocInts does.
void RecordBasketStarts(Dataset *ds);

// As ReadDataset, but a file that cannot be opened or parsed gives false
// with the line ReadDataset would print (no newline) in *message; exhausted
// memory still ends the process.
bool LoadDataset(const char *fname, Dataset *ds, std::string *message);

// Loads fname. On failure prints the reason on standard error and ends the
// process with status 1: "Error opening file <fname>: <system's reason>" when
// it cannot be opened, "Error in file <fname>: <reason>" otherwise.
Dataset ReadDataset(const char *fname);
