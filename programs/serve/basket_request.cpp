#include "programs/serve/basket_request.h"

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>

#include "driver/query_inputs.h"

namespace {

using nlohmann::json;

RequestError Bad(std::string message) { return RequestError{400, std::move(message)}; }

// The text of an id: a string as it is, an integer in decimal; nullopt for
// any other JSON value.
std::optional<std::string> IdText(const json &value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer()) return value.dump();
  return std::nullopt;
}

// A decimal integer without sign, spaces or leading '+'; nullopt otherwise.
std::optional<int64_t> DecimalOf(std::string_view text) {
  int64_t value = 0;
  if (text.empty() || text.size() > 18) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<RequestError> ItemOf(const json &value, const ItemIds &ids, const std::string &where,
                                   int32_t *item) {
  // An index as a JSON integer needs no text.
  if (ids.maps == nullptr && value.is_number_integer() && !value.is_number_unsigned() &&
      value.get<int64_t>() >= 0 && value.get<int64_t>() < ids.nitems) {
    *item = int32_t(value.get<int64_t>());
    return std::nullopt;
  }
  if (ids.maps == nullptr && value.is_number_unsigned() &&
      value.get<uint64_t>() < uint64_t(ids.nitems)) {
    *item = int32_t(value.get<uint64_t>());
    return std::nullopt;
  }
  const std::optional<std::string> text = IdText(value);
  if (!text) return Bad(where + ": an id is a string or an integer, not " + value.dump());
  return ParseItemId(*text, ids, where, item);
}

// The ids of a JSON array, at most limit of them.
std::optional<RequestError> ItemList(const json &value, const ItemIds &ids,
                                     const std::string &where, int32_t limit,
                                     std::vector<int32_t> *items) {
  if (!value.is_array()) return Bad(where + ": must be an array of ids");
  if (value.size() > size_t(limit))
    return Bad(where + ": " + std::to_string(value.size()) + " ids, more than the limit of " +
               std::to_string(limit));
  items->clear();
  items->reserve(value.size());
  for (size_t k = 0; k < value.size(); k++) {
    int32_t item = -1;
    if (auto error = ItemOf(value[k], ids, where + "[" + std::to_string(k) + "]", &item))
      return error;
    items->push_back(item);
  }
  return std::nullopt;
}

}  // namespace

std::string ShownId(const std::string &text) {
  if (text.size() <= 64) return text;
  size_t end = 64;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) end--;
  return text.substr(0, end) + "...";
}

std::optional<RequestError> ParseItemId(const std::string &text, const ItemIds &ids,
                                        const std::string &where, int32_t *item) {
  const std::string shown = ShownId(text);
  if (ids.maps != nullptr) {
    *item = ids.maps->Item(text);
    if (*item >= 0 && *item < ids.nitems) return std::nullopt;
  } else {
    const std::optional<int64_t> index = DecimalOf(text);
    if (!index) return Bad(where + ": item '" + shown + "' is not an item index");
    if (*index >= 0 && *index < ids.nitems) {
      *item = int32_t(*index);
      return std::nullopt;
    }
  }
  return RequestError{404, where + ": item '" + shown + "' is not among the model's items"};
}

std::optional<RequestError> ParseCount(const std::string &text, int32_t max_n, int32_t *n) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::optional<int64_t> value = DecimalOf(negative ? text.substr(1) : text);
  if (!value) return Bad("n: '" + ShownId(text) + "' is not an integer");
  if (negative || *value < 1 || *value > max_n)
    return Bad("n: " + text + " lies outside 1.." + std::to_string(max_n));
  *n = int32_t(*value);
  return std::nullopt;
}

std::optional<RequestError> ParseBasketQuery(std::string_view body, const ItemIds &ids,
                                             const RequestLimits &limits, BasketQuery *query) {
  const json request = json::parse(body.begin(), body.end(), nullptr, false);
  if (request.is_discarded()) return Bad("the body is not valid JSON");
  if (!request.is_object()) return Bad("the body must be a JSON object");
  *query = BasketQuery{};
  int sources = 0;
  for (const auto &[key, value] : request.items()) {
    if (key == "items") {
      sources++;
      query->baskets.emplace_back();
      if (auto error = ItemList(value, ids, "items", limits.max_basket, &query->baskets.back()))
        return error;
    } else if (key == "baskets") {
      sources++;
      query->batch = true;
      if (!value.is_array()) return Bad("baskets: must be an array of arrays of ids");
      if (value.size() > size_t(limits.max_batch))
        return Bad("baskets: " + std::to_string(value.size()) +
                   " baskets, more than the limit of " + std::to_string(limits.max_batch));
      query->baskets.resize(value.size());
      for (size_t b = 0; b < value.size(); b++)
        if (auto error = ItemList(value[b], ids, "baskets[" + std::to_string(b) + "]",
                                  limits.max_basket, &query->baskets[b]))
          return error;
    } else if (key == "user") {
      sources++;
      query->user = IdText(value);
      if (!query->user) return Bad("user: an id is a string or an integer");
    } else if (key == "n") {
      if (!value.is_number_integer()) return Bad("n: must be an integer");
      const int64_t n = value.is_number_unsigned()
                            ? int64_t(std::min<uint64_t>(value.get<uint64_t>(), INT64_MAX))
                            : value.get<int64_t>();
      if (n < 1 || n > limits.max_n)
        return Bad("n: " + value.dump() + " lies outside 1.." + std::to_string(limits.max_n));
      query->n = int32_t(n);
    } else if (key == "filter_items") {
      if (auto error =
              ItemList(value, ids, "filter_items", limits.max_basket, &query->filter_items))
        return error;
    } else if (key == "allowed_items") {
      query->allowed_items.emplace();
      if (auto error =
              ItemList(value, ids, "allowed_items", limits.max_basket, &*query->allowed_items))
        return error;
    } else if (key == "filter_already_liked_items") {
      if (!value.is_boolean()) return Bad("filter_already_liked_items: must be true or false");
      query->filter_already_liked_items = value.get<bool>();
    } else if (key == "fallback") {
      if (!value.is_boolean()) return Bad("fallback: must be true or false");
      query->fallback = value.get<bool>();
    } else {
      return Bad("unknown field '" + ShownId(key) +
                 "' (items, baskets, user, n, filter_items, allowed_items, "
                 "filter_already_liked_items, fallback)");
    }
  }
  if (sources != 1) return Bad("give exactly one of items, baskets and user");
  return std::nullopt;
}
