#include "programs/serve/model_slot.h"

#include <new>

ModelSlot::ModelSlot(const ServeSources &sources)
    : sources_(sources), current_(std::make_shared<const ServedModel>(sources, 1)) {}

std::shared_ptr<const ServedModel> ModelSlot::Current() const {
  std::lock_guard<std::mutex> lock(current_mutex_);
  return current_;
}

std::string ModelSlot::Reload() {
  std::lock_guard<std::mutex> reloading(reload_mutex_);
  std::string error;
  try {
    auto fresh = std::make_shared<const ServedModel>(sources_, Current()->generation() + 1);
    std::shared_ptr<const ServedModel> old;
    {
      std::lock_guard<std::mutex> lock(current_mutex_);
      old = std::move(current_);
      current_ = std::move(fresh);
    }
    reloads_++;
    return "";  // old is released here, or by its last request
  } catch (const Failure &failure) {
    error = failure.message;
  } catch (const std::bad_alloc &) {
    error = "memory exhausted while loading " + sources_.model;
  }
  failed_reloads_++;
  std::lock_guard<std::mutex> lock(current_mutex_);
  last_error_ = error;
  return error;
}

std::string ModelSlot::last_error() const {
  std::lock_guard<std::mutex> lock(current_mutex_);
  return last_error_;
}
