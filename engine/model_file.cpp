#include "engine/model_file.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "engine/errors.h"
#include "engine/model.h"
#include "engine/popularity.h"
#include "engine/weighting.h"
#include "matrix/column_view.h"
#include "matrix/sparse_matrix.h"
#include "util/checked_alloc.h"
#include "util/free_all.h"
#include "util/output_file.h"

namespace {

constexpr const char *kNullSaveArgument =
    "TOVRAN_SaveModel: the model and the path should not be null.";
constexpr const char *kEmptySavePath = "TOVRAN_SaveModel: the path should not be empty.";
constexpr const char *kNullLoadArgument = "TOVRAN_LoadModel: the path should not be null.";
constexpr const char *kNullVersionArgument =
    "TOVRAN_ModelFileVersion: the path should not be null.";
constexpr const char *kCannotWrite = "Model file %s: cannot be written: %s";
constexpr const char *kCannotOpen = "Model file %s: cannot be opened: %s";
constexpr const char *kReadFailed = "Model file %s: cannot be read: %s";
constexpr const char *kWrongMagic = "Model file %s: not a model file (wrong magic)";
constexpr const char *kNewerVersion =
    "Model file %s: format version %u is newer than this library reads (%u)";
constexpr const char *kNoVersion = "Model file %s: format version 0 does not exist";
constexpr const char *kShort =
    "Model file %s: truncated: %lld bytes, fewer than the %lld of a header and checksum";
constexpr const char *kTruncated =
    "Model file %s: truncated: %lld bytes where the header's counts need %lld";
constexpr const char *kTrailing = "Model file %s: %lld bytes follow the model's end";
constexpr const char *kChecksum =
    "Model file %s: checksum mismatch: the file says %08x, its contents give %08x";
constexpr const char *kBadHeader = "Model file %s: inconsistent header: %s";
constexpr const char *kBadArrays = "Model file %s: inconsistent arrays: %s";

// Bytes up to the end of the version field.
constexpr int64_t kVersionEnd = 12;

// Elements converted per write or read.
constexpr int64_t kChunk = 16384;

void PutLE32(uint32_t value, unsigned char *out) {
  for (int b = 0; b < 4; b++) out[b] = static_cast<unsigned char>(value >> (8 * b));
}

uint32_t GetLE32(const unsigned char *in) {
  return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}

uint32_t FloatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Writes little-endian values and keeps the CRC-32 of every byte written.
class Writer {
 public:
  explicit Writer(std::FILE *out) : out_(out), crc_(crc32(0L, Z_NULL, 0)) {}

  void Bytes(const unsigned char *bytes, size_t n) {
    crc_ = crc32(crc_, bytes, static_cast<uInt>(n));
    if (std::fwrite(bytes, 1, n, out_) != n) ok_ = false;
  }
  void U32(uint32_t value) {
    unsigned char bytes[4];
    PutLE32(value, bytes);
    Bytes(bytes, 4);
  }
  void I64(int64_t value) {
    U32(uint32_t(uint64_t(value)));
    U32(uint32_t(uint64_t(value) >> 32));
  }
  // n 32-bit values, each given by bits(t).
  template <class Bits>
  void Array(int64_t n, Bits bits) {
    unsigned char buffer[4 * kChunk];
    for (int64_t begin = 0; begin < n; begin += kChunk) {
      const int64_t count = std::min(kChunk, n - begin);
      for (int64_t t = 0; t < count; t++) PutLE32(bits(begin + t), buffer + 4 * t);
      Bytes(buffer, size_t(4 * count));
    }
  }
  void Ints(const int32_t *values, int64_t n) {
    Array(n, [&](int64_t t) { return uint32_t(values[t]); });
  }
  void Floats(const float *values, int64_t n) {
    Array(n, [&](int64_t t) { return FloatBits(values[t]); });
  }
  // The checksum of everything before it ends the file.
  void Checksum() { U32(uint32_t(crc_)); }
  bool ok() const { return ok_; }

