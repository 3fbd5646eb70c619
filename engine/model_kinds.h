#pragma once

#include <cstdint>

#include "engine/model.h"
#include "engine/scratch.h"
#include "matrix/sparse_matrix.h"

struct ItemListBlock;

// The builders and queries of each model kind. Builders: each takes a
// matrix fresh from CreateMatrix; their allocation labels keep the names
// the out-of-memory messages have always given (TOVRAN_Init_ColVecSim,
// TOVRAN_Init_CProbSim, TOVRAN_Init_Row). The item builders
// spread their items over nthreads threads (1: the caller alone) and take as
// neighbours only items held by at least min_support >= 1 entries. Given a
// block, they build only its items' lists, staged there, and the model holds
// no lists. The matrix stays the caller's; an allocation that throws leaves
// no model.
Model *BuildItemCosineModel(SparseMatrix *matrix, int32_t nnbr, int32_t min_support,
                            int32_t nthreads, const ItemListBlock *block = nullptr);
// per_entry: the rows hold weighted entries, not one value per row.
Model *BuildItemCprobModel(SparseMatrix *matrix, int32_t nnbr, float alpha, int32_t min_support,
                           int32_t nthreads, const ItemListBlock *block = nullptr,
                           bool per_entry = false);
// Moves the matrix's six arrays into the model and nulls them in the matrix.
Model *SetUpUserModel(SparseMatrix *matrix, int32_t nnbr);

// Queries behind TOVRAN_RecommendWith, which has already checked the basket
// range, the options and N >= 1; they write only the scratch arrays, the
// m <= N answers to rcmds and, unless scores is null, their scores to
// scores. Return m. filtered, when not null, says of every item whether
// options.filter_items holds it, and tells RecommendByItems that the
// scratch's marks of those items are left out already, as a batch marks them
// once for all its queries (options then without items and fallback); they
// stay left out.
int32_t RecommendByItems(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                         int32_t *rcmds, float *scores, const uint8_t *filtered = nullptr);
int32_t RecommendByUsers(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                         int32_t *rcmds, float *scores);
