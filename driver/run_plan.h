#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/tovran.h"

// Kind 0 of a run: the popularity baseline (kinds 1..3 are the engine's).
constexpr int32_t kPopularity = 0;

// The weightings' names, by their TOVRAN_WEIGHT_* value.
inline constexpr const char *kWeightingNames[] = {"binary", "raw", "log", "bm25", "tfidf"};

// Reads a weighting's name into *weighting: "" or the reason it is refused.
std::string ParseWeighting(std::string_view text, int32_t *weighting);

// The parameters of one run.
struct RunSetup {
  int32_t kind = 1;                  // 0 popularity, 1 item cosine, 2 item cprob, 3 user-based
  int32_t top = TOVRAN_DEFAULT_TOP;  // N: items asked per user
  int32_t nnbr = TOVRAN_DEFAULT_ITEM_NNBR;  // neighbours (kinds 1..3); 0 for kind 0
  // kinds 1, 2: pairs an item needs to be a neighbour; else 0
  int32_t min_support = TOVRAN_DEFAULT_MIN_SUPPORT;
  double alpha = 0;             // kind 2: the damping exponent (the estimate when estimated)
  bool estimate_alpha = false;  // kind 2: alpha comes from the estimation
  bool tune_alpha = false;      // kind 2: alpha chosen on a validation part
  // How the pairs' values weigh (TOVRAN_WEIGHT_*; bm25 reads K1 and B), and
  // whether short lists are filled from the popularity ranking.
  int32_t weighting = TOVRAN_WEIGHT_BINARY;
  float bm25_k1 = 1.2f, bm25_b = 0.75f;
  bool fallback = false;
};

// What the runs of one program call are: each list is swept.
struct RunPlan {
  std::vector<int32_t> kinds{1, 2, 3};
  std::vector<int32_t> top{TOVRAN_DEFAULT_TOP};
  std::vector<int32_t> nnbr{TOVRAN_DEFAULT_ITEM_NNBR};       // item models
  std::vector<int32_t> user_nnbr{TOVRAN_DEFAULT_USER_NNBR};  // the user-based model
  std::vector<int32_t> min_support{TOVRAN_DEFAULT_MIN_SUPPORT};
  std::vector<double> alpha;  // empty: estimate Alpha for each kind 2 run
  bool tune_alpha = false;    // kind 2: tune alpha on a validation part instead
  // Every run's weighting and fallback (not swept), as RunSetup holds them.
  int32_t weighting = TOVRAN_WEIGHT_BINARY;
  float bm25_k1 = 1.2f, bm25_b = 0.75f;
  bool fallback = false;
};

// Every run of the plan, kinds in the order given, then for each kind every
// combination of the lists that apply to it (top, then nnbr or user_nnbr,
// then min_support, then alpha; the last varies fastest). Kind 2 without an
// alpha list has one run per combination, with estimate_alpha set.
std::vector<RunSetup> ExpandRuns(const RunPlan &plan);

// The number of runs ExpandRuns gives, counted without making them (INT64_MAX
// when larger).
int64_t CountRuns(const RunPlan &plan);
