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

// A decimal number in 1..kMaxThreads, digits only.
bool ParseThreads(const char *text, int32_t *threads) {
  if (text == nullptr || *text == '\0') return false;
  int32_t value = 0;
  for (const char *p = text; *p != '\0'; p++) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > kMaxThreads) return false;
  }
  if (value < 1) return false;
  *threads = value;
  return true;
}

}  // namespace

bool ParseOptions(int argc, char **argv, Options *opts) {
  *opts = Options{};
  bool ok = true, options_end = false;
  int files = 0;
  for (int i = 1; i < argc && ok; i++) {
    const char *arg = argv[i];
    const char *threads = nullptr;
    if (!options_end && std::strcmp(arg, "--") == 0) {
      options_end = true;
    } else if (!options_end && arg[0] == '-' && arg[1] != '\0') {
      if (TakeValue("--threads", argc, argv, &i, &threads, &ok)) {
        ok = ok && ParseThreads(threads, &opts->threads);
      } else if (!TakeValue("--json", argc, argv, &i, &opts->json, &ok)) {
        ok = false;
      }
    } else {
      opts->file = arg;
      files++;
    }
  }
  return ok && files == 1;
}

void PrintUsage(const char *program) {
  std::printf("Usage: %s <fname>\n", program);
  std::printf("       %s [--threads N] [--json OUT.json] <fname>\n", program);
  std::printf("  --threads N      build and query on N threads (1 to %d; default 1);\n"
              "                   the report is the same for every N\n", kMaxThreads);
  std::printf("  --json OUT.json  also write the results as one JSON document to OUT.json\n");
}
