#include "driver/per_user.h"

#include <algorithm>
#include <vector>

#include "driver/json_report.h"

bool PerUserAsJsonLines(const std::string &path) {
  auto ends = [&](const std::string &tail) {
    return path.size() >= tail.size() &&
           path.compare(path.size() - tail.size(), tail.size(), tail) == 0;
  };
  return ends(".jsonl") || ends(".json");
}

namespace {

std::string Joined(const int32_t *first, const int32_t *last, const char *gap) {
  std::string text;
  for (const int32_t *p = first; p != last; p++)
    text += (p == first ? "" : gap) + std::to_string(*p);
  return text;
}

}  // namespace

bool WritePerUser(std::FILE *out, bool json_lines, const SequenceResult &result) {
  if (!json_lines) {
    std::fprintf(out, "run,user,held_out,hit_ranks,hits");
    for (int32_t k = 0; k < kMetrics; k++) std::fprintf(out, ",%s", MetricName(k));
    std::fputc('\n', out);
  }
  std::vector<int32_t> listed;
  for (size_t r = 0; r < result.runs.size(); r++) {
    const RunResult &run = result.runs[r];
    const FoldRecord &fold = result.folds[size_t(run.fold)];
    for (size_t q = 0; q < fold.users.size(); q++) {
      const int32_t *held = fold.held_items.data() + fold.held[q];
      const int32_t *held_end = fold.held_items.data() + fold.held[q + 1];
      const int32_t *ranks = run.ranks.data() + fold.held[q];
      listed.clear();
      for (int64_t h = 0; h < held_end - held; h++)
        if (ranks[h] > 0) listed.push_back(ranks[h]);
      std::sort(listed.begin(), listed.end());
      listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
      const UserMetrics &u = run.users[q];
      const int32_t *l0 = listed.data(), *l1 = l0 + listed.size();
      if (json_lines) {
        std::fprintf(
            out,
            "{\"run\": %zu, \"user\": %d, \"held_out\": [%s], \"hit_ranks\": [%s], \"hits\": %d", r,
            fold.users[q], Joined(held, held_end, ", ").c_str(), Joined(l0, l1, ", ").c_str(),
            u.hits);
        for (int32_t k = 0; k < kMetrics; k++)
          std::fprintf(out, ", \"%s\": %s", MetricName(k), JsonReal(MetricOf(u, k)).c_str());
        std::fprintf(out, "}\n");
      } else {
        std::fprintf(out, "%zu,%d,%s,%s,%d", r, fold.users[q], Joined(held, held_end, " ").c_str(),
                     Joined(l0, l1, " ").c_str(), u.hits);
        for (int32_t k = 0; k < kMetrics; k++)
          std::fprintf(out, ",%s", JsonReal(MetricOf(u, k)).c_str());
        std::fputc('\n', out);
      }
    }
  }
  return std::fflush(out) == 0 && !std::ferror(out);
}
