#pragma once

#include <string>
#include <vector>

#include "programs/convert/convert_options.h"

// Which field of a line holds what, counted from 0; -1 for unused.
struct Columns {
  int user = -1;
  int item = -1;
  int rating = -1;  // set only when --min-rating asks for it
  int timestamp = -1;
  int value = -1;  // --value
  // --where: a row is kept when, for every entry, its field equals one of
  // the values (a column named twice accepts either value).
  struct Where {
    int column;
    std::vector<std::string> values;
  };
  std::vector<Where> where;
  int needed = 0;  // fields every data line must have
};

// True when the row's fields satisfy every --where condition of columns.
bool RowMatches(const std::vector<std::string> &fields, const Columns &columns);

// The fields of a line as a readable list: "a", "b", "c".
std::string ListFields(const std::vector<std::string> &fields);

// True when a field of the line is one of the recognised column names
// (user, userId, user_id; item, itemId, item_id, movieId, movie_id; rating;
// timestamp, ts, time; in any letter case) or a column name (not a
// position) the options give.
bool LooksLikeHeader(const std::vector<std::string> &fields, const ConvertOptions &opts);

// Chooses the columns from the header's names (header null: no header) and
// the options; without a header, user and item come first, then rating and
// timestamp when the first line (nfields fields) has them. When --user or
// --item is given, only --timestamp names a timestamp column. Returns false
// with *error naming a column that cannot be found.
bool ResolveColumns(const std::vector<std::string> *header, size_t nfields,
                    const ConvertOptions &opts, Columns *columns, std::string *error);
