#pragma once

#include <cstdio>
#include <string>

#include "driver/dataset.h"
#include "driver/options.h"
#include "driver/run_sequence.h"
#include "util/json_writer.h"

// Version of the document's layout; grows when a field changes meaning or
// goes away (new fields alone keep it).
constexpr int kJsonSchemaVersion = 2;

// Wall-clock figures of the whole program call.
struct ReportTimes {
  double load_seconds = 0;   // reading the dataset
  double total_seconds = 0;  // from the start to the end of the runs
};

// Writes one JSON document with the options in force, the statistics of ds,
// every Alpha estimation and every run of result; the README's "JSON
// results" defines each field. Returns false if a write failed.
bool WriteJsonReport(std::FILE *out, const Options &opts, const Dataset &ds,
                     const SequenceResult &result, const ReportTimes &times);
