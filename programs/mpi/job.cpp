#include "programs/mpi/job.h"

#include <algorithm>
#include <climits>
#include <ctime>

double ProcessSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

RankStats &Stats() {
  static RankStats stats;
  return stats;
}

void AgreeOnFailure(const Job &job, const std::string &local) {
  const int mine = local.empty() ? job.size : job.rank;
  int first = job.size;
  MPI_Allreduce(&mine, &first, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  if (first == job.size) return;
  if (first == job.rank) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", local.c_str());
    std::fflush(stderr);
  }
  throw JobFailed{};
}

void BroadcastBytes(const Job &job, void *data, int64_t count, int root) {
  if (job.size == 1) return;
  constexpr int64_t kPiece = int64_t{1} << 30;
  if (job.rank == root) Stats().bytes_sent += count;
  auto *bytes = static_cast<char *>(data);
  for (int64_t done = 0; done < count; done += kPiece) {
    const int piece = int(std::min(kPiece, count - done));
    MPI_Bcast(bytes + done, piece, MPI_BYTE, root, MPI_COMM_WORLD);
  }
}
