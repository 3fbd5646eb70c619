#pragma once

#include <cstdint>
#include <string>

class IdMaps;

// The JSON documents the server answers with.

// Appends {"items": [...], "scores": [...]} for m answers: items as original
// ids (strings) through maps, else as indices (numbers); scores with the
// digits that read back to the same float.
void AppendAnswer(std::string *out, const IdMaps *maps, const int32_t *ids, const float *scores,
                  int32_t m);

// {"error": message, "status": status}
std::string ErrorJson(int status, const std::string &message);
