#pragma once

#include <cstdio>
#include <string>

#include "driver/dataset.h"
#include "driver/run_sequence.h"

// Writes one JSON document with the statistics of ds (loaded from file), the
// alpha estimation and every run of result; the README's "JSON results"
// defines each field. Returns false if a write failed.
bool WriteJsonReport(std::FILE *out, const char *file, const Dataset &ds,
                     const SequenceResult &result);

// text as a JSON string literal, quotes included: '"', '\' and control
// characters escaped, each byte that is not part of well-formed UTF-8 as
// \ufffd (the replacement character), other bytes as they are.
std::string JsonString(const char *text);

// value as a JSON number that reads back to the same double ("%.17g"), or
// null when it is infinite or not a number.
std::string JsonReal(double value);
