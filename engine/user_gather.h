#pragma once

#include <cstdint>

#include "engine/model.h"

// The two ways through phase 1 of the user-based query: each user's running
// sum in its mark (any model), or hit counters with dense columns taken as
// bit sets (user_columns.h; models whose rows each hold one value). Both give
// the same candidate array, pair for pair and bit for bit.
enum class UserGather { kChosen, kMarks, kColumnBits };

// Phase 1 up to the selection: user_candidates[0..nr-1] holds every user met by the
// basket with its similarity, in first-arrival order and with the
// near-identical users dropped as the query drops them; returns nr.
// kColumnBits takes the column bits whenever the model has them and the
// basket has a dense column and at most kMostHits entries, else the marks;
// kChosen takes them where they also pay. Every mark and counter is at rest
// again afterwards.
int32_t GatherUserCandidates(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                             const int32_t *basket, UserGather how);
