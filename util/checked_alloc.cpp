#include "util/checked_alloc.h"

#include <cstdio>
#include <cstdlib>

#include "util/fatal_error.h"
#include "util/fill.h"

namespace {
constexpr const char *kAllocationFailed =
    "***Memory allocation failed for %s. Requested size: %lld bytes";
thread_local bool alloc_failures_throw = false;
}  // namespace

void AllocationFailed(const char *label, int64_t size) {
  FatalError(kAllocationFailed, label, static_cast<long long>(size));
}

AllocationFailure::AllocationFailure(int64_t size, const char *label) {
  std::snprintf(text_, sizeof text_, kAllocationFailed, label, static_cast<long long>(size));
}

AllocFailuresThrow::AllocFailuresThrow() : outer_(alloc_failures_throw) {
  alloc_failures_throw = true;
}

AllocFailuresThrow::~AllocFailuresThrow() { alloc_failures_throw = outer_; }

void *CheckedMalloc(int64_t size, const char *label) {
  if (size == 0) return nullptr;
  void *block = size > 0 ? std::malloc(static_cast<size_t>(size)) : nullptr;
  if (block == nullptr) {
    if (alloc_failures_throw) throw AllocationFailure(size, label);
    AllocationFailed(label, size);
  }
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
