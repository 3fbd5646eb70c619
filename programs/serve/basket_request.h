#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class IdMaps;

// The JSON body of POST /recommend read into item indices. Every id is
// checked against the model before any query runs, so a request is answered
// whole or refused whole.

// How ids in a request become item indices: original ids through maps (a
// JSON string, or an integer read as its decimal text), else indices in
// 0..nitems-1 (a JSON integer, or a string holding one).
struct ItemIds {
  const IdMaps *maps = nullptr;
  int32_t nitems = 0;
};

// What a request may ask for.
struct RequestLimits {
  int32_t max_n = 1000;        // answers per basket
  int32_t max_basket = 10000;  // items per basket, and per filter list
  int32_t max_batch = 1000;    // baskets per request
};

// One recommendation request: a basket, a user's basket (resolved later
// against the model's users) or a batch of baskets, with its options.
struct BasketQuery {
  std::vector<std::vector<int32_t>> baskets;  // the basket, or the batch's
  std::optional<std::string> user;            // "user": the id as text
  bool batch = false;                         // answered as {"results": [...]}
  int32_t n = 10;
  std::vector<int32_t> filter_items;                  // never recommended
  std::optional<std::vector<int32_t>> allowed_items;  // only these recommended
  bool filter_already_liked_items = true;             // basket items never recommended
  bool fallback = false;  // a short answer filled from the popularity ranking
};

// A refused request: its HTTP status and a message naming the field.
struct RequestError {
  int status = 400;
  std::string message;
};

// Reads body into *query. Returns nothing when accepted, else the error:
// 400 for malformed JSON, unknown or mistyped fields, n outside 1..max_n,
// lists longer than the limits; 404 for an id the model does not hold.
std::optional<RequestError> ParseBasketQuery(std::string_view body, const ItemIds &ids,
                                             const RequestLimits &limits, BasketQuery *query);

// text for a message: cut after 64 bytes (not inside a UTF-8 sequence), so
// that a long id cannot swell the answer.
std::string ShownId(const std::string &text);

// The item of text (a query parameter) as ParseBasketQuery reads one id.
std::optional<RequestError> ParseItemId(const std::string &text, const ItemIds &ids,
                                        const std::string &where, int32_t *item);

// n from a query parameter: a decimal integer in 1..max_n.
std::optional<RequestError> ParseCount(const std::string &text, int32_t max_n, int32_t *n);
