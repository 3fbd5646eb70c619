#include "programs/convert/write_dataset.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "dataset/pair_values.h"
#include "util/output_file.h"

namespace {

// The files a conversion writes: the dataset, its id maps and, when the
// pairs have them, the time and the value of each pair.
constexpr int kOutputs = 5;
constexpr int kTimes = 3, kValues = 4;
std::string OutputName(const std::string &path, int k) {
  static const char *const kSuffixes[kOutputs] = {"", ".users", ".items", ".times", ".values"};
  return path + kSuffixes[k];
}

// t as ParseTimestamp reads it back: whole seconds, then the fraction's
// digits without trailing zeros.
void WriteTime(std::FILE *out, const Timestamp &t) {
  int64_t seconds = t.seconds, fraction = t.fraction;
  const char *sign = "";
  if (seconds < 0 && fraction > 0) {
    // -2 s + 0.25 s is written -1.75.
    sign = "-";
    seconds = -(seconds + 1);
    fraction = kFractionUnits - fraction;
  }
  std::fprintf(out, "%s%lld", sign, static_cast<long long>(seconds));
  if (fraction == 0) {
    std::fputc('\n', out);
    return;
  }
  char digits[kFractionDigits + 1];
  std::snprintf(digits, sizeof digits, "%018lld", static_cast<long long>(fraction));
  int end = kFractionDigits;
  while (end > 0 && digits[end - 1] == '0') end--;
  std::fprintf(out, ".%.*s\n", end, digits);
}

void WriteIds(std::FILE *out, const IdMap &map) {
  for (const std::string &id : map.ids) {
    std::fwrite(id.data(), 1, id.size(), out);
    std::fputc('\n', out);
  }
}

}  // namespace

bool CheckOutputs(const std::string &input, const std::string &path, std::string *error) {
  for (int k = 0; k < kOutputs; k++) {
    const std::string name = OutputName(path, k);
    const std::string refusal = OutputRefusal(name, input, "the input");
    if (!refusal.empty()) {
      *error = "cannot write " + name + " (" + refusal + ")";
      return false;
    }
  }
  return true;
}

bool WriteDataset(const std::string &path, Interactions *data, std::string *error) {
  // The outputs this conversion has; the others would no longer match its pairs.
  const bool wanted[kOutputs] = {true, true, true, data->timed, data->valued};
  OutputFile outputs[kOutputs];
  for (int k = 0; k < kOutputs; k++)
    if (wanted[k] && !outputs[k].Open(OutputName(path, k), error)) return false;
  std::fprintf(outputs[0].stream(), "%zu %zu %lld\n", data->users.ids.size(),
               data->items.ids.size(), static_cast<long long>(data->pairs.count));
  std::FILE *pairs = outputs[0].stream();
  std::FILE *times = data->timed ? outputs[kTimes].stream() : nullptr;
  std::FILE *values = data->valued ? outputs[kValues].stream() : nullptr;
  const bool visited = VisitSortedPairs(
      &data->pairs,
      [&](const PairRecord &pair) {
        std::fprintf(pairs, "%d %d\n", pair.user, pair.item);
        if (times != nullptr) WriteTime(times, pair.time);
        if (values != nullptr) WritePairValue(values, pair.value);
        return true;
      },
      error);
  if (!visited) return false;
  WriteIds(outputs[1].stream(), data->users);
  WriteIds(outputs[2].stream(), data->items);
  // Every output complete before any replaces an earlier file.
  for (int k = 0; k < kOutputs; k++)
    if (wanted[k] && !outputs[k].Close(error)) return false;
  for (int k = 0; k < kOutputs; k++) {
    if (wanted[k] && !outputs[k].Commit(error)) {
      if (k > 0) *error += " after " + OutputName(path, 0) + " was replaced";
      return false;
    }
  }
  for (int k = kTimes; k < kOutputs; k++)
    if (!wanted[k]) std::remove(OutputName(path, k).c_str());
  return true;
}
