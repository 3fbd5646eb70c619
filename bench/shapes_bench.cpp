// tovran_shapes: the cost of each engine phase per unit of its work, on data
// sets of different shapes, single thread.
//
//   tovran_shapes [--reps R] [--budget UNITS] [--only users|items|build] NAME=FILE ...
//
// The work of each phase is counted from the data, so that figures compare
// across shapes:
// - user-based query: the column entries visited, i.e. the summed column
//   lengths of every queried basket's items;
// - item query (types 1 and 2): the neighbour-list entries gathered, i.e. the
//   summed list lengths of every queried basket's items;
// - item build (types 1 and 2, matrix included): the accumulate steps, i.e.
//   the sum over users of their row length squared, plus the candidates each
//   item hands to its selection.
// Baskets are the users' training items, as in the evaluation. Every phase is
// run R times (default 3) and the least thread CPU time is kept. User-based
// queries take every s-th user, s chosen so that one loop visits at most
// UNITS column entries (default 3e8); item queries take every user. --only
// runs one group of phases (for a profiler), the others print 0.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "driver/split.h"
#include "engine/model.h"
#include "engine/tovran.h"

namespace {

constexpr int32_t kTopN = TOVRAN_DEFAULT_TOP;
constexpr int32_t kItemNeighbours = TOVRAN_DEFAULT_ITEM_NNBR;
constexpr int32_t kUserNeighbours = TOVRAN_DEFAULT_USER_NNBR;
constexpr float kAlpha = 0.3f;

double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

// Least CPU time of reps calls of run().
template <class Run>
double MinSeconds(int reps, Run run) {
  double best = 1e300;
  for (int r = 0; r < reps; r++) {
    const double start = ThreadSeconds();
    run();
    const double spent = ThreadSeconds() - start;
    if (spent < best) best = spent;
  }
  return best;
}

struct Baskets {
  std::vector<int32_t> starts;  // into the training pairs, end marker last
  int32_t Count() const { return int32_t(starts.size()) - 1; }
  int32_t Size(int32_t b) const { return starts[size_t(b) + 1] - starts[size_t(b)]; }
};

Baskets FindBaskets(const Dataset &ds) {
  Baskets baskets;
  baskets.starts.assign(ds.basket_starts.get(), ds.basket_starts.get() + ds.nbaskets + 1);
  return baskets;
}

Model *Build(const Dataset &ds, int32_t type) {
  return TOVRAN_BuildModel(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(), type,
                           type == TOVRAN_USER_BASED ? kUserNeighbours : kItemNeighbours, kAlpha);
}

// Summed segment lengths (ptr) of the items of every stride-th basket.
int64_t BasketWork(const Dataset &ds, const Baskets &baskets, int32_t stride, const int32_t *ptr) {
  int64_t work = 0;
  for (int32_t b = 0; b < baskets.Count(); b += stride)
    for (int32_t j = baskets.starts[size_t(b)]; j < baskets.starts[size_t(b) + 1]; j++)
      work += ptr[ds.colid[j] + 1] - ptr[ds.colid[j]];
  return work;
}

// Seconds of one loop asking every stride-th basket (least of reps loops).
double QuerySeconds(const Dataset &ds, const Baskets &baskets, int32_t stride, Model *model,
                    int reps) {
  int32_t rcmds[kTopN];
  return MinSeconds(reps, [&] {
    for (int32_t b = 0; b < baskets.Count(); b += stride)
      TOVRAN_Recommend(model, baskets.Size(b), ds.colid.get() + baskets.starts[size_t(b)], kTopN,
                       rcmds);
  });
}

// The item builders' accumulate steps: sum over users of their row length
// squared, plus for each item the candidates it gathers (items held by at
// least kMinItemFrequency users, other than the item itself).
int64_t BuildWork(const Dataset &ds) {
  std::vector<int32_t> freq(size_t(ds.ncols), 0), rowlen(size_t(ds.nrows), 0);
  for (int32_t i = 0; i < ds.ntrain; i++) {
    freq[size_t(ds.colid[i])]++;
    rowlen[size_t(ds.rowid[i])]++;
  }
  int64_t work = 0;
  for (int32_t len : rowlen) work += int64_t{len} * len;
  // Users of each item, and each user's items, to count distinct candidates.
  std::vector<int32_t> colptr(size_t(ds.ncols) + 1, 0), rowptr(size_t(ds.nrows) + 1, 0);
  for (int32_t c = 0; c < ds.ncols; c++)
    colptr[size_t(c) + 1] = colptr[size_t(c)] + freq[size_t(c)];
  for (int32_t r = 0; r < ds.nrows; r++)
    rowptr[size_t(r) + 1] = rowptr[size_t(r)] + rowlen[size_t(r)];
  std::vector<int32_t> colind(size_t(ds.ntrain)), rowind(size_t(ds.ntrain));
  std::vector<int32_t> cfill(colptr.begin(), colptr.end() - 1);
  std::vector<int32_t> rfill(rowptr.begin(), rowptr.end() - 1);
  for (int32_t i = 0; i < ds.ntrain; i++) {
    colind[size_t(cfill[size_t(ds.colid[i])]++)] = ds.rowid[i];
    rowind[size_t(rfill[size_t(ds.rowid[i])]++)] = ds.colid[i];
  }
  std::vector<int32_t> seen(size_t(ds.ncols), -1);
  for (int32_t i = 0; i < ds.ncols; i++) {
    for (int32_t j = colptr[size_t(i)]; j < colptr[size_t(i) + 1]; j++) {
      const int32_t u = colind[size_t(j)];
      for (int32_t l = rowptr[size_t(u)]; l < rowptr[size_t(u) + 1]; l++) {
        const int32_t c = rowind[size_t(l)];
        if (c == i || seen[size_t(c)] == i || freq[size_t(c)] < kMinItemFrequency) continue;
        seen[size_t(c)] = i;
        work++;
      }
    }
  }
  return work;
}

struct ShapeFigures {
  double user_ns = 0, user_rate = 0;
  double item_ns[2] = {0, 0}, item_rate[2] = {0, 0};
  double build_ns[2] = {0, 0}, build_s[2] = {0, 0};
};

void Measure(const char *name, const char *path, int reps, int64_t budget,
             const std::string &only) {
  const Dataset ds = ReadDataset(path);
  const Baskets baskets = FindBaskets(ds);
  const int32_t nbaskets = baskets.Count();
  std::fprintf(stderr, "%s: %d users, %d items, %d training pairs\n", name, ds.nrows, ds.ncols,
               ds.ntrain);
  ShapeFigures fig;

  const int64_t build_work = only.empty() || only == "build" ? BuildWork(ds) : 0;
  for (int32_t type = TOVRAN_ITEM_COSINE; type <= TOVRAN_ITEM_CPROB; type++) {
    const int k = type - 1;
    if (build_work > 0) {
      fig.build_s[k] = MinSeconds(reps, [&] { TOVRAN_FreeModel(Build(ds, type)); });
      fig.build_ns[k] = 1e9 * fig.build_s[k] / double(build_work);
    }
    if (!only.empty() && only != "items") continue;
    Model *model = Build(ds, type);
    const int64_t work = BasketWork(ds, baskets, 1, model->lists.itemptr);
    const double seconds = QuerySeconds(ds, baskets, 1, model, reps);
    fig.item_ns[k] = 1e9 * seconds / double(work);
    fig.item_rate[k] = nbaskets / seconds;
    TOVRAN_FreeModel(model);
  }

  if (only.empty() || only == "users") {
    Model *model = Build(ds, TOVRAN_USER_BASED);
    const int64_t all = BasketWork(ds, baskets, 1, model->users.colptr);
    const auto stride = int32_t(all > budget ? (all + budget - 1) / budget : 1);
    const int64_t work = BasketWork(ds, baskets, stride, model->users.colptr);
    const double seconds = QuerySeconds(ds, baskets, stride, model, reps);
    fig.user_ns = 1e9 * seconds / double(work);
    fig.user_rate = ((nbaskets + stride - 1) / stride) / seconds;
    TOVRAN_FreeModel(model);
  }

  std::printf(
      "| %s | %d | %d | %.1f | %.2f | %.0f | %.2f | %.2f | %.0fk / %.0fk | %.2f | %.2f "
      "| %.0f / %.0f |\n",
      name, ds.nrows, ds.ncols, double(ds.ntrain) / ds.nrows, fig.user_ns, fig.user_rate,
      fig.item_ns[0], fig.item_ns[1], fig.item_rate[0] / 1e3, fig.item_rate[1] / 1e3,
      fig.build_ns[0], fig.build_ns[1], 1e3 * fig.build_s[0], 1e3 * fig.build_s[1]);
  std::fflush(stdout);
}

[[noreturn]] void Usage(const char *program) {
  std::fprintf(stderr,
               "Usage: %s [--reps R] [--budget UNITS] [--only users|items|build] NAME=FILE ...\n",
               program);
  std::exit(1);
}

}  // namespace

