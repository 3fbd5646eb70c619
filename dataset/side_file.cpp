#include "dataset/side_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool ReadSideFile(const std::string &path, int32_t npairs, const char *what,
                  const std::string &missing_hint,
                  const std::function<bool(const std::string &line, std::string *why)> &read,
                  std::string *message) {
  std::FILE *in = std::fopen(path.c_str(), "r");
  if (in == nullptr) {
    *message = "Error opening file " + path + ": " + std::strerror(errno) + "\n" + missing_hint;
    return false;
  }
  std::string line, why;
  int64_t number = 0;
  bool ok = true;
  for (int ch = std::fgetc(in); ok && ch != EOF; ch = std::fgetc(in)) {
    if (ch != '\n') {
      line.push_back(char(ch));
      continue;
    }
    number++;
    if (!read(line, &why)) {
      *message =
          "Error in file " + path + ": line " + std::to_string(number) + ": '" + line + "' " + why;
      ok = false;
    }
    line.clear();
  }
  const bool read_error = std::ferror(in) != 0;
  std::fclose(in);
  if (!ok) return false;
  if (read_error || !line.empty()) {
    *message = "Error in file " + path + ": " +
               (read_error ? std::string("cannot read it") : "the last line has no line end");
    return false;
  }
  if (number != npairs) {
    *message = "Error in file " + path + ": it holds " + std::to_string(number) + " " + what +
               " for the dataset's " + std::to_string(npairs) + " pairs";
    return false;
  }
  return true;
}
