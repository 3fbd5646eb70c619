#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A point in time, exact: whole seconds (rounded down) and the fraction of
// the next second in units of 1e-18 s. Ordered by seconds, then fraction.
struct Timestamp {
  int64_t seconds = 0;
  int64_t fraction = 0;  // 0 <= fraction < kFractionUnits
};
constexpr int64_t kFractionUnits = 1000000000000000000;  // 10^18
constexpr int kFractionDigits = 18;

inline bool operator<(const Timestamp &a, const Timestamp &b) {
  return a.seconds != b.seconds ? a.seconds < b.seconds : a.fraction < b.fraction;
}
inline bool operator==(const Timestamp &a, const Timestamp &b) {
  return a.seconds == b.seconds && a.fraction == b.fraction;
}
inline bool operator!=(const Timestamp &a, const Timestamp &b) { return !(a == b); }

// Reads a timestamp: a decimal number of seconds since any epoch (a sign, a
// fraction and an exponent allowed; the value must fit in 64-bit seconds and
// resolve to 1e-18 s) or a date "YYYY-MM-DD", optionally followed by 'T' or a
// blank and "HH:MM[:SS[.fraction]]" and an optional 'Z'. Returns false with
// *why (to follow the quoted text in a message) for anything else, an
// impossible date included.
bool ParseTimestamp(std::string_view text, Timestamp *time, std::string *why);
