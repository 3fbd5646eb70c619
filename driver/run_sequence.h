#pragma once

#include "driver/dataset.h"

// Prints the statistics line and evaluates the three model kinds in turn
// (item cosine, item conditional probability with an estimated alpha,
// user-based), printing the complete report to standard output.
void RunAll(const Dataset &ds);
