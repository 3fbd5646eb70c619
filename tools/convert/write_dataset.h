#pragma once

#include <string>

#include "tools/convert/interactions.h"

// Writes the dataset to path ("users items pairs", then one "user item" line
// a pair: users in index order, each user's pairs by time, ties and pairs
// without time in input order, so the last is the one held out) and the id
// maps to path.users and path.items. Writes temporaries first and renames
// them at the end; on failure returns false with *error and leaves none of
// the three files behind. Empties data->pairs.
bool WriteDataset(const std::string &path, Interactions *data, std::string *error);
