#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The command-line grammar every program of the project shares:
//   --name VALUE or --name=VALUE   an option with a value (VALUE may start with '-')
//   --name                         a flag (a value is refused)
//   -h, --help                     the usage on standard output, exit status 0
//   --version                      "PROGRAM VERSION" on standard output, exit status 0
//   --                             every later word is an operand
//   -                              an operand (conventionally standard input or output)
// A usage error prints "PROGRAM: WHAT: REASON" and one line pointing to
// --help on standard error, exit status 1. Options may come in any order,
// before or after the operands; the last of a repeated option wins.
namespace cli {

// The project's version, "MAJOR.MINOR.PATCH".
const char *ProjectVersion();

// 0 once everything printed to standard output is written; else 1, after
// "program: cannot write to standard output (reason)" on standard error
// (for --help, --version and the like, whose text is their whole work).
int StandardOutputStatus(const std::string &program);

// Checks a value and stores it; returns "" when accepted, else the reason it
// was refused (the option's name is added in front).
using Setter = std::function<std::string(std::string_view value)>;

class CommandLine {
 public:
  // program names the program in messages; operands describes the operands
  // in the usage line (e.g. "FILE"); about is printed under the usage line.
  CommandLine(std::string program, std::string operands, std::string about);

  // An option taking a value, shown as "--name METAVAR" with its help text
  // (line breaks allowed) in the usage.
  void Value(std::string name, std::string metavar, std::string help, Setter set);
  // A flag; on() runs each time it is given.
  void Flag(std::string name, std::string help, std::function<void()> on);
  // Shortcut: a flag that sets *target to true.
  void Flag(std::string name, std::string help, bool *target);
  // Accepts between min and max operands (max < 0: any number).
  void Operands(int32_t min, int32_t max);
  // Free text printed after the options in the usage.
  void Epilogue(std::string text);
  // Where usage errors go: sink(text) with the whole text, the pointer to
  // --help included. Unset: standard error.
  void ErrorSink(std::function<void(const std::string &text)> sink) { sink_ = std::move(sink); }

  // Parses argv[1..argc-1], calling the setters in order. Returns the exit
  // status when the program should stop now: 0 after printing the usage
  // (--help, -h) or the version, 1 after printing a usage error; nullopt
  // when the program should run, with the operands in operands().
  std::optional<int> Parse(int argc, const char *const *argv);

  const std::vector<std::string> &operands() const { return operands_; }
  // Whether the option (by name) appeared on the command line.
  bool Given(std::string_view name) const;
  // The last usage error, "WHAT: REASON", empty when none.
  const std::string &error() const { return error_; }

  void PrintUsage(std::FILE *out) const;
  // "PROGRAM: message" and the pointer to --help, to the error sink.
  void PrintError(const std::string &message) const;

 private:
  struct Entry {
    std::string name, metavar, help;
    Setter set;                // options with a value
    std::function<void()> on;  // flags
  };
  const Entry *Find(std::string_view name) const;
  bool Fail(std::string message);

  std::string program_, operand_text_, about_, epilogue_;
  std::vector<Entry> entries_;
  int32_t min_operands_ = 0, max_operands_ = -1;
  std::vector<std::string> operands_;
  std::vector<std::string> given_;
  std::string error_;
  std::function<void(const std::string &)> sink_;
};

// Value checkers: each returns "" and stores the value, or returns the
// reason ("'x' is not a whole number", "0 is outside 1..256").

// A decimal whole number in lo..hi.
std::string ParseInt(std::string_view text, int64_t lo, int64_t hi, int64_t *value);
std::string ParseInt(std::string_view text, int32_t lo, int32_t hi, int32_t *value);
// A finite decimal number in lo..hi (std::from_chars, general format).
std::string ParseReal(std::string_view text, double lo, double hi, double *value);
// A comma-separated list of the above, at least one entry, each in range.
std::string ParseIntList(std::string_view text, int32_t lo, int32_t hi,
                         std::vector<int32_t> *values);
std::string ParseRealList(std::string_view text, double lo, double hi, std::vector<double> *values);

// Setters built from the checkers, for CommandLine::Value.
Setter IntTo(int32_t *target, int32_t lo, int32_t hi);
// A thread count in 1..hi, or "all": the processors this process may run
// on, at most hi.
Setter ThreadsTo(int32_t *target, int32_t hi);
Setter IntListTo(std::vector<int32_t> *target, int32_t lo, int32_t hi);
Setter RealListTo(std::vector<double> *target, double lo, double hi);
// A number as ParseReal reads it, kept in single precision.
Setter FloatTo(float *target, double lo, double hi);
// Any non-empty text.
Setter TextTo(std::string *target);

}  // namespace cli
