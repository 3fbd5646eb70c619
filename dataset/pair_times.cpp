#include "dataset/pair_times.h"

#include "dataset/side_file.h"

std::string PairTimesPath(const std::string &dataset) { return dataset + ".times"; }

bool LoadPairTimes(const std::string &dataset, int32_t npairs, std::vector<Timestamp> *times,
                   std::string *message) {
  times->clear();
  times->reserve(size_t(npairs));
  return ReadSideFile(
      PairTimesPath(dataset), npairs, "times",
      "A time split needs the pairs' times beside the dataset; tovran-convert writes them when "
      "given --timestamp",
      [times](const std::string &line, std::string *why) {
        Timestamp t;
        if (!ParseTimestamp(line, &t, why)) return false;
        times->push_back(t);
        return true;
      },
      message);
}
