#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dataset/timestamp.h"

// The file of the pairs' times tovran-convert writes beside a dataset DATA:
// DATA.times, one timestamp a line (as ParseTimestamp reads them), line i
// the time of pair i in the dataset's order.
std::string PairTimesPath(const std::string &dataset);

// Reads the times of the npairs pairs of dataset. Throws Failure naming
// the file and what is wrong (missing, a bad line, a count other than
// npairs).
std::vector<Timestamp> LoadPairTimes(const std::string &dataset, int32_t npairs);
