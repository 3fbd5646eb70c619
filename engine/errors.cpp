#include "engine/errors.h"

#include <cstdarg>
#include <cstdio>

#include "engine/tovran.h"

namespace {
// Long enough for every message the entries compose.
thread_local char last_error[320] = "";
}  // namespace

void SetLastError(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(last_error, sizeof last_error, format, args);
  va_end(args);
}

const char *TOVRAN_LastError(void) { return last_error; }
