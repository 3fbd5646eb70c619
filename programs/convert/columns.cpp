#include "programs/convert/columns.h"

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

// True when a column option gives a position rather than a name.
bool IsPosition(const std::string &given) {
  return std::all_of(given.begin(), given.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

// The column option (e.g. "--user") names: a position from 1, or a header name.
bool FindGiven(const std::string &given, const std::vector<std::string> *header, size_t nfields,
               const std::string &option, int *column, std::string *error) {
  if (IsPosition(given)) {
    const long position = given.size() > 6 ? 0 : std::stol(given);
    if (given.find_first_not_of('0') == std::string::npos) {
      *error = option + " " + given + ": there is no column " + given + " (columns count from 1)";
      return false;
    }
    if (size_t(position) > nfields) {
      *error = option + " " + given + ": the first line has " + std::to_string(nfields) + " fields";
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
  *error = option + " " + given +
           (header ? ": the header has no such column (it has " + ListFields(*header) + ")"
                   : ": there is no header to name columns");
  return false;
}

// Resolves the --where conditions into columns->where, grouping the values
// given for one column.
bool ResolveWhere(const std::vector<std::string> *header, size_t nfields,
                  const ConvertOptions &opts, Columns *columns, std::string *error) {
  for (const WhereCondition &condition : opts.where) {
    int column = -1;
    if (!FindGiven(condition.column, header, nfields, "--where", &column, error)) return false;
    auto same = std::find_if(columns->where.begin(), columns->where.end(),
                             [column](const Columns::Where &w) { return w.column == column; });
    if (same == columns->where.end())
      columns->where.push_back(Columns::Where{column, {condition.value}});
    else
      same->values.push_back(condition.value);
  }
  return true;
}

}  // namespace

bool RowMatches(const std::vector<std::string> &fields, const Columns &columns) {
  for (const Columns::Where &where : columns.where) {
    const std::string &field = fields[size_t(where.column)];
    if (std::find(where.values.begin(), where.values.end(), field) == where.values.end())
      return false;
  }
  return true;
}

std::string ListFields(const std::vector<std::string> &fields) {
  std::string list;
  for (const std::string &field : fields) list += (list.empty() ? "\"" : ", \"") + field + "\"";
  return list;
}

bool LooksLikeHeader(const std::vector<std::string> &fields, const ConvertOptions &opts) {
  for (int role = 0; role < kRoles; role++)
    if (FindKnown(fields, Role(role)) >= 0) return true;
  auto has = [&fields](const std::string &name) {
    return !IsPosition(name) && std::find(fields.begin(), fields.end(), name) != fields.end();
  };
  for (const std::string *given :
       {&opts.user, &opts.item, &opts.rating, &opts.timestamp, &opts.value})
    if (!given->empty() && has(*given)) return true;
  for (const WhereCondition &condition : opts.where)
    if (has(condition.column)) return true;
  return false;
}

bool ResolveColumns(const std::vector<std::string> *header, size_t nfields,
                    const ConvertOptions &opts, Columns *columns, std::string *error) {
  const std::string *given[kRoles] = {&opts.user, &opts.item, &opts.rating, &opts.timestamp};
  int found[kRoles];
  for (int role = 0; role < kRoles; role++) {
    found[role] = -1;
    if (!given[role]->empty()) {
      const std::string option = std::string("--") + kRoleNames[role];
      if (!FindGiven(*given[role], header, nfields, option, &found[role], error)) return false;
    } else if (role == kTimestamp && !(opts.user.empty() && opts.item.empty())) {
      // Columns chosen by hand: a timestamp is used only when named too.
    } else if (header != nullptr) {
      found[role] = FindKnown(*header, Role(role));
    } else if (size_t(role) < nfields) {
      found[role] = role;  // user, item, rating, timestamp by position
    }
  }
  for (int role : {kUser, kItem}) {
    if (found[role] < 0) {
      *error =
          std::string("no ") + kRoleNames[role] + " column: name one with --" + kRoleNames[role];
      if (header != nullptr) *error += " (the header has " + ListFields(*header) + ")";
      return false;
    }
  }
  if (opts.has_min_rating && found[kRating] < 0) {
    *error = "--min-rating needs a rating column: name one with --rating";
    return false;
  }
  *columns = Columns{};
  if (!opts.value.empty() &&
      !FindGiven(opts.value, header, nfields, "--value", &columns->value, error))
    return false;
  if (!ResolveWhere(header, nfields, opts, columns, error)) return false;
  columns->user = found[kUser];
  columns->item = found[kItem];
  columns->rating = opts.has_min_rating ? found[kRating] : -1;
  columns->timestamp = opts.use_timestamp ? found[kTimestamp] : -1;
  columns->needed = 1 + std::max({columns->user, columns->item, columns->rating, columns->timestamp,
                                  columns->value});
  for (const Columns::Where &where : columns->where)
    columns->needed = std::max(columns->needed, where.column + 1);
  return true;
}
