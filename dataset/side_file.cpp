#include "dataset/side_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/failure.h"

void ReadSideFile(const std::string &path, int32_t npairs, const char *what,
                  const std::string &missing_hint,
                  const std::function<bool(const std::string &line, std::string *why)> &read) {
  std::FILE *in = std::fopen(path.c_str(), "r");
  if (in == nullptr)
    throw Failure("Error opening file " + path + ": " + std::strerror(errno) + "\n" + missing_hint);
  std::string line, why, message;
  int64_t number = 0;
  bool ok = true;
  for (int ch = std::fgetc(in); ok && ch != EOF; ch = std::fgetc(in)) {
    if (ch != '\n') {
      line.push_back(char(ch));
      continue;
    }
    number++;
    if (!read(line, &why)) {
      message =
          "Error in file " + path + ": line " + std::to_string(number) + ": '" + line + "' " + why;
      ok = false;
    }
    line.clear();
  }
  const bool read_error = std::ferror(in) != 0;
  std::fclose(in);
  if (!ok) throw Failure(message);
  if (read_error || !line.empty())
    throw Failure("Error in file " + path + ": " +
                  (read_error ? std::string("cannot read it") : "the last line has no line end"));
  if (number != npairs)
    throw Failure("Error in file " + path + ": it holds " + std::to_string(number) + " " + what +
                  " for the dataset's " + std::to_string(npairs) + " pairs");
}
