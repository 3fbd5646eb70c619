#pragma once

#include <string>
#include <string_view>
#include <vector>

// How the fields of a line are separated.
enum class Delimiter { kAuto, kComma, kTab, kSemicolon, kDoubleColon, kWhitespace };

// The delimiter a file's first non-blank line suggests: "::" if present,
// else the most frequent of tab, comma and semicolon (ties in that order),
// else runs of white space.
Delimiter DetectDelimiter(std::string_view line);

// Splits line into *fields, each trimmed of surrounding blanks. Comma, tab
// and semicolon fields may be enclosed in double quotes ("" inside stands for
// one quote). Returns false with *error set for an unterminated quote or
// text after a closing quote.
bool SplitFields(std::string_view line, Delimiter delimiter, std::vector<std::string> *fields,
                 std::string *error);

// True for a line of nothing but blanks.
bool IsBlank(std::string_view line);
