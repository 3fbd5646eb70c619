#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

// JSON strings and numbers for the server's answers.

// text as a JSON string literal: quotes and backslashes escaped, control
// characters as \u00XX, bytes that are not well-formed UTF-8 as \ufffd.
inline std::string JsonString(std::string_view text) {
  std::string out = "\"";
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  for (size_t k = 0; k < text.size();) {
    const unsigned char c = byte(k);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
      k++;
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
      k++;
    } else if (c < 0x80) {
      out += char(c);
      k++;
    } else {
      // Length and bounds of a well-formed sequence starting with c.
      size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                      : c >= 0xE0 && c <= 0xEF ? 3
                      : c >= 0xF0 && c <= 0xF4 ? 4
                                               : 0;
      bool ok = length > 0 && k + length <= text.size();
      for (size_t j = 1; ok && j < length; j++) {
        const unsigned char d = byte(k + j);
        unsigned char lo = 0x80, hi = 0xBF;
        if (j == 1 && c == 0xE0) lo = 0xA0;
        if (j == 1 && c == 0xED) hi = 0x9F;
        if (j == 1 && c == 0xF0) lo = 0x90;
        if (j == 1 && c == 0xF4) hi = 0x8F;
        ok = d >= lo && d <= hi;
      }
      if (ok) {
        out.append(text.substr(k, length));
        k += length;
      } else {
        out += "\\ufffd";
        k++;
      }
    }
  }
  return out + "\"";
}

// value as "%.9g" writes it (reads back to the same float), or null.
inline std::string JsonFloat(float value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", double(value));
  return text;
}
