#include "programs/mpi/build.h"

#include <climits>
#include <stdexcept>

#include "programs/mpi/split.h"

std::vector<int64_t> ItemListWork(int32_t nrows, int32_t ncols, int32_t npairs,
                                  const int32_t *rowid, const int32_t *colid) {
  std::vector<int64_t> rowlen(size_t(nrows), 0), work(size_t(ncols), 1);
  for (int32_t i = 0; i < npairs; i++) rowlen[size_t(rowid[i])]++;
  for (int32_t i = 0; i < npairs; i++) work[size_t(colid[i])] += rowlen[size_t(rowid[i])];
  return work;
}

Model *BuildItemModelOverJob(const Job &job, int32_t nrows, int32_t ncols, int32_t npairs,
                             const int32_t *rowid, const int32_t *colid,
                             const TOVRAN_Params &params) {
  const char *const what = kModelStep;
  const auto size = size_t(job.size);
  std::vector<int64_t> bounds;
  std::vector<int32_t> counts, ind;
  std::vector<float> val;
  int64_t entries = 0;
  RunStep(job, what, [&] {
    bounds = SplitByWork(ItemListWork(nrows, ncols, npairs, rowid, colid), job.size);
    const int64_t first = bounds[size_t(job.rank)], last = bounds[size_t(job.rank) + 1];
    const int64_t room = TOVRAN_ItemListRoom(params.nnbr, ncols);
    counts.resize(size_t(last - first));
    ind.resize(size_t((last - first) * room));
    val.resize(ind.size());
    entries = TOVRAN_BuildItemLists(nrows, ncols, npairs, rowid, colid, &params, int32_t(first),
                                    int32_t(last), counts.data(), ind.data(), val.data());
    if (entries < 0) throw Failure{TOVRAN_LastError()};
  });

  // Every rank's entries; the lists of all items fit 32-bit offsets, as the
  // model's do.
  std::vector<int64_t> rank_entries(size);
  MPI_Allgather(&entries, 1, MPI_INT64_T, rank_entries.data(), 1, MPI_INT64_T, MPI_COMM_WORLD);
  std::vector<int> item_counts(size), item_offsets(size), entry_counts(size), entry_offsets(size);
  std::vector<int32_t> all_counts, all_ind;
  std::vector<float> all_val;
  RunStep(job, what, [&] {
    int64_t total = 0;
    for (size_t k = 0; k < size; k++) {
      if (total + rank_entries[k] > INT32_MAX)
        throw std::length_error("more neighbours than one message holds");
      item_counts[k] = int(bounds[k + 1] - bounds[k]);
      item_offsets[k] = int(bounds[k]);
      entry_counts[k] = int(rank_entries[k]);
      entry_offsets[k] = int(total);
      total += rank_entries[k];
    }
    all_counts.resize(size_t(ncols));
    all_ind.resize(size_t(total));
    all_val.resize(size_t(total));
  });
  Stats().bytes_sent += 4 * int64_t(counts.size()) + 8 * entries;
  MPI_Allgatherv(counts.data(), item_counts[size_t(job.rank)], MPI_INT32_T, all_counts.data(),
                 item_counts.data(), item_offsets.data(), MPI_INT32_T, MPI_COMM_WORLD);
  MPI_Allgatherv(ind.data(), int(entries), MPI_INT32_T, all_ind.data(), entry_counts.data(),
                 entry_offsets.data(), MPI_INT32_T, MPI_COMM_WORLD);
  MPI_Allgatherv(val.data(), int(entries), MPI_FLOAT, all_val.data(), entry_counts.data(),
                 entry_offsets.data(), MPI_FLOAT, MPI_COMM_WORLD);
  // The piece's staging room is spent.
  std::vector<int32_t>().swap(ind);
  std::vector<float>().swap(val);

  Model *model = nullptr;
  RunStep(job, what, [&] {
    model = TOVRAN_AssembleItemModel(nrows, ncols, &params, all_counts.data(), all_ind.data(),
                                     all_val.data());
    if (model == nullptr) throw Failure{TOVRAN_LastError()};
  });
  return model;
}
