// Item models built in pieces: the lists of item ranges, then the model from
// every list, equal bit for bit to the whole build however the items are cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "driver/split.h"
#include "engine/model.h"
#include "tests/program_runner.h"

namespace {

std::vector<uint32_t> Bits(const float *values, int64_t n) {
  std::vector<uint32_t> bits(size_t(n), 0);
  if (n > 0) std::memcpy(bits.data(), values, sizeof(float) * size_t(n));
  return bits;
}

// The model assembled from the lists of the pieces [cuts[k], cuts[k+1]).
Model *BuildInPieces(const Dataset &ds, const TOVRAN_Params &params,
                     const std::vector<int32_t> &cuts) {
  const int32_t room = TOVRAN_ItemListRoom(params.nnbr, ds.ncols);
  std::vector<int32_t> counts, ind;
  std::vector<float> val;
  for (size_t k = 0; k + 1 < cuts.size(); k++) {
    const int32_t first = cuts[k], last = cuts[k + 1];
    std::vector<int32_t> piece_counts(size_t(last - first) + 1),
        piece_ind(size_t(last - first) * room + 1);
    std::vector<float> piece_val(piece_ind.size());
    const int64_t n = TOVRAN_BuildItemLists(
        ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(), &params, first, last,
        piece_counts.data(), piece_ind.data(), piece_val.data());
    EXPECT_GE(n, 0) << TOVRAN_LastError();
    if (n < 0) return nullptr;
    int64_t sum = 0;
    for (int32_t i = 0; i < last - first; i++) sum += piece_counts[size_t(i)];
    EXPECT_EQ(n, sum);
    counts.insert(counts.end(), piece_counts.begin(), piece_counts.begin() + (last - first));
    ind.insert(ind.end(), piece_ind.begin(), piece_ind.begin() + n);
    val.insert(val.end(), piece_val.begin(), piece_val.begin() + n);
  }
  Model *model =
      TOVRAN_AssembleItemModel(ds.nrows, ds.ncols, &params, counts.data(), ind.data(), val.data());
  EXPECT_NE(model, nullptr) << TOVRAN_LastError();
  return model;
}

void ExpectPiecesMakeTheWholeModel(const std::string &path) {
  const Dataset ds = ReadDataset(path.c_str());
  const int32_t n = ds.ncols;
  // Whole, an empty piece first, empty pieces inside and last, one item alone.
  const std::vector<std::vector<int32_t>> cuts = {
      {0, n}, {0, 0, n}, {0, 1, n / 3, n / 3, n - 1, n, n}, {0, n / 2, n / 2 + 1, n}};
  struct Case {
    int32_t kind, nnbr, min_support, nthreads;
    float alpha;
  };
  for (const Case c : {Case{1, 20, 3, 1, 0.0f}, Case{2, 20, 3, 2, 0.3f}, Case{1, 5, 1, 3, 0.0f},
                       Case{2, 7, 2, 1, 0.7f}}) {
    TOVRAN_Params params = TOVRAN_DefaultParams(c.kind);
    params.nnbr = c.nnbr;
    params.min_support = c.min_support;
    params.nthreads = c.nthreads;
    params.alpha = c.alpha;
    Model *whole =
        TOVRAN_Build(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(), &params);
    ASSERT_NE(whole, nullptr) << TOVRAN_LastError();
    const int32_t nlist = whole->lists.itemptr[n];
    for (const std::vector<int32_t> &cut : cuts) {
      SCOPED_TRACE("kind " + std::to_string(c.kind) + ", nnbr " + std::to_string(c.nnbr) +
                   ", cut at " + std::to_string(cut[1]));
      Model *pieces = BuildInPieces(ds, params, cut);
      ASSERT_NE(pieces, nullptr);
      EXPECT_EQ(std::vector<int32_t>(whole->lists.itemptr, whole->lists.itemptr + n + 1),
                std::vector<int32_t>(pieces->lists.itemptr, pieces->lists.itemptr + n + 1));
      EXPECT_EQ(std::vector<int32_t>(whole->lists.itemind, whole->lists.itemind + nlist),
                std::vector<int32_t>(pieces->lists.itemind, pieces->lists.itemind + nlist));
      EXPECT_EQ(Bits(whole->lists.itemval, nlist), Bits(pieces->lists.itemval, nlist));
      TOVRAN_ModelInfo want, got;
      ASSERT_EQ(TOVRAN_GetModelInfo(whole, &want), 0);
      ASSERT_EQ(TOVRAN_GetModelInfo(pieces, &got), 0);
      EXPECT_EQ(
          std::vector<double>({double(want.params.kind), double(want.params.nnbr),
                               want.params.alpha, double(want.params.min_support),
                               double(want.nusers), double(want.nitems), double(want.nentries)}),
          std::vector<double>({double(got.params.kind), double(got.params.nnbr), got.params.alpha,
                               double(got.params.min_support), double(got.nusers),
                               double(got.nitems), double(got.nentries)}));
      TOVRAN_FreeModel(pieces);
    }
    TOVRAN_FreeModel(whole);
  }
}

TEST(ItemPieces, SampleInPiecesIsTheWholeModel) {
  ExpectPiecesMakeTheWholeModel(TOVRAN_SOURCE_DIR "/data/sample.txt");
}

TEST(ItemPieces, GeneratedSetInPiecesIsTheWholeModel) {
  ExpectPiecesMakeTheWholeModel(GeneratedData());
}

// The trials of the Alpha estimation, carried out on the re-split the
// library gives, count the hits the estimation's trace holds.
TEST(ItemPieces, ResplitGivesTheEstimationsTrials) {
  const Dataset ds = ReadDataset(GeneratedData().c_str());
  TOVRAN_Params params = TOVRAN_DefaultParams(TOVRAN_ITEM_CPROB);
  params.nnbr = 10;
  constexpr int32_t N = 10;
  TOVRAN_RestartRandom();
  double estimate = 0;
  TOVRAN_AlphaTrace trace;
  ASSERT_EQ(TOVRAN_EstimateAlpha(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(),
                                 &params, N, &estimate, &trace),
            0);

  TOVRAN_RestartRandom();
  std::vector<int32_t> rowid(size_t(ds.ntrain)), colid(size_t(ds.ntrain)), test(size_t(ds.nrows));
  const int32_t ntrain =
      TOVRAN_ResplitPairs(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(),
                          rowid.data(), colid.data(), test.data());
  ASSERT_GE(ntrain, 0) << TOVRAN_LastError();
  for (int32_t j = 0; j < trace.ntried; j++) {
    params.alpha = trace.alpha[j];
    Model *model = TOVRAN_Build(ds.nrows, ds.ncols, ntrain, rowid.data(), colid.data(), &params);
    ASSERT_NE(model, nullptr) << TOVRAN_LastError();
    int32_t hits = 0;
    for (int32_t f = 0, l = 0; f < ntrain; f = l) {
      while (l < ntrain && rowid[size_t(l)] == rowid[size_t(f)]) l++;
      int32_t rcmds[N];
      const int32_t m = TOVRAN_Recommend(model, l - f, colid.data() + f, N, rcmds);
      hits += std::count(rcmds, rcmds + std::max(m, 0), test[size_t(rowid[size_t(f)])]) > 0;
    }
    TOVRAN_FreeModel(model);
    EXPECT_EQ(hits, trace.hits[j]) << "alpha " << trace.alpha[j];
  }
  const int32_t outside[] = {5};
  EXPECT_EQ(TOVRAN_ResplitPairs(1, 3, 1, outside, outside, rowid.data(), colid.data(), test.data()),
            -1);
  EXPECT_EQ(TOVRAN_ResplitPairs(1, 3, 0, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_ResplitPairs: the arrays for the split should not be null.");
}

// Each fault gives the error value and names what is wrong.
TEST(ItemPieces, BadArgumentsAreReported) {
  const int32_t rowid[] = {0, 0, 1, 1}, colid[] = {0, 1, 1, 2};
  TOVRAN_Params params = TOVRAN_DefaultParams(TOVRAN_ITEM_COSINE);
  params.min_support = 1;
  int32_t counts[3] = {}, ind[6] = {};
  float val[6] = {};
  auto lists = [&](const TOVRAN_Params *p, int32_t first, int32_t last, int32_t *c) {
    return TOVRAN_BuildItemLists(2, 3, 4, rowid, colid, p, first, last, c, ind, val);
  };
  EXPECT_EQ(lists(&params, 0, 3, counts), 4);
  EXPECT_EQ(std::vector<int32_t>(counts, counts + 3), (std::vector<int32_t>{1, 2, 1}));
  EXPECT_EQ(lists(&params, 2, 4, counts), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_BuildItemLists: the items 2..3 do not lie inside 0..2.");
  EXPECT_EQ(lists(&params, 2, 1, counts), -1);
  EXPECT_EQ(lists(&params, 0, 1, nullptr), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_BuildItemLists: the list arrays should not be null.");
  EXPECT_EQ(lists(nullptr, 0, 1, counts), -1);
  TOVRAN_Params user = TOVRAN_DefaultParams(TOVRAN_USER_BASED);
  EXPECT_EQ(lists(&user, 0, 1, counts), -1);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_BuildItemLists: the kind should be 1 or 2 (an item model).");

  const int32_t good[] = {1, 2, 1}, too_many[] = {1, 3, 0};
  const int32_t neighbours[] = {1, 0, 2, 1}, outside[] = {1, 0, 3, 1};
  const float similarities[] = {1.0f, 0.6f, 0.8f, 1.0f};
  Model *model = TOVRAN_AssembleItemModel(2, 3, &params, good, neighbours, similarities);
  ASSERT_NE(model, nullptr) << TOVRAN_LastError();
  int32_t rcmds[2];
  const int32_t basket[] = {0};
  EXPECT_EQ(TOVRAN_Recommend(model, 1, basket, 2, rcmds), 1);
  EXPECT_EQ(rcmds[0], 1);
  TOVRAN_FreeModel(model);
  EXPECT_EQ(TOVRAN_AssembleItemModel(2, 3, &params, too_many, neighbours, similarities), nullptr);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_AssembleItemModel: item 1 has 3 neighbours, outside 0..2.");
  EXPECT_EQ(TOVRAN_AssembleItemModel(2, 3, &params, good, outside, similarities), nullptr);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_AssembleItemModel: neighbour 1 of item 1 lies outside 0..2.");
  EXPECT_EQ(TOVRAN_AssembleItemModel(2, 3, &user, good, neighbours, similarities), nullptr);
  // A NaN whose bits are an item's mark would make the queries answer one item several times.
  float nan_mark;
  const int32_t mark = -1;
  std::memcpy(&nan_mark, &mark, sizeof nan_mark);
  const float not_finite[] = {1.0f, 0.6f, nan_mark, 1.0f};
  EXPECT_EQ(TOVRAN_AssembleItemModel(2, 3, &params, good, neighbours, not_finite), nullptr);
  EXPECT_STREQ(TOVRAN_LastError(),
               "TOVRAN_AssembleItemModel: neighbour 1 of item 1 has a similarity that is not a "
               "finite number.");
}

}  // namespace

namespace {

TEST(ItemPieces, WalkAlphaStopsAtTheFirstFallAndReportsAFailedCount) {
  struct Counts {
    std::vector<int32_t> hits;
    std::vector<float> asked;
  };
  auto count = [](float alpha, void *context) {
    auto *c = static_cast<Counts *>(context);
    c->asked.push_back(alpha);
    return c->hits[c->asked.size() - 1];
  };
  Counts rising_then_falling{{5, 7, 7, 6, 9}, {}};
  double alpha = -1;
  TOVRAN_AlphaTrace trace;
  ASSERT_EQ(TOVRAN_WalkAlpha(count, &rising_then_falling, &alpha, &trace), 0);
  EXPECT_EQ(alpha, 2 * 0.1);
  EXPECT_EQ(trace.ntried, 4);
  EXPECT_EQ(rising_then_falling.asked, (std::vector<float>{0.0f, 0.1f, 0.2f, float(3 * 0.1)}));
  EXPECT_EQ(std::vector<int32_t>(trace.hits, trace.hits + 4), (std::vector<int32_t>{5, 7, 7, 6}));

  Counts never_falling{std::vector<int32_t>(TOVRAN_ALPHA_STEPS, 3), {}};
  ASSERT_EQ(TOVRAN_WalkAlpha(count, &never_falling, &alpha, nullptr), 0);
  EXPECT_EQ(alpha, TOVRAN_ALPHA_STEPS * 0.1);

  Counts failing{{4, -1, 9}, {}};
  EXPECT_EQ(TOVRAN_WalkAlpha(count, &failing, &alpha, &trace), -1);
  EXPECT_EQ(failing.asked.size(), 2u);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_WalkAlpha: the hits of alpha 0.1 were not counted.");
  EXPECT_EQ(TOVRAN_WalkAlpha(nullptr, nullptr, &alpha, &trace), -1);
}

}  // namespace
