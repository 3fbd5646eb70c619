// Model files: a saved and reloaded model answers bit for bit as the built
// one for every kind (shipped sample; the shared data sets when present),
// and each damaged file of tests/bad_models gives its own message.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/split.h"
#include "engine/model_file.h"
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
// With a weighting, each pair's value is 1 to 5 by its place; the answers
// are then filled from the popularity ranking.
void ExpectRoundTrip(const Dataset &ds, int32_t kind, int32_t max_baskets,
                     int32_t weighting = TOVRAN_WEIGHT_BINARY) {
  TOVRAN_Params params = TOVRAN_DefaultParams(kind);
  params.alpha = kind == TOVRAN_ITEM_CPROB ? 0.3f : 0.0f;
  params.nthreads = 2;
  params.weighting = weighting;
  std::vector<float> values;
  for (int32_t i = 0; i < ds.ntrain; i++) values.push_back(float(1 + i % 5));
  Model *built = TOVRAN_BuildWeighted(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(),
                                      values.data(), &params);
  ASSERT_NE(built, nullptr) << TOVRAN_LastError();
  // Named after the running test: ctest runs the round trips as parallel processes.
  const std::string stem =
      std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
      std::to_string(kind) + "_" + std::to_string(weighting);
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
                                  a.params.min_support, a.nusers, a.nitems, a.nentries,
                                  a.params.weighting, Bits(a.params.bm25_k1), a.npopular}),
            std::vector<int64_t>({b.params.kind, b.params.nnbr, Bits(b.params.alpha),
                                  b.params.min_support, b.nusers, b.nitems, b.nentries,
                                  b.params.weighting, Bits(b.params.bm25_k1), b.npopular}));
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
  const TOVRAN_QueryOptions fill{nullptr, 0, nullptr, 0, 0, weighting != TOVRAN_WEIGHT_BINARY};
  for (int m = 0; m < 2; m++)
    ASSERT_EQ(TOVRAN_RecommendFilteredBatch(models[m], nbaskets, offsets.data(), ds.colid.get(), N,
                                            2, &fill, ids[m].data(), scores[m].data(), nullptr),
              0);
  EXPECT_EQ(ids[0], ids[1]) << "kind " << kind;
  EXPECT_EQ(Bits(scores[0]), Bits(scores[1])) << "kind " << kind;
  TOVRAN_FreeModel(built);
  TOVRAN_FreeModel(loaded);
}

TEST(ModelFile, RoundTripAnswersBitForBitOnTheSample) {
  const Dataset ds = ReadDataset(TOVRAN_SOURCE_DIR "/data/sample.txt");
  for (int32_t kind = TOVRAN_POPULAR; kind <= TOVRAN_USER_BASED; kind++)
    for (int32_t weighting : {TOVRAN_WEIGHT_BINARY, TOVRAN_WEIGHT_BM25})
      ExpectRoundTrip(ds, kind, ds.nrows, weighting);
}

