#pragma once

#include <cstdint>

#include "engine/model.h"
#include "engine/scratch.h"

// The popularity ranking every built model carries, and the popularity
// model (kind 0) that answers from it alone.

// Ranks the items of the pairs by summed weight (weights null: each pair
// weighs 1), most first, ties by lower id, items of no pair left out, and
// gives model the ranking (popular, popscore, poprank over ncols items).
void AttachPopularity(Model *model, int32_t ncols, int32_t npairs, const int32_t *colid,
                      const float *weights);

// Fills poprank from the model's npopular entries of popular, over nitems
// items; the ids must be distinct and in range.
void RankPopular(Model *model, int32_t nitems);

// A popularity model over ncols items, its ranking not yet attached.
Model *CreatePopularModel(int32_t ncols);

// The query of the popularity model, as the other kinds' (builders.h): the
// first items of the ranking not in the basket nor filtered.
int32_t RecommendPopular(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                         int32_t *rcmds, float *scores);
