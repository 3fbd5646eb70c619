#pragma once

#include <cstdlib>
#include <memory>

// Releases the block held by each pointer variable whose address is passed,
// in argument order, skipping null ones, and sets every variable to null.
// A record's release passes its array fields first and the record last.
template <class... T>
void FreeAll(T **...pointers) {
  ((std::free(*pointers), *pointers = nullptr), ...);
}

// An array from the checked allocation that is released with its owner,
// e.g. Owned<int32_t[]> ids(AllocInts(n, label)).
struct FreeRelease {
  void operator()(void *block) const { std::free(block); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeRelease>;
