#include "dataset/pair_values.h"

#include <cmath>
#include <cstdlib>

#include "dataset/side_file.h"

std::string PairValuesPath(const std::string &dataset) { return dataset + ".values"; }

bool ParseDecimal(const std::string &text, double *value) {
  if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
  char *end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return *end == '\0' && std::isfinite(*value);
}

bool ParsePairValue(const std::string &text, float *value, std::string *why) {
  double parsed = 0;
  if (!ParseDecimal(text, &parsed)) {
    *why = "is not a finite decimal number";
    return false;
  }
  *value = float(parsed);
  if (!std::isfinite(*value)) {
    *why = "is beyond the range of a single-precision value";
    return false;
  }
  return true;
}

void WritePairValue(std::FILE *out, float value) { std::fprintf(out, "%.9g\n", double(value)); }

std::vector<float> LoadPairValues(const std::string &dataset, int32_t npairs) {
  return ReadSideEntries<float>(
      PairValuesPath(dataset), npairs, "values",
      "Weighting needs the pairs' values beside the dataset; tovran-convert writes them when "
      "given --value",
      ParsePairValue);
}
