#pragma once

// The scanning partition of candidates.cpp with the stopping entries of each
// side found a block at a time by Stops, a type with two static functions:
//   Up(c, base, count, pivot): bit t set when c[base+t] is not above pivot;
//   Down(c, base, count, pivot): bit t set when pivot is not above c[base-t];
// for count <= 64 entries. Only templates live here: a file that compiles
// them for wider vector units instantiates them with its own Stops type,
// local to that file, so no copy built for one unit can stand in for another.

#include <cstdint>
#include <utility>

#include "engine/candidates.h"

// Entries whose stops one mask holds.
constexpr int32_t kStopBlock = 64;

// The scans swap the t-th stop from the left with the t-th stop from the
// right for as long as they have not crossed, and entries between the last
// two swapped ones are still as they were, so stops read from the untouched
// values are the scans' own stops. Afterwards c[lo..*pi-1] >= pivot >=
// c[*pj+1..hi], exactly as the scanning partition leaves them.
template <class Stops>
void BlockPartitionWith(CandidatePair *c, int32_t lo, int32_t hi, float pivot, int32_t *pi,
                        int32_t *pj) {
  int32_t a = lo, b = hi;              // the last swapped pair; the scans stop at them
  int32_t up = lo + 1, down = hi - 1;  // next entries not yet read into a mask
  uint64_t upmask = 0, downmask = 0;
  int32_t upbase = up, downbase = down;
  for (;;) {
    // While the two blocks in hand do not overlap, every stop of the left one
    // lies before every stop of the right one: swap them in turn, with no
    // test for crossing, until one block runs out.
    if (upmask != 0 && downmask != 0 && up <= down + 1) {
      int32_t l, r;
      do {
        l = upbase + __builtin_ctzll(upmask);
        r = downbase - __builtin_ctzll(downmask);
        std::swap(c[l], c[r]);
        upmask &= upmask - 1;
        downmask &= downmask - 1;
      } while (upmask != 0 && downmask != 0);
      a = l;
      b = r;
    }
    int32_t l = b, r = a;
    while (upmask == 0 && up < b) {
      const int32_t count = b - up < kStopBlock ? b - up : kStopBlock;
      upbase = up;
      upmask = Stops::Up(c, up, count, pivot);
      up += count;
    }
    if (upmask != 0) {
      const int32_t x = upbase + __builtin_ctzll(upmask);
      if (x < b) l = x;
    }
    while (downmask == 0 && down > a) {
      const int32_t count = down - a < kStopBlock ? down - a : kStopBlock;
      downbase = down;
      downmask = Stops::Down(c, down, count, pivot);
      down -= count;
    }
    if (downmask != 0) {
      const int32_t x = downbase - __builtin_ctzll(downmask);
      if (x > a) r = x;
    }
    if (l < r) {
      std::swap(c[l], c[r]);
      upmask &= upmask - 1;
      downmask &= downmask - 1;
      a = l;
      b = r;
      continue;
    }
    if (l == r) {
      *pi = l + 1;
      *pj = l - 1;
    } else {
      *pi = l;
      *pj = r;
    }
    return;
  }
}

// The stops of the entries a wide step leaves over, one at a time.
template <class Stops>
uint64_t UpStopsOneByOne(const CandidatePair *c, int32_t base, int32_t from, int32_t count,
                         float pivot) {
  uint64_t mask = 0;
  for (int32_t t = from; t < count; t++) mask |= uint64_t(!(c[base + t].value > pivot)) << t;
  return mask;
}
template <class Stops>
uint64_t DownStopsOneByOne(const CandidatePair *c, int32_t base, int32_t from, int32_t count,
                           float pivot) {
  uint64_t mask = 0;
  for (int32_t t = from; t < count; t++) mask |= uint64_t(!(pivot > c[base - t].value)) << t;
  return mask;
}

// Stops from a vector unit that compares Unit::kWidth values at once:
// Unit::Up(c, at, pivot) gives the upward stop bits of c[at..at+kWidth-1]
// (bit t for c[at+t]), Unit::Down(c, at, pivot) the downward ones of the same
// entries from the top (bit t for c[at+kWidth-1-t]).
template <class Unit>
struct WideStops {
  static uint64_t Up(const CandidatePair *c, int32_t base, int32_t count, float pivot) {
    uint64_t mask = 0;
    int32_t g = 0;
    for (; g + Unit::kWidth <= count; g += Unit::kWidth) mask |= Unit::Up(c, base + g, pivot) << g;
    return mask | UpStopsOneByOne<Unit>(c, base, g, count, pivot);
  }
  static uint64_t Down(const CandidatePair *c, int32_t base, int32_t count, float pivot) {
    uint64_t mask = 0;
    int32_t g = 0;
    for (; g + Unit::kWidth <= count; g += Unit::kWidth)
      mask |= Unit::Down(c, base - g - (Unit::kWidth - 1), pivot) << g;
    return mask | DownStopsOneByOne<Unit>(c, base, g, count, pivot);
  }
};