// Files of format version 1 (tests/models_v1, saved from data/sample.txt
// with every pair: alpha 0.5 for kind 2, the defaults otherwise) answer as
// the model built today, carry no popularity ranking, so fallback is
// refused, and save again as a file that still carries none.
TEST(ModelFile, VersionOneFilesAnswerAsBeforeAndRefuseFallback) {
  const PairList p = PairsOfText(ReadFile(TOVRAN_SOURCE_DIR "/data/sample.txt"));
  std::vector<int64_t> offsets = {0};
  std::vector<int32_t> items;
  for (int32_t u = 0; u < p.nrows; u++) {
    for (size_t k = 0; k < p.rows.size(); k++)
      if (p.rows[k] == u) items.push_back(p.cols[k]);
    offsets.push_back(int64_t(items.size()));
  }
  for (int32_t kind = TOVRAN_ITEM_COSINE; kind <= TOVRAN_USER_BASED; kind++) {
    SCOPED_TRACE(kind);
    const std::string path = std::string(TOVRAN_SOURCE_DIR "/tests/models_v1/sample_kind") +
                             std::to_string(kind) + ".tovran";
    Model *old = TOVRAN_LoadModel(path.c_str());
    ASSERT_NE(old, nullptr) << TOVRAN_LastError();
    TOVRAN_Params params = TOVRAN_DefaultParams(kind);
    params.alpha = kind == TOVRAN_ITEM_CPROB ? 0.5f : 0.0f;
    Model *fresh = p.Build(params);
    std::vector<int32_t> ids[2] = {std::vector<int32_t>(size_t(p.nrows) * 10),
                                   std::vector<int32_t>(size_t(p.nrows) * 10)};
    std::vector<float> scores[2] = {std::vector<float>(ids[0].size()),
                                    std::vector<float>(ids[0].size())};
    const Model *models[2] = {old, fresh};
    for (int m = 0; m < 2; m++)
      ASSERT_EQ(TOVRAN_RecommendBatch(models[m], p.nrows, offsets.data(), items.data(), 10, 1,
                                      ids[m].data(), scores[m].data(), nullptr),
                0);
    EXPECT_EQ(ids[0], ids[1]);
    EXPECT_EQ(Bits(scores[0]), Bits(scores[1]));
    TOVRAN_ModelInfo info;
    ASSERT_EQ(TOVRAN_GetModelInfo(old, &info), 0);
    EXPECT_EQ(info.npopular, -1);
    const TOVRAN_QueryOptions fallback{nullptr, 0, nullptr, 0, 0, 1};
    int32_t answer[10];
    EXPECT_EQ(TOVRAN_RecommendFiltered(old, 0, nullptr, 10, &fallback, answer, nullptr), -1);
    EXPECT_STREQ(TOVRAN_LastError(),
                 "TOVRAN_RecommendFiltered: fallback needs the popularity ranking, which this "
                 "model does not carry (it was read from a model file of format version 1; "
                 "build it again).");
    const std::string again = TempPath("v1_again_" + std::to_string(kind) + ".tovran");
    ASSERT_EQ(TOVRAN_SaveModel(old, again.c_str()), 0);
    Model *reloaded = TOVRAN_LoadModel(again.c_str());
    ASSERT_NE(reloaded, nullptr) << TOVRAN_LastError();
    ASSERT_EQ(TOVRAN_GetModelInfo(reloaded, &info), 0);
    EXPECT_EQ(info.npopular, -1);
    for (Model *model : {old, fresh, reloaded}) TOVRAN_FreeModel(model);
  }
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
    // The header's version is read by the same checks: the faults of its
    // first twelve bytes give the same message, the rest lie beyond them.
    const uint32_t version = TOVRAN_ModelFileVersion(path.c_str());
    const std::string name = file;
    if (name == "wrong_magic.tovran" || name == "newer_version.tovran" || name == "empty.tovran") {
      EXPECT_EQ(version, 0u) << file;
      EXPECT_EQ(std::string(TOVRAN_LastError()), "Model file " + path + ": " + reason);
    } else {
      EXPECT_EQ(version, kModelFormatVersion) << file << ": " << TOVRAN_LastError();
    }
  }
  EXPECT_EQ(TOVRAN_LoadModel((dir + "absent.tovran").c_str()), nullptr);
  EXPECT_EQ(std::string(TOVRAN_LastError()),
            "Model file " + dir + "absent.tovran: cannot be opened: No such file or directory");
  EXPECT_EQ(TOVRAN_ModelFileVersion((dir + "absent.tovran").c_str()), 0u);
  EXPECT_EQ(std::string(TOVRAN_LastError()),
            "Model file " + dir + "absent.tovran: cannot be opened: No such file or directory");
}

// The file of a small model of kind (built with weighting, pair values 1 to
// 12), with count of its values (from the first) replaced by value (all of
// them when count is -1), its checksum made right again.
std::string Reweighted(int32_t kind, int32_t count, float value,
                       int32_t weighting = TOVRAN_WEIGHT_BINARY) {
  const int32_t rows[] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};
  const int32_t cols[] = {0, 1, 2, 0, 1, 2, 0, 1, 3, 1, 2, 3};
  const float values[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  TOVRAN_Params params = TOVRAN_DefaultParams(kind);
  params.nnbr = 20;
  params.weighting = weighting;
  Model *model = TOVRAN_BuildWeighted(4, 4, 12, rows, cols, values, &params);
  const std::string path = TempPath("reweighted.tovran");
  EXPECT_EQ(TOVRAN_SaveModel(model, path.c_str()), 0);
  TOVRAN_FreeModel(model);
  std::string bytes = ReadFile(path);
  bytes.resize(bytes.size() - 4);
  // The values follow the header (64 bytes), 5 offsets and the entries' ids.
  int64_t nentries = 0;
  std::memcpy(&nentries, &bytes[40], 8);
  const size_t at = 64 + 4 * 5 + 4 * size_t(nentries);
  if (count < 0) count = int32_t(nentries);
  EXPECT_LE(at + 4 * size_t(count), bytes.size());
  for (int32_t k = 0; k < count; k++) std::memcpy(&bytes[at + 4 * size_t(k)], &value, 4);
  const uint32_t crc = uint32_t(
      crc32(0L, reinterpret_cast<const Bytef *>(bytes.data()), static_cast<uInt>(bytes.size())));
  for (int shift = 0; shift < 32; shift += 8) bytes += char((crc >> shift) & 0xff);
  return WriteTempFile("reweighted.tovran", bytes);
}

