// Thread counts must not change any answer: models built
// on several threads, queries from several threads, and the whole report.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <random>
#include <thread>
#include <vector>

#include "driver/split.h"
#include "engine/model.h"
#include "tests/fixtures.h"
#include "tests/program_runner.h"

namespace {

struct Lists {
  std::vector<int32_t> count;  // per basket, -1 for an invalid one
  std::vector<int32_t> items;  // basket b's answer at b * kTop
};
constexpr int32_t kTop = 10;

// Every basket asked on nthreads threads, each with its own scratch.
Lists AskAll(Model *model, const Dataset &ds, const std::vector<int32_t> &starts,
             int32_t nthreads) {
  const auto nbaskets = int32_t(starts.size()) - 1;
  Lists lists{std::vector<int32_t>(nbaskets), std::vector<int32_t>(int64_t{nbaskets} * kTop, -1)};
  std::vector<std::thread> threads;
  for (int32_t t = 0; t < nthreads; t++) {
    threads.emplace_back([&, t] {
      TOVRAN_Scratch *scratch = TOVRAN_CreateScratch(model);
      for (int32_t b = t; b < nbaskets; b += nthreads)
        lists.count[b] = TOVRAN_RecommendWith(model, scratch, starts[b + 1] - starts[b],
                                              ds.colid.get() + starts[b], kTop,
                                              lists.items.data() + int64_t{b} * kTop);
      TOVRAN_FreeScratch(scratch);
    });
  }
  for (std::thread &thread : threads) thread.join();
  return lists;
}

void ExpectSameModelsAndLists(const std::string &path) {
  const Dataset ds = ReadDataset(path.c_str());
  const std::vector<int32_t> starts = Ints(ds.bstart, ds.nbaskets + 1);

  for (int32_t type : {TOVRAN_ITEM_COSINE, TOVRAN_ITEM_CPROB, TOVRAN_USER_BASED}) {
    const int32_t nnbr = type == TOVRAN_USER_BASED ? 50 : 20;
    Model *one = TOVRAN_BuildModel(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(),
                                   type, nnbr, 0.3f);
    const Lists want = AskAll(one, ds, starts, 1);
    for (int32_t nthreads : {2, 3, 8}) {
      Model *many = TOVRAN_BuildModelThreads(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(),
                                             ds.colid.get(), type, nnbr, 0.3f, nthreads);
      if (type != TOVRAN_USER_BASED) {
        const int32_t nlist = one->itemptr[one->nitems];
        ASSERT_EQ(std::vector<int32_t>(one->itemptr, one->itemptr + one->nitems + 1),
                  std::vector<int32_t>(many->itemptr, many->itemptr + many->nitems + 1));
        ASSERT_EQ(std::vector<int32_t>(one->itemind, one->itemind + nlist),
                  std::vector<int32_t>(many->itemind, many->itemind + nlist));
        ASSERT_EQ(Bits(one->itemval, size_t(nlist)), Bits(many->itemval, size_t(nlist)));
      }
      const Lists got = AskAll(many, ds, starts, nthreads);
      EXPECT_EQ(got.count, want.count) << "type " << type << ", " << nthreads << " threads";
      EXPECT_EQ(got.items, want.items) << "type " << type << ", " << nthreads << " threads";
      TOVRAN_FreeModel(many);
    }
    TOVRAN_FreeModel(one);
  }
}

TEST(Threads, SameModelsAndListsForEveryThreadCount) { ExpectSameModelsAndLists(GeneratedData()); }

TEST(Threads, SameModelsAndListsForEveryThreadCountOnMovieLens100k) {
  const std::string path = SharedData("ml100k.txt");
  if (path.empty()) GTEST_SKIP() << "shared data sets not present";
  ExpectSameModelsAndLists(path);
}

// expected: the report known to be right, timings masked.
void ExpectSameReport(const std::string &path, const std::string &expected) {
  for (const char *nthreads : {"1", "2", "3", "8"}) {
    const ProgramOutput run = RunTovran({"--threads", nthreads, path});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(MaskTimings(run.out), expected) << nthreads << " threads";
  }
}

TEST(Threads, SameReportForEveryThreadCount) {
  ExpectSameReport(TOVRAN_SOURCE_DIR "/data/sample.txt",
                   MaskTimings(ReadFile(TOVRAN_SOURCE_DIR "/data/sample.expected")));
  const ProgramOutput one = RunTovran({GeneratedData()});
  ASSERT_EQ(one.status, 0) << one.err;
  ExpectSameReport(GeneratedData(), MaskTimings(one.out));
}

TEST(Threads, SameReportForEveryThreadCountOnMovieLens100k) {
  const std::string path = SharedData("ml100k.txt");
  if (path.empty()) GTEST_SKIP() << "shared data sets not present";
  ExpectSameReport(path, MaskTimings(ReadFile(SharedData("ml100k.expected"))));
}

}  // namespace

