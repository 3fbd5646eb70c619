// tovran_user_classes: what the user-based query's candidate arrays are made
// of, per data set: candidates per query, their distinct (hits, row length)
// classes and distinct values, the share with one hit and the share first met
// in the basket's longest column, the selection's partition passes over them
// (segment sizes after the first passes, entries scanned per candidate).
//
//   tovran_user_classes [--queries Q] NAME=FILE ...
//
// Baskets are the users' training items, every s-th user so that about Q
// (default 500) are asked. Phase 1 is redone here from the model's arrays,
// as the query does it; the passes are the reference partition of tests/.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "driver/split.h"
#include "engine/model.h"
#include "engine/tovran.h"
#include "tests/reference_candidates.h"

namespace {

constexpr int32_t kUserNeighbours = 50;

struct Tally {
  double queries = 0, entries = 0, longest = 0, candidates = 0, classes = 0, values = 0;
  double one_hit = 0, in_longest = 0, plain_longest = 0, passes = 0, scanned = 0, after1 = 0,
         after2 = 0, after3 = 0, selected = 0;
};

void Measure(const Model *m, const int32_t *basket, int32_t n, Tally *t, std::vector<int32_t> &hits,
             std::vector<float> &sums) {
  std::vector<CandidatePair> cand;
  int32_t longest = -1, longest_len = -1;
  int64_t entries = 0;
  for (int32_t b = 0; b < n; b++) {
    const int32_t len = m->users.colptr[basket[b] + 1] - m->users.colptr[basket[b]];
    entries += len;
    if (len > longest_len) longest_len = len, longest = b;
  }
  std::vector<int32_t> users;
  std::vector<char> from_longest;
  for (int32_t b = 0; b < n; b++)
    for (int32_t j = m->users.colptr[basket[b]]; j < m->users.colptr[basket[b] + 1]; j++) {
      const int32_t u = m->users.colind[j];
      if (hits[u]++ == 0) {
        users.push_back(u);
        from_longest.push_back(b == longest);
        sums[u] = m->users.colval[j];
      } else {
        sums[u] = sums[u] + m->users.colval[j];
      }
    }
  const double s0 = double(float(1.0 / std::sqrt(double(n))));
  std::set<std::pair<int32_t, int32_t>> classes;
  std::set<float> values;
  double one_hit = 0, in_longest = 0, plain_longest = 0;
  for (size_t q = 0; q < users.size(); q++) {
    const int32_t u = users[q];
    const float v = float(s0 * double(sums[u]));
    cand.push_back({v, u});
    classes.insert({hits[u], m->users.rowptr[u + 1] - m->users.rowptr[u]});
    values.insert(v);
    one_hit += hits[u] == 1;
    in_longest += from_longest[q];
    plain_longest += from_longest[q] && hits[u] == 1;
    hits[u] = 0;
  }
  int32_t nr = int32_t(cand.size());
  for (int32_t q = 0; q < nr;) {
    if (double(cand[size_t(q)].value) > 0.999) {
      cand[size_t(q)] = cand[size_t(--nr)];
    } else {
      q++;
    }
  }
  t->queries++;
  t->entries += double(entries);
  t->longest += double(longest_len);
  t->candidates += double(nr);
  t->classes += double(classes.size());
  t->values += double(values.size());
  t->one_hit += one_hit;
  t->in_longest += in_longest;
  t->plain_longest += plain_longest;
  if (nr <= kUserNeighbours) return;
  t->selected++;
  int32_t lo = 0, hi = nr - 1, pass = 0;
  while (hi - lo > 2) {
    t->scanned += hi - lo + 1;
    int32_t i, j;
    ReferencePartition(cand.data(), lo, hi, &i, &j);
    if (i > kUserNeighbours) {
      hi = i;
    } else if (i == kUserNeighbours) {
      break;
    } else {
      lo = i;
    }
    pass++;
    const double left = double(hi - lo + 1) / double(nr);
    if (pass == 1) t->after1 += left;
    if (pass == 2) t->after2 += left;
    if (pass == 3) t->after3 += left;
  }
  t->passes += pass;
}

}  // namespace

int main(int argc, char **argv) {
  int32_t queries = 500;
  std::printf(
      "| set | queries | entries/query | longest column | candidates/query | classes | "
      "values | one hit | first met in longest (one hit) | passes | scanned/candidate | "
      "segment after pass 1 / 2 / 3 |\n"
      "|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (int a = 1; a < argc; a++) {
    if (std::strcmp(argv[a], "--queries") == 0 && a + 1 < argc) {
      queries = std::atoi(argv[++a]);
      continue;
    }
    const char *eq = std::strchr(argv[a], '=');
    const std::string name = eq ? std::string(argv[a], size_t(eq - argv[a])) : std::string(argv[a]);
    const Dataset ds = ReadDataset(eq ? eq + 1 : argv[a]);
    Model *m = TOVRAN_BuildModel(ds.nrows, ds.ncols, ds.ntrain, ds.rowid.get(), ds.colid.get(),
                                 TOVRAN_USER_BASED, kUserNeighbours, 0.0f);
    std::vector<int32_t> hits(size_t(ds.nrows), 0);
    std::vector<float> sums(size_t(ds.nrows), 0.0f);
    Tally t;
    const int32_t stride = std::max<int32_t>(1, ds.nbaskets / std::max(1, queries));
    for (int32_t b = 0; b < ds.nbaskets; b += stride)
      Measure(m, ds.colid.get() + ds.basket_starts[b],
              ds.basket_starts[b + 1] - ds.basket_starts[b], &t, hits, sums);
    const double q = t.queries, c = t.candidates;
    std::printf(
        "| %s | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f %% | %.0f (%.0f) %% | %.1f | %.2f | "
        "%.0f / %.0f / %.0f %% |\n",
        name.c_str(), q, t.entries / q, t.longest / q, c / q, t.classes / q, t.values / q,
        100 * t.one_hit / c, 100 * t.in_longest / c, 100 * t.plain_longest / c,
        t.passes / t.selected, t.scanned / c, 100 * t.after1 / t.selected,
        100 * t.after2 / t.selected, 100 * t.after3 / t.selected);
    TOVRAN_FreeModel(m);
  }
  return 0;
}
