#include "engine/model.h"
#include "util/checked_alloc.h"
#include "util/fill.h"
#include "util/free_all.h"

TOVRAN_Scratch ModelScratch(Model *model) {
  return TOVRAN_Scratch{model->rcand, model->fcand, model->rmarker, model->marker};
}

TOVRAN_Scratch *TOVRAN_CreateScratch(const Model *model) {
  auto *scratch = static_cast<TOVRAN_Scratch *>(
      CheckedMalloc(sizeof(TOVRAN_Scratch), "TOVRAN_CreateScratch: scratch"));
  const bool users = model->type == TOVRAN_USER_BASED;
  const int32_t items = users ? model->ncols : model->nitems;
  const int32_t rows = users ? model->nrows : 0;
  *scratch = TOVRAN_Scratch{AllocCands(UserCandidateRoom(rows), "TOVRAN_CreateScratch: rcand"),
                            AllocCands(items, "TOVRAN_CreateScratch: fcand"),
                            AllocFilledInts(rows, -1, "TOVRAN_CreateScratch: rmarker"),
                            AllocFilledInts(items, -1, "TOVRAN_CreateScratch: marker")};
  return scratch;
}

void TOVRAN_FreeScratch(TOVRAN_Scratch *scratch) {
  if (scratch == nullptr) return;
  FreeAll(&scratch->rcand, &scratch->fcand, &scratch->rmarker, &scratch->marker, &scratch);
}

int32_t TOVRAN_Recommend(Model *model, int32_t n, const int32_t *basket,
                         int32_t N, int32_t *rcmds) {
  TOVRAN_Scratch own = ModelScratch(model);
  return TOVRAN_RecommendWith(model, &own, n, basket, N, rcmds);
}

int32_t TOVRAN_RecommendWith(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                             const int32_t *basket, int32_t N, int32_t *rcmds) {
  const int32_t limit = model->type == TOVRAN_USER_BASED ? model->ncols : model->nitems;
  for (int32_t t = 0; t < n; t++)
    if (basket[t] < 0 || basket[t] >= limit) return -1;
  if (N < 1) return 0;
  switch (model->type) {
    case TOVRAN_ITEM_COSINE:
    case TOVRAN_ITEM_CPROB: return RecommendByItems(model, scratch, n, basket, N, rcmds);
    case TOVRAN_USER_BASED: return RecommendByUsers(model, scratch, n, basket, N, rcmds);
    default: return 0;
  }
}

int32_t RecommendByItems(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                         const int32_t *basket, int32_t N, int32_t *rcmds) {
  const int32_t *itemptr = model->itemptr, *itemind = model->itemind;
  const float *itemval = model->itemval;
  int32_t *marker = scratch->marker;
  CandidatePair *fcand = scratch->fcand;

  // Every basket item's list is asked for at once, so that their misses overlap.
  for (int32_t t = 0; t < n; t++) {
    marker[basket[t]] = -2;
    __builtin_prefetch(itemind + itemptr[basket[t]]);
    __builtin_prefetch(itemval + itemptr[basket[t]]);
  }
  int32_t ncand = 0;
  for (int32_t t = 0; t < n; t++) {
    const int32_t b = basket[t];
    for (int32_t j = itemptr[b]; j < itemptr[b + 1]; j++) {
      const int32_t c = itemind[j];
      const int32_t slot = marker[c];
      if (slot == -2) continue;
      if (slot == -1) {
        fcand[ncand] = CandidatePair{itemval[j], c};
        marker[c] = ncand++;
      } else {
        fcand[slot].value += itemval[j];
      }
    }
  }
  for (int32_t t = 0; t < n; t++) marker[basket[t]] = -1;
  for (int32_t t = 0; t < ncand; t++) marker[fcand[t].key] = -1;

  const int32_t m = SelectTopCandidates(ncand, N, fcand);
  SortCandidates(m, fcand);
  for (int32_t t = 0; t < m; t++) rcmds[t] = fcand[t].key;
  return m;
}
