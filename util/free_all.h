#pragma once

#include <cstdlib>

// Releases the block held by each pointer variable whose address is passed,
// in argument order, skipping null ones, and sets every variable to null.
// A record's release passes its array fields first and the record last.
template <class... T>
void FreeAll(T **...pointers) {
  ((std::free(*pointers), *pointers = nullptr), ...);
}
