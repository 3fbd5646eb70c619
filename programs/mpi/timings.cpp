#include "programs/mpi/timings.h"

#include <algorithm>
#include <cinttypes>
#include <vector>

void PrintTimings(const Job &job, double load, double wall) {
  const RankStats &mine = Stats();
  constexpr int kFigures = 5;
  const double own[kFigures] = {mine.busy_seconds, mine.query_seconds, mine.build_seconds, wall,
                                double(mine.bytes_sent)};
  std::vector<double> all(size_t(job.size) * kFigures);
  MPI_Gather(own, kFigures, MPI_DOUBLE, all.data(), kFigures, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  if (!job.root()) return;
  std::fprintf(stderr, "ranks %d, load %.3f s, wall %.3f s\n", job.size, load, wall);
  std::fprintf(stderr,
               "rank  busy_cpu_s  query_cpu_s  build_cpu_s  wall_minus_busy_s  bytes_sent\n");
  double busy_sum = 0, busy_most = 0, query_sum = 0, query_most = 0, build_sum = 0, build_most = 0;
  for (int r = 0; r < job.size; r++) {
    const double *f = &all[size_t(r) * kFigures];
    std::fprintf(stderr, "%4d %11.3f %12.3f %12.3f %18.3f %11.0f\n", r, f[0], f[1], f[2],
                 f[3] - f[0], f[4]);
    busy_sum += f[0];
    busy_most = std::max(busy_most, f[0]);
    query_sum += f[1];
    query_most = std::max(query_most, f[1]);
    build_sum += f[2];
    build_most = std::max(build_most, f[2]);
  }
  // Largest over mean; 1 when nothing was measured.
  auto balance = [&](double most, double sum) { return sum > 0 ? most / (sum / job.size) : 1.0; };
  std::fprintf(stderr, "balance (largest / mean): busy %.3f, queries %.3f, builds %.3f\n",
               balance(busy_most, busy_sum), balance(query_most, query_sum),
               balance(build_most, build_sum));
}
