#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Calls each(line, number) for every line of path ("-": standard input),
// numbers from 1: lines end at '\n' (a '\r' before it is dropped), and a
// last line without one counts too. Throws Failure naming the file when it
// cannot be opened or read.
void ForEachLine(const std::string &path,
                 const std::function<void(const std::string &, int64_t)> &each);