 private:
  std::FILE *out_;
  uLong crc_;
  bool ok_ = true;
};

// Reads little-endian arrays that the size checks have shown to be there.
class Reader {
 public:
  explicit Reader(std::FILE *in) : in_(in) {}

  bool Bytes(unsigned char *bytes, size_t n) { return std::fread(bytes, 1, n, in_) == n; }
  template <class Store>
  bool Array(int64_t n, Store store) {
    unsigned char buffer[4 * kChunk];
    for (int64_t begin = 0; begin < n; begin += kChunk) {
      const int64_t count = std::min(kChunk, n - begin);
      if (!Bytes(buffer, size_t(4 * count))) return false;
      for (int64_t t = 0; t < count; t++) store(begin + t, GetLE32(buffer + 4 * t));
    }
    return true;
  }
  bool Ints(int32_t *values, int64_t n) {
    return Array(n, [&](int64_t t, uint32_t bits) { values[t] = int32_t(bits); });
  }
  bool Floats(float *values, int64_t n) {
    return Array(n, [&](int64_t t, uint32_t bits) { std::memcpy(values + t, &bits, 4); });
  }

 private:
  std::FILE *in_;
};

// The header's fields, as read (from version 2 on with the extension).
struct Header {
  uint32_t version;
  int32_t kind, nnbr;
  float alpha;
  int32_t min_support, nusers, nitems;
  uint32_t flags;
  int64_t nentries;
  int32_t weighting = TOVRAN_WEIGHT_BINARY;
  float bm25_k1 = 0.0f, bm25_b = 0.0f;
  int32_t npopular = -1;  // -1: no popularity ranking (version 1)
};

// Bytes before the arrays in a file of version.
int64_t HeaderBytes(uint32_t version) {
  return version >= 2 ? kModelHeaderBytes + kModelExtensionBytes : kModelHeaderBytes;
}

float FloatFromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

Header ParseHeader(const unsigned char *bytes) {
  Header h;
  auto i32 = [&](int at) { return int32_t(GetLE32(bytes + at)); };
  h.version = GetLE32(bytes + 8);
  h.kind = i32(12);
  h.nnbr = i32(16);
  const uint32_t alpha = GetLE32(bytes + 20);
  std::memcpy(&h.alpha, &alpha, 4);
  h.min_support = i32(24);
  h.nusers = i32(28);
  h.nitems = i32(32);
  h.flags = GetLE32(bytes + 36);
  h.nentries = int64_t(uint64_t(GetLE32(bytes + 40)) | uint64_t(GetLE32(bytes + 44)) << 32);
  if (h.version >= 2) {
    h.weighting = i32(48);
    h.bm25_k1 = FloatFromBits(GetLE32(bytes + 52));
    h.bm25_b = FloatFromBits(GetLE32(bytes + 56));
    h.npopular = i32(60);
  }
  return h;
}

// Whether the first min(size, 12) bytes of a file of size bytes begin a
// model file of a version this library reads; else the reason is the last
// error. A file shorter than the magic is truncated if it begins like one,
// so only the bytes present are compared.
bool VersionReadable(const unsigned char *bytes, int64_t size, const char *name) {
  if (std::memcmp(bytes, kModelMagic, size_t(std::clamp<int64_t>(size, 0, sizeof kModelMagic))) !=
      0) {
    SetLastError(kWrongMagic, name);
    return false;
  }
  if (size < kVersionEnd) return true;
  const uint32_t version = GetLE32(bytes + 8);
  if (version > kModelFormatVersion) {
    SetLastError(kNewerVersion, name, version, kModelFormatVersion);
    return false;
  }
  if (version == 0) {
    SetLastError(kNoVersion, name);
    return false;
  }
  return true;
}

// The lowest kind the file's version knows: the popularity model came with
// version 2.
int32_t LowestKind(const Header &h) { return h.version >= 2 ? TOVRAN_POPULAR : TOVRAN_ITEM_COSINE; }

// The offsets array's length: items for the item kinds, users for kind 3.
int64_t OffsetCount(const Header &h) {
  return h.kind == TOVRAN_USER_BASED ? int64_t{h.nusers} + 1 : int64_t{h.nitems} + 1;
}

// The file size the counts call for, or -1 when they cannot be counts.
int64_t ExpectedSize(const Header &h) {
  if (h.kind < LowestKind(h) || h.kind > TOVRAN_USER_BASED || h.nusers < 0 || h.nitems < 0 ||
      h.nentries < 0 || h.nentries > INT32_MAX || h.npopular < -1)
    return -1;
  int64_t arrays = 0;
  if (h.kind != TOVRAN_POPULAR) arrays = 4 * OffsetCount(h) + 8 * h.nentries;
  if (h.kind == TOVRAN_USER_BASED) arrays += 4 * (int64_t{h.nitems} + 1);  // colptr
  if (h.npopular > 0) arrays += 8 * int64_t{h.npopular};
  return HeaderBytes(h.version) + arrays + kModelChecksumBytes;
}

// Empty when the header's values make a model; else what is wrong.
// The catalogue a popularity model file may claim per item it lists.
constexpr int64_t kItemsPerListedItem = 65536;

std::string HeaderFault(const Header &h) {
  if (h.flags != 0) return "flags " + std::to_string(h.flags) + " should be 0";
  if (WeightingName(h.weighting) == nullptr)
    return "weighting " + std::to_string(h.weighting) + " is unknown to format version " +
           std::to_string(h.version);
  const bool bm25 = h.weighting == TOVRAN_WEIGHT_BM25;
  if (bm25 ? !WeightingFault(TOVRAN_Params{1, 1, 0.0f, 1, 1, h.weighting, h.bm25_k1, h.bm25_b})
                  .empty()
           : h.bm25_k1 != 0.0f || h.bm25_b != 0.0f)
    return "K1 and B do not fit weighting " + std::string(WeightingName(h.weighting));
  if (h.npopular > h.nitems) return "npopular " + std::to_string(h.npopular) + " exceeds the items";
  if (h.kind == TOVRAN_POPULAR) {
    if (h.npopular < 0 || h.nnbr != 0 || h.alpha != 0.0f || h.min_support != 0 ||
        h.nentries != h.npopular)
      return "kind 0 should have nnbr, alpha and min_support 0 and npopular entries";
    // Its per-item arrays (marks, candidates, places: 16 bytes an item) are
    // not in the file, so a few bytes could claim gigabytes; the items
    // listed bound the catalogue instead.
    if (int64_t{h.nitems} > kItemsPerListedItem * std::max<int64_t>(h.npopular, 1))
      return "kind 0 lists " + std::to_string(h.npopular) + " items of " +
             std::to_string(h.nitems) + "; at most " + std::to_string(kItemsPerListedItem) +
             " items per listed item are read";
    return {};
  }
  if (h.nnbr < 1) return "nnbr " + std::to_string(h.nnbr) + " should be at least 1";
  const bool items = h.kind != TOVRAN_USER_BASED;
  if (h.kind == TOVRAN_ITEM_CPROB ? !(h.alpha >= 0.0f && h.alpha <= 1.0f) : h.alpha != 0.0f)
    return "alpha " + std::to_string(h.alpha) + " does not fit kind " + std::to_string(h.kind);
  if (items ? h.min_support < 1 : h.min_support != 0)
    return "min_support " + std::to_string(h.min_support) + " does not fit kind " +
           std::to_string(h.kind);
  return {};
}

// Empty when ptr[0..n] runs from 0 up to end without falling; else the fault.
std::string OffsetsFault(const char *name, const int32_t *ptr, int64_t n, int64_t end) {
  if (ptr[0] != 0) return std::string(name) + "[0] is not 0";
  for (int64_t k = 0; k < n; k++)
    if (ptr[k + 1] < ptr[k]) return std::string(name) + " falls at " + std::to_string(k + 1);
  if (ptr[n] != end)
    return std::string(name) + " ends at " + std::to_string(ptr[n]) + ", not at the entry count " +
           std::to_string(end);
  return {};
}

// Empty when every ind[0..n-1] lies in 0..limit-1; else the fault.
std::string IndexFault(const char *name, const int32_t *ind, int64_t n, int32_t limit) {
  for (int64_t k = 0; k < n; k++)
    if (ind[k] < 0 || ind[k] >= limit)
      return std::string(name) + "[" + std::to_string(k) + "] = " + std::to_string(ind[k]) +
             " lies outside 0.." + std::to_string(int64_t{limit} - 1);
  return {};
}

// Empty when every val[0..n-1] is a finite number; else the fault. Built
// models hold only finite similarities, and the queries rely on it: a NaN
// sum could take the bits of an item's mark mid-query.
std::string ValueFault(const char *name, const float *val, int64_t n) {
  for (int64_t k = 0; k < n; k++)
    if (!std::isfinite(val[k]))
      return std::string(name) + "[" + std::to_string(k) + "] is not a finite number";
  return {};
}

// How far above 1 the squared length of a list may lie: the build rounds
// each value once to single precision after a scale rounded once, which
// moves the sum by a few units of 2^-24; anything further was not built.
constexpr double kUnitTolerance = 1e-5;

// Empty when no list of val (delimited by ptr over n lists: neighbour lists
// or rows, as what names them) is longer than unit length within
// kUnitTolerance; else the fault. Built lists have unit length (a file may
// zero entries of them), so every value lies in -1..1 and no score sum of a
// query can overflow.
std::string UnitLengthFault(const char *what, const int32_t *ptr, const float *val, int32_t n) {
  for (int32_t i = 0; i < n; i++) {
    double sum = 0.0;
    for (int32_t j = ptr[i]; j < ptr[i + 1]; j++) sum += double(val[j]) * double(val[j]);
    if (sum > 1.0 + kUnitTolerance) {
      char text[160];
      std::snprintf(text, sizeof text, "%s %d has squared length %.9g, more than 1 within %g", what,
                    i, sum, kUnitTolerance);
      return text;
    }
  }
  return {};
}

// Empty when every row of a user-based model holds values its build can
// give; else the fault. The build scales each row once: binary weighting
// makes every entry of a row of k entries float(1 / sqrt(k)), exactly; the
// other weightings scale positive weights, so no value is negative and a
// row's squared length lies within kUnitTolerance of 1. A zero entry (of
// either sign) stands for a pair the file dropped: such a row need only not
// exceed unit length.
std::string RowValueFault(const int32_t *ptr, const float *val, int32_t nusers, bool binary) {
  for (int32_t u = 0; u < nusers; u++) {
    const int32_t k = ptr[u + 1] - ptr[u];
    const float built = float(1.0 / std::sqrt(double(k)));
    bool zeroed = false;
    double sum = 0.0;
    for (int32_t j = ptr[u]; j < ptr[u + 1]; j++) {
      char text[160];
      if (val[j] == 0.0f) {
        zeroed = true;
        continue;
      }
      if (binary && val[j] != built) {
        std::snprintf(text, sizeof text,
                      "rowval[%d] = %.9g, where binary weighting makes the row of user %d (%d "
                      "entries) %.9g throughout",
                      j, double(val[j]), u, k, double(built));
        return text;
      }
      if (val[j] < 0.0f) {
        std::snprintf(text, sizeof text, "rowval[%d] = %.9g is negative", j, double(val[j]));
        return text;
      }
      sum += double(val[j]) * double(val[j]);
    }
    if (!zeroed && k > 0 && sum < 1.0 - kUnitTolerance) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "the row of user %d has squared length %.9g, less than 1 within %g", u, sum,
                    kUnitTolerance);
      return text;
    }
  }
  return {};
}

