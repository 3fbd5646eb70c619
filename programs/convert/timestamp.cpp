#include "programs/convert/timestamp.h"

#include <cstdint>
#include <string>

namespace {

constexpr char kNotATime[] = "is neither a number nor a date";

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

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

// Days from 1970-01-01 to the given proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int64_t DaysInMonth(int64_t y, int64_t m) {
  static const int64_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// The fraction digits (after the point, trailing zeros allowed) in units of
// 1e-18 s; false when a non-zero digit lies beyond the 18th.
bool FractionUnits(std::string_view digits, int64_t *units) {
  *units = 0;
  for (size_t k = 0; k < digits.size(); k++) {
    if (k < size_t(kFractionDigits)) {
      *units = *units * 10 + (digits[k] - '0');
    } else if (digits[k] != '0') {
      return false;
    }
  }
  for (size_t k = digits.size(); k < size_t(kFractionDigits); k++) *units *= 10;
  return true;
}

// A decimal number [+-]digits[.digits][(e|E)[+-]digits], exactly.
bool ParseNumber(std::string_view text, Timestamp *time, std::string *why) {
  size_t pos = 0;
  const bool negative = pos < text.size() && text[pos] == '-';
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) pos++;
  std::string digits;  // every mantissa digit, the point left out
  int64_t point = 0;   // digits before the point
  bool seen_point = false;
  for (; pos < text.size() && (IsDigit(text[pos]) || (text[pos] == '.' && !seen_point)); pos++) {
    if (text[pos] == '.') {
      seen_point = true;
    } else {
      digits += text[pos];
      if (!seen_point) point++;
    }
  }
  if (digits.empty()) {
    *why = kNotATime;
    return false;
  }
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    pos++;
    const bool down = pos < text.size() && text[pos] == '-';
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) pos++;
    int64_t exponent = 0;
    const size_t start = pos;
    for (; pos < text.size() && IsDigit(text[pos]); pos++)
      if (exponent < 100000) exponent = exponent * 10 + (text[pos] - '0');
    if (pos == start) {
      *why = kNotATime;
      return false;
    }
    point += down ? -exponent : exponent;
  }
  if (pos != text.size()) {
    *why = kNotATime;
    return false;
  }
  // Put the point inside the digits: zeros before or after as needed.
  const size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) {
    *time = Timestamp{};
    return true;
  }
  digits.erase(0, first);
  point -= int64_t(first);
  if (point < 0) {
    if (-point > kFractionDigits) {
      *why = "is finer than 1e-18 seconds";
      return false;
    }
    digits.insert(0, size_t(-point), '0');
    point = 0;
  }
  if (point > 19) {
    *why = "does not fit in 64-bit seconds";
    return false;
  }
  if (size_t(point) > digits.size()) digits.append(size_t(point) - digits.size(), '0');
  uint64_t whole = 0;
  for (int64_t k = 0; k < point; k++) {
    const auto digit = uint64_t(digits[size_t(k)] - '0');
    if (whole > (UINT64_MAX - digit) / 10)
      whole = UINT64_MAX;
    else
      whole = whole * 10 + digit;
  }
  int64_t units = 0;
  if (!FractionUnits(std::string_view(digits).substr(size_t(point)), &units)) {
    *why = "is finer than 1e-18 seconds";
    return false;
  }
  // Negative values round down: -1.25 is -2 seconds and 0.75 of the next.
  const uint64_t limit = negative && units == 0 ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (whole > limit) {
    *why = "does not fit in 64-bit seconds";
    return false;
  }
  if (!negative) {
    *time = Timestamp{int64_t(whole), units};
  } else if (units == 0) {
    *time = Timestamp{int64_t(0 - whole), 0};
  } else {
    *time = Timestamp{-int64_t(whole) - 1, kFractionUnits - units};
  }
  return true;
}

}  // namespace

bool ParseTimestamp(std::string_view text, Timestamp *time, std::string *why) {
  *why = kNotATime;
  if (text.empty()) return false;
  // A date starts with four digits and a hyphen; anything else is a number
  // (123e-4 has its hyphen there too).
  const bool date = text.size() > 4 && text[4] == '-' && IsDigit(text[0]) && IsDigit(text[1]) &&
                    IsDigit(text[2]) && IsDigit(text[3]);
  if (!date) return ParseNumber(text, time, why);
  size_t pos = 0;
  int64_t y, mo, d, h = 0, mi = 0, s = 0;
  if (!Digits(text, &pos, 4, &y) || pos >= text.size() || text[pos++] != '-' ||
      !Digits(text, &pos, 2, &mo) || pos >= text.size() || text[pos++] != '-' ||
      !Digits(text, &pos, 2, &d))
    return false;
  if (mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo)) {
    *why = "is not a date of the calendar";
    return false;
  }
  std::string_view fraction;
  if (pos < text.size() && (text[pos] == 'T' || text[pos] == ' ')) {
    pos++;
    if (!Digits(text, &pos, 2, &h) || pos >= text.size() || text[pos++] != ':' ||
        !Digits(text, &pos, 2, &mi))
      return false;
    if (pos < text.size() && text[pos] == ':') {
      pos++;
      if (!Digits(text, &pos, 2, &s)) return false;
      if (pos < text.size() && text[pos] == '.') {
        const size_t start = ++pos;
        while (pos < text.size() && IsDigit(text[pos])) pos++;
        if (pos == start) return false;
        fraction = text.substr(start, pos - start);
      }
    }
    if (h > 23 || mi > 59 || s > 60) {
      *why = "is not a time of the day";
      return false;
    }
  }
  if (pos < text.size() && text[pos] == 'Z') pos++;
  if (pos != text.size()) return false;
  int64_t units = 0;
  if (!FractionUnits(fraction, &units)) {
    *why = "is finer than 1e-18 seconds";
    return false;
  }
  *time = Timestamp{DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s, units};
  return true;
}
