#include "programs/serve/metrics.h"

#include <cinttypes>
#include <cstdio>

#include "programs/serve/model_slot.h"

namespace {

void Line(std::string *out, const char *format, auto... values) {
  char line[256];
  std::snprintf(line, sizeof line, format, values...);
  *out += line;
}

}  // namespace

void Metrics::Count(std::string_view path, int status, int64_t micros) {
  size_t endpoint = kEndpoints.size() - 1;
  for (size_t e = 0; e + 1 < kEndpoints.size(); e++)
    if (path == kEndpoints[e]) endpoint = e;
  if (status < 0 || status >= kStatuses) status = 0;
  requests_[endpoint][size_t(status)].fetch_add(1, std::memory_order_relaxed);
  size_t bucket = 0;
  while (micros > kBucketMicros[bucket]) bucket++;
  buckets_[bucket].fetch_add(1, std::memory_order_relaxed);
  total_micros_.fetch_add(micros, std::memory_order_relaxed);
  count_.fetch_add(1, std::memory_order_relaxed);
}

std::string Metrics::Text(const ModelSlot &slot) const {
  std::string out;
  out += "# HELP tovran_requests_total Requests answered, by endpoint and status.\n";
  out += "# TYPE tovran_requests_total counter\n";
  int64_t errors = 0;
  for (size_t e = 0; e < kEndpoints.size(); e++)
    for (int status = 0; status < kStatuses; status++) {
      const int64_t count = requests_[e][size_t(status)].load(std::memory_order_relaxed);
      if (count == 0) continue;
      if (status >= 400) errors += count;
      Line(&out, "tovran_requests_total{endpoint=\"%s\",status=\"%d\"} %" PRId64 "\n",
           kEndpoints[e], status, count);
    }
  out += "# HELP tovran_request_errors_total Requests answered with a status of 400 or more.\n";
  out += "# TYPE tovran_request_errors_total counter\n";
  Line(&out, "tovran_request_errors_total %" PRId64 "\n", errors);
  out +=
      "# HELP tovran_request_duration_seconds From a request's arrival to its answer's "
      "departure.\n";
  out += "# TYPE tovran_request_duration_seconds histogram\n";
  int64_t cumulative = 0;
  for (size_t b = 0; b < kBucketMicros.size(); b++) {
    cumulative += buckets_[b].load(std::memory_order_relaxed);
    if (kBucketMicros[b] == INT64_MAX)
      Line(&out, "tovran_request_duration_seconds_bucket{le=\"+Inf\"} %" PRId64 "\n", cumulative);
    else
      Line(&out, "tovran_request_duration_seconds_bucket{le=\"%g\"} %" PRId64 "\n",
           double(kBucketMicros[b]) / 1e6, cumulative);
  }
  Line(&out, "tovran_request_duration_seconds_sum %.6f\n",
       double(total_micros_.load(std::memory_order_relaxed)) / 1e6);
  Line(&out, "tovran_request_duration_seconds_count %" PRId64 "\n",
       count_.load(std::memory_order_relaxed));
  out +=
      "# HELP tovran_handler_duration_seconds Time in the endpoints' own work: reading the "
      "request's fields, the queries, writing the answer.\n";
  out += "# TYPE tovran_handler_duration_seconds summary\n";
  Line(&out, "tovran_handler_duration_seconds_sum %.9f\n",
       double(handler_nanos_.load(std::memory_order_relaxed)) / 1e9);
  Line(&out, "tovran_handler_duration_seconds_count %" PRId64 "\n",
       handler_count_.load(std::memory_order_relaxed));
  out += "# HELP tovran_model_reloads_total Reloads of the model, by result.\n";
  out += "# TYPE tovran_model_reloads_total counter\n";
  Line(&out, "tovran_model_reloads_total{result=\"ok\"} %" PRId64 "\n", slot.reloads());
  Line(&out, "tovran_model_reloads_total{result=\"failed\"} %" PRId64 "\n", slot.failed_reloads());
  out += "# HELP tovran_model_generation The model served: 1 at start, one more per reload.\n";
  out += "# TYPE tovran_model_generation gauge\n";
  Line(&out, "tovran_model_generation %" PRId64 "\n", slot.Current()->generation());
  return out;
}
