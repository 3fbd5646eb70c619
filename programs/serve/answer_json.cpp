#include "programs/serve/answer_json.h"

#include "driver/query_inputs.h"
#include "util/json_writer.h"

void AppendAnswer(std::string *out, const IdMaps *maps, const int32_t *ids, const float *scores,
                  int32_t m) {
  *out += "{\"items\": [";
  for (int32_t r = 0; r < m; r++) {
    if (r > 0) *out += ", ";
    *out += maps != nullptr ? JsonString(maps->ItemName(ids[r])) : std::to_string(ids[r]);
  }
  *out += "], \"scores\": [";
  for (int32_t r = 0; r < m; r++) {
    if (r > 0) *out += ", ";
    *out += JsonFloat(scores[r]);
  }
  *out += "]}";
}

std::string ErrorJson(int status, const std::string &message) {
  return "{\"error\": " + JsonString(message) + ", \"status\": " + std::to_string(status) + "}\n";
}
