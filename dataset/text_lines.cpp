#include "dataset/text_lines.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "util/failure.h"

namespace {
struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
}  // namespace

void ForEachLine(const std::string &path,
                 const std::function<void(const std::string &, int64_t)> &each) {
  std::unique_ptr<std::FILE, FileCloser> owned;
  std::FILE *in = stdin;
  if (path != "-") {
    owned.reset(std::fopen(path.c_str(), "r"));
    if (!owned) throw Failure{path + ": cannot be opened: " + std::strerror(errno)};
    in = owned.get();
  }
  std::string line;
  int64_t number = 0;
  for (int c; (c = std::fgetc(in)) != EOF;) {
    if (c != '\n') {
      line.push_back(char(c));
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    each(line, ++number);
    line.clear();
  }
  if (std::ferror(in))
    throw Failure{(path == "-" ? "standard input" : path) + ": " + std::strerror(errno)};
  if (!line.empty()) each(line, ++number);
}
