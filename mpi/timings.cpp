#include "mpi/timings.h"

#include <algorithm>
#include <cinttypes>
#include <vector>

void PrintTimings(const Job &job, double load, double wall) {
  const RankStats &mine = Stats();
  const double own[3] = {mine.busy_seconds, wall, double(mine.bytes_sent)};
  std::vector<double> all(size_t(job.size) * 3);
  MPI_Gather(own, 3, MPI_DOUBLE, all.data(), 3, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  if (!job.root()) return;
  std::fprintf(stderr, "ranks %d, load %.3f s, wall %.3f s\n", job.size, load, wall);
  std::fprintf(stderr, "rank  busy_s  outside_s  bytes_sent\n");
  double sum = 0, most = 0;
  for (int r = 0; r < job.size; r++) {
    const double *f = &all[size_t(r) * 3];
    std::fprintf(stderr, "%4d %7.3f %10.3f %11.0f\n", r, f[0], f[1] - f[0], f[2]);
    sum += f[0];
    most = std::max(most, f[0]);
  }
  std::fprintf(stderr, "balance (largest busy / mean) %.3f\n", sum > 0 ? most / (sum / job.size) : 1.0);
}
