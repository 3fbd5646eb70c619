#include "tools/convert/convert_options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool ParseDelimiter(const std::string &text, Delimiter *delimiter) {
  struct Name {
    const char *text;
    Delimiter delimiter;
  };
  static const Name kNames[] = {
      {"auto", Delimiter::kAuto},       {",", Delimiter::kComma},
      {"comma", Delimiter::kComma},     {"\t", Delimiter::kTab},
      {"tab", Delimiter::kTab},         {";", Delimiter::kSemicolon},
      {"semicolon", Delimiter::kSemicolon}, {"::", Delimiter::kDoubleColon},
      {"whitespace", Delimiter::kWhitespace}, {"space", Delimiter::kWhitespace}};
  for (const Name &name : kNames) {
    if (text == name.text) {
      *delimiter = name.delimiter;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ParseConvertOptions(int argc, char **argv, ConvertOptions *opts, std::string *error) {
  *opts = ConvertOptions{};
  const char *files[2] = {nullptr, nullptr};
  int nfiles = 0;
  bool options_end = false;
  for (int i = 1; i < argc; i++) {
    const std::string arg = argv[i];
    if (options_end || arg == "-" || arg.rfind("--", 0) != 0) {
      if (nfiles == 2) {
        *error = "more than two file names ('" + arg + "')";
        return false;
      }
      files[nfiles++] = argv[i];
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    std::string name = arg, value;
    bool has_value = false;
    const size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      has_value = true;
    }
    const bool flag = name == "--header" || name == "--no-header" || name == "--baskets" ||
                      name == "--no-timestamp";
    if (flag) {
      if (has_value) {
        *error = "option " + name + " takes no value";
        return false;
      }
      if (name == "--header") opts->header = 1;
      if (name == "--no-header") opts->header = 0;
      if (name == "--baskets") opts->baskets = true;
      if (name == "--no-timestamp") opts->use_timestamp = false;
      continue;
    }
    if (!has_value) {
      if (i + 1 >= argc) {
        *error = "option " + name + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    if (name == "--delimiter") {
      if (!ParseDelimiter(value, &opts->delimiter)) {
        *error = "unknown delimiter '" + value +
                 "' (use comma, tab, semicolon, ::, whitespace or auto)";
        return false;
      }
    } else if (name == "--user" || name == "--item" || name == "--rating" ||
               name == "--timestamp") {
      if (value.empty()) {
        *error = "option " + name + " needs a column name or position";
        return false;
      }
      std::string *column = name == "--user"     ? &opts->user
                            : name == "--item"   ? &opts->item
                            : name == "--rating" ? &opts->rating
                                                 : &opts->timestamp;
      *column = value;
    } else if (name == "--min-rating") {
      char *end = nullptr;
      opts->min_rating = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !std::isfinite(opts->min_rating)) {
        *error = "--min-rating needs a number, not '" + value + "'";
        return false;
      }
      opts->has_min_rating = true;
    } else if (name == "--buffer-pairs") {
      char *end = nullptr;
      const unsigned long long pairs = std::strtoull(value.c_str(), &end, 10);
      if (value.empty() || value[0] == '-' || *end != '\0' || pairs == 0) {
        *error = "--buffer-pairs needs a positive integer, not '" + value + "'";
        return false;
      }
      opts->buffer_pairs = size_t(pairs);
    } else {
      *error = "unknown option " + name;
      return false;
    }
  }
  if (nfiles != 2) {
    *error = "an input and an output file name are needed";
    return false;
  }
  if (opts->baskets && (opts->has_min_rating || !opts->user.empty() || !opts->item.empty() ||
                        !opts->rating.empty() || !opts->timestamp.empty())) {
    *error = "--baskets takes no columns and no --min-rating";
    return false;
  }
  opts->input = files[0];
  opts->output = files[1];
  return true;
}

void PrintConvertUsage(const char *program) {
  std::printf(
      "Usage: %s [options] INPUT OUTPUT\n"
      "Turns an interaction file into tovran's dataset format; writes OUTPUT and the id maps\n"
      "OUTPUT.users and OUTPUT.items (one original id a line, line number = index from 0).\n"
      "INPUT '-' reads standard input.\n"
      "  --delimiter D      comma, tab, semicolon, ::, whitespace or auto (default: detected)\n"
      "  --header           the first line names the columns\n"
      "  --no-header        the first line is data (default: detected from the names)\n"
      "  --user C           the user column, by header name or position from 1\n"
      "  --item C           the item column\n"
      "  --timestamp C      the timestamp column: orders each user's pairs\n"
      "  --rating C         the rating column, read with --min-rating\n"
      "  --min-rating R     keep only pairs rated R or more\n"
      "  --no-timestamp     keep input order even when there is a timestamp\n"
      "  --baskets          each line is one basket (a user) of items\n"
      "  --buffer-pairs N   pairs ordered in memory (24 bytes each) before ordered runs\n"
      "                     go to temporary files (default 4194304)\n",
      program);
}
