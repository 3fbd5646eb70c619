#include "programs/convert/convert_options.h"

#include <cfloat>
#include <climits>

#include "cli/command_line.h"

namespace {

bool ParseDelimiter(std::string_view text, Delimiter *delimiter) {
  struct Name {
    const char *text;
    Delimiter delimiter;
  };
  static const Name kNames[] = {{"auto", Delimiter::kAuto},
                                {",", Delimiter::kComma},
                                {"comma", Delimiter::kComma},
                                {"\t", Delimiter::kTab},
                                {"tab", Delimiter::kTab},
                                {";", Delimiter::kSemicolon},
                                {"semicolon", Delimiter::kSemicolon},
                                {"::", Delimiter::kDoubleColon},
                                {"whitespace", Delimiter::kWhitespace},
                                {"space", Delimiter::kWhitespace}};
  for (const Name &name : kNames) {
    if (text == name.text) {
      *delimiter = name.delimiter;
      return true;
    }
  }
  return false;
}

// text in single quotes, as the command-line layer quotes values.
std::string Quoted(std::string_view text) {
  std::string quoted(1, '\'');
  quoted.append(text).push_back('\'');
  return quoted;
}

}  // namespace

std::optional<int> ParseConvertOptions(int argc, const char *const *argv, ConvertOptions *opts) {
  *opts = ConvertOptions{};
  cli::CommandLine line(
      "tovran-convert", "INPUT OUTPUT",
      "Turns an interaction file into tovran's dataset format; writes OUTPUT and the id maps\n"
      "OUTPUT.users and OUTPUT.items (one original id a line, line number = index from 0).\n"
      "INPUT '-' reads standard input.");
  line.Value("--delimiter", "D",
             "comma, tab, semicolon, ::, whitespace or auto\n"
             "(default: detected from the first line)",
             [opts](std::string_view text) {
               return ParseDelimiter(text, &opts->delimiter)
                          ? std::string()
                          : Quoted(text) +
                                " is not a delimiter (use comma, tab, semicolon, ::, "
                                "whitespace or auto)";
             });
  line.Flag("--header", "the first line names the columns", [opts] { opts->header = 1; });
  line.Flag("--no-header", "the first line is data (default: detected from the names)",
            [opts] { opts->header = 0; });
  line.Value("--user", "C", "the user column, by header name or position from 1",
             cli::TextTo(&opts->user));
  line.Value("--item", "C", "the item column", cli::TextTo(&opts->item));
  line.Value("--timestamp", "C",
             "the timestamp column: orders each user's pairs (once\n"
             "--user or --item is given, only a named one is used)",
             cli::TextTo(&opts->timestamp));
  line.Value("--rating", "C", "the rating column, read with --min-rating",
             cli::TextTo(&opts->rating));
  line.Value("--value", "C",
             "keep the column's values (ratings, counts, confidences)\n"
             "in OUTPUT.values, one a line, for weighted models",
             cli::TextTo(&opts->value));
  line.Value("--min-rating", "R", "keep only pairs rated R or more", [opts](std::string_view text) {
    opts->has_min_rating = true;
    return cli::ParseReal(text, -DBL_MAX, DBL_MAX, &opts->min_rating);
  });
  line.Flag("--no-timestamp", "keep input order even when there is a timestamp",
            [opts] { opts->use_timestamp = false; });
  line.Flag("--baskets", "each line is one basket (a user) of items", &opts->baskets);
  line.Value("--where", "C=V",
             "keep only rows whose column C (name or position) holds V;\n"
             "repeatable: all columns must match, a column given twice\n"
             "matches either value",
             [opts](std::string_view text) {
               const size_t at = text.find('=');
               if (at == std::string_view::npos || at == 0)
                 return Quoted(text) + " is not COLUMN=VALUE";
               opts->where.push_back(WhereCondition{std::string(text.substr(0, at)),
                                                    std::string(text.substr(at + 1))});
               return std::string();
             });
  line.Flag("--dedupe",
            "keep one copy of a repeated (user, item) pair: the latest\n"
            "by timestamp, else the last in input order",
            &opts->dedupe);
  line.Value("--min-user-pairs", "K", "drop users with fewer than K pairs, and",
             cli::IntTo(&opts->min_user_pairs, 1, INT32_MAX));
  line.Value("--min-item-pairs", "K", "items with fewer than K pairs, until none is left (k-core)",
             cli::IntTo(&opts->min_item_pairs, 1, INT32_MAX));
  line.Value("--buffer-pairs", "N",
             "pairs ordered in memory (40 bytes each) before ordered runs\n"
             "go to temporary files (default 4194304)",
             [opts](std::string_view text) {
               int64_t pairs = 0;
               std::string reason = cli::ParseInt(text, 1, INT64_MAX, &pairs);
               opts->buffer_pairs = size_t(pairs);
               return reason;
             });
  line.Operands(2, 2);
  if (std::optional<int> status = line.Parse(argc, argv)) return status;
  if (opts->baskets && (opts->has_min_rating || !opts->user.empty() || !opts->item.empty() ||
                        !opts->rating.empty() || !opts->timestamp.empty() || !opts->value.empty() ||
                        !opts->where.empty())) {
    line.PrintError("--baskets: takes no columns, no --min-rating, no --value and no --where");
    return 1;
  }
  opts->input = line.operands()[0];
  opts->output = line.operands()[1];
  return std::nullopt;
}
