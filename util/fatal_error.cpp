#include "util/fatal_error.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void FatalError(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  // A message whose format already ends the line gets no second newline.
  const size_t length = std::strlen(format);
  if (length == 0 || format[length - 1] != '\n') std::fputc('\n', stderr);
  std::fflush(stderr);
  std::fflush(stdout);  // lines already printed stay printed
  std::exit(1);
}
