#include "programs/convert/write_dataset.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/output_file.h"

namespace {

// The three files a conversion writes: the dataset and its id maps.
constexpr int kOutputs = 3;
std::string OutputName(const std::string &path, int k) {
  static const char *const kSuffixes[kOutputs] = {"", ".users", ".items"};
  return path + kSuffixes[k];
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
  OutputFile outputs[kOutputs];
  for (int k = 0; k < kOutputs; k++)
    if (!outputs[k].Open(OutputName(path, k), error)) return false;
  std::fprintf(outputs[0].stream(), "%zu %zu %lld\n", data->users.ids.size(),
               data->items.ids.size(), static_cast<long long>(data->pairs.count));
  if (!WriteSortedPairs(&data->pairs, outputs[0].stream(), error)) return false;
  WriteIds(outputs[1].stream(), data->users);
  WriteIds(outputs[2].stream(), data->items);
  // Every output complete before any replaces an earlier file.
  for (OutputFile &output : outputs)
    if (!output.Close(error)) return false;
  for (int k = 0; k < kOutputs; k++) {
    if (!outputs[k].Commit(error)) {
      if (k > 0) *error += " after " + OutputName(path, 0) + " was replaced";
      return false;
    }
  }
  return true;
}
