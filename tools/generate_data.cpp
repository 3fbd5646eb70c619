// tovran-generate: writes a synthetic transaction file in the dataset format
// to standard output, the same bytes for the same arguments on every machine.
//
//   tovran-generate PAIRS [SEED [ITEMS [ZIPF [MEAN]]]]
//
// Items are drawn with a Zipf-like popularity (weight 1 / (rank + 10)^ZIPF,
// ranks scattered over the item ids; ZIPF defaults to 0.9); basket sizes are
// geometric around MEAN (default 8) with one basket in 100 drawn from 20..299
// instead; about one pair in 500 repeats an item the user already holds;
// users stand in contiguous runs, and about one user in 1000 has no pairs at
// all. ITEMS defaults to PAIRS / 50 (at least 50).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr double kDefaultZipf = 0.9;
constexpr double kZipfOffset = 10.0;
constexpr double kRepeatChance = 0.002;
constexpr double kEmptyUserChance = 0.001;
constexpr double kLargeBasketChance = 0.01;
constexpr int32_t kLargeBasketMax = 300;
constexpr double kDefaultBasketMean = 8.0;

// splitmix64: a fixed, portable sequence for a given seed.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Unit() { return double(Next() >> 11) * 0x1.0p-53; }
  // Uniform in 0..n-1.
  int64_t Below(int64_t n) { return int64_t(Next() % uint64_t(n)); }

 private:
  uint64_t state_;
};

// Draws item ids by Zipf-like popularity; rank r has weight 1/(r+offset)^s.
class ItemPopularity {
 public:
  ItemPopularity(int32_t nitems, double exponent, Random &random)
      : cumulative_(size_t(nitems)), id_(size_t(nitems)) {
    double total = 0.0;
    for (int32_t r = 0; r < nitems; r++) {
      total += 1.0 / std::pow(r + 1 + kZipfOffset, exponent);
      cumulative_[size_t(r)] = total;
    }
    for (int32_t r = 0; r < nitems; r++) id_[size_t(r)] = r;
    for (int32_t r = nitems - 1; r > 0; r--)
      std::swap(id_[size_t(r)], id_[size_t(random.Below(r + 1))]);
  }

  int32_t Draw(Random &random) const {
    const double target = random.Unit() * cumulative_.back();
    const auto rank =
        std::upper_bound(cumulative_.begin(), cumulative_.end(), target) - cumulative_.begin();
    return id_[size_t(std::min<int64_t>(rank, int64_t(id_.size()) - 1))];
  }

 private:
  std::vector<double> cumulative_;
  std::vector<int32_t> id_;
};

// Mostly geometric around mean, sometimes large.
int32_t BasketSize(double mean, Random &random) {
  if (random.Unit() < kLargeBasketChance) return 20 + int32_t(random.Below(kLargeBasketMax - 20));
  const double u = 1.0 - random.Unit();
  return 1 + int32_t(std::floor(std::log(u) / std::log(1.0 - 1.0 / mean)));
}

class Output {
 public:
  ~Output() { Flush(); }
  void Pair(int64_t a, int64_t b) {
    if (buffer_.size() > (1u << 20)) Flush();
    buffer_ += std::to_string(a);
    buffer_ += ' ';
    buffer_ += std::to_string(b);
    buffer_ += '\n';
  }
  void Flush() {
    std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
    buffer_.clear();
  }

 private:
  std::string buffer_;
};

int64_t ParseCount(const char *text, const char *what) {
  char *end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > INT32_MAX - 1) {
    std::fprintf(stderr, "tovran-generate: %s must be an integer in 0..%d, not '%s'\n", what,
                 INT32_MAX - 1, text);
    std::exit(1);
  }
  return value;
}

// A real number in [low, high] for argument what.
double ParseReal(const char *text, const char *what, double low, double high) {
  char *end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value >= low && value <= high)) {
    std::fprintf(stderr, "tovran-generate: %s must be a number in %g..%g, not '%s'\n", what, low,
                 high, text);
    std::exit(1);
  }
  return value;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2 || argc > 6) {
    std::fprintf(stderr, "Usage: %s PAIRS [SEED [ITEMS [ZIPF [MEAN]]]]\n", argv[0]);
    return 1;
  }
  const int64_t npairs = ParseCount(argv[1], "PAIRS");
  const uint64_t seed = argc > 2 ? uint64_t(ParseCount(argv[2], "SEED")) : 1;
  const int64_t nitems =
      argc > 3 ? ParseCount(argv[3], "ITEMS") : std::max<int64_t>(50, npairs / 50);
  const double zipf = argc > 4 ? ParseReal(argv[4], "ZIPF", 0.0, 10.0) : kDefaultZipf;
  const double mean = argc > 5 ? ParseReal(argv[5], "MEAN", 1.0, 10000.0) : kDefaultBasketMean;
  if (nitems == 0 && npairs > 0) {
    std::fprintf(stderr, "tovran-generate: pairs need at least one item\n");
    return 1;
  }

  Random random(seed);
  const ItemPopularity popularity(int32_t(nitems), zipf, random);
  // Baskets first, so that the header can state the number of users.
  std::vector<int32_t> sizes;
  for (int64_t left = npairs; left > 0;) {
    if (random.Unit() < kEmptyUserChance) {
      sizes.push_back(0);
      continue;
    }
    const int32_t size = int32_t(std::min<int64_t>(BasketSize(mean, random), left));
    sizes.push_back(size);
    left -= size;
  }

  std::printf("%zu %lld %lld\n", sizes.size(), static_cast<long long>(nitems),
              static_cast<long long>(npairs));
  std::fflush(stdout);
  Output out;
  std::vector<int32_t> basket;
  for (size_t user = 0; user < sizes.size(); user++) {
    basket.clear();
    for (int32_t t = 0; t < sizes[user]; t++) {
      int32_t item;
      if (!basket.empty() && random.Unit() < kRepeatChance) {
        item = basket[size_t(random.Below(int64_t(basket.size())))];
      } else {
        // A few tries for an item the user does not hold yet; then take it.
        item = popularity.Draw(random);
        for (int tries = 0;
             tries < 8 && std::find(basket.begin(), basket.end(), item) != basket.end(); tries++)
          item = popularity.Draw(random);
      }
      basket.push_back(item);
      out.Pair(int64_t(user), item);
    }
  }
  return 0;
}
