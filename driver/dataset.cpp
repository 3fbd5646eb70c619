#include "driver/dataset.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cinttypes>
#include <climits>
#include <cstring>

#include "util/checked_alloc.h"

namespace {

// Counts and ids must leave room for one more entry (end markers, offsets).
constexpr int64_t kMaxCount = INT32_MAX - 1;
constexpr size_t kTokenEcho = 24;  // characters of a bad token quoted back
constexpr size_t kFastDigits = 18;  // longest number read straight from the buffer

// Splits a stream into white-space separated tokens, as formatted input
// does, and reads each as a decimal integer with an optional sign.
class TokenReader {
 public:
  enum Status { kOk, kEnd, kNotInteger, kTooLarge, kReadError };

  explicit TokenReader(std::FILE *in) : in_(in) {}

  Status Next(int64_t *value) {
    if (NextInBuffer(value)) return kOk;
    fast_token_ = false;
    int ch = Get();
    while (IsSpace(ch)) ch = Get();
    if (ch == EOF) return read_error_ ? kReadError : kEnd;
    token_line_ = line_;
    token_.clear();
    echo_full_ = false;
    bool negative = false, digits = false, valid = true;
    uint64_t magnitude = 0;
    if (ch == '+' || ch == '-') {
      negative = ch == '-';
      Keep(ch);
      ch = Get();
    }
    for (; ch != EOF && !IsSpace(ch); ch = Get()) {
      Keep(ch);
      if (ch >= '0' && ch <= '9') {
        digits = true;
        if (magnitude <= uint64_t{1} << 32) magnitude = magnitude * 10 + uint64_t(ch - '0');
      } else {
        valid = false;
      }
    }
    if (read_error_) return kReadError;
    if (!valid || !digits) return kNotInteger;
    if (negative ? magnitude > uint64_t{1} << 31 : magnitude > INT32_MAX) return kTooLarge;
    *value = negative ? -int64_t(magnitude) : int64_t(magnitude);
    return kOk;
  }

  // The last token read, shortened for messages.
  std::string token() const {
    if (fast_token_) return std::string(reinterpret_cast<const char *>(buf_) + token_start_, token_size_);
    return token_;
  }
  // The line on which the last token started, counted from 1.
  int64_t token_line() const { return token_line_; }

 private:
  static bool IsSpace(int ch) {
    return ch == ' ' || ch == '\n' || ch == '\t' || ch == '\r' || ch == '\v' || ch == '\f';
  }

  // Reads a short, well-formed number that lies wholly in the buffer, as the
  // byte-wise path below would, and returns true; otherwise returns false
  // with only the white space before the token consumed.
  bool NextInBuffer(int64_t *value) {
    size_t p = pos_;
    while (p < len_ && IsSpace(buf_[p])) {
      if (buf_[p] == '\n') line_++;
      p++;
    }
    pos_ = p;
    if (p == len_) return false;
    size_t q = p;
    const bool negative = buf_[q] == '-';
    if (negative || buf_[q] == '+') q++;
    const size_t digits = q;
    uint64_t magnitude = 0;
    while (q < len_ && q - digits < kFastDigits && buf_[q] >= '0' && buf_[q] <= '9')
      magnitude = magnitude * 10 + uint64_t(buf_[q++] - '0');
    // The token must end here, inside the buffer, after at least one digit.
    if (q == digits || q == len_ || !IsSpace(buf_[q])) return false;
    if (negative ? magnitude > uint64_t{1} << 31 : magnitude > INT32_MAX) return false;
    *value = negative ? -int64_t(magnitude) : int64_t(magnitude);
    token_line_ = line_;
    fast_token_ = true;
    token_start_ = p;
    token_size_ = q - p;
    pos_ = q;
    return true;
  }

  int Get() {
    if (pos_ == len_) {
      len_ = std::fread(buf_, 1, sizeof buf_, in_);
      pos_ = 0;
      if (len_ == 0) {
        if (std::ferror(in_)) {
          read_error_ = true;
          read_errno_ = errno;
        }
        return EOF;
      }
    }
    const unsigned char ch = buf_[pos_++];
    if (ch == '\n') line_++;
    return ch;
  }

  void Keep(int ch) {
    if (echo_full_) return;
    if (token_.size() >= kTokenEcho) {
      token_ += "...";
      echo_full_ = true;
    } else if (ch >= 0x20 && ch < 0x7f) {
      token_.push_back(char(ch));
    } else {
      // Control and non-ASCII bytes would garble the message; show their code.
      static const char kHex[] = "0123456789abcdef";
      token_ += {'\\', 'x', kHex[ch >> 4], kHex[ch & 15]};
    }
  }

  std::FILE *in_;
  unsigned char buf_[1 << 16];
  size_t pos_ = 0, len_ = 0;
  int64_t line_ = 1, token_line_ = 1;
  std::string token_;
  bool echo_full_ = false;
  // A token read by NextInBuffer is buf_[token_start_ .. +token_size_).
  bool fast_token_ = false;
  size_t token_start_ = 0, token_size_ = 0;
  bool read_error_ = false;
  int read_errno_ = 0;

