#include "dataset/pair_times.h"

#include "dataset/side_file.h"

std::string PairTimesPath(const std::string &dataset) { return dataset + ".times"; }

std::vector<Timestamp> LoadPairTimes(const std::string &dataset, int32_t npairs) {
  std::vector<Timestamp> times;
  times.reserve(size_t(npairs));
  ReadSideFile(
      PairTimesPath(dataset), npairs, "times",
      "A time split needs the pairs' times beside the dataset; tovran-convert writes them when "
      "given --timestamp",
      [&times](const std::string &line, std::string *why) {
        Timestamp t;
        if (!ParseTimestamp(line, &t, why)) return false;
        times.push_back(t);
        return true;
      });
  return times;
}
