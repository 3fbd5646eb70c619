// tovran-serve's request reading on arbitrary bodies: every body is accepted
// or refused with a 400 or 404 and a message, never a crash or a hang, and
// an accepted one holds only items of the model, within the limits. Each
// input is read with item indices and with original ids through maps, and
// its text also as the n and item query parameters.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "driver/query_inputs.h"
#include "programs/serve/basket_request.h"

namespace {

constexpr int32_t kItems = 40;

// Maps of 40 items and 3 users written once under the temporary directory.
const IdMaps &Maps() {
  static const IdMaps maps = [] {
    const std::string data = "/tmp/serve_request_fuzzer." + std::to_string(getpid());
    std::ofstream items(data + ".items"), users(data + ".users");
    for (int32_t i = 0; i < kItems; i++) items << (i % 3 == 0 ? "item" : "") << i * 7 << "\n";
    users << "a\nb\nc\n";
    items.close();
    users.close();
    IdMaps read(data);
    std::remove((data + ".items").c_str());
    std::remove((data + ".users").c_str());
    return read;
  }();
  return maps;
}

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

void Read(const std::string &body, const ItemIds &ids, const RequestLimits &limits) {
  BasketQuery query;
  const std::optional<RequestError> error = ParseBasketQuery(body, ids, limits, &query);
  if (error) {
    Check((error->status == 400 || error->status == 404) && !error->message.empty());
    return;
  }
  Check(query.n >= 1 && query.n <= limits.max_n);
  Check(query.baskets.size() + query.user.has_value() == (query.batch ? query.baskets.size() : 1));
  Check(query.baskets.size() <= size_t(limits.max_batch));
  auto in_model = [&](const std::vector<int32_t> &items) {
    Check(items.size() <= size_t(limits.max_basket));
    for (const int32_t item : items) Check(item >= 0 && item < ids.nitems);
  };
  for (const std::vector<int32_t> &basket : query.baskets) in_model(basket);
  in_model(query.filter_items);
  if (query.allowed_items) in_model(*query.allowed_items);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string body(reinterpret_cast<const char *>(data), size);
  const RequestLimits limits{50, 16, 8};
  Read(body, ItemIds{nullptr, kItems}, limits);
  Read(body, ItemIds{&Maps(), kItems}, limits);
  int32_t n = 0, item = -1;
  if (!ParseCount(body, limits.max_n, &n)) Check(n >= 1 && n <= limits.max_n);
  if (!ParseItemId(body, ItemIds{&Maps(), kItems}, "item", &item))
    Check(item >= 0 && item < kItems);
  return 0;
}
