#include "cli/command_line.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "util/cores.h"

namespace cli {

const char *ProjectVersion() { return TOVRAN_VERSION; }

int StandardOutputStatus(const std::string &program) {
  errno = 0;
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return 0;
  // A write that failed before (a long text flushed on the way) left only the
  // stream's error flag; an empty write to its descriptor names the reason
  // (a full device, a closed descriptor) where the system can tell.
  if (errno == 0 && write(fileno(stdout), "", 0) == 0) errno = EIO;
  std::fprintf(stderr, "%s: cannot write to standard output (%s)\n", program.c_str(),
               std::strerror(errno != 0 ? errno : EIO));
  return 1;
}

namespace {

// Width of the option column in the usage, before the help text.
constexpr size_t kHelpColumn = 22;

std::string Quoted(std::string_view text) {
  std::string quoted(1, '\'');
  quoted.append(text).push_back('\'');
  return quoted;
}

// The shortest text that reads back to value.
std::string RealText(double value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : std::string("?");
}

// Splits text at commas; an empty piece is kept, so that "1,,2" is refused.
std::vector<std::string_view> SplitCommas(std::string_view text) {
  std::vector<std::string_view> pieces;
  size_t begin = 0;
  for (;;) {
    const size_t comma = text.find(',', begin);
    pieces.push_back(text.substr(begin, comma - begin));
    if (comma == std::string_view::npos) return pieces;
    begin = comma + 1;
  }
}

}  // namespace

CommandLine::CommandLine(std::string program, std::string operands, std::string about)
    : program_(std::move(program)), operand_text_(std::move(operands)), about_(std::move(about)) {}

void CommandLine::Value(std::string name, std::string metavar, std::string help, Setter set) {
  entries_.push_back(
      Entry{std::move(name), std::move(metavar), std::move(help), std::move(set), {}});
}

void CommandLine::Flag(std::string name, std::string help, std::function<void()> on) {
  entries_.push_back(Entry{std::move(name), "", std::move(help), {}, std::move(on)});
}

void CommandLine::Flag(std::string name, std::string help, bool *target) {
  Flag(std::move(name), std::move(help), [target] { *target = true; });
}

void CommandLine::Operands(int32_t min, int32_t max) {
  min_operands_ = min;
  max_operands_ = max;
}

void CommandLine::Epilogue(std::string text) { epilogue_ = std::move(text); }

const CommandLine::Entry *CommandLine::Find(std::string_view name) const {
  for (const Entry &entry : entries_)
    if (entry.name == name) return &entry;
  return nullptr;
}

bool CommandLine::Given(std::string_view name) const {
  for (const std::string &g : given_)
    if (g == name) return true;
  return false;
}

bool CommandLine::Fail(std::string message) {
  error_ = std::move(message);
  PrintError(error_);
  return false;
}

std::optional<int> CommandLine::Parse(int argc, const char *const *argv) {
  operands_.clear();
  given_.clear();
  error_.clear();
  bool options_end = false;
  for (int i = 1; i < argc; i++) {
    const std::string_view arg = argv[i];
    if (options_end || arg == "-" || arg.empty() || arg[0] != '-') {
      operands_.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      return StandardOutputStatus(program_);
    }
    if (arg == "--version") {
      std::printf("%s %s\n", program_.c_str(), ProjectVersion());
      return StandardOutputStatus(program_);
    }
    const size_t eq = arg.find('=');
    const std::string_view name = arg.substr(0, eq);
    const Entry *entry = name.rfind("--", 0) == 0 ? Find(name) : nullptr;
    if (entry == nullptr) {
      Fail(std::string(name) + ": unknown option");
      return 1;
    }
    given_.emplace_back(name);
    if (!entry->set) {
      if (eq != std::string_view::npos) {
        Fail(std::string(name) + ": takes no value");
        return 1;
      }
      entry->on();
      continue;
    }
    std::string_view value;
    if (eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      Fail(std::string(name) + ": needs a value (" + entry->metavar + ")");
      return 1;
    }
    if (value.empty()) {
      Fail(std::string(name) + ": needs a value (" + entry->metavar + ")");
      return 1;
    }
    const std::string reason = entry->set(value);
    if (!reason.empty()) {
      Fail(std::string(name) + ": " + reason);
      return 1;
    }
  }
  const auto count = int32_t(operands_.size());
  if (count < min_operands_) {
    Fail("missing " + operand_text_);
    return 1;
  }
  if (max_operands_ >= 0 && count > max_operands_) {
    Fail("unexpected operand " + Quoted(operands_[size_t(max_operands_)]) + " (" + operand_text_ +
         " already given)");
    return 1;
  }
  return std::nullopt;
}

void CommandLine::PrintUsage(std::FILE *out) const {
  std::fprintf(out, "Usage: %s [options] %s\n", program_.c_str(), operand_text_.c_str());
  if (!about_.empty()) std::fprintf(out, "%s\n", about_.c_str());
  std::fprintf(out, "\nOptions:\n");
  auto print = [out](const std::string &left, const std::string &help) {
    std::string line = "  " + left;
    // The help text starts at the column, or on the next line for a long name.
    if (line.size() + 2 > kHelpColumn) {
      std::fprintf(out, "%s\n", line.c_str());
      line.clear();
    }
    line.resize(kHelpColumn, ' ');
    size_t begin = 0;
    for (;;) {
      const size_t nl = help.find('\n', begin);
      std::fprintf(out, "%s%s\n", line.c_str(), help.substr(begin, nl - begin).c_str());
      if (nl == std::string::npos) break;
      begin = nl + 1;
      line.assign(kHelpColumn, ' ');
    }
  };
  for (const Entry &entry : entries_)
    print(entry.metavar.empty() ? entry.name : entry.name + " " + entry.metavar, entry.help);
  print("-h, --help", "print this help and exit");
  print("--version", "print the version and exit");
  if (!epilogue_.empty()) std::fprintf(out, "\n%s\n", epilogue_.c_str());
  std::fflush(out);
}

void CommandLine::PrintError(const std::string &message) const {
  const std::string text =
      program_ + ": " + message + "\nTry '" + program_ + " --help' for the options.\n";
  if (sink_) {
    sink_(text);
  } else {
    std::fputs(text.c_str(), stderr);
  }
}

std::string ParseInt(std::string_view text, int64_t lo, int64_t hi, int64_t *value) {
  int64_t v = 0;
  const char *end = text.data() + text.size();
  // from_chars takes a minus sign but not a plus; neither takes blanks.
  const auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (ptr != end || text.empty()) return Quoted(text) + " is not a whole number";
  if (ec == std::errc::result_out_of_range || v < lo || v > hi)
    return std::string(text) + " is outside " + std::to_string(lo) + ".." + std::to_string(hi);
  *value = v;
  return "";
}

std::string ParseInt(std::string_view text, int32_t lo, int32_t hi, int32_t *value) {
  int64_t wide = 0;
  std::string reason = ParseInt(text, int64_t{lo}, int64_t{hi}, &wide);
  if (reason.empty()) *value = int32_t(wide);
  return reason;
}

std::string ParseReal(std::string_view text, double lo, double hi, double *value) {
  double v = 0;
  const char *end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (ec == std::errc::result_out_of_range && ptr == end) {
    // A number all the same, beyond a double's range one way or the other.
    if (std::fabs(std::strtod(std::string(text).c_str(), nullptr)) < 1)
      return Quoted(text) + " is too near 0 for a double (it underflows); give 0 or a larger value";
    return std::string(text) + " is outside " + RealText(lo) + ".." + RealText(hi);
  }
  if (ptr != end || text.empty() || ec != std::errc() || !std::isfinite(v))
    return Quoted(text) + " is not a number";
  if (v < lo || v > hi)
    return std::string(text) + " is outside " + RealText(lo) + ".." + RealText(hi);
  *value = v;
  return "";
}

namespace {

// Checks every comma-separated entry with parse(entry, lo, hi, &value).
template <class T, class Parse>
std::string ParseList(std::string_view text, T lo, T hi, std::vector<T> *values, Parse parse) {
  std::vector<T> parsed;
  for (const std::string_view piece : SplitCommas(text)) {
    T v{};
    std::string reason = parse(piece, lo, hi, &v);
    if (!reason.empty()) return reason;
    parsed.push_back(v);
  }
  *values = std::move(parsed);
  return "";
}

}  // namespace

std::string ParseIntList(std::string_view text, int32_t lo, int32_t hi,
                         std::vector<int32_t> *values) {
  return ParseList<int32_t>(
      text, lo, hi, values,
      [](std::string_view t, int32_t l, int32_t h, int32_t *v) { return ParseInt(t, l, h, v); });
}

std::string ParseRealList(std::string_view text, double lo, double hi,
                          std::vector<double> *values) {
  return ParseList<double>(text, lo, hi, values, ParseReal);
}

Setter IntTo(int32_t *target, int32_t lo, int32_t hi) {
  return [=](std::string_view text) { return ParseInt(text, lo, hi, target); };
}

Setter FloatTo(float *target, double lo, double hi) {
  return [=](std::string_view text) {
    double value = 0;
    std::string reason = ParseReal(text, lo, hi, &value);
    *target = float(value);
    return reason;
  };
}

Setter ThreadsTo(int32_t *target, int32_t hi) {
  return [=](std::string_view text) {
    if (text == "all") {
      *target = std::min(UsableCores(), hi);
      return std::string();
    }
    std::string reason = ParseInt(text, 1, hi, target);
    if (reason == Quoted(text) + " is not a whole number")
      reason = Quoted(text) + " is neither a whole number nor 'all'";
    return reason;
  };
}

Setter IntListTo(std::vector<int32_t> *target, int32_t lo, int32_t hi) {
  return [=](std::string_view text) { return ParseIntList(text, lo, hi, target); };
}

Setter RealListTo(std::vector<double> *target, double lo, double hi) {
  return [=](std::string_view text) { return ParseRealList(text, lo, hi, target); };
}

Setter TextTo(std::string *target) {
  return [=](std::string_view text) {
    *target = std::string(text);
    return std::string();
  };
}

}  // namespace cli
