#pragma once

#include <cstdint>
#include <vector>

#include "engine/answer.h"
#include "engine/model_kinds.h"
#include "engine/scratch.h"
#include "util/parallel.h"

// The engine's one threaded query loop: calls body(thread, scratch, b) for
// every basket b in 0..nbaskets-1 on nthreads threads, each thread with a
// scratch of its own for the model, made here and released on return. The
// baskets are handed out in chunks; what body computes must not depend on
// which thread runs it. Exhausted memory ends the process or throws as MakeScratch does.
template <class Body>
void ForEachBasket(const Model *model, int64_t nbaskets, int32_t nthreads, Body body) {
  constexpr int64_t kBasketChunk = 64;  // baskets handed to a thread at a time
  const int32_t threads = UsableThreads(nthreads, nbaskets);
  std::vector<ScratchHolder> scratch;
  for (int32_t t = 0; t < threads; t++) scratch.emplace_back(MakeScratch(model));
  ParallelChunks(threads, nbaskets, kBasketChunk, [&](int32_t thread, int64_t begin, int64_t end) {
    TOVRAN_Scratch *mine = scratch[size_t(thread)].get();
    for (int64_t b = begin; b < end; b++) body(thread, mine, b);
  });
}

// The answer of the model's kind for a basket of valid items, N >= 1 and
// checked options, written with scratch: as TOVRAN_RecommendScored (with
// the plain options) gives it. filtered: as RecommendByItems takes it, for
// the item kinds alone.
int32_t AnswerBasket(const Model *model, TOVRAN_Scratch *scratch, int32_t n, const int32_t *basket,
                     int32_t N, const TOVRAN_QueryOptions &options, int32_t *rcmds, float *scores,
                     const uint8_t *filtered = nullptr);
