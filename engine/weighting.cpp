#include "engine/weighting.h"

#include <cfloat>
#include <cmath>
#include <vector>

#include "util/checked_alloc.h"
#include "util/free_all.h"

namespace {

constexpr const char *kNames[] = {"binary", "raw", "log", "bm25", "tfidf"};

std::string Text(const char *format, double a, double b = 0.0) {
  char text[200];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

const char *WeightingName(int32_t weighting) {
  return weighting >= TOVRAN_WEIGHT_BINARY && weighting <= TOVRAN_WEIGHT_TFIDF ? kNames[weighting]
                                                                               : nullptr;
}

std::string WeightingFault(const TOVRAN_Params &p) {
  if (WeightingName(p.weighting) == nullptr)
    return "Weighting " + std::to_string(p.weighting) +
           " is unknown; it should take a value from 0..4 (binary, raw, log, bm25, tfidf).";
  if (p.weighting != TOVRAN_WEIGHT_BM25) return {};
  // Written so that a NaN fails too.
  if (!(p.bm25_k1 >= 0.0f) || !std::isfinite(p.bm25_k1))
    return Text("BM25's K1 %g should be a finite number of at least 0.", double(p.bm25_k1));
  if (!(p.bm25_b >= 0.0f && p.bm25_b <= 1.0f))
    return Text("BM25's B %g should take a value from [0.0, 1.0].", double(p.bm25_b));
  return {};
}

std::string ValuesFault(int32_t weighting, int32_t npairs, const float *values) {
  if (weighting == TOVRAN_WEIGHT_BINARY || npairs == 0) return {};
  if (values == nullptr)
    return std::string("Weighting ") + WeightingName(weighting) + " needs a value per pair.";
  for (int32_t i = 0; i < npairs; i++)
    if (!(values[i] > 0.0f) || !std::isfinite(values[i]))
      return "Pair " + std::to_string(i) + Text(" has value %g; weighting ", double(values[i])) +
             WeightingName(weighting) + " needs finite values above 0.";
  return {};
}

float *WeighPairs(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                  const int32_t *colid, const float *values, const TOVRAN_Params &p,
                  std::string *fault) {
  if (p.weighting == TOVRAN_WEIGHT_BINARY) return nullptr;
  Owned<float[]> weights(AllocFloats(npairs, "WeighPairs: weights"));
  // Per-user pair counts and per-item summed values (in pair order), for
  // bm25 and tfidf.
  std::vector<int32_t> df;
  std::vector<double> len;
  double held = 0.0, avglen = 0.0;
  if (p.weighting == TOVRAN_WEIGHT_BM25 || p.weighting == TOVRAN_WEIGHT_TFIDF) {
    df.assign(size_t(nrows), 0);
    len.assign(size_t(ncols), 0.0);
    for (int32_t i = 0; i < npairs; i++) {
      df[size_t(rowid[i])]++;
      len[size_t(colid[i])] += double(values[i]);
    }
    double total = 0.0;
    for (int32_t c = 0; c < ncols; c++)
      if (len[size_t(c)] > 0.0) {
        held += 1.0;
        total += len[size_t(c)];
      }
    if (held > 0.0) avglen = total / held;
  }
  // The per-user and per-item factors, each the same double for every pair
  // it enters, so each is computed once.
  const double k1 = double(p.bm25_k1), b = double(p.bm25_b);
  std::vector<double> idf(df.size()), norm(len.size());
  for (size_t u = 0; u < df.size(); u++) {
    const double d = double(df[u]);
    idf[u] = p.weighting == TOVRAN_WEIGHT_BM25 ? std::log(1.0 + (held - d + 0.5) / (d + 0.5))
                                               : std::log(1.0 + held / d);
  }
  for (size_t c = 0; c < len.size(); c++) norm[c] = (1.0 - b) + b * len[c] / avglen;
  for (int32_t i = 0; i < npairs; i++) {
    const double v = double(values[i]);
    double w = v;
    switch (p.weighting) {
      case TOVRAN_WEIGHT_LOG: w = std::log1p(v); break;
      case TOVRAN_WEIGHT_BM25:
        w = v * (k1 + 1.0) / (v + k1 * norm[size_t(colid[i])]) * idf[size_t(rowid[i])];
        break;
      case TOVRAN_WEIGHT_TFIDF: w = std::sqrt(v) * idf[size_t(rowid[i])]; break;
      default: break;
    }
    const float weight = float(w);
    // Normal singles keep every sum of squares, and the scale it gives, finite.
    if (!(weight >= FLT_MIN) || !std::isfinite(weight)) {
      *fault = "Pair " + std::to_string(i) + Text(" with value %g weighs %g", v, w) +
               " under weighting " + WeightingName(p.weighting) +
               ", outside the normal single-precision numbers above 0.";
      return nullptr;
    }
    weights[i] = weight;
  }
  return weights.release();
}
