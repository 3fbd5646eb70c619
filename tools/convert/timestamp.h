#pragma once

#include <string_view>

// Reads a timestamp as a number of seconds: a decimal number (seconds since
// any epoch, fractions and a sign allowed) or a date "YYYY-MM-DD", optionally
// followed by 'T' or a blank and "HH:MM[:SS[.fraction]]" and an optional 'Z'.
// Returns false for anything else.
bool ParseTimestamp(std::string_view text, double *seconds);