// The CRC-32 of the next n bytes of in; false when they cannot be read.
bool StreamCrc(std::FILE *in, int64_t n, uLong *crc) {
  unsigned char buffer[1 << 16];
  *crc = crc32(0L, Z_NULL, 0);
  for (int64_t done = 0; done < n;) {
    const size_t want = size_t(std::min<int64_t>(sizeof buffer, n - done));
    if (std::fread(buffer, 1, want, in) != want) return false;
    *crc = crc32(*crc, buffer, static_cast<uInt>(want));
    done += int64_t(want);
  }
  return true;
}

// Reads the item model's arrays; NULL with the last error set.
Model *ReadItemModel(Reader &reader, const Header &h, const char *name) {
  ModelHolder model(CreateModel());
  model->type = h.kind;
  model->nnbr = h.nnbr;
  model->nitems = h.nitems;
  model->lists.itemptr = AllocInts(int64_t{h.nitems} + 1, "TOVRAN_LoadModel: itemptr");
  model->lists.itemind = AllocInts(h.nentries, "TOVRAN_LoadModel: itemind");
  model->lists.itemval = AllocFloats(h.nentries, "TOVRAN_LoadModel: itemval");
  if (!reader.Ints(model->lists.itemptr, int64_t{h.nitems} + 1) ||
      !reader.Ints(model->lists.itemind, h.nentries) ||
      !reader.Floats(model->lists.itemval, h.nentries)) {
    SetLastError(kReadFailed, name, std::strerror(errno));
    return nullptr;
  }
  std::string fault = OffsetsFault("itemptr", model->lists.itemptr, h.nitems, h.nentries);
  const int32_t room = ItemListRoom(h.nnbr, h.nitems);
  for (int32_t i = 0; fault.empty() && i < h.nitems; i++)
    if (model->lists.itemptr[i + 1] - model->lists.itemptr[i] > room)
      fault =
          "item " + std::to_string(i) + " has more than " + std::to_string(room) + " neighbours";
  if (fault.empty()) fault = IndexFault("itemind", model->lists.itemind, h.nentries, h.nitems);
  if (fault.empty()) fault = ValueFault("itemval", model->lists.itemval, h.nentries);
  if (fault.empty())
    fault =
        UnitLengthFault("the list of item", model->lists.itemptr, model->lists.itemval, h.nitems);
  if (!fault.empty()) {
    SetLastError(kBadArrays, name, fault.c_str());
    return nullptr;
  }
  model->scratch.item_marks = AllocInts(h.nitems, "TOVRAN_LoadModel: marker");
  model->scratch.item_candidates =
      AllocCands(ItemCandidateRoom(h.nitems), "TOVRAN_LoadModel: fcand");
  RestMarks(model.get());
  return model.release();
}

