#pragma once

#include <cstdint>

// The generator's draws, written once and compiled twice: portably by
// driver/split.cpp and for AVX-512 by driver/draw_block_avx512.cpp, each
// file keeping its own copy (internal linkage), so that the wide build never
// runs on a processor without it.
namespace {

// The finaliser of the generator: a bijective mix of 64 bits.
inline uint64_t MixDraw(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

// The step between two states of a stream.
constexpr uint64_t kDrawStep = 0x9E3779B97F4A7C15u;

// out[k] = the (k+1)-th draw after state scaled to 0..n-1 (1 <= n < 2^32), as
// Draws::Scaled gives it, for k < count. Each draw depends on its position
// alone, so the loop runs several lanes at a time.
inline void ScaledDrawsFrom(uint64_t state, uint64_t n, int32_t count, uint32_t *__restrict out) {
  for (int32_t k = 0; k < count; k++) {
    const uint64_t x = MixDraw(state + uint64_t(k + 1) * kDrawStep);
    out[k] = uint32_t(((x >> 32) * n + (((x & 0xFFFFFFFFu) * n) >> 32)) >> 32);
  }
}

}  // namespace

// ScaledDrawsFrom built for AVX-512 (foundation and doubleword/quadword
// instructions); call it only on processors that have them.
void ScaledDrawsAvx512(uint64_t state, uint64_t n, int32_t count, uint32_t *out);
