#include "util/fatal_error.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void FatalError(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::fflush(stdout);  // lines already printed stay printed
  std::exit(1);
}
