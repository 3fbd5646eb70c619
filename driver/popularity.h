#pragma once

#include <cstdint>
#include <vector>

#include "driver/evaluate.h"

// The popularity baseline: for every basket, the N items held by the most
// training pairs (ties by lower item id), items never in a training pair and
// the basket's own items left out.
class PopularityRecommender : public Recommender {
 public:
  // frequency: training pairs of each item.
  PopularityRecommender(const std::vector<int32_t> &frequency, int32_t nthreads);
  int32_t Answer(int32_t thread, int32_t n, const int32_t *basket, int32_t N,
                 int32_t *rcmds) override;

 private:
  std::vector<int32_t> order_;                   // items held at least once, most held first
  std::vector<std::vector<uint8_t>> in_basket_;  // per thread, per item
};
