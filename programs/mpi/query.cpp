#include "programs/mpi/query.h"

#include <climits>
#include <stdexcept>

#include "programs/mpi/split.h"

namespace {

// Counts and offsets of the ranks' blocks, for the v-collectives: the
// entries of users [bounds[k], bounds[k+1]) when user u's entries are
// [start(u), start(u+1)).
template <class Start>
void BlockLayout(const std::vector<int64_t> &bounds, Start start, std::vector<int> *counts,
                 std::vector<int> *offsets) {
  const size_t parts = bounds.size() - 1;
  counts->resize(parts);
  offsets->resize(parts);
  for (size_t k = 0; k < parts; k++) {
    const int64_t offset = start(bounds[k]), count = start(bounds[k + 1]) - offset;
    if (offset + count > INT32_MAX) throw std::length_error("more answers than one message holds");
    (*counts)[k] = int(count);
    (*offsets)[k] = int(offset);
  }
}

}  // namespace

std::vector<int64_t> QueryWork(const EvalData &data, int32_t kind) {
  std::vector<int64_t> work(size_t(data.baskets()));
  for (size_t b = 0; b < work.size(); b++) {
    const int64_t f = data.offsets[b], l = data.offsets[b + 1];
    int64_t cost = 1 + l - f;
    if (kind == TOVRAN_USER_BASED) {
      cost = 1;
      for (int64_t j = f; j < l; j++) cost += data.frequency[size_t(data.items[j])];
    }
    work[b] = cost;
  }
  return work;
}

QueryOutcomes QueryBlocks(const Job &job, Lister &lister, const EvalData &data,
                          const RunSetup &setup, int32_t nthreads, bool keep_lists,
                          Progress *progress) {
  const int32_t N = setup.top, nbaskets = data.baskets(), nitems = data.ds.ncols;
  // Everything that can fail happens before the first collective.
  QueryOutcomes mine, all;
  std::vector<int> counts, offsets, list_counts, list_offsets;
  RunStep(job, kQueryStep, [&] {
    const std::vector<int64_t> bounds = SplitByWork(QueryWork(data, setup.kind), job.size);
    BlockLayout(
        bounds, [&](int64_t k) { return data.held[size_t(k)]; }, &counts, &offsets);
    if (keep_lists)
      BlockLayout(
          bounds, [&](int64_t k) { return k * N; }, &list_counts, &list_offsets);
    const auto first = int32_t(bounds[size_t(job.rank)]),
               last = int32_t(bounds[size_t(job.rank) + 1]);
    mine = QueryUsers(lister, data, first, last, N, nthreads, keep_lists, progress);
    all.last = nbaskets;
    all.ranks.resize(data.held_items.size());
    all.recommended.resize(size_t(nitems));
    if (keep_lists && job.root()) all.lists.resize(size_t(nbaskets) * size_t(N));
  });
  // The other ranks' baskets are done too once their answers are here.
  if (progress != nullptr) progress->Add(nbaskets - int64_t(mine.last - mine.first));

  Stats().bytes_sent += 4 * int64_t(mine.ranks.size()) + nitems + 4 * int64_t(mine.lists.size());
  MPI_Allgatherv(mine.ranks.data(), counts[size_t(job.rank)], MPI_INT, all.ranks.data(),
                 counts.data(), offsets.data(), MPI_INT, MPI_COMM_WORLD);
  MPI_Allreduce(mine.recommended.data(), all.recommended.data(), nitems, MPI_UNSIGNED_CHAR, MPI_BOR,
                MPI_COMM_WORLD);
  if (keep_lists)
    MPI_Gatherv(mine.lists.data(), list_counts[size_t(job.rank)], MPI_INT, all.lists.data(),
                list_counts.data(), list_offsets.data(), MPI_INT, 0, MPI_COMM_WORLD);
  return all;
}
