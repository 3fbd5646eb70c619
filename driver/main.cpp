#include <cstdio>
#include <cstdlib>

#include "driver/dataset.h"
#include "driver/run_sequence.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::printf("Usage: %s <fname>\n", argv[0]);
    return 1;
  }
  const Dataset ds = ReadDataset(argv[1]);
  RunAll(ds);
  return 0;
}
