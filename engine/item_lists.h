#pragma once

#include <cstdint>

#include "engine/model.h"

// Shared by the two item builders: the model's arrays, the eligibility marks
// and the packing of each item's ranked list.

struct ItemModelLabels {
  const char *itemptr, *itemind, *itemval, *marker, *fcand;
};

// A model of the given item type over ncols items with room for nnbr
// neighbours per item; marker is all -1, and -2 for items held by fewer than
// kMinItemFrequency entries of colptr.
Model *CreateItemModel(int32_t type, int32_t ncols, int32_t nnbr,
                       const int32_t *colptr, const ItemModelLabels &labels);

// Ranks the k candidates gathered in model->fcand, keeps up to nnbr of them,
// scales the kept values to unit length and appends them as item i's list.
void StoreItemList(Model *model, int32_t i, int32_t k);

// Clears every mark, the -2 ones included.
void ResetItemMarkers(Model *model);
