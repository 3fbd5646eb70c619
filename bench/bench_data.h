#pragma once

#include <string>

#include <benchmark/benchmark.h>

#include "driver/split.h"

// Path of a shared data set ("retail.txt"), or empty when it is absent.
std::string SharedDataPath(const std::string &name);

// The shared data set loaded once per process and kept; null when absent.
const Dataset *SharedDataset(const std::string &name);

// The shared data set, or null after marking the benchmark skipped.
const Dataset *DatasetOrSkip(benchmark::State &state, const std::string &name);
