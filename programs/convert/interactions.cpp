#include "programs/convert/interactions.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "dataset/pair_values.h"
#include "dataset/timestamp.h"
#include "programs/convert/columns.h"
#include "programs/convert/fields.h"
#include "util/free_all.h"

namespace {

// The program's counts leave room for one more entry.
constexpr size_t kMaxPairs = INT32_MAX - 1;

// Reads lines with POSIX getline, without the line end ("\n" or "\r\n").
struct LineReader {
  std::FILE *in;
  Owned<char> buffer;
  size_t capacity = 0;
  int failure = 0;  // errno of a line that could not be read, else 0
};

// The next line, or false at the end of the input or when the line cannot be
// read (reader->failure set: a line too long for memory is no end of input).
bool NextLine(LineReader *reader, std::string_view *line) {
  char *raw = reader->buffer.release();
  errno = 0;
  const ssize_t len = getline(&raw, &reader->capacity, reader->in);
  const int reason = errno;
  reader->buffer.reset(raw);
  if (len < 0) {
    if (std::ferror(reader->in) || reason != 0) reader->failure = reason != 0 ? reason : EIO;
    return false;
  }
  size_t n = size_t(len);
  if (n > 0 && raw[n - 1] == '\n') n--;
  if (n > 0 && raw[n - 1] == '\r') n--;
  *line = std::string_view(raw, n);
  return true;
}

std::string At(int64_t line, const std::string &reason) {
  return "line " + std::to_string(line) + ": " + reason;
}

bool AddPair(Interactions *data, int32_t user, std::string_view item, const Timestamp &time,
             float value, int64_t line, std::string *error) {
  if (size_t(data->pairs.count) >= kMaxPairs) {
    *error = At(line, "more pairs than the program can index");
    return false;
  }
  const int32_t index = MapId(&data->items, item);
  if (index < 0) {
    *error = At(line, "more items than the program can index");
    return false;
  }
  if (!AddToSorter(&data->pairs, user, index, time, value, error)) {
    *error = At(line, *error);
    return false;
  }
  return true;
}

bool ReadBasket(const std::vector<std::string> &fields, int64_t line, Interactions *data,
                std::string *error) {
  const int32_t user = MapId(&data->users, std::to_string(line));
  if (user < 0) {
    *error = At(line, "more baskets than the program can index");
    return false;
  }
  for (const std::string &item : fields) {
    if (item.empty()) {
      *error = At(line, "an empty item");
      return false;
    }
    if (!AddPair(data, user, item, Timestamp{}, 0.0f, line, error)) return false;
  }
  return true;
}

// Parses the field of an optional column (none when column < 0) into *out
// with parse(text, out, &why), marking the column as seen in *present.
template <class T, class Parse>
bool ReadOptionalField(const std::vector<std::string> &fields, int column, const char *name,
                       Parse parse, T *out, bool *present, int64_t line, std::string *error) {
  if (column < 0) return true;
  *present = true;
  const std::string &text = fields[size_t(column)];
  std::string why;
  if (!parse(text, out, &why)) {
    *error = At(line, std::string(name) + " '" + text + "' " + why);
    return false;
  }
  return true;
}

bool ReadPair(const std::vector<std::string> &fields, const Columns &columns,
              const ConvertOptions &opts, int64_t line, Interactions *data, std::string *error) {
  if (fields.size() < size_t(columns.needed)) {
    *error = At(line, std::to_string(fields.size()) + " fields, but column " +
                          std::to_string(columns.needed) + " is needed");
    return false;
  }
  if (!RowMatches(fields, columns)) {
    data->unmatched++;
    return true;
  }
  const std::string &user = fields[size_t(columns.user)], &item = fields[size_t(columns.item)];
  if (user.empty() || item.empty()) {
    *error = At(line, user.empty() ? "an empty user" : "an empty item");
    return false;
  }
  if (columns.rating >= 0) {
    const std::string &text = fields[size_t(columns.rating)];
    double rating = 0;
    if (!ParseDecimal(text, &rating)) {
      *error = At(line, "rating '" + text + "' is not a finite decimal number");
      return false;
    }
    if (rating < opts.min_rating) {
      data->below_min++;
      return true;
    }
  }
  Timestamp time;
  float value = 0;
  if (!ReadOptionalField(fields, columns.timestamp, "timestamp", ParseTimestamp, &time,
                         &data->timed, line, error) ||
      !ReadOptionalField(fields, columns.value, "value", ParsePairValue, &value, &data->valued,
                         line, error))
    return false;
  const int32_t index = MapId(&data->users, user);
  if (index < 0) {
    *error = At(line, "more users than the program can index");
    return false;
  }
  return AddPair(data, index, item, time, value, line, error);
}

// Why a first line read as data might rather be a header nobody recognised.
std::string HeaderHint(const std::vector<std::string> &fields) {
  return "; the first line was not taken as a header (its fields: " + ListFields(fields) +
         "): if it names the columns, add --header, or choose them with --user, --item, "
         "--timestamp";
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

bool ReadInteractions(std::FILE *in, const ConvertOptions &opts, Interactions *data,
                      std::string *error) {
  LineReader reader{in, nullptr};
  data->pairs.capacity = opts.buffer_pairs;
  Delimiter delimiter = opts.delimiter;
  Columns columns;
  bool started = false;  // the first non-blank line has been seen
  std::vector<std::string> fields;
  std::string_view line;
  bool hint = false;  // no header was detected, so the first line was read as data
  while (NextLine(&reader, &line)) {
    data->lines++;
    if (data->lines == 1 && line.substr(0, kByteOrderMark.size()) == kByteOrderMark)
      line.remove_prefix(kByteOrderMark.size());
    if (IsBlank(line)) continue;
    if (!started && delimiter == Delimiter::kAuto) delimiter = DetectDelimiter(line);
    std::string reason;
    if (!SplitFields(line, delimiter, &fields, &reason)) {
      *error = At(data->lines, reason);
      return false;
    }
    const bool first = !started;
    if (!started) {
      started = true;
      const bool header =
          opts.header == 1 || (opts.header == -1 && !opts.baskets && LooksLikeHeader(fields, opts));
      hint = opts.header == -1 && !opts.baskets && !header;
      if (!opts.baskets) {
        if (!ResolveColumns(header ? &fields : nullptr, fields.size(), opts, &columns, &reason)) {
          *error = At(data->lines, reason) + (hint ? HeaderHint(fields) : "");
          return false;
        }
      }
      if (header) continue;
    }
    const bool ok = opts.baskets ? ReadBasket(fields, data->lines, data, error)
                                 : ReadPair(fields, columns, opts, data->lines, data, error);
    if (!ok) {
      if (first && hint) *error += HeaderHint(fields);
      return false;
    }
  }
  if (reader.failure != 0) {
    *error =
        At(data->lines + 1, std::string("cannot be read (") + std::strerror(reader.failure) + ")");
    return false;
  }
  return true;
}
