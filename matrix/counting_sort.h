#pragma once

#include <cstdint>

// The steps of a stable counting sort into n buckets, shared by every place
// that groups entries by an index. ptr has n + 1 entries:
//   1. count: ptr[b]++ for each entry of bucket b (ptr zeros before);
//   2. StartFill(n, ptr): ptr[b] becomes bucket b's start;
//   3. fill: each entry, in input order, goes to place ptr[b]++ of its bucket;
//   4. EndFill(n, ptr): ptr[b] is b's start again and ptr[n] the total.
// Entries of one bucket keep their input order.

// Moves the running ends one place up so that ptr[b] is the start of b.
inline void EndFill(int32_t n, int32_t *ptr) {
  for (int32_t b = n; b >= 1; b--) ptr[b] = ptr[b - 1];
  ptr[0] = 0;
}

// Turns the counts in ptr[0..n-1] into bucket starts.
inline void StartFill(int32_t n, int32_t *ptr) {
  for (int32_t b = 1; b < n; b++) ptr[b] += ptr[b - 1];
  EndFill(n, ptr);
}
