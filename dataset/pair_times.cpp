#include "dataset/pair_times.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

std::string PairTimesPath(const std::string &dataset) { return dataset + ".times"; }

bool LoadPairTimes(const std::string &dataset, int32_t npairs, std::vector<Timestamp> *times,
                   std::string *message) {
  const std::string path = PairTimesPath(dataset);
  std::FILE *in = std::fopen(path.c_str(), "r");
  if (in == nullptr) {
    *message = "Error opening file " + path + ": " + std::strerror(errno) +
               "\nA time split needs the pairs' times beside the dataset; tovran-convert "
               "writes them when given --timestamp";
    return false;
  }
  times->clear();
  times->reserve(size_t(npairs));
  std::string line, why;
  int64_t number = 0;
  bool ok = true;
  for (int ch = std::fgetc(in); ok && ch != EOF; ch = std::fgetc(in)) {
    if (ch != '\n') {
      line.push_back(char(ch));
      continue;
    }
    number++;
    Timestamp t;
    if (!ParseTimestamp(line, &t, &why)) {
      *message =
          "Error in file " + path + ": line " + std::to_string(number) + ": '" + line + "' " + why;
      ok = false;
    }
    times->push_back(t);
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
  if (int64_t(times->size()) != npairs) {
    *message = "Error in file " + path + ": it holds " + std::to_string(times->size()) +
               " times for the dataset's " + std::to_string(npairs) + " pairs";
    return false;
  }
  return true;
}
