// The generator's block of draws built for AVX-512, whose 64-bit lane
// multiplies run eight draws at once; Draws::ScaledBlock calls it only on
// processors that have them. Every function below the pragma is built so.
#include <cstdint>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512dq"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq")
#endif
#include "driver/draw_block.h"

void ScaledDrawsAvx512(uint64_t state, uint64_t n, int32_t count, uint32_t *out) {
  ScaledDrawsFrom(state, n, count, out);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
