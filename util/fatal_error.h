#pragma once

// Writes the formatted message to standard error, ending it with one newline
// (none is added when the format ends with one), flushes it and ends the
// process with status 1. Never returns.
[[noreturn]] void FatalError(const char *format, ...) __attribute__((format(printf, 1, 2)));
