#pragma once

#include <cstdint>

#include "engine/candidates.h"
#include "engine/scratch.h"
#include "engine/tovran.h"
#include "matrix/sparse_matrix.h"

// A built model. Item models (type 1, 2) keep packed neighbour lists; the
// user-based model (type 3) keeps the whole matrix. Unused integer fields are
// -1 and unused arrays null. Between operations every marker entry is -1.
struct Model {
  int32_t type;
  int32_t nnbr;
  int32_t nitems;   // item models: accepted item ids are 0..nitems-1
  int32_t *itemptr; // nitems+1 offsets into itemind/itemval
  int32_t *itemind; // neighbour ids, best first within each list
  float *itemval;   // neighbour similarities, each list of unit length
  int32_t nrows;    // type 3: users
  int32_t ncols;    // type 3: accepted item ids are 0..ncols-1
  int32_t *rowptr;
  int32_t *rowind;
  int32_t *colptr;
  int32_t *colind;
  float *rowval;    // row-normalised values, also in colval by column
  float *colval;
  CandidatePair *rcand;  // scratch: candidate users, UserCandidateRoom(nrows) pairs
  CandidatePair *fcand;  // scratch: candidate items
  int32_t *rmarker;      // user id -> -1; a hit count while a query runs
  int32_t *marker;       // item id -> slot in fcand, -1, or -2 (excluded)
};

// Pairs in a user-candidate array: one more than there are users, since the
// user-based query writes the slot after its list before it knows whether the
// user is new (none without users: no query then gathers anything).
constexpr int64_t UserCandidateRoom(int32_t nrows) { return nrows > 0 ? int64_t{nrows} + 1 : 0; }

// A record with every integer -1 and every array null.
Model *CreateModel();

// Neighbours count only among items held by at least this many entries.
constexpr int32_t kMinItemFrequency = 3;

// Builders; each takes a matrix fresh from CreateMatrix. The item builders
// spread their items over nthreads threads (1: the caller alone).
Model *TOVRAN_Init_ColVecSim(SparseMatrix *matrix, int32_t nnbr, int32_t nthreads);
Model *TOVRAN_Init_CProbSim(SparseMatrix *matrix, int32_t nnbr, float alpha, int32_t nthreads);
// Moves the matrix's six arrays into the model and nulls them in the matrix.
Model *TOVRAN_Init_Row(SparseMatrix *matrix, int32_t nnbr);

// Queries behind TOVRAN_RecommendWith, which has already checked the basket
// range and N >= 1; they write only the scratch arrays.
int32_t RecommendByItems(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, int32_t *rcmds);
int32_t RecommendByUsers(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, int32_t *rcmds);

// Ends the process with a message unless the counts are non-negative and
// every pair lies inside the nrows x ncols matrix.
void ValidatePairs(int32_t nrows, int32_t ncols, int32_t npairs,
                   const int32_t *rowid, const int32_t *colid);
