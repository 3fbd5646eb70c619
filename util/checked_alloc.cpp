#include "util/checked_alloc.h"

#include <cstdlib>

#include "util/fatal_error.h"
#include "util/fill.h"

void AllocationFailed(const char *label, int64_t size) {
  FatalError("***Memory allocation failed for %s. Requested size: %lld bytes", label,
             static_cast<long long>(size));
}

void *CheckedMalloc(int64_t size, const char *label) {
  if (size == 0) return nullptr;
  void *block = size > 0 ? std::malloc(static_cast<size_t>(size)) : nullptr;
  if (block == nullptr) AllocationFailed(label, size);
  return block;
}

int32_t *AllocInts(int64_t n, const char *label) {
  return static_cast<int32_t *>(CheckedMalloc(4 * n, label));
}

float *AllocFloats(int64_t n, const char *label) {
  return static_cast<float *>(CheckedMalloc(4 * n, label));
}

int32_t *AllocFilledInts(int64_t n, int32_t value, const char *label) {
  return FillInts(n, value, AllocInts(n, label));
}

float *AllocFilledFloats(int64_t n, float value, const char *label) {
  float *array = AllocFloats(n, label);
  for (int64_t i = 0; i < n; i++) array[i] = value;
  return array;
}
