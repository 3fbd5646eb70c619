#include "programs/mpi/query.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "programs/mpi/split.h"
#include "util/parallel.h"

namespace {
// Baskets handed to a query thread at a time.
constexpr int64_t kBasketChunk = 256;

// Counts and offsets of the ranks' blocks, for the v-collectives, in units of
// `scale` elements per basket.
void BlockLayout(const std::vector<int64_t> &bounds, int64_t scale, std::vector<int> *counts,
                 std::vector<int> *offsets) {
  const size_t parts = bounds.size() - 1;
  counts->resize(parts);
  offsets->resize(parts);
  for (size_t k = 0; k < parts; k++) {
    const int64_t count = (bounds[k + 1] - bounds[k]) * scale, offset = bounds[k] * scale;
    if (offset + count > INT32_MAX) throw std::length_error("more answers than one message holds");
    (*counts)[k] = int(count);
    (*offsets)[k] = int(offset);
  }
}
}  // namespace

std::vector<int64_t> QueryBounds(const Job &job, const QuerySet &set) {
  return SplitByWork(set.work, job.size);
}

void ItemQueryWork(QuerySet *set) {
  const size_t nbaskets = set->starts.size() - 1;
  set->work.resize(nbaskets);
  for (size_t b = 0; b < nbaskets; b++) set->work[b] = 1 + set->starts[b + 1] - set->starts[b];
}

void UserQueryWork(QuerySet *set, const std::vector<int64_t> &collen) {
  const size_t nbaskets = set->starts.size() - 1;
  set->work.resize(nbaskets);
  for (size_t b = 0; b < nbaskets; b++) {
    int64_t work = 1;
    for (int32_t j = set->starts[b]; j < set->starts[b + 1]; j++) work += collen[size_t(set->items[j])];
    set->work[b] = work;
  }
}

QueryOutcome QueryBlocks(const Job &job, Model *model, int32_t nitems, const QuerySet &set,
                         int32_t N, int32_t nthreads, bool keep_lists) {
  const std::vector<int64_t> bounds = QueryBounds(job, set);
  const int64_t first = bounds[size_t(job.rank)], mine = bounds[size_t(job.rank) + 1] - first;
  const int32_t threads = int32_t(std::max<int64_t>(1, std::min<int64_t>(nthreads, mine)));
  const size_t nbaskets = set.starts.size() - 1;

  // Everything that can fail happens before the first collective.
  QueryOutcome outcome;
  std::vector<uint8_t> positions;
  std::vector<std::vector<uint8_t>> seen;
  std::vector<int32_t> lists;
  std::vector<int> counts, offsets, list_counts, list_offsets;
  RunStep(job, kQueryStep, [&] {
    BlockLayout(bounds, 1, &counts, &offsets);
    if (keep_lists) BlockLayout(bounds, N, &list_counts, &list_offsets);
    positions.assign(size_t(mine), 0);
    seen.assign(size_t(threads), std::vector<uint8_t>(size_t(nitems), 0));
    lists.assign(keep_lists ? size_t(mine * N) : 0, -1);
    outcome.positions.resize(nbaskets);
    outcome.seen.resize(size_t(nitems));
    if (keep_lists && job.root()) outcome.lists.resize(nbaskets * size_t(N));

    std::vector<TOVRAN_Scratch *> scratch{nullptr};
    for (int32_t t = 1; t < threads; t++) scratch.push_back(TOVRAN_CreateScratch(model));
    std::vector<std::vector<int32_t>> answers(static_cast<size_t>(threads), std::vector<int32_t>(static_cast<size_t>(N)));
    ParallelChunks(threads, mine, kBasketChunk, [&](int32_t thread, int64_t begin, int64_t end) {
      int32_t *rcmds = answers[size_t(thread)].data();
      for (int64_t k = begin; k < end; k++) {
        const int64_t b = first + k;
        const int32_t f = set.starts[size_t(b)], n = set.starts[size_t(b) + 1] - f;
        const int32_t m =
            thread == 0 ? TOVRAN_Recommend(model, n, set.items + f, N, rcmds)
                        : TOVRAN_RecommendWith(model, scratch[size_t(thread)], n, set.items + f, N,
                                               rcmds);
        uint8_t *marks = seen[size_t(thread)].data();
        int32_t position = 0;
        for (int32_t t = 0; t < m; t++) {
          marks[rcmds[t]] = 1;
          if (rcmds[t] == set.tests[size_t(b)] && position == 0) position = t + 1;
        }
        positions[size_t(k)] = uint8_t(position);
        if (keep_lists) std::copy_n(rcmds, std::max(m, 0), lists.begin() + k * N);
      }
    });
    for (int32_t t = 1; t < threads; t++) TOVRAN_FreeScratch(scratch[size_t(t)]);
    for (int32_t t = 1; t < threads; t++)
      for (size_t c = 0; c < size_t(nitems); c++) seen[0][c] |= seen[size_t(t)][c];
    return Failure{};
  });

  Stats().bytes_sent += int64_t(positions.size()) + nitems + int64_t(lists.size()) * 4;
  MPI_Allgatherv(positions.data(), counts[size_t(job.rank)], MPI_UNSIGNED_CHAR,
                 outcome.positions.data(), counts.data(), offsets.data(), MPI_UNSIGNED_CHAR,
                 MPI_COMM_WORLD);
  MPI_Allreduce(seen[0].data(), outcome.seen.data(), nitems, MPI_UNSIGNED_CHAR, MPI_BOR,
                MPI_COMM_WORLD);
  if (keep_lists)
    MPI_Gatherv(lists.data(), list_counts[size_t(job.rank)], MPI_INT, outcome.lists.data(),
                list_counts.data(), list_offsets.data(), MPI_INT, 0, MPI_COMM_WORLD);
  return outcome;
}
