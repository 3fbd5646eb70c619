#include "bench/bench_data.h"

#include <cstdio>
#include <map>
#include <memory>

std::string SharedDataPath(const std::string &name) {
  const std::string path = std::string(TOVRAN_SHARED_DATA) + "/" + name;
  std::FILE *in = std::fopen(path.c_str(), "r");
  if (in == nullptr) return "";
  std::fclose(in);
  return path;
}

const Dataset *SharedDataset(const std::string &name) {
  static std::map<std::string, std::unique_ptr<Dataset>> loaded;
  auto found = loaded.find(name);
  if (found != loaded.end()) return found->second.get();
  const std::string path = SharedDataPath(name);
  std::unique_ptr<Dataset> ds;
  if (!path.empty()) ds = std::make_unique<Dataset>(ReadDataset(path.c_str()));
  return loaded.emplace(name, std::move(ds)).first->second.get();
}

const Dataset *DatasetOrSkip(benchmark::State &state, const std::string &name) {
  const Dataset *ds = SharedDataset(name);
  if (ds == nullptr) state.SkipWithError("shared data sets not present");
  return ds;
}
