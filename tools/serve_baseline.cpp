// What tovran-serve's answers cost without HTTP: each request body of a
// file (one JSON body a line) read as the server reads it, asked of the
// model and written as the server writes its answer, in one thread. Prints
// the mean microseconds per request over the best of several rounds.
//
//   tovran-serve-baseline MODEL BODIES [ROUNDS]
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "engine/tovran.h"
#include "programs/serve/answer_json.h"
#include "programs/serve/basket_request.h"

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: tovran-serve-baseline MODEL BODIES [ROUNDS]\n");
    return 1;
  }
  Model *model = TOVRAN_LoadModel(argv[1]);
  if (model == nullptr) {
    std::fprintf(stderr, "%s\n", TOVRAN_LastError());
    return 1;
  }
  TOVRAN_ModelInfo info;
  TOVRAN_GetModelInfo(model, &info);
  std::vector<std::string> bodies;
  std::ifstream in(argv[2]);
  for (std::string line; std::getline(in, line);) bodies.push_back(line);
  if (bodies.empty()) {
    std::fprintf(stderr, "%s: no request bodies\n", argv[2]);
    return 1;
  }
  const int rounds = argc > 3 ? std::stoi(argv[3]) : 5;
  const RequestLimits limits;
  std::vector<int32_t> ids(size_t(limits.max_n));
  std::vector<float> scores(size_t(limits.max_n));
  double best = 1e300;
  size_t bytes = 0;
  for (int round = 0; round < rounds; round++) {
    const auto start = std::chrono::steady_clock::now();
    for (const std::string &body : bodies) {
      BasketQuery query;
      if (ParseBasketQuery(body, ItemIds{nullptr, info.nitems}, limits, &query)) return 1;
      std::string out;
      for (const std::vector<int32_t> &basket : query.baskets) {
        const int32_t m = TOVRAN_RecommendScored(model, int32_t(basket.size()), basket.data(),
                                                 query.n, ids.data(), scores.data());
        AppendAnswer(&out, nullptr, ids.data(), scores.data(), m);
      }
      bytes += out.size();
    }
    const double micros =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count() /
        double(bodies.size());
    best = std::min(best, micros);
  }
  std::printf("%.2f us per request (parse, query, answer; best of %d rounds of %zu; %zu bytes)\n",
              best, rounds, bodies.size(), bytes);
  TOVRAN_FreeModel(model);
  return 0;
}
