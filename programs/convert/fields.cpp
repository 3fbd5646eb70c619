#include "programs/convert/fields.h"

#include <algorithm>

namespace {

bool IsBlankChar(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\v' || ch == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlankChar(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankChar(text.back())) text.remove_suffix(1);
  return text;
}

char SeparatorChar(Delimiter delimiter) {
  switch (delimiter) {
    case Delimiter::kComma: return ',';
    case Delimiter::kTab: return '\t';
    case Delimiter::kSemicolon: return ';';
    default: return ':';
  }
}

// Splits on a single separator character, honouring double quotes.
bool SplitQuoted(std::string_view line, char sep, std::vector<std::string> *fields,
                 std::string *error) {
  size_t pos = 0;
  for (;;) {
    // Blanks before a quote are skipped, unless the blank is the separator.
    size_t start = pos;
    while (start < line.size() && line[start] != sep && IsBlankChar(line[start])) start++;
    std::string field;
    size_t end;
    if (start < line.size() && line[start] == '"') {
      size_t k = start + 1;
      for (;; k++) {
        if (k >= line.size()) {
          *error = "a quoted field has no closing quote";
          return false;
        }
        if (line[k] == '"') {
          if (k + 1 < line.size() && line[k + 1] == '"') {
            field += '"';
            k++;
          } else {
            break;
          }
        } else {
          field += line[k];
        }
      }
      end = k + 1;
      while (end < line.size() && line[end] != sep && IsBlankChar(line[end])) end++;
      if (end < line.size() && line[end] != sep) {
        *error = "text follows a closing quote";
        return false;
      }
    } else {
      end = line.find(sep, pos);
      if (end == std::string_view::npos) end = line.size();
      field = std::string(Trim(line.substr(pos, end - pos)));
    }
    fields->push_back(std::move(field));
    if (end >= line.size()) return true;
    pos = end + 1;
  }
}

}  // namespace

bool IsBlank(std::string_view line) { return Trim(line).empty(); }

Delimiter DetectDelimiter(std::string_view line) {
  if (line.find("::") != std::string_view::npos) return Delimiter::kDoubleColon;
  const auto tabs = std::count(line.begin(), line.end(), '\t');
  const auto commas = std::count(line.begin(), line.end(), ',');
  const auto semicolons = std::count(line.begin(), line.end(), ';');
  if (tabs == 0 && commas == 0 && semicolons == 0) return Delimiter::kWhitespace;
  if (tabs >= commas && tabs >= semicolons) return Delimiter::kTab;
  return commas >= semicolons ? Delimiter::kComma : Delimiter::kSemicolon;
}

bool SplitFields(std::string_view line, Delimiter delimiter, std::vector<std::string> *fields,
                 std::string *error) {
  fields->clear();
  if (delimiter == Delimiter::kWhitespace) {
    size_t pos = 0;
    while (pos < line.size()) {
      while (pos < line.size() && IsBlankChar(line[pos])) pos++;
      size_t end = pos;
      while (end < line.size() && !IsBlankChar(line[end])) end++;
      if (end > pos) fields->emplace_back(line.substr(pos, end - pos));
      pos = end;
    }
    return true;
  }
  if (delimiter == Delimiter::kDoubleColon) {
    size_t pos = 0;
    for (;;) {
      const size_t end = line.find("::", pos);
      fields->emplace_back(Trim(line.substr(pos, end == std::string_view::npos ? end : end - pos)));
      if (end == std::string_view::npos) return true;
      pos = end + 2;
    }
  }
  return SplitQuoted(line, SeparatorChar(delimiter), fields, error);
}
