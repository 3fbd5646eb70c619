#pragma once

#include <string>
#include <vector>

// Runs the tovran program (or another command) and captures what it wrote.
struct ProgramOutput {
  int status = -1;  // exit status, or -1 if it did not exit normally
  std::string out;
  std::string err;
};

// Runs `command` through the shell with stdout and stderr captured.
ProgramOutput RunCommand(const std::string &command);
// Runs program with the given arguments, each shell-quoted, after prefix
// (shell text: a pipe into the program, a wrapper such as prlimit).
ProgramOutput RunProgram(const std::string &program, const std::vector<std::string> &args,
                         const std::string &prefix = "");
// RunProgram for the tovran program.
ProgramOutput RunTovran(const std::vector<std::string> &args, const std::string &prefix = "");

// Quotes a word for the shell.
std::string ShellQuote(const std::string &word);
// Reads a whole file; empty if it cannot be read.
std::string ReadFile(const std::string &path);
// A path under the test process's own temporary directory (nothing written).
std::string TempPath(const std::string &name);
// Writes text into a fresh file under the test process's temporary directory
// and returns its path.
std::string WriteTempFile(const std::string &name, const std::string &text);
// A file of 60,000 pairs from tovran-generate (seed 11: 6,327 users, 1,200
// items), written once per process; data/sample.txt where the generator is
// not built.
std::string GeneratedData();
// Path of a shared data set, or empty when the shared data are not present.
std::string SharedData(const std::string &name);

// The report with the timing figures of every result line removed, so that
// two runs of the same data compare equal line for line.
std::string MaskTimings(const std::string &report);
// MaskTimings, and the summary table's last two columns (build seconds,
// users per second).
std::string MaskReport(const std::string &report);
// A JSON document with the timing fields' values blanked.
std::string MaskJsonTimings(const std::string &json);
