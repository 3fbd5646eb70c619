#include "tools/convert/timestamp.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Reads exactly n digits at text[*pos]; advances *pos.
bool Digits(std::string_view text, size_t *pos, int n, int64_t *value) {
  if (*pos + size_t(n) > text.size()) return false;
  *value = 0;
  for (int k = 0; k < n; k++) {
    const char ch = text[*pos + size_t(k)];
    if (ch < '0' || ch > '9') return false;
    *value = *value * 10 + (ch - '0');
  }
  *pos += size_t(n);
  return true;
}

// Days from 1970-01-01 to the given proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool ParseNumber(std::string_view text, double *seconds) {
  const std::string copy(text);
  char *end = nullptr;
  *seconds = std::strtod(copy.c_str(), &end);
  // Decimal only: no hexadecimal, infinity or NaN spellings.
  if (copy.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
  return end != copy.c_str() && *end == '\0';
}

}  // namespace

bool ParseTimestamp(std::string_view text, double *seconds) {
  if (text.empty()) return false;
  if (ParseNumber(text, seconds)) return true;
  size_t pos = 0;
  int64_t y, mo, d, h = 0, mi = 0, s = 0;
  if (!Digits(text, &pos, 4, &y) || pos >= text.size() || text[pos++] != '-' ||
      !Digits(text, &pos, 2, &mo) || pos >= text.size() || text[pos++] != '-' ||
      !Digits(text, &pos, 2, &d))
    return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31) return false;
  double fraction = 0;
  if (pos < text.size() && (text[pos] == 'T' || text[pos] == ' ')) {
    pos++;
    if (!Digits(text, &pos, 2, &h) || pos >= text.size() || text[pos++] != ':' ||
        !Digits(text, &pos, 2, &mi))
      return false;
    if (pos < text.size() && text[pos] == ':') {
      pos++;
      if (!Digits(text, &pos, 2, &s)) return false;
      if (pos < text.size() && text[pos] == '.') {
        const size_t start = pos;
        pos++;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') pos++;
        if (pos == start + 1 || !ParseNumber(text.substr(start, pos - start), &fraction))
          return false;
      }
    }
    if (h > 23 || mi > 59 || s > 60) return false;
  }
  if (pos < text.size() && text[pos] == 'Z') pos++;
  if (pos != text.size()) return false;
  *seconds = double(DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s) + fraction;
  return true;
}
