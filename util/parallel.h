#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

// The threads worth running for ntasks tasks when nthreads are asked for:
// never more than one per task, and at least the caller's own.
inline int32_t UsableThreads(int32_t nthreads, int64_t ntasks) {
  return int32_t(std::max<int64_t>(1, std::min<int64_t>(nthreads, ntasks)));
}

// Calls body(thread, begin, end) for consecutive chunks [begin, end) of at
// most `chunk` tasks covering 0..ntasks-1, handed out in increasing order to
// nthreads threads numbered 0..nthreads-1 (the caller runs thread 0). Returns
// once every chunk is done. With nthreads <= 1 the caller runs every chunk.
// Threads the system refuses to start are done without: the threads already
// running and the caller take their chunks, so the work gets done all the same.
template <class Body>
void ParallelChunks(int32_t nthreads, int64_t ntasks, int64_t chunk, Body body) {
  if (nthreads <= 1 || ntasks <= chunk) {
    for (int64_t begin = 0; begin < ntasks; begin += chunk)
      body(0, begin, std::min(begin + chunk, ntasks));
    return;
  }
  std::atomic<int64_t> next{0};
  auto work = [&](int32_t thread) {
    for (;;) {
      const int64_t begin = next.fetch_add(chunk);
      if (begin >= ntasks) return;
      body(thread, begin, std::min(begin + chunk, ntasks));
    }
  };
  std::vector<std::thread> helpers;
  try {
    helpers.reserve(size_t(nthreads - 1));
    for (int32_t t = 1; t < nthreads; t++) helpers.emplace_back(work, t);
  } catch (const std::system_error &) {
  } catch (const std::bad_alloc &) {
  }
  work(0);
  for (std::thread &helper : helpers) helper.join();
}
