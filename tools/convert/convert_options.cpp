#include "tools/convert/convert_options.h"

#include <climits>
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

// The options followed by a value.
bool TakesValue(const std::string &name) {
  static const char *const kNames[] = {"--delimiter",      "--user",           "--item",
                                       "--rating",         "--timestamp",      "--min-rating",
                                       "--buffer-pairs",   "--min-user-pairs", "--min-item-pairs",
                                       "--where"};
  for (const char *known : kNames)
    if (name == known) return true;
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
                      name == "--no-timestamp" || name == "--dedupe";
    if (!flag && !TakesValue(name)) {
      *error = "unknown option " + name;
      return false;
    }
    if (flag) {
      if (has_value) {
        *error = "option " + name + " takes no value";
        return false;
      }
      if (name == "--header") opts->header = 1;
      if (name == "--no-header") opts->header = 0;
      if (name == "--baskets") opts->baskets = true;
      if (name == "--no-timestamp") opts->use_timestamp = false;
      if (name == "--dedupe") opts->dedupe = true;
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
    } else if (name == "--min-user-pairs" || name == "--min-item-pairs") {
      char *end = nullptr;
      const long long k = std::strtoll(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || k < 1 || k > INT32_MAX) {
        *error = name + " needs a positive integer, not '" + value + "'";
        return false;
      }
      (name == "--min-user-pairs" ? opts->min_user_pairs : opts->min_item_pairs) = int32_t(k);
    } else {  // --where
      const size_t at = value.find('=');
      if (at == std::string::npos || at == 0) {
        *error = "--where needs COLUMN=VALUE, not '" + value + "'";
        return false;
      }
      opts->where.push_back(WhereCondition{value.substr(0, at), value.substr(at + 1)});
    }
  }
  if (nfiles != 2) {
    *error = "an input and an output file name are needed";
    return false;
  }
  if (opts->baskets && (opts->has_min_rating || !opts->user.empty() || !opts->item.empty() ||
                        !opts->rating.empty() || !opts->timestamp.empty() ||
                        !opts->where.empty())) {
    *error = "--baskets takes no columns, no --min-rating and no --where";
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
      "  --where C=V        keep only rows whose column C (name or position) holds V;\n"
      "                     repeatable: all columns must match, a column given twice\n"
      "                     matches either value\n"
      "  --dedupe           keep one copy of a repeated (user, item) pair: the latest\n"
      "                     by timestamp, else the last in input order\n"
      "  --min-user-pairs K drop users with fewer than K pairs, and\n"
      "  --min-item-pairs K items with fewer than K pairs, until none is left (k-core)\n"
      "  --buffer-pairs N   pairs ordered in memory (24 bytes each) before ordered runs\n"
      "                     go to temporary files (default 4194304)\n",
      program);
}
