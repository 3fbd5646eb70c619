#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

class ModelSlot;

// Request counts and latencies, counted without locks, written in the
// Prometheus text format for GET /metrics.
class Metrics {
 public:
  // One answered request: its endpoint (the path; others count as "other"),
  // its status and the microseconds from its arrival to its answer's
  // departure.
  void Count(std::string_view path, int status, int64_t micros);

  // The nanoseconds one endpoint's handler took (reading the request's
  // fields, the queries, writing the answer), without the HTTP around it.
  void CountHandler(int64_t nanos) {
    handler_nanos_.fetch_add(nanos, std::memory_order_relaxed);
    handler_count_.fetch_add(1, std::memory_order_relaxed);
  }

  // The text of GET /metrics, with the reloads of slot.
  std::string Text(const ModelSlot &slot) const;

  static constexpr std::array<const char *, 7> kEndpoints = {
      "/recommend", "/similar", "/health", "/info", "/metrics", "/reload", "other"};
  // Upper bounds of the latency buckets in microseconds; the last is +Inf.
  static constexpr std::array<int64_t, 14> kBucketMicros = {
      25, 50, 100, 250, 500, 1000, 2500, 5000, 10000, 25000, 100000, 250000, 1000000, INT64_MAX};

 private:
  static constexpr int kStatuses = 600;
  std::array<std::array<std::atomic<int64_t>, kStatuses>, kEndpoints.size()> requests_{};
  std::array<std::atomic<int64_t>, kBucketMicros.size()> buckets_{};
  std::atomic<int64_t> total_micros_{0}, count_{0};
  std::atomic<int64_t> handler_nanos_{0}, handler_count_{0};
};
