#include <cstdio>
#include <cstdlib>

#include "driver/dataset.h"
#include "driver/json_report.h"
#include "driver/options.h"
#include "driver/run_sequence.h"

int main(int argc, char **argv) {
  Options opts;
  if (const std::optional<int> status = ParseOptions(argc, argv, &opts)) return *status;
  const Dataset ds = ReadDataset(opts.file.c_str());
  // Opened before the runs, so that a bad path costs no evaluation.
  std::FILE *json = nullptr;
  if (!opts.json.empty() && (json = std::fopen(opts.json.c_str(), "w")) == nullptr) {
    std::printf("Error opening file %s\n", opts.json.c_str());
    return 1;
  }
  const SequenceResult result = RunAll(ds, opts.threads);
  if (json != nullptr) {
    const bool written = WriteJsonReport(json, opts.file.c_str(), ds, result);
    if (std::fclose(json) != 0 || !written) {
      std::fprintf(stderr, "Error writing file %s\n", opts.json.c_str());
      return 1;
    }
  }
  return 0;
}
