#pragma once

#include <new>
#include <system_error>

#include "util/checked_alloc.h"
#include "util/failure.h"

// The per-thread message behind TOVRAN_LastError.

// Formats the message every later TOVRAN_LastError on this thread returns.
void SetLastError(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The C entries' edge: runs body() with allocation failures thrown rather
// than fatal and returns its value; a Failure thrown inside, exhausted
// memory or a thread that cannot start becomes this thread's last error and
// the return value is fail. body may also report a fault with SetLastError
// and return fail.
template <class T, class Body>
T ReportingErrors(T fail, Body body) {
  try {
    AllocFailuresThrow guard;
    return body();
  } catch (const Failure &failure) {
    SetLastError("%s", failure.what());
  } catch (const AllocationFailure &failure) {
    SetLastError("%s", failure.what());
  } catch (const std::bad_alloc &) {
    SetLastError("***Memory allocation failed");
  } catch (const std::system_error &error) {
    SetLastError("Could not start a thread: %s", error.what());
  }
  return fail;
}
