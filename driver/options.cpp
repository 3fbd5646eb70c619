#include "driver/options.h"

#include <cstdio>
#include <cstring>

namespace {

// If arg is the option name or "name=value", stores its value (the next
// argument in the first case, advancing *i) and returns true; *ok turns false
// when the value is missing or empty.
bool TakeValue(const char *name, int argc, char **argv, int *i, const char **value, bool *ok) {
  const char *arg = argv[*i];
  const size_t len = std::strlen(name);
  if (std::strncmp(arg, name, len) != 0) return false;
  if (arg[len] == '=') {
    *value = arg + len + 1;
  } else if (arg[len] == '\0' && *i + 1 < argc) {
    *value = argv[++*i];
  } else {
    if (arg[len] != '\0') return false;  // a longer option that merely shares the prefix
    *value = nullptr;
  }
  if (*value == nullptr || **value == '\0') *ok = false;
  return true;
}

}  // namespace

bool ParseOptions(int argc, char **argv, Options *opts) {
  *opts = Options{};
  bool ok = true, options_end = false;
  int files = 0;
  for (int i = 1; i < argc && ok; i++) {
    const char *arg = argv[i];
    if (!options_end && std::strcmp(arg, "--") == 0) {
      options_end = true;
    } else if (!options_end && arg[0] == '-' && arg[1] != '\0') {
      if (!TakeValue("--json", argc, argv, &i, &opts->json, &ok)) ok = false;
    } else {
      opts->file = arg;
      files++;
    }
  }
  return ok && files == 1;
}

void PrintUsage(const char *program) {
  std::printf("Usage: %s <fname>\n", program);
  std::printf("       %s [--json OUT.json] <fname>\n", program);
  std::printf("  --json OUT.json  also write the results as one JSON document to OUT.json\n");
}
