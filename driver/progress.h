#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// One line on standard error, redrawn in place a few times a second while a
// phase runs: the phase, the percent done and the time left when the amount
// of work is known, else the seconds spent. Cleared when the phase ends.
// Disabled, it prints nothing and costs one branch per Add.
class Progress {
 public:
  // Enabled only when asked for and standard error is a terminal.
  explicit Progress(bool wanted);
  ~Progress();
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  // Starts a phase of total units of work (0: unknown); ends any earlier one.
  // resume: text the terminal's line already held (a report line not yet
  // ended on the same terminal), drawn again before the progress and left
  // in place when the phase ends; null for none.
  void Start(const char *phase, int64_t total = 0, const char *resume = nullptr);
  // Counts done more units; safe from any thread.
  void Add(int64_t done) {
    if (enabled_) done_.fetch_add(done, std::memory_order_relaxed);
  }
  // Ends the phase and clears the line.
  void Finish();

 private:
  void Draw();

  bool enabled_ = false;
  std::atomic<int64_t> done_{0};
  int64_t total_ = 0;
  const char *phase_ = nullptr;
  const char *resume_ = "";
  const char *gap_ = "";
  double start_ = 0;
  bool active_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread ticker_;
};
