#pragma once

#include <cstdint>

// Writes value into array[0..n-1] and returns array; writes nothing for n <= 0.
inline int32_t *FillInts(int64_t n, int32_t value, int32_t *array) {
  for (int64_t i = 0; i < n; i++) array[i] = value;
  return array;
}
