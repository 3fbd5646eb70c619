#pragma once

#include <cstdint>
#include <memory>

#include "engine/candidates.h"
#include "engine/tovran.h"

// The arrays one query writes. A model carries one set; each further thread
// that queries the same model needs its own (TOVRAN_CreateScratch). Between
// queries every user_marks and item_marks entry is at rest, as the model's are
// (RestMarks). Arrays a model kind does not use are null.
struct TOVRAN_Scratch {
  CandidatePair *user_candidates;  // nrows + 1: candidate users (type 3)
  CandidatePair *item_candidates;  // items: candidate items
  int32_t *user_marks;  // nrows: per user, in the model's user_marks_form (marks.h; type 3)
  int32_t *item_marks;  // items: per item, in the model's item_marks_form (marks.h)
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
