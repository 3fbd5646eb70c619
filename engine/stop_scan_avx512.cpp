// The block partition compiled for AVX-512 in a function of its own; the
// rest of the build stays portable and calls it only on processors that run
// it (StopScanRuns). Every function below the pragma is built for AVX-512.
#include <immintrin.h>

#include <cstdint>
#include <utility>

#include "engine/candidates.h"
#include "engine/stop_scan.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,bmi"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,bmi")
#endif
#include "engine/block_partition.h"

namespace {

// Sixteen pairs from c[at] on: their values in order, or in reverse order.
inline __m512 SixteenValues(const CandidatePair *c, int32_t at, bool reversed) {
  const __m512 a = _mm512_loadu_ps(reinterpret_cast<const float *>(c + at));
  const __m512 b = _mm512_loadu_ps(reinterpret_cast<const float *>(c + at + 8));
  const __m512i order =
      reversed ? _mm512_setr_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0)
               : _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  return _mm512_permutex2var_ps(a, order, b);
}

// Sixteen values per compare (WideStops).
struct Avx512Unit {
  static constexpr int32_t kWidth = 16;
  static uint64_t Up(const CandidatePair *c, int32_t at, float pivot) {
    return _mm512_cmp_ps_mask(SixteenValues(c, at, false), _mm512_set1_ps(pivot), _CMP_NGT_UQ);
  }
  static uint64_t Down(const CandidatePair *c, int32_t at, float pivot) {
    return _mm512_cmp_ps_mask(SixteenValues(c, at, true), _mm512_set1_ps(pivot), _CMP_NLT_UQ);
  }
};

}  // namespace

void BlockPartitionAvx512(CandidatePair *c, int32_t lo, int32_t hi, float pivot, int32_t *pi,
                          int32_t *pj) {
  BlockPartitionWith<WideStops<Avx512Unit>>(c, lo, hi, pivot, pi, pj);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
