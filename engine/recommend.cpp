#include "engine/model.h"

int32_t TOVRAN_Recommend(Model *model, int32_t n, const int32_t *basket,
                         int32_t N, int32_t *rcmds) {
  const int32_t limit = model->type == TOVRAN_USER_BASED ? model->ncols : model->nitems;
  for (int32_t t = 0; t < n; t++)
    if (basket[t] < 0 || basket[t] >= limit) return -1;
  if (N < 1) return 0;
  switch (model->type) {
    case TOVRAN_ITEM_COSINE:
    case TOVRAN_ITEM_CPROB: return RecommendByItems(model, n, basket, N, rcmds);
    case TOVRAN_USER_BASED: return RecommendByUsers(model, n, basket, N, rcmds);
    default: return 0;
  }
}

int32_t RecommendByItems(Model *model, int32_t n, const int32_t *basket,
                         int32_t N, int32_t *rcmds) {
  const int32_t *itemptr = model->itemptr, *itemind = model->itemind;
  const float *itemval = model->itemval;
  int32_t *marker = model->marker;
  CandidatePair *fcand = model->fcand;

  for (int32_t t = 0; t < n; t++) marker[basket[t]] = -2;
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
