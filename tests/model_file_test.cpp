// Model files: a saved and reloaded model answers bit for bit as the built
// one for every kind (shipped sample; the shared data sets when present),
// and each damaged file of tests/bad_models gives its own message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/dataset.h"
#include "engine/tovran.h"
#include "tests/fixtures.h"
#include "tests/program_runner.h"

namespace {

// Every user's training basket, as offsets into the dataset's items.
std::vector<int64_t> BasketOffsets(const Dataset &ds) {
  return {ds.bstart.get(), ds.bstart.get() + ds.nbaskets + 1};
}

// Builds the model of kind on the dataset, saves, loads and saves it again;
// the two files must be equal and the models must give the same answers and
// scores for the first max_baskets users' baskets.
void ExpectRoundTrip(const Dataset &ds, int32_t kind, int32_t max_baskets) {
  TOVRAN_Params params = TOVRAN_DefaultParams(kind);
  params.alpha = kind == TOVRAN_ITEM_CPROB ? 0.3f : 0.0f;
  params.nthreads = 2;
  Model *built =
      TOVRAN_Build(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(), &params);
  ASSERT_NE(built, nullptr) << TOVRAN_LastError();
  // Named after the running test: ctest runs the round trips as parallel processes.
  const std::string stem =
      std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
      std::to_string(kind);
  const std::string first = TempPath(stem + "_1.tovran"), second = TempPath(stem + "_2.tovran");
  ASSERT_EQ(TOVRAN_SaveModel(built, first.c_str()), 0) << TOVRAN_LastError();
  Model *loaded = TOVRAN_LoadModel(first.c_str());
  ASSERT_NE(loaded, nullptr) << TOVRAN_LastError();
  ASSERT_EQ(TOVRAN_SaveModel(loaded, second.c_str()), 0) << TOVRAN_LastError();
  EXPECT_EQ(ReadFile(first), ReadFile(second));

  TOVRAN_ModelInfo a, b;
  ASSERT_EQ(TOVRAN_GetModelInfo(built, &a), 0);
  ASSERT_EQ(TOVRAN_GetModelInfo(loaded, &b), 0);
  EXPECT_EQ(std::vector<int64_t>({a.params.kind, a.params.nnbr, Bits(a.params.alpha),
                                  a.params.min_support, a.nusers, a.nitems, a.nentries}),
            std::vector<int64_t>({b.params.kind, b.params.nnbr, Bits(b.params.alpha),
                                  b.params.min_support, b.nusers, b.nitems, b.nentries}));
  EXPECT_EQ(b.params.kind, kind);
  EXPECT_EQ(b.nusers, ds.nrows);

  std::vector<int64_t> offsets = BasketOffsets(ds);
  const auto nbaskets = int32_t(std::min<size_t>(offsets.size() - 1, size_t(max_baskets)));
  constexpr int32_t N = 10;
  std::vector<int32_t> ids[2] = {std::vector<int32_t>(size_t(nbaskets) * N),
                                 std::vector<int32_t>(size_t(nbaskets) * N)};
  std::vector<float> scores[2] = {std::vector<float>(ids[0].size()),
                                  std::vector<float>(ids[0].size())};
  const Model *models[2] = {built, loaded};
  for (int m = 0; m < 2; m++)
    ASSERT_EQ(TOVRAN_RecommendBatch(models[m], nbaskets, offsets.data(), ds.colid.get(), N, 2,
                                    ids[m].data(), scores[m].data(), nullptr),
              0);
  EXPECT_EQ(ids[0], ids[1]) << "kind " << kind;
  EXPECT_EQ(Bits(scores[0]), Bits(scores[1])) << "kind " << kind;
  TOVRAN_FreeModel(built);
  TOVRAN_FreeModel(loaded);
}

TEST(ModelFile, RoundTripAnswersBitForBitOnTheSample) {
  const Dataset ds = ReadDataset(TOVRAN_SOURCE_DIR "/data/sample.txt");
  for (int32_t kind : {TOVRAN_ITEM_COSINE, TOVRAN_ITEM_CPROB, TOVRAN_USER_BASED})
    ExpectRoundTrip(ds, kind, ds.nrows);
}

TEST(ModelFile, RoundTripAnswersBitForBitOnTheSharedDataSets) {
  const std::string ml100k = SharedData("ml100k.txt"), retail = SharedData("retail.txt");
  if (ml100k.empty() || retail.empty()) GTEST_SKIP() << "shared data sets not present";
  const Dataset movies = ReadDataset(ml100k.c_str());
  for (int32_t kind : {TOVRAN_ITEM_COSINE, TOVRAN_ITEM_CPROB, TOVRAN_USER_BASED})
    ExpectRoundTrip(movies, kind, movies.nrows);
  // The user-based queries of every retail basket take minutes; a few
  // thousand cover the model's arrays as well.
  const Dataset baskets = ReadDataset(retail.c_str());
  ExpectRoundTrip(baskets, TOVRAN_ITEM_COSINE, baskets.nrows);
  ExpectRoundTrip(baskets, TOVRAN_ITEM_CPROB, baskets.nrows);
  ExpectRoundTrip(baskets, TOVRAN_USER_BASED, 3000);
}

TEST(ModelFile, EachDamagedFileGivesItsOwnMessage) {
  const std::string dir = TOVRAN_SOURCE_DIR "/tests/bad_models/";
  const std::pair<const char *, const char *> cases[] = {
      {"empty.tovran", "truncated: 0 bytes, fewer than the 52 of a header and checksum"},
      {"truncated.tovran", "truncated: 128 bytes where the header's counts need 192"},
      {"wrong_magic.tovran", "not a model file (wrong magic)"},
      {"newer_version.tovran", "format version 3 is newer than this library reads (2)"},
      {"checksum_mismatch.tovran",
       "checksum mismatch: the file says b3610595, its contents give bc390ff9"},
      {"inconsistent_header.tovran", "inconsistent header: kind 7 is not 0, 1, 2 or 3"},
      {"trailing_bytes.tovran", "4 bytes follow the model's end"},
      {"inconsistent_arrays.tovran", "inconsistent arrays: itemind[0] = 4 lies outside 0..3"},
      {"nan_similarities.tovran", "inconsistent arrays: itemval[0] is not a finite number"},
  };
  for (const auto &[file, reason] : cases) {
    const std::string path = dir + file;
    EXPECT_EQ(TOVRAN_LoadModel(path.c_str()), nullptr) << file;
    EXPECT_EQ(std::string(TOVRAN_LastError()), "Model file " + path + ": " + reason);
  }
  EXPECT_EQ(TOVRAN_LoadModel((dir + "absent.tovran").c_str()), nullptr);
  EXPECT_EQ(std::string(TOVRAN_LastError()),
            "Model file " + dir + "absent.tovran: cannot be opened: No such file or directory");
}

TEST(ModelFile, AFailedSaveLeavesTheEarlierFileAlone) {
  const std::string path = WriteTempFile("kept.tovran", "earlier");
  EXPECT_EQ(TOVRAN_SaveModel(nullptr, path.c_str()), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_SaveModel: the model and the path should not be null.");
  const int32_t rows[] = {0, 1, 2}, cols[] = {0, 0, 0};
  const TOVRAN_Params params = TOVRAN_DefaultParams(TOVRAN_ITEM_COSINE);
  Model *model = TOVRAN_Build(3, 1, 3, rows, cols, &params);
  const std::string folder = TempPath("no_such_folder/m.tovran");
  EXPECT_EQ(TOVRAN_SaveModel(model, folder.c_str()), -1);
  EXPECT_EQ(
      std::string(TOVRAN_LastError()).rfind("Model file " + folder + ": cannot be written: ", 0),
      0u)
      << TOVRAN_LastError();
  EXPECT_EQ(ReadFile(path), "earlier");
  TOVRAN_FreeModel(model);
}

}  // namespace
