#pragma once

#include <string>
#include <vector>

#include "tools/convert/convert_options.h"

// Which field of a line holds what, counted from 0; -1 for unused.
struct Columns {
  int user = -1;
  int item = -1;
  int rating = -1;     // set only when --min-rating asks for it
  int timestamp = -1;
  int needed = 0;      // fields every data line must have
};

// True when a field of the line is one of the recognised column names
// (user, userId, user_id; item, itemId, item_id, movieId, movie_id; rating;
// timestamp, ts, time; in any letter case) or a column name the options give.
bool LooksLikeHeader(const std::vector<std::string> &fields, const ConvertOptions &opts);

// Chooses the columns from the header's names (header null: no header) and
// the options; without a header, user and item come first, then rating and
// timestamp when the first line (nfields fields) has them. Returns false
// with *error naming a column that cannot be found.
bool ResolveColumns(const std::vector<std::string> *header, size_t nfields,
                    const ConvertOptions &opts, Columns *columns, std::string *error);
