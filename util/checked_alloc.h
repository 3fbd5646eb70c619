#pragma once

#include <cstdint>
#include <new>

// Every array of the matrix and engine code comes from here. A request of
// zero bytes gives null without touching the heap; a request the heap cannot
// meet (or a negative one) ends the process with
// "***Memory allocation failed for <label>. Requested size: <bytes> bytes",
// or throws AllocationFailure with that text while an AllocFailuresThrow
// lives on the calling thread. Sizes are 64-bit so that no count product
// wraps before it is checked.
void *CheckedMalloc(int64_t size, const char *label);

// Ends the process with the message above, for an allocation of size bytes
// that failed elsewhere (in the standard library, say).
[[noreturn]] void AllocationFailed(const char *label, int64_t size);

// The labelled message of a failed CheckedMalloc, as an exception.
class AllocationFailure : public std::bad_alloc {
 public:
  AllocationFailure(int64_t size, const char *label);
  const char *what() const noexcept override { return text_; }

 private:
  char text_[192];
};

// While one lives, a failed CheckedMalloc on this thread throws instead of
// ending the process; entries that report errors to their caller hold one
// (and so every array they allocate must have an owner that releases it).
class AllocFailuresThrow {
 public:
  AllocFailuresThrow();
  ~AllocFailuresThrow();
  AllocFailuresThrow(const AllocFailuresThrow &) = delete;
  AllocFailuresThrow &operator=(const AllocFailuresThrow &) = delete;

 private:
  bool outer_;
};

// n 32-bit integers (4n bytes, not cleared); null for n = 0.
int32_t *AllocInts(int64_t n, const char *label);
// n single-precision floats (4n bytes, not cleared); null for n = 0.
float *AllocFloats(int64_t n, const char *label);
// As AllocInts, every element set to value; null for n = 0.
int32_t *AllocFilledInts(int64_t n, int32_t value, const char *label);
// As AllocFloats, every element set to value; null for n = 0.
float *AllocFilledFloats(int64_t n, float value, const char *label);
