#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A file tovran-convert writes beside a dataset: one entry a line, line i
// (from 1) for pair i-1 in the dataset's order.

// Calls read(line, &why) for every line of path, without its line end;
// read returns false with why saying what is wrong with the line. Throws
// Failure naming path and what is wrong: the file cannot be opened
// (missing_hint then follows the system's reason on a line of its own), a
// line read refused, a last line without line end, or a count of lines
// other than npairs (what names the entries, e.g. "times").
void ReadSideFile(const std::string &path, int32_t npairs, const char *what,
                  const std::string &missing_hint,
                  const std::function<bool(const std::string &line, std::string *why)> &read);

// The entries of a side file, each line read by parse(line, &entry, &why)
// (false with why for a line it refuses), as ReadSideFile reads them.
template <class T, class Parse>
std::vector<T> ReadSideEntries(const std::string &path, int32_t npairs, const char *what,
                               const std::string &missing_hint, Parse parse) {
  std::vector<T> entries;
  entries.reserve(size_t(npairs));
  ReadSideFile(path, npairs, what, missing_hint, [&](const std::string &line, std::string *why) {
    T entry{};
    if (!parse(line, &entry, why)) return false;
    entries.push_back(entry);
    return true;
  });
  return entries;
}
