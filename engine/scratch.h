#pragma once

#include <cstdint>
#include <memory>

#include "engine/candidates.h"
#include "engine/tovran.h"

// The arrays one query writes. A model carries one set; each further thread
// that queries the same model needs its own (TOVRAN_CreateScratch). Between
// queries every rmarker and marker entry is at rest, as the model's are
// (RestMarks). Arrays a model kind does not use are null.
struct TOVRAN_Scratch {
  CandidatePair *rcand;  // nrows + 1: candidate users (type 3)
  CandidatePair *fcand;  // items: candidate items
  int32_t *rmarker;      // nrows: user id -> unmet_user_mark, its running sum mid-query (type 3)
  int32_t *marker;       // items: item id -> unmet_item_mark; mid-query -2, a slot or
                         // a sum (mark_sums.h)
  uint64_t *rbits;       // type 3 with column bit sets: the users seen and their hit
                         // counters (user_columns.h), all zero between queries
};

// The model's own scratch arrays, borrowed.
TOVRAN_Scratch ModelScratch(Model *model);

// A fresh scratch for model (TOVRAN_CreateScratch's), whose exhausted memory
// ends the process or throws as every engine allocation does (checked_alloc.h).
TOVRAN_Scratch *MakeScratch(const Model *model);

// Releases its scratch on scope exit unless released first.
struct ScratchRelease {
  void operator()(TOVRAN_Scratch *scratch) const { TOVRAN_FreeScratch(scratch); }
};
using ScratchHolder = std::unique_ptr<TOVRAN_Scratch, ScratchRelease>;
