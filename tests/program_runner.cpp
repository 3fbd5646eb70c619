#include "tests/program_runner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {
fs::path TempDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("tovran-tests-" + std::to_string(getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}
}  // namespace

std::string ShellQuote(const std::string &word) {
  std::string quoted = "'";
  for (char ch : word) {
    if (ch == '\'') {
      quoted += "'\\''";
    } else {
      quoted += ch;
    }
  }
  quoted += '\'';
  return quoted;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string TempPath(const std::string &name) { return (TempDir() / name).string(); }

std::string WriteTempFile(const std::string &name, const std::string &text) {
  const std::string path = TempPath(name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

ProgramOutput RunCommand(const std::string &command) {
  static int serial = 0;
  const std::string base = TempPath("run" + std::to_string(serial++));
  std::string full = "( ";
  full += command;
  full += " ) >";
  full += ShellQuote(base + ".out");
  full += " 2>";
  full += ShellQuote(base + ".err");
  const int raw = std::system(full.c_str());
  ProgramOutput output;
  output.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  output.out = ReadFile(base + ".out");
  output.err = ReadFile(base + ".err");
  return output;
}

ProgramOutput RunProgram(const std::string &program, const std::vector<std::string> &args,
                         const std::string &prefix) {
  std::string command = prefix + ShellQuote(program);
  for (const std::string &arg : args) command += ' ' + ShellQuote(arg);
  return RunCommand(command);
}

ProgramOutput RunTovran(const std::vector<std::string> &args, const std::string &prefix) {
  return RunProgram(TOVRAN_PROGRAM, args, prefix);
}

std::string GeneratedData() {
#ifdef TOVRAN_GENERATOR
  static const std::string path = [] {
    const std::string file = TempPath("generated.txt");
    RunCommand(ShellQuote(TOVRAN_GENERATOR) + " 60000 11 >" + ShellQuote(file));
    return file;
  }();
  return path;
#else
  return TOVRAN_SOURCE_DIR "/data/sample.txt";
#endif
}

std::string SharedData(const std::string &name) {
  const fs::path path = fs::path(TOVRAN_SHARED_DATA) / name;
  return fs::exists(path) ? path.string() : std::string();
}

std::string MaskTimings(const std::string &report) {
  std::istringstream in(report);
  std::string line, masked;
  while (std::getline(in, line)) {
    const size_t at = line.find("InitTime:");
    masked += (at == std::string::npos ? line : line.substr(0, at) + "<timings>") + "\n";
  }
  return masked;
}

std::string MaskReport(const std::string &report) {
  std::istringstream in(MaskTimings(report));
  std::string line, masked;
  bool summary = false;
  while (std::getline(in, line)) {
    if (summary) line = std::regex_replace(line, std::regex(" +[^ ]+ +[^ ]+$"), " <timings>");
    summary = line == "Summary" || (summary && !line.empty());
    masked += line + "\n";
  }
  return masked;
}

std::string MaskJsonTimings(const std::string &json) {
  static const std::regex kTiming(
      "(\"(build_seconds|query_seconds|rate|load_seconds|alpha_seconds|total_seconds|seconds)\": "
      ")[^,}]*");
  return std::regex_replace(json, kTiming, "$1#");
}
