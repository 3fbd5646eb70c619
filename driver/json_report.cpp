#include "driver/json_report.h"

#include <cinttypes>
#include <cmath>

namespace {

// Names of the model kinds 1, 2 and 3 in the document.
const char *const kKindNames[] = {"", "item-cosine", "item-cprob", "user-based"};

// One tenth-step alpha as written in the document: "0.0" ... "1.0".
std::string AlphaText(int32_t step) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d", step / 10, step % 10);
  return text;
}

int32_t HeldOut(const Dataset &ds) {
  int32_t count = 0;
  for (int32_t u = 0; u < ds.nrows; u++)
    if (ds.tvec[u] >= 0) count++;
  return count;
}

void WriteRun(std::FILE *out, const RunResult &run, const std::string &alpha, bool last) {
  const RunMetrics &m = run.metrics;
  std::fprintf(out, "    {\"kind\": %d, \"name\": \"%s\", \"nnbr\": %d, \"alpha\": %s,\n", run.type,
               kKindNames[run.type], run.nnbr, alpha.c_str());
  std::fprintf(out, "     \"hits\": %d, \"users_queried\": %d, \"hit_rate\": %s,\n", run.hits,
               m.queried, JsonReal(HitRate(m)).c_str());
  std::fprintf(out, "     \"average_reciprocal_hit_rank\": %s,\n",
               JsonReal(AverageReciprocalHitRank(m)).c_str());
  std::fprintf(out, "     \"distinct_items\": %d, \"catalogue_coverage\": %s,\n", m.distinct,
               JsonReal(Coverage(m)).c_str());
  std::fprintf(out, "     \"build_seconds\": %s, \"query_seconds\": %s, \"rate\": %s}%s\n",
               JsonReal(run.build_seconds).c_str(), JsonReal(run.query_seconds).c_str(),
               JsonReal(run.rate).c_str(), last ? "" : ",");
}

// Bytes in the well-formed UTF-8 sequence that starts at p, or 0 if none
// does (a stray continuation byte, an overlong form, a surrogate, a code
// point beyond U+10FFFF, a sequence cut short).
int Utf8Length(const unsigned char *p) {
  int n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (p[0] < 0x80) return 1;
  if (p[0] >= 0xC2 && p[0] <= 0xDF) n = 2;
  else if (p[0] >= 0xE0 && p[0] <= 0xEF) n = 3;
  else if (p[0] >= 0xF0 && p[0] <= 0xF4) n = 4;
  else return 0;
  if (p[0] == 0xE0) low = 0xA0;
  if (p[0] == 0xED) high = 0x9F;
  if (p[0] == 0xF0) low = 0x90;
  if (p[0] == 0xF4) high = 0x8F;
  if (p[1] < low || p[1] > high) return 0;
  for (int k = 2; k < n; k++)
    if (p[k] < 0x80 || p[k] > 0xBF) return 0;
  return n;
}

}  // namespace

std::string JsonString(const char *text) {
  std::string quoted = "\"";
  for (const char *p = text; *p != '\0'; p++) {
    const auto ch = static_cast<unsigned char>(*p);
    const int length = Utf8Length(reinterpret_cast<const unsigned char *>(p));
    if (length == 0) {
      quoted += "\\ufffd";  // a byte that is not text: the replacement character
    } else if (length > 1) {
      quoted.append(p, size_t(length));
      p += length - 1;
    } else if (ch == '"' || ch == '\\') {
      quoted += '\\';
      quoted += char(ch);
    } else if (ch < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", ch);
      quoted += escape;
    } else {
      quoted += char(ch);
    }
  }
  return quoted + "\"";
}

std::string JsonReal(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

bool WriteJsonReport(std::FILE *out, const char *file, const Dataset &ds,
                     const SequenceResult &result) {
  std::fprintf(out, "{\n  \"file\": %s,\n", JsonString(file).c_str());
  std::fprintf(out,
               "  \"dataset\": {\"users\": %d, \"items\": %d, \"training_pairs\": %d, "
               "\"held_out\": %d},\n",
               ds.nrows, ds.ncols, ds.ntrain, HeldOut(ds));
  std::fprintf(out, "  \"top_n\": %d,\n", kTopN);
  const std::string estimate = AlphaText(result.alpha_step);
  std::fprintf(out, "  \"alpha\": {\"estimate\": %s, \"tried\": [", estimate.c_str());
  for (int32_t j = 0; j < result.alpha_tried; j++)
    std::fprintf(out, "%s{\"alpha\": %s, \"hits\": %d}", j > 0 ? ", " : "", AlphaText(j).c_str(),
                 result.alpha_hits[j]);
  std::fprintf(out, "]},\n  \"runs\": [\n");
  for (int32_t r = 0; r < kRuns; r++) {
    const RunResult &run = result.runs[r];
    WriteRun(out, run, run.type == 2 ? estimate : "null", r == kRuns - 1);
  }
  std::fprintf(out, "  ]\n}\n");
  return std::fflush(out) == 0 && !std::ferror(out);
}
