#include "dataset/pairs_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <climits>
#include <cstdarg>
#include <cstring>

#include "util/checked_alloc.h"
#include "util/failure.h"

namespace {

// Counts and ids must leave room for one more entry (end markers, offsets).
constexpr int64_t kMaxCount = INT32_MAX - 1;
constexpr size_t kTokenEcho = 24;         // characters of a bad token quoted back
constexpr size_t kFirstBuffer = 1 << 16;  // bytes read at a time; grows for longer tokens

inline bool IsSpace(char ch) {
  return ch == ' ' || ch == '\n' || ch == '\t' || ch == '\r' || ch == '\v' || ch == '\f';
}

inline TokenRead ReadInteger(const char *first, const char *last, int32_t *value) {
  const char *digits = first;
  const bool negative = *digits == '-';
  if (negative || *digits == '+') digits++;
  uint64_t magnitude = 0;
  const auto [end, fault] = std::from_chars(digits, last, magnitude);
  if (end == digits) return {digits, TokenVerdict::kNotInteger};
  if (end != last && !IsSpace(*end)) return {end, TokenVerdict::kNotInteger};
  if (fault == std::errc::result_out_of_range ||
      magnitude > (negative ? uint64_t{1} << 31 : uint64_t{INT32_MAX}))
    return {end, TokenVerdict::kTooLarge};
  *value = int32_t(negative ? -int64_t(magnitude) : int64_t(magnitude));
  return {end, TokenVerdict::kInteger};
}

// Splits a stream into white-space separated tokens, as formatted input
// does, and reads each with ReadIntegerToken. A token always lies whole in
// the buffer; the buffer grows for one longer than itself.
class TokenReader {
 public:
  enum Status { kOk, kEnd, kNotInteger, kTooLarge, kReadError };

  explicit TokenReader(std::FILE *in)
      : in_(in), buf_(static_cast<char *>(std::malloc(kFirstBuffer))), size_(kFirstBuffer) {
    if (buf_ == nullptr) AllocationFailed("ReadDataset: read buffer", int64_t{kFirstBuffer});
  }
  ~TokenReader() { std::free(buf_); }
  TokenReader(const TokenReader &) = delete;
  TokenReader &operator=(const TokenReader &) = delete;

  Status Next(int32_t *value) {
    for (;;) {
      while (pos_ < len_ && IsSpace(buf_[pos_])) {
        if (buf_[pos_] == '\n') line_++;
        pos_++;
      }
      if (pos_ < len_) break;
      if (!Refill()) return read_error_ ? kReadError : kEnd;
    }
    token_line_ = line_;
    for (;;) {
      const TokenRead token = ReadInteger(buf_ + pos_, buf_ + len_, value);
      // A token that reaches the end of the buffer may go on past it; a bad
      // one is quoted back, so enough of it must be at hand.
      const bool short_echo =
          token.verdict == TokenVerdict::kNotInteger && len_ - pos_ <= kTokenEcho;
      if ((token.end == buf_ + len_ || short_echo) && Refill()) continue;
      if (read_error_) return kReadError;
      token_start_ = pos_;
      if (token.verdict == TokenVerdict::kNotInteger) return kNotInteger;
      if (token.verdict == TokenVerdict::kTooLarge) return kTooLarge;
      pos_ = size_t(token.end - buf_);
      return kOk;
    }
  }

  // The last token read, shortened for messages: at most kTokenEcho
  // characters, then "..."; control and non-ASCII bytes as \xNN.
  std::string token() const {
    std::string echo;
    for (size_t p = token_start_; p < len_ && !IsSpace(buf_[p]); p++) {
      const auto ch = static_cast<unsigned char>(buf_[p]);
      if (echo.size() >= kTokenEcho) {
        echo += "...";
        break;
      }
      if (ch >= 0x20 && ch < 0x7f) {
        echo.push_back(char(ch));
      } else {
        // Control and non-ASCII bytes would garble the message; show their code.
        static const char kHex[] = "0123456789abcdef";
        echo += {'\\', 'x', kHex[ch >> 4], kHex[ch & 15]};
      }
    }
    return echo;
  }
  // The line on which the last token started, counted from 1.
  int64_t token_line() const { return token_line_; }
  int read_errno() const { return read_errno_; }

 private:
  // Keeps the unread bytes, moved to the front (the buffer doubled when they
  // fill it), and reads more after them; false at the end of the input or
  // on a read error, which is then recorded.
  bool Refill() {
    if (at_end_) return false;
    const size_t kept = len_ - pos_;
    if (kept == size_) {
      void *grown = std::realloc(buf_, 2 * size_);
      if (grown == nullptr) AllocationFailed("ReadDataset: read buffer", int64_t(2 * size_));
      buf_ = static_cast<char *>(grown);
      size_ *= 2;
    } else if (pos_ > 0) {
      std::memmove(buf_, buf_ + pos_, kept);
    }
    pos_ = 0;
    len_ = kept;
    const size_t got = std::fread(buf_ + len_, 1, size_ - len_, in_);
    len_ += got;
    if (got > 0) return true;
    at_end_ = true;
    if (std::ferror(in_)) {
      read_error_ = true;
      read_errno_ = errno;
    }
    return false;
  }

