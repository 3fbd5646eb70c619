// The block partition compiled for AVX2 in a function of its own; the rest
// of the build stays portable and calls it only on processors that run it
// (StopScanRuns). Every function below the pragma is built for AVX2.
#include <immintrin.h>

#include <cstdint>
#include <utility>

#include "engine/candidates.h"
#include "engine/stop_scan.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi")
#endif
#include "engine/block_partition.h"

namespace {

// Eight pairs from c[at] on: their values in order, or in reverse order.
inline __m256 EightValues(const CandidatePair *c, int32_t at, bool reversed) {
  const __m256 a = _mm256_loadu_ps(reinterpret_cast<const float *>(c + at));
  const __m256 b = _mm256_loadu_ps(reinterpret_cast<const float *>(c + at + 4));
  // Per 128-bit lane: the values of pairs 0, 1, 4, 5 | 2, 3, 6, 7.
  const __m256 mixed = _mm256_shuffle_ps(a, b, 0x88);
  const __m256i order = reversed ? _mm256_setr_epi32(7, 6, 3, 2, 5, 4, 1, 0)
                                 : _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
  return _mm256_permutevar8x32_ps(mixed, order);
}

// Eight values per compare (WideStops).
struct Avx2Unit {
  static constexpr int32_t kWidth = 8;
  static uint64_t Up(const CandidatePair *c, int32_t at, float pivot) {
    const __m256 stop =
        _mm256_cmp_ps(EightValues(c, at, false), _mm256_set1_ps(pivot), _CMP_NGT_UQ);
    return uint32_t(_mm256_movemask_ps(stop));
  }
  static uint64_t Down(const CandidatePair *c, int32_t at, float pivot) {
    const __m256 stop = _mm256_cmp_ps(EightValues(c, at, true), _mm256_set1_ps(pivot), _CMP_NLT_UQ);
    return uint32_t(_mm256_movemask_ps(stop));
  }
};

}  // namespace

void BlockPartitionAvx2(CandidatePair *c, int32_t lo, int32_t hi, float pivot, int32_t *pi,
                        int32_t *pj) {
  BlockPartitionWith<WideStops<Avx2Unit>>(c, lo, hi, pivot, pi, pj);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
