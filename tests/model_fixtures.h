#pragma once

#include <cstdint>
#include <vector>

#include "engine/model.h"

// Pair lists for building models in tests.
struct PairList {
  int32_t nrows = 0;
  int32_t ncols = 0;
  std::vector<int32_t> rows, cols;

  void Add(int32_t user, std::initializer_list<int32_t> items) {
    for (int32_t item : items) {
      rows.push_back(user);
      cols.push_back(item);
    }
  }
  Model *Build(int32_t type, int32_t nnbr, float alpha = 0.0f) const {
    return TOVRAN_BuildModel(nrows, ncols, int32_t(rows.size()), rows.data(), cols.data(), type,
                             nnbr, alpha);
  }
};

// Item i's neighbour list as (id, value) pairs.
struct Neighbour {
  int32_t item;
  float value;
};
std::vector<Neighbour> ListOf(const Model *model, int32_t item);

// Runs one query and returns its answer (empty for 0), or {-1} for -1.
std::vector<int32_t> Ask(Model *model, const std::vector<int32_t> &basket, int32_t N = 10);

// One query's answer with the scores the ranking compared (both empty for -1).
struct Scored {
  std::vector<int32_t> ids;
  std::vector<float> scores;
};
Scored AskScored(Model *model, const std::vector<int32_t> &basket, int32_t N = 10);

// An item model over ncols items with hand-written lists, each (item, value).
Model *HandItemModel(int32_t ncols, const std::vector<std::vector<Neighbour>> &lists);
