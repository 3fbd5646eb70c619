#pragma once

// Writes the formatted message and one newline to standard error, flushes it
// and ends the process with status 1. Never returns.
[[noreturn]] void FatalError(const char *format, ...)
    __attribute__((format(printf, 1, 2)));
