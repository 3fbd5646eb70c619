#include "dataset/pair_times.h"

#include "dataset/side_file.h"

std::string PairTimesPath(const std::string &dataset) { return dataset + ".times"; }

std::vector<Timestamp> LoadPairTimes(const std::string &dataset, int32_t npairs) {
  return ReadSideEntries<Timestamp>(
      PairTimesPath(dataset), npairs, "times",
      "A time split needs the pairs' times beside the dataset; tovran-convert writes them when "
      "given --timestamp",
      [](const std::string &line, Timestamp *time, std::string *why) {
        return ParseTimestamp(line, time, why);
      });
}
