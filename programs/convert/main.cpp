#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "cli/command_line.h"
#include "programs/convert/convert_options.h"
#include "programs/convert/interactions.h"
#include "programs/convert/pair_filter.h"
#include "programs/convert/write_dataset.h"
#include "util/output_file.h"

namespace {

int Convert(const ConvertOptions &opts) {
  std::string error;
  if (!CheckOutputs(opts.input, opts.output, &error)) {
    std::fprintf(stderr, "tovran-convert: %s; nothing written\n", error.c_str());
    return 1;
  }
  const bool from_stdin = opts.input == "-";
  std::FILE *in = from_stdin ? stdin : std::fopen(opts.input.c_str(), "r");
  if (in == nullptr) {
    std::fprintf(stderr, "tovran-convert: cannot open %s (%s)\n", opts.input.c_str(),
                 std::strerror(errno));
    return 1;
  }
  Interactions data;
  const bool read = ReadInteractions(in, opts, &data, &error);
  if (!from_stdin) std::fclose(in);
  if (!read) {
    std::fprintf(stderr, "tovran-convert: %s: %s; nothing written\n", opts.input.c_str(),
                 error.c_str());
    return 1;
  }
  FilterCounts filtered;
  if (WantsPairFilter(opts) && !FilterPairs(opts, &data, &filtered, &error)) {
    std::fprintf(stderr, "tovran-convert: %s; nothing written\n", error.c_str());
    return 1;
  }
  const int64_t npairs = data.pairs.count;
  if (!WriteDataset(opts.output, &data, &error)) {
    std::fprintf(stderr, "tovran-convert: %s; nothing written\n", error.c_str());
    return 1;
  }
  std::printf("%s: %zu users, %zu items, %lld pairs", opts.output.c_str(), data.users.ids.size(),
              data.items.ids.size(), static_cast<long long>(npairs));
  if (opts.has_min_rating)
    std::printf(" (%lld rated below %g left out)", static_cast<long long>(data.below_min),
                opts.min_rating);
  if (!opts.where.empty())
    std::printf(" (%lld rows not matching --where left out)",
                static_cast<long long>(data.unmatched));
  if (opts.dedupe)
    std::printf(" (%lld repeats left out)", static_cast<long long>(filtered.repeats));
  if (opts.min_user_pairs > 1 || opts.min_item_pairs > 1)
    std::printf(" (too few pairs: %lld users, %lld items and their %lld pairs left out)",
                static_cast<long long>(filtered.users_dropped),
                static_cast<long long>(filtered.items_dropped),
                static_cast<long long>(filtered.pairs_dropped));
  std::printf("\n");
  return cli::StandardOutputStatus("tovran-convert");
}

}  // namespace

int main(int argc, char **argv) {
  RemoveTemporariesOnSignals();
  // Exhausted memory ends the conversion with the labelled message; the exit
  // removes every temporary, and no output has been replaced.
  std::set_new_handler([] {
    std::fflush(stdout);
    std::fputs(
        "tovran-convert: ***Memory allocation failed for the conversion's working lists; "
        "nothing written\n",
        stderr);
    std::exit(1);
  });
  ConvertOptions opts;
  if (std::optional<int> status = ParseConvertOptions(argc, argv, &opts)) return *status;
  return Convert(opts);
}