// Finite values the build never writes: lists and rows beyond unit length,
// whose scores could sum to infinity.
TEST(ModelFile, ValuesTheBuildCannotGiveAreRefused) {
  const std::string huge = Reweighted(TOVRAN_ITEM_COSINE, -1, 3e38f);
  EXPECT_EQ(TOVRAN_LoadModel(huge.c_str()), nullptr);
  EXPECT_EQ(std::string(TOVRAN_LastError()),
            "Model file " + huge +
                ": inconsistent arrays: the list of item 0 has squared length 1.80000001e+77, more "
                "than 1 within 1e-05");
  // User 0 has 3 pairs.
  const std::string row = Reweighted(TOVRAN_USER_BASED, 1, 2.0f);
  EXPECT_EQ(TOVRAN_LoadModel(row.c_str()), nullptr);
  EXPECT_EQ(std::string(TOVRAN_LastError()),
            "Model file " + row +
                ": inconsistent arrays: the row of user 0 has squared length 4.66666664, more than "
                "1 within 1e-05");
  // Binary weighting makes each row's entries exactly 1/sqrt(3) in single
  // precision: one unit off, or a row scaled down, is no build's.
  const float third = float(1.0 / std::sqrt(3.0));
  for (const float value : {std::nextafter(third, 0.0f), 0.25f}) {
    const std::string off = Reweighted(TOVRAN_USER_BASED, 1, value);
    EXPECT_EQ(TOVRAN_LoadModel(off.c_str()), nullptr);
    char want[200];
    std::snprintf(want, sizeof want,
                  ": inconsistent arrays: rowval[0] = %.9g, where binary weighting makes the row "
                  "of user 0 (3 entries) 0.577350259 throughout",
                  double(value));
    EXPECT_EQ(std::string(TOVRAN_LastError()), "Model file " + off + want);
  }
  // Other weightings: no negative value, rows of unit length.
  const std::string negative = Reweighted(TOVRAN_USER_BASED, 1, -0.25f, TOVRAN_WEIGHT_RAW);
  EXPECT_EQ(TOVRAN_LoadModel(negative.c_str()), nullptr);
  EXPECT_EQ(std::string(TOVRAN_LastError()),
            "Model file " + negative + ": inconsistent arrays: rowval[0] = -0.25 is negative");
  const std::string shrunk = Reweighted(TOVRAN_USER_BASED, -1, 0.25f, TOVRAN_WEIGHT_LOG);
  EXPECT_EQ(TOVRAN_LoadModel(shrunk.c_str()), nullptr);
  EXPECT_EQ(std::string(TOVRAN_LastError()),
            "Model file " + shrunk +
                ": inconsistent arrays: the row of user 0 has squared length 0.1875, less than 1 "
                "within 1e-05");
  // The values as built load, and so do zeroed entries.
  for (const float value : {third, 0.0f, -0.0f}) {
    Model *model = TOVRAN_LoadModel(Reweighted(TOVRAN_USER_BASED, 1, value).c_str());
    EXPECT_NE(model, nullptr) << TOVRAN_LastError();
    TOVRAN_FreeModel(model);
  }
  for (const int32_t weighting :
       {TOVRAN_WEIGHT_RAW, TOVRAN_WEIGHT_LOG, TOVRAN_WEIGHT_BM25, TOVRAN_WEIGHT_TFIDF}) {
    Model *model = TOVRAN_LoadModel(Reweighted(TOVRAN_USER_BASED, 0, 0.0f, weighting).c_str());
    EXPECT_NE(model, nullptr) << weighting << ": " << TOVRAN_LastError();
    TOVRAN_FreeModel(model);
  }
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
  // An empty path names no file: refused before a temporary is made.
  EXPECT_EQ(TOVRAN_SaveModel(model, ""), -1);
  EXPECT_STREQ(TOVRAN_LastError(), "TOVRAN_SaveModel: the path should not be empty.");
  TOVRAN_FreeModel(model);
}

// A pipe named as the path is written in place, never replaced: its reader
// gets the bytes a file would hold.
TEST(ModelFile, SaveToAPipeWritesInPlace) {
  const int32_t rows[] = {0, 0, 1, 1, 2}, cols[] = {0, 1, 1, 2, 2};
  Model *model = TOVRAN_BuildModel(3, 3, 5, rows, cols, TOVRAN_USER_BASED, 2, 0.0f);
  const std::string file = TempPath("saved.tovran"), pipe = TempPath("saved.pipe");
  ASSERT_EQ(TOVRAN_SaveModel(model, file.c_str()), 0) << TOVRAN_LastError();
  std::remove(pipe.c_str());
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  // The model fits the pipe's buffer, so the save needs no reader at work.
  const int fd = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(TOVRAN_SaveModel(model, pipe.c_str()), 0) << TOVRAN_LastError();
  TOVRAN_FreeModel(model);
  std::string read;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) read.append(buffer, size_t(n));
  close(fd);
  EXPECT_EQ(read, ReadFile(file));
  EXPECT_TRUE(std::filesystem::is_fifo(pipe));
}

}  // namespace
