#include "tools/convert/columns.h"

#include <algorithm>
#include <cctype>

namespace {

enum Role { kUser, kItem, kRating, kTimestamp, kRoles };

const char *const kRoleNames[kRoles] = {"user", "item", "rating", "timestamp"};

// Recognised header names, lower case, per role.
const std::vector<std::vector<std::string>> kKnownNames = {
    {"user", "userid", "user_id"},
    {"item", "itemid", "item_id", "movieid", "movie_id"},
    {"rating"},
    {"timestamp", "ts", "time"}};

std::string Lower(const std::string &text) {
  std::string lower = text;
  for (char &ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  return lower;
}

int FindKnown(const std::vector<std::string> &header, Role role) {
  for (size_t k = 0; k < header.size(); k++) {
    const std::vector<std::string> &names = kKnownNames[role];
    if (std::find(names.begin(), names.end(), Lower(header[k])) != names.end()) return int(k);
  }
  return -1;
}

// The column an option names: a position from 1, or a header name.
bool FindGiven(const std::string &given, const std::vector<std::string> *header, size_t nfields,
               Role role, int *column, std::string *error) {
  if (std::all_of(given.begin(), given.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
    const long position = given.size() > 6 ? 0 : std::stol(given);
    if (position < 1 || size_t(position) > nfields) {
      *error = std::string("--") + kRoleNames[role] + " " + given + ": the first line has " +
               std::to_string(nfields) + " fields";
      return false;
    }
    *column = int(position - 1);
    return true;
  }
  if (header != nullptr) {
    const auto at = std::find(header->begin(), header->end(), given);
    if (at != header->end()) {
      *column = int(at - header->begin());
      return true;
    }
  }
  *error = std::string("--") + kRoleNames[role] + " " + given +
           (header ? ": the header has no such column" : ": there is no header to name columns");
  return false;
}

}  // namespace

bool LooksLikeHeader(const std::vector<std::string> &fields, const ConvertOptions &opts) {
  for (int role = 0; role < kRoles; role++)
    if (FindKnown(fields, Role(role)) >= 0) return true;
  for (const std::string *given : {&opts.user, &opts.item, &opts.rating, &opts.timestamp})
    if (!given->empty() && std::find(fields.begin(), fields.end(), *given) != fields.end())
      return true;
  return false;
}

bool ResolveColumns(const std::vector<std::string> *header, size_t nfields,
                    const ConvertOptions &opts, Columns *columns, std::string *error) {
  const std::string *given[kRoles] = {&opts.user, &opts.item, &opts.rating, &opts.timestamp};
  int found[kRoles];
  for (int role = 0; role < kRoles; role++) {
    found[role] = -1;
    if (!given[role]->empty()) {
      if (!FindGiven(*given[role], header, nfields, Role(role), &found[role], error)) return false;
    } else if (header != nullptr) {
      found[role] = FindKnown(*header, Role(role));
    } else if (size_t(role) < nfields) {
      found[role] = role;  // user, item, rating, timestamp by position
    }
  }
  for (int role : {kUser, kItem}) {
    if (found[role] < 0) {
      *error = std::string("no ") + kRoleNames[role] + " column: name one with --" +
               kRoleNames[role];
      return false;
    }
  }
  if (opts.has_min_rating && found[kRating] < 0) {
    *error = "--min-rating needs a rating column: name one with --rating";
    return false;
  }
  *columns = Columns{};
  columns->user = found[kUser];
  columns->item = found[kItem];
  columns->rating = opts.has_min_rating ? found[kRating] : -1;
  columns->timestamp = opts.use_timestamp ? found[kTimestamp] : -1;
  columns->needed =
      1 + std::max({columns->user, columns->item, columns->rating, columns->timestamp});
  return true;
}
