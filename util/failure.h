#pragma once

#include <exception>
#include <string>
#include <utility>

// The code base's one way to report an error: throw a Failure carrying the
// one-line message a user reads (what is wrong, naming the file, option or
// value), and catch it only at an edge, where it becomes the edge's own
// form: TOVRAN_LastError and the entry's error value for the C entries
// (ReportingErrors), the message on standard error and status 1 for a
// program, an exception for Python (raised from TOVRAN_LastError).
struct Failure : std::exception {
  std::string message;

  explicit Failure(std::string text) : message(std::move(text)) {}
  const char *what() const noexcept override { return message.c_str(); }
};