  std::FILE *in_;
  char *buf_;
  size_t size_;
  size_t pos_ = 0, len_ = 0;  // the unread bytes are buf_[pos_ .. len_)
  size_t token_start_ = 0;
  int64_t line_ = 1, token_line_ = 1;
  bool at_end_ = false, read_error_ = false;
  int read_errno_ = 0;
};

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string ReadFailure(const TokenReader &reader) {
  return Format("cannot read it (%s)", std::strerror(reader.read_errno()));
}

// Why a token is not an acceptable number.
std::string BadToken(TokenReader::Status status, const TokenReader &reader) {
  if (status == TokenReader::kReadError) return ReadFailure(reader);
  if (status == TokenReader::kTooLarge)
    return Format("'%s' does not fit in 32 bits", reader.token().c_str());
  return Format("'%s' is not a decimal integer", reader.token().c_str());
}

std::string OutOfRange(const char *what, int64_t id, int32_t count, const char *plural) {
  if (count == 0)
    return Format("%s %" PRId64 " is given, but the header declares no %s", what, id, plural);
  return Format("%s %" PRId64 " is outside 0..%d", what, id, count - 1);
}

// Pairs room is made for at first when the size of the input is unknown.
constexpr int64_t kStreamRoom = int64_t{1} << 16;

// Makes *array hold n ints, the first ones kept; exhausted memory ends the
// process with the labelled message.
void GrowInts(IntArray *array, int64_t n, const char *label) {
  void *grown = std::realloc(array->get(), size_t(4 * n));
  if (grown == nullptr) AllocationFailed(label, 4 * n);
  array->release();
  array->reset(static_cast<int32_t *>(grown));
}

// An upper bound on the pairs a file of this many bytes can hold (each pair
// takes at least two digits and two separators), or -1 if the size is unknown.
int64_t PairsThatFit(std::FILE *in) {
  const long start = std::ftell(in);
  if (start < 0 || std::fseek(in, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(in);
  if (std::fseek(in, start, SEEK_SET) != 0 || end < start) return -1;
  return (end - start) / 4;
}

}  // namespace

bool IsDatasetSpace(char ch) { return IsSpace(ch); }

DatasetPairs CopyPairs(const DatasetPairs &pairs) {
  DatasetPairs copy;
  copy.nrows = pairs.nrows;
  copy.ncols = pairs.ncols;
  copy.npairs = pairs.npairs;
  const int64_t room = int64_t{pairs.npairs} + 1;
  copy.rowid.reset(AllocInts(room, "ReadDataset: rowid"));
  copy.colid.reset(AllocInts(room, "ReadDataset: colid"));
  std::copy_n(pairs.rowid.get(), room, copy.rowid.get());
  std::copy_n(pairs.colid.get(), room, copy.colid.get());
  copy.values = pairs.values;
  return copy;
}

TokenRead ReadIntegerToken(const char *first, const char *last, int32_t *value) {
  return ReadInteger(first, last, value);
}

bool ParsePairs(std::FILE *in, DatasetPairs *ds, std::string *error) {
  *ds = DatasetPairs{};
  const int64_t fit = PairsThatFit(in);
  TokenReader reader(in);

  static const char *const kHeaderNames[3] = {"users", "items", "pairs"};
  int32_t header[3];
  for (int k = 0; k < 3; k++) {
    const TokenReader::Status status = reader.Next(&header[k]);
    if (status == TokenReader::kEnd) {
      *error = Format(
          "the header must be three non-negative integers (users, items, pairs), "
          "but the file holds %d",
          k);
      return false;
    }
    if (status == TokenReader::kReadError) {
      *error = ReadFailure(reader);
      return false;
    }
    if (status == TokenReader::kTooLarge) {
      *error =
          Format("header: the number of %s, %s", kHeaderNames[k], BadToken(status, reader).c_str());
      return false;
    }
    if (status != TokenReader::kOk || header[k] < 0) {
      *error = Format("header: the number of %s must be a non-negative integer, not '%s'",
                      kHeaderNames[k], reader.token().c_str());
      return false;
    }
    if (header[k] > kMaxCount) {
      *error = Format("header: %d %s is more than can be indexed (at most %" PRId64 ")", header[k],
                      kHeaderNames[k], kMaxCount);
      return false;
    }
  }
  const int32_t nrows = header[0], ncols = header[1], npairs = header[2];

  // A header that claims more pairs than the file can hold is found out
  // below; it need not cost an allocation of the claimed size first. Where
  // the size is unknown (a pipe), room grows as the pairs arrive.
  int32_t room = int32_t(std::min<int64_t>(npairs, fit >= 0 ? fit : kStreamRoom));
  IntArray rowid(AllocInts(int64_t{room} + 1, "ReadDataset: rowid"));
  IntArray colid(AllocInts(int64_t{room} + 1, "ReadDataset: colid"));
  // Users whose run of pairs has ended: 1 once another user's pair followed.
  IntArray closed(AllocFilledInts(nrows, 0, "ReadDataset: runs"));

  int32_t prev = -1;
  for (int32_t i = 0; i < npairs; i++) {
    int32_t pair[2];
    int64_t lines[2];  // the user and the item, and the line of each
    for (int k = 0; k < 2; k++) {
      const TokenReader::Status status = reader.Next(&pair[k]);
      lines[k] = reader.token_line();
      if (status == TokenReader::kEnd) {
        *error = Format("the header announces %d pairs, but the file holds only %d", npairs, i);
        return false;
      }
      if (status != TokenReader::kOk) {
        *error = Format("pair %d (line %" PRId64 "): %s", i + 1, reader.token_line(),
                        BadToken(status, reader).c_str());
        return false;
      }
    }
    if (pair[0] < 0 || pair[0] >= nrows) {
      *error = Format("pair %d (line %" PRId64 "): %s", i + 1, lines[0],
                      OutOfRange("user", pair[0], nrows, "users").c_str());
      return false;
    }
    if (pair[1] < 0 || pair[1] >= ncols) {
      *error = Format("pair %d (line %" PRId64 "): %s", i + 1, lines[1],
                      OutOfRange("item", pair[1], ncols, "items").c_str());
      return false;
    }
    if (i >= room) {  // a stream, or a file that grew while it was read
      room = int32_t(std::min<int64_t>(npairs, 2 * int64_t{room} + 1));
      GrowInts(&rowid, int64_t{room} + 1, "ReadDataset: rowid");
      GrowInts(&colid, int64_t{room} + 1, "ReadDataset: colid");
    }
    const int32_t user = pair[0];
    if (user != prev) {
      if (prev >= 0) closed[size_t(prev)] = 1;
      if (closed[size_t(user)] != 0) {
        *error = Format("pair %d (line %" PRId64
                        "): user %d appears again after other users; "
                        "each user's pairs must stand together",
                        i + 1, lines[0], user);
        return false;
      }
      prev = user;
    }
    rowid[size_t(i)] = user;
    colid[size_t(i)] = pair[1];
  }

  int32_t extra;
  const TokenReader::Status status = reader.Next(&extra);
  if (status == TokenReader::kReadError) {
    *error = ReadFailure(reader);
    return false;
  }
  if (status != TokenReader::kEnd) {
    *error = Format("line %" PRId64 ": '%s' follows the last of the %d pairs", reader.token_line(),
                    reader.token().c_str(), npairs);
    return false;
  }

  rowid[size_t(npairs)] = nrows;
  colid[size_t(npairs)] = 0;
  ds->nrows = nrows;
  ds->ncols = ncols;
  ds->npairs = npairs;
  ds->rowid = std::move(rowid);
  ds->colid = std::move(colid);
  return true;
}

namespace {
// Throws the Failure for fopen(fname) having failed; exhausted memory (the
// stream needs a little heap) ends the process with the labelled message.
[[noreturn]] void OpenFailure(const char *fname) {
  if (errno == ENOMEM) AllocationFailed("fopen: stream", int64_t{sizeof(std::FILE)});
  throw Failure(std::string("Error opening file ") + fname + ": " + std::strerror(errno));
}

// Whether the file's first line is text holding a comma, a tab, a
// semicolon or a letter: a table to convert rather than a dataset.
bool LooksDelimited(const char *fname) {
  std::FILE *in = std::fopen(fname, "r");
  if (in == nullptr) return false;
  bool found = false, text = true;
  for (int ch = std::fgetc(in); ch != EOF && ch != '\n' && text; ch = std::fgetc(in)) {
    found = found || ch == ',' || ch == '\t' || ch == ';' || std::isalpha(ch);
    text = ch >= 0x20 ? ch != 0x7f : ch == '\t' || ch == '\r';
  }
  std::fclose(in);
  return found && text;
}

}  // namespace

DatasetPairs LoadPairs(const char *fname) {
  std::FILE *in = std::fopen(fname, "r");
  if (in == nullptr) OpenFailure(fname);
  DatasetPairs ds;
  std::string error;
  const bool ok = ParsePairs(in, &ds, &error);
  std::fclose(in);
  if (ok) return ds;
  std::string message = std::string("Error in file ") + fname + ": " + error;
  const bool bad_header = error.rfind("header:", 0) == 0 || error.rfind("the header must", 0) == 0;
  if (bad_header && LooksDelimited(fname))
    message += std::string("\nThe first line looks like delimited text (a table with commas, ") +
               "tabs or names);\nconvert the file first: tovran-convert " + fname + " OUT.txt";
  throw Failure(message);
}

DatasetPairs ReadPairs(const char *fname) {
  try {
    return LoadPairs(fname);
  } catch (const Failure &failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", failure.what());
    std::exit(1);
  }
}
