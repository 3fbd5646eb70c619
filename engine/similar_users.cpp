// The users most like a user, for the user-based model.
#include <vector>

#include "engine/errors.h"
#include "engine/model.h"

int32_t TOVRAN_SimilarUsers(Model *model, int32_t user, int32_t N, int32_t *users, float *scores) {
  constexpr const char *entry = "TOVRAN_SimilarUsers";
  if (model == nullptr) return SetLastError("%s: the model should not be null.", entry), -1;
  if (model->type != TOVRAN_USER_BASED)
    return SetLastError("%s: the model is not user-based (kind 3).", entry), -1;
  if (user < 0 || user >= model->users.nrows)
    return SetLastError("%s: user %d lies outside 0..%d.", entry, user, model->users.nrows - 1), -1;
  if (N < 1) return 0;
  if (users == nullptr) return SetLastError("%s: the answer array should not be null.", entry), -1;
  return ReportingErrors<int32_t>(-1, [&]() -> int32_t {
    const int32_t *rowptr = model->users.rowptr, *rowind = model->users.rowind;
    const int32_t *colptr = model->users.colptr, *colind = model->users.colind;
    const float *rowval = model->users.rowval, *colval = model->users.colval;
    if (rowptr[user] == rowptr[user + 1]) return 0;
    // Each other user's dot product with the row, in double, by slot; the
    // users' marks hold their slots meanwhile.
    int32_t *slot = model->scratch.user_marks;
    CandidatePair *cand = model->scratch.user_candidates;
    std::vector<double> sums;
    sums.reserve(size_t(model->users.nrows));  // before any mark is set
    for (int32_t j = rowptr[user]; j < rowptr[user + 1]; j++) {
      const double own = rowval[j];
      for (int32_t l = colptr[rowind[j]]; l < colptr[rowind[j] + 1]; l++) {
        const int32_t v = colind[l];
        if (v == user) continue;
        if (slot[v] < 0) {
          slot[v] = int32_t(sums.size());
          cand[sums.size()].key = v;
          sums.push_back(0.0);
        }
        sums[size_t(slot[v])] += own * double(colval[l]);
      }
    }
    const auto ncand = int32_t(sums.size());
    for (int32_t t = 0; t < ncand; t++) {
      cand[t].value = float(sums[size_t(t)]);
      slot[cand[t].key] = UnmetMark(model->user_marks_form);
    }
    const int32_t m = RankTopCandidates(ncand, N - 1, cand);
    users[0] = user;
    if (scores != nullptr) scores[0] = 1.0f;
    for (int32_t t = 0; t < m; t++) {
      users[t + 1] = cand[t].key;
      if (scores != nullptr) scores[t + 1] = cand[t].value;
    }
    return m + 1;
  });
}