// Reads the user model's row view and column starts and derives its column
// view as the build does; NULL with the last error set.
Model *ReadUserModel(Reader &reader, const Header &h, const char *name) {
  MatrixHolder mat(
      static_cast<SparseMatrix *>(CheckedMalloc(sizeof(SparseMatrix), "TOVRAN_LoadModel: matrix")));
  *mat = SparseMatrix{h.nusers, h.nitems, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  mat->rowptr = AllocInts(int64_t{h.nusers} + 1, "TOVRAN_LoadModel: rowptr");
  mat->rowind = AllocInts(h.nentries, "TOVRAN_LoadModel: rowind");
  mat->rowval = AllocFloats(h.nentries, "TOVRAN_LoadModel: rowval");
  Owned<int32_t[]> colptr(AllocInts(int64_t{h.nitems} + 1, "TOVRAN_LoadModel: colptr"));
  if (!reader.Ints(mat->rowptr, int64_t{h.nusers} + 1) || !reader.Ints(mat->rowind, h.nentries) ||
      !reader.Floats(mat->rowval, h.nentries) ||
      !reader.Ints(colptr.get(), int64_t{h.nitems} + 1)) {
    SetLastError(kReadFailed, name, std::strerror(errno));
    return nullptr;
  }
  std::string fault = OffsetsFault("rowptr", mat->rowptr, h.nusers, h.nentries);
  if (fault.empty()) fault = IndexFault("rowind", mat->rowind, h.nentries, h.nitems);
  if (fault.empty()) fault = ValueFault("rowval", mat->rowval, h.nentries);
  if (fault.empty()) fault = UnitLengthFault("the row of user", mat->rowptr, mat->rowval, h.nusers);
  if (fault.empty())
    fault = RowValueFault(mat->rowptr, mat->rowval, h.nusers, h.weighting == TOVRAN_WEIGHT_BINARY);
  if (fault.empty()) {
    CreateColMat(mat.get());
    if (!std::equal(colptr.get(), colptr.get() + h.nitems + 1, mat->colptr))
      fault = "colptr does not count the rows' entries";
  }
  if (!fault.empty()) {
    SetLastError(kBadArrays, name, fault.c_str());
    return nullptr;
  }
  ModelHolder model(CreateModel());
  model->type = TOVRAN_USER_BASED;
  model->nnbr = h.nnbr;
  model->users.nrows = h.nusers;
  model->nitems = h.nitems;
  std::swap(model->users.rowptr, mat->rowptr);
  std::swap(model->users.rowind, mat->rowind);
  std::swap(model->users.rowval, mat->rowval);
  std::swap(model->users.colptr, mat->colptr);
  std::swap(model->users.colind, mat->colind);
  std::swap(model->users.colval, mat->colval);
  model->scratch.item_marks = AllocInts(h.nitems, "TOVRAN_LoadModel: marker");
  model->scratch.user_marks = AllocInts(h.nusers, "TOVRAN_LoadModel: rmarker");
  RestMarks(model.get());
  model->scratch.item_candidates =
      AllocCands(ItemCandidateRoom(h.nitems), "TOVRAN_LoadModel: fcand");
  model->scratch.user_candidates =
      AllocCands(UserCandidateRoom(h.nusers), "TOVRAN_LoadModel: rcand");
  return model.release();
}

// Reads the popularity ranking of h.npopular items into model; false with
// the last error set.
bool ReadPopularity(Reader &reader, const Header &h, const char *name, Model *model) {
  model->popularity.npopular = h.npopular;
  model->popularity.popular = AllocInts(h.npopular, "TOVRAN_LoadModel: popular");
  model->popularity.popscore = AllocFloats(h.npopular, "TOVRAN_LoadModel: popscore");
  if (!reader.Ints(model->popularity.popular, h.npopular) ||
      !reader.Floats(model->popularity.popscore, h.npopular)) {
    SetLastError(kReadFailed, name, std::strerror(errno));
    return false;
  }
  std::string fault = IndexFault("popular", model->popularity.popular, h.npopular, h.nitems);
  if (fault.empty()) fault = ValueFault("popscore", model->popularity.popscore, h.npopular);
  for (int32_t k = 0; fault.empty() && k < h.npopular; k++)
    if (!(model->popularity.popscore[k] > 0.0f) ||
        (k > 0 && model->popularity.popscore[k] > model->popularity.popscore[k - 1]))
      fault = "popscore[" + std::to_string(k) + "] is not above 0 or rises";
  if (fault.empty()) {
    model->popularity.poprank = AllocFilledInts(h.nitems, INT32_MAX, "TOVRAN_LoadModel: poprank");
    for (int32_t k = 0; fault.empty() && k < h.npopular; k++) {
      if (model->popularity.poprank[model->popularity.popular[k]] != INT32_MAX)
        fault = "popular[" + std::to_string(k) + "] repeats an item";
      model->popularity.poprank[model->popularity.popular[k]] = k;
    }
  }
  if (!fault.empty()) {
    SetLastError(kBadArrays, name, fault.c_str());
    return false;
  }
  return true;
}

bool WriteModel(const Model *model, std::FILE *out) {
  Writer w(out);
  const bool users = model->type == TOVRAN_USER_BASED;
  const bool popular = model->type == TOVRAN_POPULAR;
  const int32_t nitems = model->nitems;
  const int32_t *ptr = users ? model->users.rowptr : model->lists.itemptr;
  const int32_t noffsets = users ? model->users.nrows : model->nitems;
  // A model read from a version 1 file carries no ranking: -1, and no arrays.
  const int32_t npopular = std::max(model->popularity.npopular, 0);
  const int64_t nentries = popular ? npopular : ptr[noffsets];
  w.Bytes(reinterpret_cast<const unsigned char *>(kModelMagic), sizeof kModelMagic);
  w.U32(kModelFormatVersion);
  w.U32(uint32_t(model->type));
  w.U32(uint32_t(model->nnbr));
  w.U32(FloatBits(model->alpha));
  w.U32(uint32_t(model->min_support));
  w.U32(uint32_t(model->nusers));
  w.U32(uint32_t(nitems));
  w.U32(0);  // flags
  w.I64(nentries);
  w.U32(uint32_t(model->weighting));
  w.U32(FloatBits(model->bm25_k1));
  w.U32(FloatBits(model->bm25_b));
  w.U32(uint32_t(model->popularity.npopular));
  if (!popular) {
    w.Ints(ptr, int64_t{noffsets} + 1);
    w.Ints(users ? model->users.rowind : model->lists.itemind, nentries);
    w.Floats(users ? model->users.rowval : model->lists.itemval, nentries);
  }
  if (users) w.Ints(model->users.colptr, int64_t{nitems} + 1);
  w.Ints(model->popularity.popular, npopular);
  w.Floats(model->popularity.popscore, npopular);
  w.Checksum();
  return w.ok();
}

}  // namespace

