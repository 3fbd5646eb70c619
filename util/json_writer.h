#pragma once

#include <string>
#include <string_view>

// The JSON text every program writes: strings that are always valid UTF-8
// and numbers that are always JSON numbers. Callers assemble objects and
// lists themselves from these pieces.
//
// Written here rather than with a JSON library so that the documents keep
// their bytes: control characters as \u00XX, bytes that are not text as the
// escape \ufffd, reals as the shortest text that reads back to the same value.

// text as a JSON string literal, quotes included: '"' and '\' escaped,
// control characters (NUL among them) as \u00XX, each byte that is not part
// of well-formed UTF-8 as \ufffd (the replacement character), other bytes as
// they are.
std::string JsonString(std::string_view text);

// value as the shortest JSON number that reads back to the same double, or
// null when it is infinite or not a number (JSON has no such numbers).
std::string JsonReal(double value);

// value as printf's "%.9g" writes it (enough digits to read back the same
// float), or null when it is infinite or not a number.
std::string JsonFloat(float value);
