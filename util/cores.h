#pragma once

#include <sched.h>

#include <algorithm>
#include <cstdint>
#include <thread>

// The processors this process may run on: its CPU affinity set (which
// honours taskset, cgroups' cpusets and batch schedulers' bindings), else
// what the library reports, and at least 1.
inline int32_t UsableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  return int32_t(std::max(1u, std::thread::hardware_concurrency()));
}
