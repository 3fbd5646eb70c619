#pragma once

#include <cstdint>
#include <vector>

// Splits tasks 0..n-1, task t costing work[t] >= 0, into `parts` consecutive
// blocks of near-equal total work: block k is [bounds[k], bounds[k+1]), and
// it ends at the first task whose running total reaches k+1 parts of the
// whole. Returns parts+1 bounds from 0 to n; blocks may be empty. The same
// work always gives the same blocks.
std::vector<int64_t> SplitByWork(const std::vector<int64_t> &work, int parts);
