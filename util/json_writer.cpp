#include "util/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

// Bytes in the well-formed UTF-8 sequence that starts text, or 0 if none
// does (a stray continuation byte, an overlong form, a surrogate, a code
// point beyond U+10FFFF, a sequence cut short).
size_t Utf8Length(std::string_view text) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (byte(0) < 0x80) return 1;
  if (byte(0) >= 0xC2 && byte(0) <= 0xDF)
    n = 2;
  else if (byte(0) >= 0xE0 && byte(0) <= 0xEF)
    n = 3;
  else if (byte(0) >= 0xF0 && byte(0) <= 0xF4)
    n = 4;
  else
    return 0;
  if (text.size() < n) return 0;
  if (byte(0) == 0xE0) low = 0xA0;
  if (byte(0) == 0xED) high = 0x9F;
  if (byte(0) == 0xF0) low = 0x90;
  if (byte(0) == 0xF4) high = 0x8F;
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t k = 2; k < n; k++)
    if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
  return n;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (size_t at = 0; at < text.size();) {
    const auto ch = static_cast<unsigned char>(text[at]);
    const size_t length = Utf8Length(text.substr(at));
    if (length == 0) {
      quoted += "\\ufffd";  // a byte that is not text: the replacement character
      at++;
      continue;
    }
    if (length > 1) {
      quoted.append(text.substr(at, length));
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
    at += length;
  }
  return quoted + "\"";
}

std::string JsonReal(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return std::string(text, ec == std::errc() ? end : text);
}

std::string JsonFloat(float value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", double(value));
  return text;
}
