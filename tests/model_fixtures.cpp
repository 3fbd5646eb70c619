#include "tests/model_fixtures.h"

#include <algorithm>
#include <cstddef>

#include "util/checked_alloc.h"

std::vector<Neighbour> ListOf(const Model *model, int32_t item) {
  std::vector<Neighbour> list;
  for (int32_t j = model->itemptr[item]; j < model->itemptr[item + 1]; j++)
    list.push_back({model->itemind[j], model->itemval[j]});
  return list;
}

std::vector<int32_t> Ask(Model *model, const std::vector<int32_t> &basket, int32_t N) {
  std::vector<int32_t> rcmds(std::size_t(N), -7);
  const int32_t m = TOVRAN_Recommend(model, int32_t(basket.size()), basket.data(), N, rcmds.data());
  if (m < 0) return {m};
  rcmds.resize(std::size_t(m));
  return rcmds;
}

Scored AskScored(Model *model, const std::vector<int32_t> &basket, int32_t N) {
  Scored answer{std::vector<int32_t>(std::size_t(N), -7), std::vector<float>(std::size_t(N), -7.0f)};
  const int32_t m = TOVRAN_RecommendScored(model, int32_t(basket.size()), basket.data(), N,
                                           answer.ids.data(), answer.scores.data());
  answer.ids.resize(std::size_t(std::max(m, 0)));
  answer.scores.resize(std::size_t(std::max(m, 0)));
  return answer;
}

Model *HandItemModel(int32_t ncols, const std::vector<std::vector<Neighbour>> &lists) {
  Model *model = CreateModel();
  model->type = TOVRAN_ITEM_COSINE;
  model->nnbr = 20;
  model->nitems = ncols;
  model->itemptr = AllocFilledInts(ncols + 1, 0, "test: itemptr");
  model->itemind = AllocInts(int64_t{ncols} * 20, "test: itemind");
  model->itemval = AllocFloats(int64_t{ncols} * 20, "test: itemval");
  model->marker = AllocFilledInts(ncols, -1, "test: marker");
  model->fcand = AllocCands(ncols, "test: fcand");
  int32_t d = 0;
  for (int32_t i = 0; i < ncols; i++) {
    if (std::size_t(i) < lists.size()) {
      for (const Neighbour &n : lists[std::size_t(i)]) {
        model->itemind[d] = n.item;
        model->itemval[d] = n.value;
        d++;
      }
    }
    model->itemptr[i + 1] = d;
  }
  return model;
}
