#include "tests/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "util/checked_alloc.h"

void PairList::Add(int32_t user, std::initializer_list<int32_t> items) {
  for (int32_t item : items) {
    rows.push_back(user);
    cols.push_back(item);
  }
}

Model *PairList::Build(int32_t type, int32_t nnbr, float alpha) const {
  return TOVRAN_BuildModel(nrows, ncols, int32_t(rows.size()), rows.data(), cols.data(), type, nnbr,
                           alpha);
}

Model *PairList::Build(const TOVRAN_Params &params) const {
  return TOVRAN_Build(nrows, ncols, int32_t(rows.size()), rows.data(), cols.data(), &params);
}

PairList PairsOfText(const std::string &text) {
  std::istringstream in(text);
  PairList p;
  int64_t npairs = 0;
  in >> p.nrows >> p.ncols >> npairs;
  for (int32_t user, item; in >> user >> item;) p.Add(user, {item});
  return p;
}

std::vector<int32_t> Ints(const int32_t *values, int32_t n) { return {values, values + n}; }

std::vector<int32_t> Ints(const IntArray &values, int32_t n) { return Ints(values.get(), n); }

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

std::vector<uint32_t> Bits(const float *values, std::size_t n) {
  std::vector<uint32_t> bits(n);
  if (n > 0) std::memcpy(bits.data(), values, sizeof(float) * n);
  return bits;
}

std::vector<uint32_t> Bits(const std::vector<float> &values) {
  return Bits(values.data(), values.size());
}

std::vector<std::pair<int32_t, uint32_t>> Bits(const List &list) {
  std::vector<std::pair<int32_t, uint32_t>> bits;
  for (const CandidatePair &c : list) bits.emplace_back(c.key, Bits(c.value));
  return bits;
}

float FromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

List Ranked(List list, int32_t keep, SelectFunction select, SortFunction sort) {
  const int32_t n = select(int32_t(list.size()), keep, list.data());
  sort(n, list.data());
  list.resize(std::size_t(n));
  return list;
}

std::vector<int32_t> Keys(const List &list) {
  std::vector<int32_t> keys;
  for (const CandidatePair &c : list) keys.push_back(c.key);
  return keys;
}

std::vector<float> Values(const List &list) {
  std::vector<float> values;
  for (const CandidatePair &c : list) values.push_back(c.value);
  return values;
}

List ListOf(const Model *model, int32_t item) {
  List list;
  for (int32_t j = model->lists.itemptr[item]; j < model->lists.itemptr[item + 1]; j++)
    list.push_back(CandidatePair{model->lists.itemval[j], model->lists.itemind[j]});
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
  Scored answer{std::vector<int32_t>(std::size_t(N), -7),
                std::vector<float>(std::size_t(N), -7.0f)};
  const int32_t m = TOVRAN_RecommendScored(model, int32_t(basket.size()), basket.data(), N,
                                           answer.ids.data(), answer.scores.data());
  answer.ids.resize(std::size_t(std::max(m, 0)));
  answer.scores.resize(std::size_t(std::max(m, 0)));
  return answer;
}

Model *HandItemModel(int32_t ncols, const std::vector<List> &lists) {
  Model *model = CreateModel();
  model->type = TOVRAN_ITEM_COSINE;
  model->nnbr = 20;
  model->nitems = ncols;
  model->lists.itemptr = AllocFilledInts(ncols + 1, 0, "test: itemptr");
  model->lists.itemind = AllocInts(int64_t{ncols} * 20, "test: itemind");
  model->lists.itemval = AllocFloats(int64_t{ncols} * 20, "test: itemval");
  model->scratch.item_marks = AllocFilledInts(ncols, -1, "test: marker");
  model->scratch.item_candidates = AllocCands(ncols, "test: fcand");
  int32_t d = 0;
  for (int32_t i = 0; i < ncols; i++) {
    if (std::size_t(i) < lists.size()) {
      for (const CandidatePair &n : lists[std::size_t(i)]) {
        model->lists.itemind[d] = n.key;
        model->lists.itemval[d] = n.value;
        d++;
      }
    }
    model->lists.itemptr[i + 1] = d;
  }
  return model;
}

std::optional<Options> ParseTovranWords(std::vector<const char *> words) {
  words.insert(words.begin(), "tovran");
  Options opts;
  testing::internal::CaptureStderr();
  const std::optional<int> stop = ParseOptions(int(words.size()), words.data(), &opts);
  testing::internal::GetCapturedStderr();
  if (stop.has_value()) return std::nullopt;
  return opts;
}

bool DatasetFromText(const std::string &text, Dataset *ds, std::string *error) {
  std::FILE *in = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
  const bool ok = ParseDataset(in, ds, error);
  std::fclose(in);
  return ok;
}
