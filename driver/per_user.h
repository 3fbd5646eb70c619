#pragma once

#include <cstdio>
#include <string>

#include "driver/run_sequence.h"

// Whether --per-user OUT takes JSON lines (OUT ends in .jsonl or .json)
// rather than CSV.
bool PerUserAsJsonLines(const std::string &path);

// One row per run and user asked, runs in report order and users in the
// order their values were summed: run, user, held_out (the held-out items
// in file order), hit_ranks (the list positions from 1 holding one of
// them), hits, then hr, recall, precision, ndcg, map and mrr, each the
// shortest text that reads back to the value. CSV (lists space-separated)
// with a header line, or one JSON object a line. False if a write failed.
bool WritePerUser(std::FILE *out, bool json_lines, const SequenceResult &result);