Model *ReadModel(std::FILE *in, const char *name) {
  if (std::fseek(in, 0, SEEK_END) != 0) {
    SetLastError(kReadFailed, name, std::strerror(errno));
    return nullptr;
  }
  const int64_t size = ftello(in);
  std::rewind(in);
  constexpr int64_t kLongest = kModelHeaderBytes + kModelExtensionBytes;
  unsigned char bytes[kLongest];
  // A size ftello could not tell (-1) reads nothing; it is refused below.
  const size_t got = std::fread(bytes, 1, size_t(std::clamp<int64_t>(size, 0, kLongest)), in);
  if (size < 0 || int64_t(got) != std::min<int64_t>(size, kLongest)) {
    SetLastError(kReadFailed, name, std::strerror(errno));
    return nullptr;
  }
  if (!VersionReadable(bytes, size, name)) return nullptr;
  int64_t least = kModelHeaderBytes + kModelChecksumBytes;
  if (size >= kVersionEnd) least = HeaderBytes(GetLE32(bytes + 8)) + kModelChecksumBytes;
  if (size < least) {
    SetLastError(kShort, name, static_cast<long long>(size), static_cast<long long>(least));
    return nullptr;
  }
  const Header h = ParseHeader(bytes);
  const int64_t expected = ExpectedSize(h);
  if (expected > size) {
    SetLastError(kTruncated, name, static_cast<long long>(size), static_cast<long long>(expected));
    return nullptr;
  }
  // The checksum covers every byte before it, the header included.
  std::rewind(in);
  uLong crc = 0;
  unsigned char stored[4];
  if (!StreamCrc(in, size - kModelChecksumBytes, &crc) || std::fread(stored, 1, 4, in) != 4) {
    SetLastError(kReadFailed, name, std::strerror(errno));
    return nullptr;
  }
  if (GetLE32(stored) != uint32_t(crc)) {
    SetLastError(kChecksum, name, GetLE32(stored), unsigned(crc));
    return nullptr;
  }
  if (expected < 0) {
    const std::string fault =
        h.kind < LowestKind(h) || h.kind > TOVRAN_USER_BASED
            ? "kind " + std::to_string(h.kind) +
                  (h.version >= 2 ? " is not 0, 1, 2 or 3" : " is not 1, 2 or 3")
            : "negative or too large counts";
    SetLastError(kBadHeader, name, fault.c_str());
    return nullptr;
  }
  if (expected < size) {
    SetLastError(kTrailing, name, static_cast<long long>(size - expected));
    return nullptr;
  }
  const std::string fault = HeaderFault(h);
  if (!fault.empty()) {
    SetLastError(kBadHeader, name, fault.c_str());
    return nullptr;
  }
  if (std::fseek(in, HeaderBytes(h.version), SEEK_SET) != 0) {
    SetLastError(kReadFailed, name, std::strerror(errno));
    return nullptr;
  }
  Reader reader(in);
  ModelHolder model(h.kind == TOVRAN_POPULAR      ? CreatePopularModel(h.nitems)
                    : h.kind == TOVRAN_USER_BASED ? ReadUserModel(reader, h, name)
                                                  : ReadItemModel(reader, h, name));
  if (model == nullptr) return nullptr;
  if (h.npopular >= 0 && !ReadPopularity(reader, h, name, model.get())) return nullptr;
  model->nusers = h.nusers;
  model->alpha = h.alpha;
  model->min_support = h.min_support;
  model->weighting = h.weighting;
  model->bm25_k1 = h.bm25_k1;
  model->bm25_b = h.bm25_b;
  return model.release();
}

