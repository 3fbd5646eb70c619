#pragma once

#include <cstdint>
#include <vector>

#include "engine/model.h"

// The two queries computed densely from their definitions (one score per
// item or user, the ranking's starting order derived from its rule) and
// ranked by the reference selection and sort; the model is only read. Return
// the recommended item ids, best first, and their scores in *scores unless
// it is null.

// Item models (type 1 and 2).
std::vector<int32_t> ReferenceRecommendByItems(const Model &model, int32_t n, const int32_t *basket,
                                               int32_t N, std::vector<float> *scores = nullptr);
// User-based model (type 3).
std::vector<int32_t> ReferenceRecommendByUsers(const Model &model, int32_t n, const int32_t *basket,
                                               int32_t N, std::vector<float> *scores = nullptr);
