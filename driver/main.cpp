#include <cstdio>
#include <cstdlib>

#include "driver/dataset.h"
#include "driver/options.h"
#include "driver/run_sequence.h"

int main(int argc, char **argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::printf("Usage: %s <fname>\n", argv[0]);
    return 1;
  }
  const Dataset ds = ReadDataset(options.fname);
  RunAll(ds, options.threads);
  return 0;
}