// A batch marks an item model's filter once per thread: every answer, on
// one thread or two, kept basket or not, equals the single query's, on
// models that keep sums in their marks (the sample) and slots (over 32,768
// items).
TEST(Threads, FilteredBatchesAnswerAsSingleQueries) {
  PairList wide;
  wide.nrows = 3000;
  wide.ncols = 40000;
  std::mt19937 rng(5);
  for (int32_t u = 0; u < wide.nrows; u++)
    for (int k = 0; k < 12; k++) wide.Add(u, {int32_t(k % 3 == 0 ? rng() % 40000 : rng() % 400)});
  const PairList sample = PairsOfText(ReadFile(TOVRAN_SOURCE_DIR "/data/sample.txt"));
  const PairList *sets[] = {&sample, &wide};
  for (const PairList *p : sets) {
    std::vector<int64_t> offsets = {0};
    for (size_t k = 1; k <= p->rows.size(); k++)
      if (k == p->rows.size() || p->rows[k] != p->rows[k - 1]) offsets.push_back(int64_t(k));
    const auto nbaskets = int32_t(offsets.size()) - 1;
    // Popular items and items of the first baskets.
    std::vector<int32_t> filter = {0, 1, 2, 3, 5, 8, 13, 21, 34, 55};
    for (size_t k = 0; k < 20; k += 3) filter.push_back(p->cols[k]);
    for (int32_t kind : {TOVRAN_ITEM_COSINE, TOVRAN_ITEM_CPROB}) {
      TOVRAN_Params params = TOVRAN_DefaultParams(kind);
      params.alpha = 0.5f;
      Model *model = TOVRAN_Build(p->nrows, p->ncols, int32_t(p->rows.size()), p->rows.data(),
                                  p->cols.data(), &params);
      ASSERT_NE(model, nullptr) << TOVRAN_LastError();
      for (int32_t keep : {0, 1}) {
        const TOVRAN_QueryOptions o{filter.data(), int32_t(filter.size()), nullptr, 0, keep, 0};
        std::vector<int32_t> want(size_t(nbaskets) * kTop, -1);
        std::vector<float> want_scores(want.size(), 0.0f);
        for (int32_t b = 0; b < nbaskets; b++)
          ASSERT_GE(TOVRAN_RecommendFiltered(model, int32_t(offsets[b + 1] - offsets[b]),
                                             p->cols.data() + offsets[b], kTop, &o,
                                             want.data() + b * kTop, want_scores.data() + b * kTop),
                    0);
        for (int32_t nthreads : {1, 2}) {
          std::vector<int32_t> got(want.size());
          std::vector<float> scores(want.size());
          ASSERT_EQ(
              TOVRAN_RecommendFilteredBatch(model, nbaskets, offsets.data(), p->cols.data(), kTop,
                                            nthreads, &o, got.data(), scores.data(), nullptr),
              0);
          EXPECT_EQ(got, want) << "kind " << kind << " keep " << keep << " threads " << nthreads;
          EXPECT_EQ(Bits(scores), Bits(want_scores));
        }
      }
      TOVRAN_FreeModel(model);
    }
  }
}

namespace {

using ::testing::ExitedWithCode;

// Every basket asked in turn on the calling thread.
Lists AskInTurn(Model *model, const Dataset &ds, const std::vector<int32_t> &starts) {
  const auto nbaskets = int32_t(starts.size()) - 1;
  Lists lists{std::vector<int32_t>(nbaskets), std::vector<int32_t>(int64_t{nbaskets} * kTop, -1)};
  for (int32_t b = 0; b < nbaskets; b++)
    lists.count[b] = TOVRAN_Recommend(model, starts[b + 1] - starts[b], ds.colid.get() + starts[b],
                                      kTop, lists.items.data() + int64_t{b} * kTop);
  return lists;
}

// The estimate and the lists of models built with nthreads threads.
struct Answers {
  double alpha;
  Lists lists[2];
};
Answers AnswersWith(const Dataset &ds, const std::vector<int32_t> &starts, int32_t nthreads) {
  Answers answers;
  TOVRAN_RestartRandom();
  answers.alpha = TOVRAN_EstimateAlphaInitThreads(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(),
                                                  ds.colid.get(), 20, kTop, nthreads);
  for (int32_t type : {TOVRAN_ITEM_COSINE, TOVRAN_ITEM_CPROB}) {
    Model *model = TOVRAN_BuildModelThreads(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(),
                                            ds.colid.get(), type, 20, 0.5f, nthreads);
    answers.lists[type - 1] = AskInTurn(model, ds, starts);
    TOVRAN_FreeModel(model);
  }
  return answers;
}

// In a process that may start no thread at all (one process allowed for its
// user; root drops to an ordinary user first, as root has no such limit),
// the entries that take a thread count answer as on one thread.
TEST(ThreadsDeathTest, EntriesCarryOnWhenNoThreadCanStart) {
  const Dataset ds = ReadDataset(TOVRAN_SOURCE_DIR "/data/sample.txt");
  const std::vector<int32_t> starts = Ints(ds.bstart, ds.nbaskets + 1);
  const Answers want = AnswersWith(ds, starts, 1);
  auto same_without_threads = [&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
    const rlimit one{1, 1};
    if (setrlimit(RLIMIT_NPROC, &one) != 0) return false;
    const Answers got = AnswersWith(ds, starts, 8);
    for (int k = 0; k < 2; k++)
      if (got.lists[k].count != want.lists[k].count || got.lists[k].items != want.lists[k].items)
        return false;
    return got.alpha == want.alpha;
  };
  // _exit: a leak check at exit would need a thread of its own.
  EXPECT_EXIT(_exit(same_without_threads() ? 0 : 3), ExitedWithCode(0), "");
}

}  // namespace
