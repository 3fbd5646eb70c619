#pragma once

#include <cstdint>

#include "engine/model.h"
#include "engine/scratch.h"
#include "matrix/sparse_matrix.h"

struct ItemListBlock;

// Builders; each takes a matrix fresh from CreateMatrix. The item builders
// spread their items over nthreads threads (1: the caller alone) and take as
// neighbours only items held by at least min_support >= 1 entries. Given a
// block, they build only its items' lists, staged there, and the model holds
// no lists. The matrix stays the caller's; an allocation that throws leaves
// no model.
Model *TOVRAN_Init_ColVecSim(SparseMatrix *matrix, int32_t nnbr, int32_t min_support,
                             int32_t nthreads, const ItemListBlock *block = nullptr);
// per_entry: the rows hold weighted entries, not one value per row.
Model *TOVRAN_Init_CProbSim(SparseMatrix *matrix, int32_t nnbr, float alpha, int32_t min_support,
                            int32_t nthreads, const ItemListBlock *block = nullptr,
                            bool per_entry = false);
// Moves the matrix's six arrays into the model and nulls them in the matrix.
Model *TOVRAN_Init_Row(SparseMatrix *matrix, int32_t nnbr);

// Queries behind TOVRAN_RecommendWith, which has already checked the basket
// range, the options and N >= 1; they write only the scratch arrays, the
// m <= N answers to rcmds and, unless scores is null, their scores to
// scores. Return m.
int32_t RecommendByItems(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                         int32_t *rcmds, float *scores);
int32_t RecommendByUsers(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                         int32_t *rcmds, float *scores);