int32_t TOVRAN_SaveModel(const Model *model, const char *path) {
  return ReportingErrors<int32_t>(-1, [&]() -> int32_t {
    if (model == nullptr || path == nullptr) {
      SetLastError("%s", kNullSaveArgument);
      return -1;
    }
    if (*path == '\0') {
      SetLastError("%s", kEmptySavePath);
      return -1;
    }
    OutputFile file;
    std::string error;
    if (!file.Open(path, &error) || !WriteModel(model, file.stream()) || !file.Close(&error) ||
        !file.Commit(&error)) {
      if (error.empty()) error = std::strerror(errno);
      SetLastError(kCannotWrite, path, error.c_str());
      return -1;
    }
    return 0;
  });
}

Model *TOVRAN_LoadModel(const char *path) {
  return ReportingErrors<Model *>(nullptr, [&]() -> Model * {
    if (path == nullptr) {
      SetLastError("%s", kNullLoadArgument);
      return nullptr;
    }
    std::FILE *in = std::fopen(path, "rb");
    if (in == nullptr) {
      SetLastError(kCannotOpen, path, std::strerror(errno));
      return nullptr;
    }
    struct Closer {
      std::FILE *in;
      ~Closer() { std::fclose(in); }
    } closer{in};
    return ReadModel(in, path);
  });
}

uint32_t TOVRAN_ModelFileVersion(const char *path) {
  if (path == nullptr) {
    SetLastError("%s", kNullVersionArgument);
    return 0;
  }
  std::FILE *in = std::fopen(path, "rb");
  if (in == nullptr) {
    SetLastError(kCannotOpen, path, std::strerror(errno));
    return 0;
  }
  unsigned char bytes[kVersionEnd];
  const size_t got = std::fread(bytes, 1, sizeof bytes, in);
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed) {
    SetLastError(kReadFailed, path, std::strerror(errno));
    return 0;
  }
  if (!VersionReadable(bytes, int64_t(got), path)) return 0;
  if (got < sizeof bytes) {
    SetLastError(kShort, path, static_cast<long long>(got),
                 static_cast<long long>(kModelHeaderBytes + kModelChecksumBytes));
    return 0;
  }
  return GetLE32(bytes + 8);
}
