#pragma once

#include <cstdint>

#include "engine/candidates.h"

// How the block partition of the selection and the sort finds its stopping
// entries: four values per compare (any x86-64), eight (AVX2) or sixteen
// (AVX-512). Every scan gives the same stops, so the same arrangement to the
// last swap; the widest one the processor runs is chosen once, at first use.
enum class StopScan { kSse, kAvx2, kAvx512 };

// Whether this processor runs the scan.
bool StopScanRuns(StopScan scan);

// One partition of c[lo..hi] around pivot (block_partition.h), by scan.
using BlockPartitionFn = void (*)(CandidatePair *c, int32_t lo, int32_t hi, float pivot,
                                  int32_t *pi, int32_t *pj);
void BlockPartitionAvx2(CandidatePair *c, int32_t lo, int32_t hi, float pivot, int32_t *pi,
                        int32_t *pj);
void BlockPartitionAvx512(CandidatePair *c, int32_t lo, int32_t hi, float pivot, int32_t *pi,
                          int32_t *pj);

// SelectTopCandidates and SortCandidates with the given scan, which the
// processor must run; for checks and benchmarks that compare the scans.
int32_t SelectTopCandidatesWith(StopScan scan, int32_t n, int32_t k, CandidatePair *cands);
void SortCandidatesWith(StopScan scan, int32_t n, CandidatePair *cands);
