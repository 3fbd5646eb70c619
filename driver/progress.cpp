#include "driver/progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {
// Time between two redraws.
constexpr std::chrono::milliseconds kRedraw{250};

double Now() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}
}  // namespace

Progress::Progress(bool wanted) : enabled_(wanted && isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() { Finish(); }

void Progress::Start(const char *phase, int64_t total, const char *resume) {
  if (!enabled_) return;
  Finish();
  std::lock_guard<std::mutex> lock(mutex_);
  phase_ = phase;
  resume_ = resume != nullptr ? resume : "";
  gap_ = resume != nullptr ? " " : "";
  total_ = total;
  done_.store(0);
  start_ = Now();
  active_ = true;
  ticker_ = std::thread([this] {
    std::unique_lock<std::mutex> held(mutex_);
    while (active_) {
      Draw();
      wake_.wait_for(held, kRedraw);
    }
  });
}

void Progress::Finish() {
  if (!enabled_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!active_) return;
    active_ = false;
  }
  wake_.notify_all();
  ticker_.join();
  std::fprintf(stderr, "\r\033[K%s", resume_);
  std::fflush(stderr);
}

void Progress::Draw() {
  const double spent = Now() - start_;
  const int64_t done = done_.load(std::memory_order_relaxed);
  if (total_ > 0 && done > 0) {
    const double part = double(done) / double(total_);
    std::fprintf(stderr, "\r\033[K%s%s[%s: %3.0f%%, %.0f s left]", resume_, gap_, phase_,
                 100.0 * part, spent / part - spent);
  } else {
    std::fprintf(stderr, "\r\033[K%s%s[%s: %.0f s]", resume_, gap_, phase_, spent);
  }
  std::fflush(stderr);
}
