#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "programs/serve/served_model.h"

// The model the server answers from, replaced whole by a reload. A request
// takes the current model once and answers from it to the end, so a reload
// never mixes two models in one answer; the old model is freed when its
// last request lets go of it.
class ModelSlot {
 public:
  // Loads the first model; throws Failure when it cannot be read.
  explicit ModelSlot(const ServeSources &sources);

  std::shared_ptr<const ServedModel> Current() const;

  // Reads the sources again and, when every file reads, serves the new model.
  // Returns "" or the reason (the current model then keeps serving).
  // Reloads run one at a time.
  std::string Reload();

  int64_t reloads() const { return reloads_.load(); }
  int64_t failed_reloads() const { return failed_reloads_.load(); }
  std::string last_error() const;

 private:
  ServeSources sources_;
  mutable std::mutex current_mutex_;
  std::shared_ptr<const ServedModel> current_;
  std::mutex reload_mutex_;
  std::atomic<int64_t> reloads_{0}, failed_reloads_{0};
  std::string last_error_;  // under current_mutex_
};