int main(int argc, char **argv) {
  int reps = 3;
  int64_t budget = 300000000;
  std::string only;
  std::vector<std::string> shapes;
  for (int a = 1; a < argc; a++) {
    if (std::strcmp(argv[a], "--reps") == 0 && a + 1 < argc) {
      reps = std::atoi(argv[++a]);
    } else if (std::strcmp(argv[a], "--budget") == 0 && a + 1 < argc) {
      budget = std::atoll(argv[++a]);
    } else if (std::strcmp(argv[a], "--only") == 0 && a + 1 < argc) {
      only = argv[++a];
    } else if (std::strchr(argv[a], '=') != nullptr) {
      shapes.emplace_back(argv[a]);
    } else {
      Usage(argv[0]);
    }
  }
  if (shapes.empty() || reps < 1 || budget < 1 ||
      !(only.empty() || only == "users" || only == "items" || only == "build"))
    Usage(argv[0]);
  std::printf(
      "| shape | users | items | pairs/user | user-based ns/entry | users/s "
      "| type 1 ns/entry | type 2 ns/entry | type 1 / 2 users/s "
      "| type 1 build ns/step | type 2 build ns/step | build ms (1 / 2) |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const std::string &shape : shapes) {
    const size_t eq = shape.find('=');
    Measure(shape.substr(0, eq).c_str(), shape.substr(eq + 1).c_str(), reps, budget, only);
  }
  return 0;
}
