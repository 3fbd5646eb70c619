#include "driver/popularity.h"

#include <algorithm>

PopularityRecommender::PopularityRecommender(const std::vector<int32_t> &frequency,
                                             int32_t nthreads)
    : in_basket_(size_t(std::max(nthreads, 1)), std::vector<uint8_t>(frequency.size(), 0)) {
  for (size_t c = 0; c < frequency.size(); c++)
    if (frequency[c] > 0) order_.push_back(int32_t(c));
  // Stable: equal counts keep the lower item id first.
  std::stable_sort(order_.begin(), order_.end(), [&](int32_t a, int32_t b) {
    return frequency[size_t(a)] > frequency[size_t(b)];
  });
}

int32_t PopularityRecommender::Answer(int32_t thread, int32_t n, const int32_t *basket, int32_t N,
                                      int32_t *rcmds) {
  std::vector<uint8_t> &mark = in_basket_[size_t(thread)];
  for (int32_t t = 0; t < n; t++)
    if (basket[t] < 0 || size_t(basket[t]) >= mark.size()) return -1;
  for (int32_t t = 0; t < n; t++) mark[size_t(basket[t])] = 1;
  int32_t m = 0;
  for (size_t k = 0; k < order_.size() && m < N; k++)
    if (!mark[size_t(order_[k])]) rcmds[m++] = order_[k];
  for (int32_t t = 0; t < n; t++) mark[size_t(basket[t])] = 0;
  return m;
}