 public:
  int read_errno() const { return read_errno_; }
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
  if (count == 0) return Format("%s %" PRId64 " is given, but the header declares no %s", what, id, plural);
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

bool ParseDataset(std::FILE *in, Dataset *ds, std::string *error) {
  *ds = Dataset{};
  const int64_t fit = PairsThatFit(in);
  TokenReader reader(in);

  static const char *const kHeaderNames[3] = {"users", "items", "pairs"};
  int64_t header[3];
  for (int k = 0; k < 3; k++) {
    const TokenReader::Status status = reader.Next(&header[k]);
    if (status == TokenReader::kEnd) {
      *error = Format("the header must be three non-negative integers (users, items, pairs), "
                      "but the file holds %d", k);
      return false;
    }
    if (status == TokenReader::kReadError) {
      *error = ReadFailure(reader);
      return false;
    }
    if (status == TokenReader::kTooLarge) {
      *error = Format("header: the number of %s, %s", kHeaderNames[k], BadToken(status, reader).c_str());
      return false;
    }
    if (status != TokenReader::kOk || header[k] < 0) {
      *error = Format("header: the number of %s must be a non-negative integer, not '%s'",
                      kHeaderNames[k], reader.token().c_str());
      return false;
    }
    if (header[k] > kMaxCount) {
      *error = Format("header: %" PRId64 " %s is more than can be indexed (at most %" PRId64 ")",
                      header[k], kHeaderNames[k], kMaxCount);
      return false;
    }
  }
  const auto nrows = int32_t(header[0]), ncols = int32_t(header[1]), npairs = int32_t(header[2]);

  // A header that claims more pairs than the file can hold is found out
  // below; it need not cost an allocation of the claimed size first. Where
  // the size is unknown (a pipe), room grows as the pairs arrive.
  int32_t room = int32_t(std::min<int64_t>(npairs, fit >= 0 ? fit : kStreamRoom));
  IntArray rowid(AllocInts(int64_t{room} + 1, "ReadDataset: rowid"));
  IntArray colid(AllocInts(int64_t{room} + 1, "ReadDataset: colid"));
  IntArray tvec(AllocFilledInts(nrows, -1, "ReadDataset: tvec"));

  int32_t prev = -1;
  for (int32_t i = 0; i < npairs; i++) {
    int64_t pair[2], lines[2];  // the user and the item, and the line of each
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
    const auto user = int32_t(pair[0]);
    if (user != prev) {
      // tvec doubles as the record of runs already closed.
      if (prev >= 0) tvec[prev] = colid[i - 1];
      if (tvec[user] != -1) {
        *error = Format("pair %d (line %" PRId64 "): user %d appears again after other users; "
                        "each user's pairs must stand together",
                        i + 1, lines[0], user);
        return false;
      }
      prev = user;
    }
    rowid[i] = user;
    colid[i] = int32_t(pair[1]);
  }
  if (prev >= 0) tvec[prev] = colid[npairs - 1];

  int64_t extra;
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

  // Drop each run's last pair (held out above), keeping file order.
  rowid[npairs] = nrows;
  int32_t kept = 0;
  for (int32_t i = 0; i < npairs; i++) {
    if (rowid[i] == rowid[i + 1]) {
      rowid[kept] = rowid[i];
      colid[kept] = colid[i];
      kept++;
    }
  }
  rowid[kept] = nrows;

  ds->nrows = nrows;
  ds->ncols = ncols;
  ds->ntrain = kept;
  ds->rowid = std::move(rowid);
  ds->colid = std::move(colid);
  ds->tvec = std::move(tvec);
  return true;
}

namespace {
// The message for fopen(fname) having failed; exhausted memory (the stream
// needs a little heap) ends the process with the labelled message.
void OpenFailure(const char *fname, std::string *message) {
  if (errno == ENOMEM) AllocationFailed("fopen: stream", int64_t{sizeof(std::FILE)});
  *message = std::string("Error opening file ") + fname + ": " + std::strerror(errno);
}
}  // namespace

void ExitOnOpenFailure(const char *fname) {
  std::string message;
  OpenFailure(fname, &message);
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", message.c_str());
  std::exit(1);
}

namespace {

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

bool LoadDataset(const char *fname, Dataset *ds, std::string *message) {
  std::FILE *in = std::fopen(fname, "r");
  if (in == nullptr) {
    OpenFailure(fname, message);
    return false;
  }
  std::string error;
  const bool ok = ParseDataset(in, ds, &error);
  std::fclose(in);
  if (!ok) {
    *message = std::string("Error in file ") + fname + ": " + error;
    const bool bad_header = error.rfind("header:", 0) == 0 || error.rfind("the header must", 0) == 0;
    if (bad_header && LooksDelimited(fname))
      *message += std::string("\nThe first line looks like delimited text (a table with commas, ") +
                  "tabs or names);\nconvert the file first: tovran-convert " + fname + " OUT.txt";
  }
  return ok;
}

Dataset ReadDataset(const char *fname) {
  Dataset ds;
  std::string message;
  if (!LoadDataset(fname, &ds, &message)) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(1);
  }
  return ds;
}
