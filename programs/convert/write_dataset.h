#pragma once

#include <string>

#include "programs/convert/interactions.h"

// Writes the dataset to path ("users items pairs", then one "user item" line
// a pair: users in index order, each user's pairs by time, ties and pairs
// without time in input order, so the last is the one held out) and the id
// maps to path.users and path.items; the pairs' times and values go to
// path.times and path.values when the pairs have them, and an earlier such
// file is removed when they do not. Each is written to a temporary file of
// its own (a unique name in its folder) and all are renamed only once all
// are complete; on failure returns false with *error, the temporaries
// removed and every earlier file as it was. An output that exists but is
// not a regular file is refused. Empties data->pairs.
bool WriteDataset(const std::string &path, Interactions *data, std::string *error);

// False with *error when one of the outputs of path is the input file
// itself ("-", standard input, is no file).
bool CheckOutputs(const std::string &input, const std::string &path, std::string *error);
