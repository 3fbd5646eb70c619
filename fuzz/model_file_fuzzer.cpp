// The model-file loader on arbitrary bytes: it must reject or accept every
// input without a crash, an out-of-range access or an allocation larger
// than the input can justify, and a model it accepts must answer queries.
// Each input is read twice: as given, and with its last four bytes replaced
// by the right CRC-32, so that mutations reach the checks behind the checksum.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/model_file.h"
#include "engine/tovran.h"

namespace {

void LoadAndAsk(std::vector<uint8_t> &bytes) {
  if (bytes.empty()) return;
  std::FILE *in = fmemopen(bytes.data(), bytes.size(), "rb");
  if (in == nullptr) return;
  Model *model = ReadModel(in, "fuzz");
  std::fclose(in);
  if (model == nullptr) {
    if (TOVRAN_LastError()[0] == '\0') __builtin_trap();  // a rejection always says why
    return;
  }
  TOVRAN_ModelInfo info;
  if (TOVRAN_GetModelInfo(model, &info) != 0) __builtin_trap();
  int32_t rcmds[8];
  float scores[8];
  for (int32_t item = 0; item < info.nitems && item < 4; item++) {
    const int32_t basket[2] = {item, info.nitems - 1 - item};
    if (TOVRAN_RecommendScored(model, 2, basket, 8, rcmds, scores) < 0) __builtin_trap();
  }
  TOVRAN_FreeModel(model);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  LoadAndAsk(bytes);
  if (size >= 4) {
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), data, static_cast<uInt>(size - 4));
    for (int b = 0; b < 4; b++) bytes[size - 4 + b] = uint8_t(crc >> (8 * b));
    LoadAndAsk(bytes);
  }
  return 0;
}
