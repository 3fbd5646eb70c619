#pragma once

// What the tests share: pair lists and the models built on them, exact bit
// patterns, ranked candidate lists, queries, and tovran's parsed command
// lines and datasets.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/options.h"
#include "driver/split.h"
#include "engine/candidates.h"
#include "engine/model.h"

// Pairs (user, item) in input order over an nrows x ncols matrix.
struct PairList {
  int32_t nrows = 0;
  int32_t ncols = 0;
  std::vector<int32_t> rows = {}, cols = {};

  void Add(int32_t user, std::initializer_list<int32_t> items);
  // TOVRAN_BuildModel on the pairs (invalid input ends the process).
  Model *Build(int32_t type, int32_t nnbr, float alpha = 0.0f) const;
  // TOVRAN_Build on the pairs: null with TOVRAN_LastError on invalid input.
  Model *Build(const TOVRAN_Params &params) const;
};

// The header's counts and the pairs of a dataset file's text.
PairList PairsOfText(const std::string &text);

// The first n entries of an int array.
std::vector<int32_t> Ints(const int32_t *values, int32_t n);
std::vector<int32_t> Ints(const IntArray &values, int32_t n);

// IEEE bit patterns of single-precision values, for exact comparisons.
uint32_t Bits(float value);
std::vector<uint32_t> Bits(const float *values, std::size_t n);
std::vector<uint32_t> Bits(const std::vector<float> &values);
// The keys and value bit patterns of a candidate list (-0.0 and NaN compare exactly).
using List = std::vector<CandidatePair>;
std::vector<std::pair<int32_t, uint32_t>> Bits(const List &list);
// The single-precision value of a bit pattern.
float FromBits(uint32_t bits);

// The best `keep` entries of list, best first, by the engine's selection
// and sort or by the ones given.
using SelectFunction = int32_t (*)(int32_t n, int32_t k, CandidatePair *cands);
using SortFunction = void (*)(int32_t n, CandidatePair *cands);
List Ranked(List list, int32_t keep, SelectFunction select = SelectTopCandidates,
            SortFunction sort = SortCandidates);
// The keys and the values of a list, in its order.
std::vector<int32_t> Keys(const List &list);
std::vector<float> Values(const List &list);

// Item i's neighbour list in an item model.
List ListOf(const Model *model, int32_t item);

// Runs one query and returns its answer (empty for 0), or {-1} for -1.
std::vector<int32_t> Ask(Model *model, const std::vector<int32_t> &basket, int32_t N = 10);

// One query's answer with the scores the ranking compared (both empty for -1).
struct Scored {
  std::vector<int32_t> ids;
  std::vector<float> scores;
};
Scored AskScored(Model *model, const std::vector<int32_t> &basket, int32_t N = 10);

// An item model over ncols items with hand-written neighbour lists.
Model *HandItemModel(int32_t ncols, const std::vector<List> &lists);

// tovran's options for the words after the program name; nullopt (its
// message swallowed) when the program would not run.
std::optional<Options> ParseTovranWords(std::vector<const char *> words);

// Loads a dataset from the text of a file; false with the reason in *error.
bool DatasetFromText(const std::string &text, Dataset *ds, std::string *error);
