#include "driver/options.h"

#include <cstring>

namespace {

// A decimal number in 1..kMaxThreads, digits only.
bool ParseThreads(const char *text, int32_t *threads) {
  if (*text == '\0') return false;
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

bool ParseOptions(int argc, char **argv, Options *options) {
  *options = Options{};
  for (int a = 1; a < argc; a++) {
    const char *arg = argv[a];
    if (std::strcmp(arg, "--threads") == 0) {
      if (a + 1 >= argc || !ParseThreads(argv[++a], &options->threads)) return false;
    } else if (arg[0] == '-' && arg[1] == '-') {
      return false;
    } else {
      if (options->fname != nullptr) return false;
      options->fname = arg;
    }
  }
  return options->fname != nullptr;
}
